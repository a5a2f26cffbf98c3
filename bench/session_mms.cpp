// Whole downloads of a large clip from the reference server over MMS, media over TCP and over
// UDP, unpaced (--rate 0), as the program runs them: the benchmark's thread is the window thread.
// Beside them, ffmpeg copying the same stream over mmst:// as an independent yardstick. Reported
// per run: MB/s (bytes_per_second), CPU seconds of the downloading process, and its peak resident
// memory.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "asf/asf.h"
#include "platform/window_thread.h"
#include "session/mms_protocol.h"
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

// The media and the server, made once for all runs.
struct Fixture {
  std::string folder;
  std::string media = "big.wmv";
  int mmsPort = 0;
  pid_t server = -1;
  bool ok = false;

  Fixture() {
    char pattern[] = "/tmp/qor-bench-mms-XXXXXX";
    if (!mkdtemp(pattern)) return;
    folder = pattern;
    // About 15 MB: 30 s of noisy video at 4 Mbit/s in 3200-byte packets.
    const std::string make =
        "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "
        "testsrc2=size=640x360:rate=25 -t 30 -c:v wmv2 -g 50 -b:v 4M -f asf " +
        folder + "/" + media;
    if (std::system(make.c_str()) != 0) return;
    const fs::path self = fs::read_symlink("/proc/self/exe");
    const std::string program = (self.parent_path().parent_path() / "tools/qor-server/qor-server");
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return;
    server = Spawn({program, "--root", folder, "--rate", "0", "--mms-port", "0", "--http-port",
                    "-1", "--ping-interval", "600"},
                   pipeFds[1]);
    close(pipeFds[1]);
    FILE* out = fdopen(pipeFds[0], "r");
    char line[256];
    while (out && fgets(line, sizeof line, out)) {
      const std::string text = line;
      if (text.rfind("mms ", 0) == 0) {
        mmsPort = std::atoi(text.substr(text.rfind(':') + 1).c_str());
        break;
      }
    }
    // The server keeps writing nothing more to stdout; the pipe stays open until it ends.
    ok = server > 0 && mmsPort > 0;
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

struct RunResult {
  bool completed = false;
  int64_t bytes = 0;
  uint32_t lost = 0;
};

RunResult Download(const Fixture& f, bool udp, const std::string& savePath) {
  qor::WindowThread window;
  qor::TMessageClass queue;
  qor::TASF asf;
  asf.Messages = &queue;
  auto save = qor::TSaveFile::Open(savePath, qor::FileHandle::Mode::CreateTruncate);
  RunResult result;
  {
    auto session = std::make_unique<qor::TMMS>();
    session->Asf = &asf;
    session->Messages = &queue;
    session->SaveFile = save;
    session->Source = 1;
    session->ProtocolFlags = udp ? qor::pfMmsUdp : qor::pfMmsTcp;
    session->ConnectPort = f.mmsPort;
    session->Host = "127.0.0.1";
    session->Path = f.media;
    if (udp) {
      session->UdpPort = 20000 + static_cast<int32_t>(getpid() % 20000);
      session->MaxUdpSize = 65535;
    }
    session->Start();
    bool done = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    while (!done && std::chrono::steady_clock::now() < deadline) {
      window.ProcessUntil([&] { return queue.Pending() > 0; }, 5);
      qor::MessagePair pair;
      while (queue.Take(pair)) {
        const uint32_t action = qor::ActionOf(pair.code);
        if (action == qor::mcCompleted) result.completed = true;
        if (action == qor::mcCompleted || action == qor::mcFatal || action == qor::mcNewTrack)
          done = true;
      }
    }
    save->Finish(asf, true);
    result.lost = session->LostPackets.load();
    session->Stop();
  }
  result.bytes = static_cast<int64_t>(fs::file_size(savePath));
  return result;
}

void RunSession(benchmark::State& state, bool udp) {
  Fixture& f = TheFixture();
  if (!f.ok) {
    state.SkipWithError("no server or no media (ffmpeg missing?)");
    return;
  }
  const std::string save = f.folder + (udp ? "/udp.asf" : "/tcp.asf");
  int64_t bytes = 0;
  double cpu = 0;
  uint32_t lost = 0;
  for (auto _ : state) {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const RunResult r = Download(f, udp, save);
    getrusage(RUSAGE_SELF, &after);
    if (!r.completed) {
      state.SkipWithError("the download did not complete");
      return;
    }
    bytes += r.bytes;
    lost += r.lost;
    cpu += CpuSeconds(after) - CpuSeconds(before);
  }
  rusage self{};
  getrusage(RUSAGE_SELF, &self);
  state.SetBytesProcessed(bytes);
  state.counters["cpu_s"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
  state.counters["peak_rss_MB"] = static_cast<double>(self.ru_maxrss) / 1024.0;
  state.counters["file_MB"] =
      static_cast<double>(bytes) / 1e6 / static_cast<double>(state.iterations());
  if (udp)
    state.counters["lost_packets"] = benchmark::Counter(lost, benchmark::Counter::kAvgIterations);
}

void BM_MmsTcpDownload(benchmark::State& state) {
  RunSession(state, false);
}
void BM_MmsUdpDownload(benchmark::State& state) {
  RunSession(state, true);
}

// ffmpeg as a separate process: its CPU time and peak memory come from wait4.
void BM_FfmpegMmstCopy(benchmark::State& state) {
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
                             "mmst://127.0.0.1:" + std::to_string(f.mmsPort) + "/" + f.media, "-c",
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

BENCHMARK(BM_MmsTcpDownload)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_MmsUdpDownload)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_FfmpegMmstCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
