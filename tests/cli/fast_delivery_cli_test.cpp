// qor-cli asking for fast delivery against the real qor-server: an on-demand clip comes faster
// than it plays and is the same file, byte for byte, whatever its start (offset, resume) and the
// streams chosen; a live channel comes at its own pace and is asked what it was always asked.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>

#include "cli_runner.h"
#include "common/server_process.h"
#include "platform/temp_folder.h"

namespace qor::testing {
namespace {

using Clock = std::chrono::steady_clock;

class FastDeliveryCli : public ::testing::Test {
 protected:
  void Start(std::vector<std::string> args) {
    args.insert(args.end(), {"--root", QOR_SAMPLE_MEDIA_DIR, "--log-requests", "-"});
    server_ = std::make_unique<ServerProcess>(QOR_SERVER_PROGRAM, args);
    ASSERT_TRUE(server_->Running());
  }
  std::string Url(const std::string& scheme, int port, const std::string& name) const {
    return scheme + "://127.0.0.1:" + std::to_string(port) + "/" + name;
  }
  CliResult Get(std::vector<std::string> args, std::function<bool()> interruptWhen = nullptr) {
    args.insert(args.begin(), "get");
    CliRun run;
    run.args = args;
    run.workDir = folder_.Path();
    run.interruptWhen = std::move(interruptWhen);
    return RunCli(run);
  }
  // The texts of the server's log lines of this kind, from the output's character `from` on;
  // the client's random id masked, so two runs compare.
  std::vector<std::string> Logged(const std::string& kind, size_t from) const {
    std::istringstream lines(server_->Output().substr(from));
    std::vector<std::string> found;
    const std::regex entry("^c[0-9]+ " + kind + " (.*)$");
    for (std::string line; std::getline(lines, line);) {
      std::smatch m;
      if (std::regex_match(line, m, entry))
        found.push_back(std::regex_replace(m[1].str(), std::regex("\\{[-0-9A-F]+\\}"), "{id}"));
    }
    return found;
  }

  TempFolder folder_;
  std::unique_ptr<ServerProcess> server_;
};

TEST_F(FastDeliveryCli, AFastRecordingIsTheFileRecordedAtPace) {
  Start({"--rate", "4", "--fast-cache", "5", "--fast-start", "1", "--rtsp-port", "0"});
  const std::string sample = ReadFile(SampleMedia("clip.wmv"));
  struct Variant {
    const char* name;
    std::vector<std::string> flags;
  };
  const std::vector<Variant> variants{{"whole", {}},
                                      {"offset", {"--offset", "00:00:02"}},
                                      {"audio", {"--audio-only"}},
                                      {"resume", {"--resume"}}};
  // HTTP streaming and RTSP are granted the whole clip faster; MMS can ask for a faster start
  // alone.
  const std::vector<std::pair<std::string, std::string>> transports{
      {Url("http", server_->HttpPort(), "clip.wmv"), "-> speed=5.000 burst=1000ms"},
      {Url("rtspt", server_->RtspPort(), "clip.wmv"), "-> speed=5.000 burst=1000ms"},
      {Url("mmst", server_->MmsPort(), "clip.wmv"), "-> speed=1.000 burst=1000ms"}};
  for (const auto& [location, granted] : transports) {
    for (const Variant& v : variants) {
      SCOPED_TRACE(location + " " + v.name);
      std::string files[2];
      for (int fast = 0; fast < 2; ++fast) {
        const std::string name =
            location.substr(0, 4) + "-" + v.name + (fast ? "-fast.asf" : "-paced.asf");
        if (v.flags == std::vector<std::string>{"--resume"})
          std::ofstream(folder_.Path(name), std::ios::binary) << sample.substr(0, 40000);
        const size_t mark = server_->Output().size();
        std::vector<std::string> args{location, "-o", name, fast ? "--fast" : "--no-fast"};
        args.insert(args.end(), v.flags.begin(), v.flags.end());
        const CliResult r = Get(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<std::string> delivery = Logged("delivery", mark);
        if (fast) {
          ASSERT_EQ(delivery.size(), 1u) << server_->Output().substr(mark);
          EXPECT_NE(delivery[0].find(granted), std::string::npos) << delivery[0];
        } else {
          EXPECT_TRUE(delivery.empty()) << delivery.front();
        }
        files[fast] = ReadFile(folder_.Path(name));
      }
      EXPECT_GT(files[0].size(), 20000u);
      EXPECT_TRUE(files[0] == files[1]) << "the fast recording differs from the paced one";
    }
  }
}

TEST_F(FastDeliveryCli, ALiveChannelComesAtItsPaceAskedWhatItWasAlwaysAsked) {
  Start({"--rate", "1", "--fast-cache", "5", "--live", "radio=" + SampleMedia("clip.wmv")});
  std::vector<std::string> requests[2];
  for (int fast = 0; fast < 2; ++fast) {
    const std::string name = fast ? "fast.asf" : "paced.asf";
    const size_t mark = server_->Output().size();
    const auto start = Clock::now();
    const CliResult r =
        Get({Url("http", server_->HttpPort(), "radio"), "-o", name, fast ? "--fast" : "--no-fast"},
            [&] { return Clock::now() - start > std::chrono::milliseconds(2500); });
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ(r.status, 130) << r.err;
    // A live stream cannot be recorded ahead of the clock.
    const double recorded = ProbeDuration(folder_.Path(name));
    EXPECT_GT(recorded, 0.5);
    EXPECT_LE(recorded, wall + 0.5);
    EXPECT_TRUE(Logged("delivery", mark).empty());
    requests[fast] = Logged("http-header", mark);
  }
  ASSERT_FALSE(requests[0].empty());
  EXPECT_EQ(requests[0], requests[1]);
}

}  // namespace
}  // namespace qor::testing
