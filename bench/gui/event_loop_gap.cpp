// How long the desktop program's event loop can be kept from turning while it records a
// 10 Mbit/s stream: the real window (offscreen), Qt's loop driving the window thread, qor-server
// pacing a 10 Mbit/s clip at real time over HTTP streaming. Reports the longest gap between two
// turns of the loop over a 30-second recording (longest_gap_ms; aim: under 20 ms), the longest
// turn spent serving the window thread (longest_serve_ms: our own share of a gap; the rest is the
// machine's scheduling), the turns taken and the bytes recorded.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/options_dialog.h"
#include "common/session_bench.h"
#include "gui/program.h"
#include "platform/settings_store.h"
#include "support/helper.h"

namespace fs = std::filesystem;

namespace qor::bench {
namespace {

constexpr int kRecordSeconds = 30;

// A 32-second clip at about 10 Mbit/s: noise keeps the encoder from saving bits.
bool MakeClip(const std::string& path) {
  const std::string command =
      "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "
      "'testsrc2=size=1280x720:rate=25,noise=alls=12:allf=t' -t 32 -c:v wmv2 -g 50 -b:v 10M "
      "-packetsize 3200 -f asf '" +
      path + "'";
  return std::system(command.c_str()) == 0 && fs::exists(path);
}

void BM_EventLoopGapWhileRecording(benchmark::State& state) {
  char pattern[] = "/tmp/qor-bench-gui-XXXXXX";
  if (!mkdtemp(pattern)) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const std::string folder = pattern;
  if (!MakeClip(folder + "/ten.wmv")) {
    state.SkipWithError("ffmpeg could not make the clip");
    return;
  }
  const double mbits = static_cast<double>(fs::file_size(folder + "/ten.wmv")) * 8 / 32 / 1e6;
  {
    ServerProcess server(folder, {"--rate", "1"});
    if (!server.ok()) {
      state.SkipWithError("qor-server did not start");
      return;
    }
    SettingsStore store(folder + "/config");
    THelper::UseStore(&store);
    int64_t longestUs = 0, serveUs = 0, turns = 0, bytes = 0;
    for (auto _ : state) {
      gui::Program program;
      program.Window().show();
      TMainForm& form = program.Form();
      form.AutoSaveDir = folder + "/";
      form.unattended = true;  // named automatically: no save dialog in the way
      form.URL.Text = "http://127.0.0.1:" + std::to_string(server.httpPort()) + "/ten.wmv";
      program.App().OptionsDialog->ProtoGroup.ItemIndex = kProtoHttp;
      program.Window().Sync();
      program.Window().findChild<QPushButton*>("Connect")->click();
      program.Driver().StartMeasuring();
      QEventLoop loop;
      QTimer::singleShot(kRecordSeconds * 1000, &loop, &QEventLoop::quit);
      loop.exec();
      longestUs = program.Driver().LongestGapUs();
      turns = program.Driver().Turns();
      serveUs = program.Driver().LongestServeUs();
      bytes = form.Session->PacketNumber.load() * 3200LL;
      program.Window().findChild<QPushButton*>("Abort")->click();
    }
    THelper::UseStore(nullptr);
    state.counters["longest_gap_ms"] = static_cast<double>(longestUs) / 1000.0;
    state.counters["longest_serve_ms"] = static_cast<double>(serveUs) / 1000.0;
    state.counters["loop_turns"] = static_cast<double>(turns);
    state.counters["recorded_MB"] = static_cast<double>(bytes) / 1e6;
    state.counters["stream_Mbit_s"] = mbits;
  }
  fs::remove_all(folder);
}

BENCHMARK(BM_EventLoopGapWhileRecording)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
}  // namespace qor::bench

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
