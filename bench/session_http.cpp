// A whole MMS-over-HTTP download of a large pre-recorded clip from the reference server, unpaced
// (--rate 0), as the program runs it. Beside it, two yardsticks on the same server: a raw TCP copy
// of the same file (a plain HTTP GET written to a file) and ffmpeg copying the stream over
// mmsh://.

#include <string>

#include "common/session_bench.h"
#include "session/session.h"

namespace {

using namespace qor::bench;

MediaFolder& Media() {
  static MediaFolder media("qor-bench-http");
  return media;
}

ServerProcess& Server() {
  static ServerProcess server(Media().folder(), {"--rate", "0"});
  return server;
}

bool Ready(benchmark::State& state) {
  if (Media().ok() && Server().ok()) return true;
  state.SkipWithError("no server or no media (ffmpeg missing?)");
  return false;
}

void BM_HttpStreamDownload(benchmark::State& state) {
  if (!Ready(state)) return;
  int64_t bytes = 0;
  double cpu = 0;
  for (auto _ : state) {
    const DownloadResult r = Download(
        [](qor::TMMS& session) {
          session.ProtocolFlags = qor::pfHttp;
          session.HttpPort = Server().httpPort();
          session.Path = Media().media();
        },
        Media().Path("session.asf"));
    if (!r.completed) {
      state.SkipWithError("the download did not complete");
      return;
    }
    bytes += r.bytes;
    cpu += r.cpuSeconds;
  }
  rusage self{};
  getrusage(RUSAGE_SELF, &self);
  Report(state, bytes, cpu, self.ru_maxrss);
}

void BM_RawTcpCopy(benchmark::State& state) {
  RunRawHttpCopy(state, Media().ok() && Server().ok(), Server().httpPort(), Media().media(),
                 Media().Path("raw"));
}

void BM_FfmpegMmshCopy(benchmark::State& state) {
  RunFfmpegCopy(state, Media().ok() && Server().ok(),
                "mmsh://127.0.0.1:" + std::to_string(Server().httpPort()) + "/" + Media().media(),
                Media().Path("ffmpeg.asf"));
}

BENCHMARK(BM_HttpStreamDownload)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_RawTcpCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_FfmpegMmshCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
