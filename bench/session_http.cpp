// A whole MMS-over-HTTP download of a large pre-recorded clip from the reference server, unpaced
// (--rate 0), as the program runs it: the benchmark's thread is the window thread. Beside it, two
// yardsticks on the same server: a raw TCP copy of the same file (a plain HTTP GET written to a
// file) and ffmpeg copying the stream over mmsh://. Reported per run: MB/s (bytes_per_second),
// CPU seconds and peak resident memory of the downloading process.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "asf/asf.h"
#include "platform/window_thread.h"
#include "session/save_file.h"
#include "session/session.h"
#include "support/message_queue.h"

extern char** environ;

namespace {

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

struct Fixture {
  std::string folder;
  std::string media = "big.wmv";
  int httpPort = 0;
  pid_t server = -1;
  bool ok = false;

  Fixture() {
    char pattern[] = "/tmp/qor-bench-http-XXXXXX";
    if (!mkdtemp(pattern)) return;
    folder = pattern;
    // About 30 MB: 60 s of noisy video at 4 Mbit/s in 3200-byte packets.
    const std::string make =
        "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "
        "testsrc2=size=640x360:rate=25 -t 60 -c:v wmv2 -g 50 -b:v 4M -packetsize 3200 -f asf " +
        folder + "/" + media;
    if (std::system(make.c_str()) != 0) return;
    const char* given = std::getenv("QOR_SERVER_PROGRAM");
    const fs::path self = fs::read_symlink("/proc/self/exe");
    const std::string program =
        given ? given : (self.parent_path().parent_path() / "tools/qor-server/qor-server").string();
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return;
    server =
        Spawn({program, "--root", folder, "--rate", "0", "--mms-port", "-1", "--http-port", "0"},
              pipeFds[1]);
    close(pipeFds[1]);
    FILE* out = fdopen(pipeFds[0], "r");
    char line[256];
    while (out && fgets(line, sizeof line, out)) {
      const std::string text = line;
      if (text.rfind("http ", 0) == 0) {
        httpPort = std::atoi(text.substr(text.rfind(':') + 1).c_str());
        break;
      }
    }
    ok = server > 0 && httpPort > 0;
  }
  ~Fixture() {
    if (server > 0) {
      kill(server, SIGTERM);
      waitpid(server, nullptr, 0);
    }
    std::error_code ignored;
    if (!folder.empty()) fs::remove_all(folder, ignored);
  }
};

Fixture& TheFixture() {
  static Fixture fixture;
  return fixture;
}

bool Download(const Fixture& f, const std::string& savePath) {
  qor::WindowThread window;
  qor::TMessageClass queue;
  qor::TASF asf;
  asf.Messages = &queue;
  auto save = qor::TSaveFile::Open(savePath, qor::FileHandle::Mode::CreateTruncate);
  bool completed = false;
  auto session = std::make_unique<qor::TMMS>();
  session->Asf = &asf;
  session->Messages = &queue;
  session->SaveFile = save;
  session->Source = 1;
  session->ProtocolFlags = qor::pfHttp;
  session->HttpPort = f.httpPort;
  session->Host = "127.0.0.1";
  session->Path = f.media;
  session->Start();
  bool done = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
  while (!done && std::chrono::steady_clock::now() < deadline) {
    window.ProcessUntil([&] { return queue.Pending() > 0; }, 5);
    qor::MessagePair pair;
    while (queue.Take(pair)) {
      const uint32_t action = qor::ActionOf(pair.code);
      if (action == qor::mcCompleted) completed = true;
      if (action == qor::mcCompleted || action == qor::mcFatal || action == qor::mcNewTrack)
        done = true;
    }
  }
  save->Finish(asf, true);
  session->Stop();
  session.reset();
  return completed;
}

void BM_HttpStreamDownload(benchmark::State& state) {
  Fixture& f = TheFixture();
  if (!f.ok) {
    state.SkipWithError("no server or no media (ffmpeg missing?)");
    return;
  }
  const std::string save = f.folder + "/session.asf";
  int64_t bytes = 0;
  double cpu = 0;
  for (auto _ : state) {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    if (!Download(f, save)) {
      state.SkipWithError("the download did not complete");
      return;
    }
    getrusage(RUSAGE_SELF, &after);
    bytes += static_cast<int64_t>(fs::file_size(save));
    cpu += CpuSeconds(after) - CpuSeconds(before);
  }
  rusage self{};
  getrusage(RUSAGE_SELF, &self);
  state.SetBytesProcessed(bytes);
  state.counters["cpu_s"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
  state.counters["peak_rss_MB"] = static_cast<double>(self.ru_maxrss) / 1024.0;
  state.counters["file_MB"] =
      static_cast<double>(bytes) / 1e6 / static_cast<double>(state.iterations());
}

// The same file as a plain HTTP body read off a socket and written to a file: the ceiling of
// this machine's loopback plus disk.
void BM_RawTcpCopy(benchmark::State& state) {
  Fixture& f = TheFixture();
  if (!f.ok) {
    state.SkipWithError("no server or no media (ffmpeg missing?)");
    return;
  }
  const std::string out = f.folder + "/raw.bin";
  int64_t bytes = 0;
  std::vector<char> buffer(256000);
  for (auto _ : state) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(f.httpPort));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(fd);
      state.SkipWithError("connect failed");
      return;
    }
    const std::string request = "GET /" + f.media + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (send(fd, request.data(), request.size(), 0) != static_cast<ssize_t>(request.size())) {
      close(fd);
      state.SkipWithError("send failed");
      return;
    }
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    ssize_t n;
    while ((n = recv(fd, buffer.data(), buffer.size(), 0)) > 0) {
      file.write(buffer.data(), n);
      bytes += n;
    }
    close(fd);
  }
  state.SetBytesProcessed(bytes);
}

void BM_FfmpegMmshCopy(benchmark::State& state) {
  Fixture& f = TheFixture();
  if (!f.ok) {
    state.SkipWithError("no server or no media (ffmpeg missing?)");
    return;
  }
  const std::string out = f.folder + "/ffmpeg.asf";
  int64_t bytes = 0;
  double cpu = 0;
  long peakKb = 0;
  for (auto _ : state) {
    const pid_t pid = Spawn({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-i",
                             "mmsh://127.0.0.1:" + std::to_string(f.httpPort) + "/" + f.media, "-c",
                             "copy", "-f", "asf", out},
                            -1);
    int status = 0;
    rusage usage{};
    if (pid <= 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
      state.SkipWithError("ffmpeg failed");
      return;
    }
    bytes += static_cast<int64_t>(fs::file_size(out));
    cpu += CpuSeconds(usage);
    peakKb = std::max(peakKb, usage.ru_maxrss);
  }
  state.SetBytesProcessed(bytes);
  state.counters["cpu_s"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
  state.counters["peak_rss_MB"] = static_cast<double>(peakKb) / 1024.0;
  state.counters["file_MB"] =
      static_cast<double>(bytes) / 1e6 / static_cast<double>(state.iterations());
}

BENCHMARK(BM_HttpStreamDownload)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_RawTcpCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_FfmpegMmshCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
