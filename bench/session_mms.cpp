// Whole downloads of a large clip from the reference server over MMS, media over TCP and over
// UDP, as the program runs them. Unpaced (--rate 0) they show the throughput; paced at a given
// number of datagrams a second they show whether UDP keeps up without loss (recovered_packets
// counts datagrams that had to be asked for again, lost_packets those given up). Beside them,
// ffmpeg copying the stream over mmst:// and a raw TCP copy of the file.

#include <memory>
#include <string>

#include "common/session_bench.h"
#include "session/session.h"

namespace {

using namespace qor::bench;

MediaFolder& Media() {
  static MediaFolder media("qor-bench-mms");
  return media;
}

ServerProcess& UnpacedServer() {
  static ServerProcess server(Media().folder(), {"--rate", "0", "--ping-interval", "600"});
  return server;
}

bool Ready(benchmark::State& state, const ServerProcess& server) {
  if (Media().ok() && server.ok()) return true;
  state.SkipWithError("no server or no media (ffmpeg missing?)");
  return false;
}

void RunSession(benchmark::State& state, const ServerProcess& server, bool udp) {
  if (!Ready(state, server)) return;
  const std::string save = Media().Path(udp ? "udp.asf" : "tcp.asf");
  int64_t bytes = 0;
  double cpu = 0;
  uint32_t recovered = 0, lost = 0;
  for (auto _ : state) {
    const DownloadResult r = Download(
        [&](qor::TMMS& session) {
          session.ProtocolFlags = udp ? qor::pfMmsUdp : qor::pfMmsTcp;
          session.ConnectPort = server.mmsPort();
          session.Path = Media().media();
          if (udp) {
            session.UdpPort = 20000 + static_cast<int32_t>(getpid() % 20000);
            session.MaxUdpSize = 65535;
          }
        },
        save);
    if (!r.completed) {
      state.SkipWithError("the download did not complete");
      return;
    }
    bytes += r.bytes;
    cpu += r.cpuSeconds;
    recovered += r.recovered;
    lost += r.lost;
  }
  rusage self{};
  getrusage(RUSAGE_SELF, &self);
  Report(state, bytes, cpu, self.ru_maxrss);
  if (udp) {
    state.counters["recovered_packets"] =
        benchmark::Counter(recovered, benchmark::Counter::kAvgIterations);
    state.counters["lost_packets"] = benchmark::Counter(lost, benchmark::Counter::kAvgIterations);
    state.counters["datagrams_per_s"] = benchmark::Counter(
        static_cast<double>(Media().PacketCount()) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
  }
}

void BM_MmsTcpDownload(benchmark::State& state) {
  RunSession(state, UnpacedServer(), false);
}

void BM_MmsUdpDownload(benchmark::State& state) {
  RunSession(state, UnpacedServer(), true);
}

// The server paces its send times so that the clip's packets leave at range(0) a second.
void BM_MmsUdpPaced(benchmark::State& state) {
  const double perSecond = static_cast<double>(state.range(0));
  const double rate =
      Media().ok() ? perSecond * Media().DurationSeconds() / Media().PacketCount() : 1.0;
  ServerProcess server(Media().folder(), {"--rate", std::to_string(rate)});
  RunSession(state, server, true);
}

void BM_FfmpegMmstCopy(benchmark::State& state) {
  const ServerProcess& server = UnpacedServer();
  RunFfmpegCopy(state, Media().ok() && server.ok(),
                "mmst://127.0.0.1:" + std::to_string(server.mmsPort()) + "/" + Media().media(),
                Media().Path("ffmpeg.asf"));
}

void BM_RawTcpCopy(benchmark::State& state) {
  const ServerProcess& server = UnpacedServer();
  RunRawHttpCopy(state, Media().ok() && server.ok(), server.httpPort(), Media().media(),
                 Media().Path("raw"));
}

BENCHMARK(BM_MmsTcpDownload)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_MmsUdpDownload)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_MmsUdpPaced)
    ->Arg(20000)
    ->Arg(40000)
    ->Arg(80000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_FfmpegMmstCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_RawTcpCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
