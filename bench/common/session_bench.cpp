#include "session_bench.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "asf/asf.h"
#include "platform/window_thread.h"
#include "session/save_file.h"
#include "session/session.h"
#include "support/message_queue.h"

extern char** environ;

namespace qor::bench {

namespace fs = std::filesystem;

double CpuSeconds(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

pid_t Spawn(const std::vector<std::string>& args, int stdoutFd) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

namespace {

bool Run(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

}  // namespace

MediaFolder::MediaFolder(const std::string& prefix) {
  std::string pattern = "/tmp/" + prefix + "-XXXXXX";
  if (!mkdtemp(pattern.data())) return;
  folder_ = pattern;
  const char* given = std::getenv("QOR_BENCH_MB");
  const double wantedMb = given ? std::max(1.0, std::atof(given)) : 30.0;
  // 30 s of noisy video at 4 Mbit/s in 3200-byte packets: about 15 MB.
  const std::string quiet = "ffmpeg -hide_banner -loglevel error -nostdin -y ";
  const std::string clip = Path("clip.wmv");
  if (!Run(quiet + "-f lavfi -i testsrc2=size=640x360:rate=25 -t 30 -c:v wmv2 -g 50 -b:v 4M " +
           "-packetsize 3200 -f asf " + clip))
    return;
  const double clipMb = static_cast<double>(fs::file_size(clip)) / 1e6;
  const int loops = std::max(0, static_cast<int>(wantedMb / clipMb + 0.5) - 1);
  if (!Run(quiet + "-stream_loop " + std::to_string(loops) + " -i " + clip +
           " -c copy -packetsize 3200 -f asf " + Path(media_)))
    return;
  fs::remove(clip);
  TASF asf;
  if (!asf.ReadHeaderFromFile(Path(media_))) return;
  packets_ = asf.DataPacketsCount;
  seconds_ = asf.PlayDuration / 1000.0;
  ok_ = packets_ > 0 && seconds_ > 0;
}

MediaFolder::~MediaFolder() {
  std::error_code ignored;
  if (!folder_.empty()) fs::remove_all(folder_, ignored);
}

ServerProcess::ServerProcess(const std::string& root, const std::vector<std::string>& extra) {
  const char* given = std::getenv("QOR_SERVER_PROGRAM");
  const fs::path self = fs::read_symlink("/proc/self/exe");
  std::vector<std::string> args = {
      given ? given : (self.parent_path().parent_path() / "tools/qor-server/qor-server").string(),
      "--root", root, "--mms-port", "0", "--http-port", "0"};
  args.insert(args.end(), extra.begin(), extra.end());
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return;
  pid_ = Spawn(args, pipeFds[1]);
  close(pipeFds[1]);
  FILE* out = fdopen(pipeFds[0], "r");
  char line[256];
  while (out && (mmsPort_ == 0 || httpPort_ == 0) && fgets(line, sizeof line, out)) {
    const std::string text = line;
    const int port = std::atoi(text.substr(text.rfind(':') + 1).c_str());
    if (text.rfind("mms ", 0) == 0) mmsPort_ = port;
    if (text.rfind("http ", 0) == 0) httpPort_ = port;
  }
  // The server writes nothing more to stdout; closing our end cannot disturb it.
  if (out) fclose(out);
}

ServerProcess::~ServerProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

DownloadResult Download(const std::function<void(TMMS&)>& configure, const std::string& savePath) {
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  DownloadResult result;
  {
    WindowThread window;
    TMessageClass queue;
    TASF asf;
    asf.Messages = &queue;
    auto save = TSaveFile::Open(savePath, FileHandle::Mode::CreateTruncate);
    auto session = std::make_unique<TMMS>();
    session->Asf = &asf;
    session->Messages = &queue;
    session->SaveFile = save;
    session->Source = 1;
    session->Host = "127.0.0.1";
    configure(*session);
    session->Start();
    bool done = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(10);
    while (!done && std::chrono::steady_clock::now() < deadline) {
      window.ProcessUntil([&] { return queue.Pending() > 0; }, 5);
      MessagePair pair;
      while (queue.Take(pair)) {
        const uint32_t action = ActionOf(pair.code);
        if (action == mcCompleted) result.completed = true;
        if (action == mcCompleted || action == mcFatal || action == mcNewTrack) done = true;
      }
    }
    save->Finish(asf, true);
    result.recovered = session->RecoveredPackets.load();
    result.lost = session->LostPackets.load();
    session->Stop();
  }
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  result.cpuSeconds = CpuSeconds(after) - CpuSeconds(before);
  result.bytes = static_cast<int64_t>(fs::file_size(savePath));
  return result;
}

ProcessResult FfmpegCopy(const std::string& url, const std::string& out) {
  ProcessResult result;
  const pid_t pid = Spawn({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-i",
                           url, "-c", "copy", "-f", "asf", out},
                          -1);
  int status = 0;
  rusage usage{};
  if (pid <= 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0)
    return result;
  result.ok = true;
  result.bytes = static_cast<int64_t>(fs::file_size(out));
  result.cpuSeconds = CpuSeconds(usage);
  result.peakKb = usage.ru_maxrss;
  return result;
}

int64_t RawHttpCopy(int port, const std::string& path, const std::string& out) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::string request = "GET /" + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      send(fd, request.data(), request.size(), 0) != static_cast<ssize_t>(request.size())) {
    close(fd);
    return -1;
  }
  std::ofstream file(out, std::ios::binary | std::ios::trunc);
  std::vector<char> buffer(256000);
  int64_t bytes = 0;
  ssize_t n;
  while ((n = recv(fd, buffer.data(), buffer.size(), 0)) > 0) {
    file.write(buffer.data(), n);
    bytes += n;
  }
  close(fd);
  return file ? bytes : -1;
}

void RunFfmpegCopy(benchmark::State& state, bool ready, const std::string& url,
                   const std::string& out) {
  if (!ready) {
    state.SkipWithError("no server or no media (ffmpeg missing?)");
    return;
  }
  int64_t bytes = 0;
  double cpu = 0;
  long peakKb = 0;
  for (auto _ : state) {
    const ProcessResult r = FfmpegCopy(url, out);
    if (!r.ok) {
      state.SkipWithError("ffmpeg failed");
      return;
    }
    bytes += r.bytes;
    cpu += r.cpuSeconds;
    peakKb = std::max(peakKb, r.peakKb);
  }
  Report(state, bytes, cpu, peakKb);
}

void RunRawHttpCopy(benchmark::State& state, bool ready, int port, const std::string& path,
                    const std::string& out) {
  if (!ready) {
    state.SkipWithError("no server or no media (ffmpeg missing?)");
    return;
  }
  int64_t bytes = 0;
  for (auto _ : state) {
    const int64_t n = RawHttpCopy(port, path, out);
    if (n < 0) {
      state.SkipWithError("raw copy failed");
      return;
    }
    bytes += n;
  }
  state.SetBytesProcessed(bytes);
}

void Report(benchmark::State& state, int64_t bytes, double cpuSeconds, long peakKb) {
  const auto runs = static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
  state.SetBytesProcessed(bytes);
  state.counters["cpu_s"] = cpuSeconds / runs;
  state.counters["peak_rss_MB"] = static_cast<double>(peakKb) / 1024.0;
  state.counters["file_MB"] = static_cast<double>(bytes) / 1e6 / runs;
}

}  // namespace qor::bench
