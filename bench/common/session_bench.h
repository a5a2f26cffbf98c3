#pragma once
// What the whole-download benchmarks share: a large clip made with ffmpeg, the reference server
// serving it, a download run the way the program runs one (the benchmark's thread is the window
// thread), and the yardsticks beside it (ffmpeg, a raw TCP copy).
//
// QOR_BENCH_MB sets the clip's size in megabytes (default 30; 1024 for the full-size figures):
// a 30-second clip is encoded once and copied end to end until it is that large.

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qor {
class TMMS;
}

namespace qor::bench {

double CpuSeconds(const rusage& usage);

// Starts a program with the given stdout (-1 keeps ours); -1 when it could not be started.
pid_t Spawn(const std::vector<std::string>& args, int stdoutFd);

class MediaFolder {
 public:
  // Makes the clip in a fresh temporary folder whose name begins with prefix.
  explicit MediaFolder(const std::string& prefix);
  ~MediaFolder();
  MediaFolder(const MediaFolder&) = delete;
  MediaFolder& operator=(const MediaFolder&) = delete;

  bool ok() const { return ok_; }
  const std::string& folder() const { return folder_; }
  const std::string& media() const { return media_; }
  std::string Path(const std::string& name) const { return folder_ + "/" + name; }
  uint64_t PacketCount() const { return packets_; }
  double DurationSeconds() const { return seconds_; }

 private:
  std::string folder_;
  std::string media_ = "big.wmv";
  uint64_t packets_ = 0;
  double seconds_ = 0;
  bool ok_ = false;
};

class ServerProcess {
 public:
  // Runs qor-server on port 0 for MMS and HTTP with the extra arguments; the ports are read off
  // its first lines. QOR_SERVER_PROGRAM overrides the program.
  ServerProcess(const std::string& root, const std::vector<std::string>& extra);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  bool ok() const { return pid_ > 0 && mmsPort_ > 0 && httpPort_ > 0; }
  int mmsPort() const { return mmsPort_; }
  int httpPort() const { return httpPort_; }

 private:
  pid_t pid_ = -1;
  int mmsPort_ = 0;
  int httpPort_ = 0;
};

struct DownloadResult {
  bool completed = false;
  int64_t bytes = 0;
  double cpuSeconds = 0;
  uint32_t recovered = 0;
  uint32_t lost = 0;
};

// One whole download into savePath; configure sets the session's protocol, host, port and path.
DownloadResult Download(const std::function<void(TMMS&)>& configure, const std::string& savePath);

// ffmpeg copying url into out; its CPU seconds and peak memory come from wait4.
struct ProcessResult {
  bool ok = false;
  int64_t bytes = 0;
  double cpuSeconds = 0;
  long peakKb = 0;
};
ProcessResult FfmpegCopy(const std::string& url, const std::string& out);

// The file as a plain HTTP body read off a socket into a file: this machine's loopback plus disk.
// Returns the bytes written, or -1.
int64_t RawHttpCopy(int port, const std::string& path, const std::string& out);

// The yardsticks as whole benchmarks: each run copies the stream (or the file) once; ready false
// skips them with the fixture's error.
void RunFfmpegCopy(benchmark::State& state, bool ready, const std::string& url,
                   const std::string& out);
void RunRawHttpCopy(benchmark::State& state, bool ready, int port, const std::string& path,
                    const std::string& out);

// Sets MB/s, average CPU seconds, peak memory and file size on the state.
void Report(benchmark::State& state, int64_t bytes, double cpuSeconds, long peakKb);

}  // namespace qor::bench
