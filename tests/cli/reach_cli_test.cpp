// Reaching a stream whatever transport the server and the network leave open: qor-cli given a
// plain mms:// location against the real qor-server with transports switched off or blocked.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "asf/asf.h"
#include "cli_runner.h"
#include "common/server_process.h"
#include "platform/settings_store.h"
#include "platform/temp_folder.h"
#include "support/base64.h"
#include "support/helper.h"

namespace qor::testing {
namespace {

class Reach : public ::testing::Test {
 protected:
  std::unique_ptr<ServerProcess> Serve(std::vector<std::string> extra) {
    std::vector<std::string> args{"--root", QOR_SAMPLE_MEDIA_DIR};
    args.insert(args.end(), extra.begin(), extra.end());
    auto server = std::make_unique<ServerProcess>(QOR_SERVER_PROGRAM, args);
    EXPECT_TRUE(server->Running());
    return server;
  }
  CliResult Get(std::vector<std::string> args) {
    args.insert(args.begin(), "get");
    CliRun run;
    run.args = args;
    run.workDir = folder_.Path();
    return RunCli(run);
  }
  std::string Path(const std::string& name) const { return folder_.Path(name); }
  static bool Has(const CliResult& r, const std::string& line) {
    return r.err.find(line) != std::string::npos;
  }

  TempFolder folder_;
};

TEST_F(Reach, PlainMmsFindsTheTransportThatAnswers) {
  const double clip = ProbeDuration(SampleMedia("clip.wmv"));
  ASSERT_GT(clip, 5.0);
  struct Case {
    std::string name;
    std::vector<std::string> server;
    std::vector<std::string> flags;  // after the location
    // The location names: 'm' the server's MMS port, 'c' no port (the configured ones are
    // tried), 'x' a closed MMS port (then HTTP streaming on port 80 and the configured one),
    // 'r' the server's RTSP port.
    char reach;
    std::string answered;
    std::vector<std::string> tried;
  };
  const std::vector<Case> cases{
      // A server of the later kind: RTSP alone, tried first.
      {"rtsp-only",
       {"--transports", "rtsp", "--rtsp-port", "0", "--rate", "4"},
       {},
       'r',
       "- Receiving RTSP protocol streams -",
       {"- Trying RTSP via UDP (1 of 5)"}},
      // Nothing listens for MMS: both MMS attempts are refused at once, port 80 too (nothing
      // there on a test machine, or not this clip), and the configured HTTP port answers.
      {"http-only",
       {"--transports", "http", "--rate", "4"},
       {},
       'c',
       "- Receiving HTTP protocol streams -",
       {"- MMS via UDP failed", "- MMS via TCP failed",
        "- Trying HTTP streaming on port 80 (5 of 6)"}},
      {"http-after-a-named-mms-port",
       {"--transports", "http", "--rate", "4"},
       {},
       'x',
       "- Receiving HTTP protocol streams -",
       {"- MMS via TCP failed", "- Trying HTTP streaming on port 80 (5 of 6)",
        "- HTTP streaming on port 80 failed"}},
      // The server refuses UDP in the MMS exchange and offers no HTTP.
      {"tcp-only",
       {"--transports", "tcp", "--rate", "4"},
       {},
       'm',
       "- Receiving MMS via TCP protocol streams -",
       {"- Trying MMS via UDP (3 of 5)", "- MMS via UDP failed"}},
      // UDP is accepted but no datagram gets through: silence until the (shortened) wait for
      // data runs out, then TCP.
      {"udp-blocked",
       {"--block-udp", "--rate", "1"},
       {"--data-timeout", "2"},
       'm',
       "- Receiving MMS via TCP protocol streams -",
       {"No stream data arrived within 2 seconds", "- MMS via UDP failed"}},
  };
  for (Case c : cases) {
    SCOPED_TRACE(c.name);
    const auto server = Serve(c.server);
    ASSERT_TRUE(server->Running());
    std::vector<std::string> args;
    const std::string http = std::to_string(server->HttpPort());
    if (c.reach == 'r') {
      args = {"mms://127.0.0.1:" + std::to_string(server->RtspPort()) + "/clip.wmv"};
    } else if (c.reach == 'm') {
      args = {"mms://127.0.0.1:" + std::to_string(server->MmsPort()) + "/clip.wmv"};
    } else if (c.reach == 'c') {
      // No MMS port at all: the configured ones are tried, as a user's options would have them.
      args = {"mms://127.0.0.1/clip.wmv", "--tcp-port", "9", "--http-port", http};
    } else {
      args = {"mms://127.0.0.1:9/clip.wmv", "--http-port", http};
      c.tried.push_back("- Trying HTTP streaming on port " + http + " (6 of 6)");
    }
    args.insert(args.end(), {"-o", c.name + ".asf"});
    args.insert(args.end(), c.flags.begin(), c.flags.end());
    const CliResult r = Get(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r, "> " + c.answered + "\n")) << r.err;
    for (const std::string& line : c.tried) EXPECT_TRUE(Has(r, line)) << line << "\n" << r.err;
    EXPECT_TRUE(Has(r, "35 packets saved, 0 recovered, 0 lost")) << r.err;
    EXPECT_NEAR(ProbeDuration(Path(c.name + ".asf")), clip, 0.5);
  }
}

TEST_F(Reach, ExplicitSchemesAndProtocolsKeepToTheirTransport) {
  const auto server = Serve({"--transports", "http", "--rate", "0"});
  ASSERT_TRUE(server->Running());
  const std::string port = std::to_string(server->HttpPort());
  // mmst:// says TCP: no rollover to the HTTP service that would answer.
  const CliResult tcp = Get({"mmst://127.0.0.1/clip.wmv", "--tcp-port", "9", "-o", "t.asf"});
  EXPECT_EQ(tcp.status, 1) << tcp.err;
  EXPECT_FALSE(Has(tcp, "- Trying")) << tcp.err;
  EXPECT_FALSE(Has(tcp, "CONNECTED")) << tcp.err;
  // --protocol auto with an http:// location is HTTP alone, and it records.
  const CliResult http =
      Get({"http://127.0.0.1:" + port + "/clip.wmv", "--protocol", "auto", "-o", "h.asf"});
  EXPECT_EQ(http.status, 0) << http.err;
  EXPECT_FALSE(Has(http, "- Trying")) << http.err;
}

// What ffprobe says about a file when it reads every packet: nothing for a sound one.
std::string ProbeComplaints(const std::string& path) {
  const std::string command = "ffprobe -v error -show_packets '" + path + "' 2>&1 >/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return "ffprobe did not run";
  std::string text;
  char buffer[256];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  if (::pclose(pipe) != 0) text += " (failed)";
  return text;
}

// The send times of a file's data packets, as stored.
std::vector<uint32_t> SendTimes(const std::string& path) {
  TASF model;
  std::vector<uint32_t> times;
  if (!model.ReadHeaderFromFile(path) || model.PacketSize == 0) return times;
  const std::string bytes = ReadFile(path);
  const uint64_t first = model.FirstPacketOffset();
  for (uint64_t i = 0; i < model.DataPacketsCount; ++i) {
    const uint64_t at = first + i * model.PacketSize;
    if (at + model.PacketSize > bytes.size()) break;
    AsfPacketTimes t;
    if (!ReadAsfPacketTimes(reinterpret_cast<const uint8_t*>(bytes.data()) + at, model.PacketSize,
                            t))
      break;
    times.push_back(t.sendTime);
  }
  return times;
}

// Whether the saved packets are one unbroken run of the source's: the gaps between their send
// times are those between consecutive source packets from some packet on (a live recording
// starts its times at its first packet).
bool UnbrokenRunOf(const std::vector<uint32_t>& source, const std::vector<uint32_t>& saved) {
  if (saved.empty() || saved.size() > source.size()) return false;
  for (size_t k = 0; k + saved.size() <= source.size(); ++k) {
    bool all = true;
    for (size_t j = 1; j < saved.size() && all; ++j)
      all = saved[j] - saved[0] == source[k + j] - source[k];
    if (all) return true;
  }
  return false;
}

TEST_F(Reach, ProtectedHttpStreamsSignInWithStoredCredentials) {
  for (const std::string auth : {"basic", "digest"}) {
    SCOPED_TRACE(auth);
    const auto server = Serve({"--transports", "http", "--rate", "0", "--password", "ann:s3cret",
                               "--auth", auth, "--log-requests", "-"});
    ASSERT_TRUE(server->Running());
    const std::string url = "http://127.0.0.1:" + std::to_string(server->HttpPort()) + "/clip.wmv";
    const std::string config = folder_.Path(auth + "-config");
    auto stored = [&config](const std::string& name) {
      SettingsStore settings(config);
      THelper::UseStore(&settings);
      const std::string value = THelper().ReadSetting(kSettingsKeyPath, name);
      THelper::UseStore(nullptr);
      return value;
    };
    // Wrong: one retry, the server's refusal, nothing kept.
    const CliResult wrong = Get({url, "-o", auth + ".asf", "--config-dir", config, "--user", "ann",
                                 "--password", "typo", "--save-password"});
    EXPECT_EQ(wrong.status, 1) << wrong.err;
    EXPECT_TRUE(Has(wrong, "> HTTP/1.0 401 Unauthorized\n")) << wrong.err;
    EXPECT_EQ(stored("Authh"), "");
    // Right and saved: kept for that server once it took them.
    const CliResult saved = Get({url, "-o", auth + ".asf", "--config-dir", config, "--user", "ann",
                                 "--password", "s3cret", "--save-password"});
    EXPECT_EQ(saved.status, 0) << saved.err;
    EXPECT_EQ(stored("Authh"), Base64Coder::EncodeString("ann:s3cret"));
    EXPECT_EQ(stored("AuthhSite"), "127.0.0.1:" + std::to_string(server->HttpPort()));
    // From the store alone, as the password dialog offers them.
    const CliResult again = Get({url, "-o", auth + "-again.asf", "--config-dir", config});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(Has(again, "35 packets saved, 0 recovered, 0 lost")) << again.err;
    EXPECT_EQ(ProbeComplaints(Path(auth + "-again.asf")), "");
    const std::string scheme = auth == "digest" ? "Digest username=" : "Basic ";
    EXPECT_NE(server->Output().find("http-header Authorization: " + scheme), std::string::npos)
        << server->Output();
  }
}

// Credentials written in a location sign in over HTTP and MMS as --user and --password would,
// for that run only unless asked; the password shows nowhere: not on the terminal, not in the
// saved log, not in the settings.
TEST_F(Reach, CredentialsInALocationSignInAndTheirPasswordShowsNowhere) {
  const auto server = Serve({"--rate", "0", "--password", "ann:s3cret"});
  ASSERT_TRUE(server->Running());
  const std::string config = folder_.Path("config-dir");
  std::filesystem::create_directories(config);
  const std::vector<std::string> secrets{"s3cret", Base64Coder::EncodeString("ann:s3cret")};
  auto secretIn = [&secrets](const std::string& text) {
    for (const std::string& secret : secrets)
      if (text.find(secret) != std::string::npos) return true;
    return false;
  };
  auto storeHoldsASecret = [&]() {
    for (const auto& file : std::filesystem::recursive_directory_iterator(config))
      if (file.is_regular_file() && secretIn(ReadFile(file.path()))) return true;
    return false;
  };
  const std::string at = "ann:s3cret@127.0.0.1:";
  for (const std::string& url :
       {"http://" + at + std::to_string(server->HttpPort()) + "/clip.wmv",
        "mmst://" + at + std::to_string(server->MmsPort()) + "/clip.wmv"}) {
    SCOPED_TRACE(url.substr(0, 4));
    const std::string name = url.substr(0, 4);
    const CliResult r =
        Get({url, "-o", name + ".asf", "--log", name + ".txt", "--config-dir", config});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r, "> URL  :\t" + url.substr(0, url.find(':')) + "://ann:***@127.0.0.1:"))
        << r.err;
    EXPECT_TRUE(Has(r, "35 packets saved, 0 recovered, 0 lost")) << r.err;
    EXPECT_FALSE(secretIn(r.err + r.out));
    const std::string log = ReadFile(Path(name + ".txt"));
    EXPECT_NE(log.find("ann:***@"), std::string::npos) << log;
    EXPECT_FALSE(secretIn(log)) << log;
    EXPECT_FALSE(storeHoldsASecret());
  }
  // Kept when asked, for that server alone.
  const std::string http = "http://" + at + std::to_string(server->HttpPort()) + "/clip.wmv";
  EXPECT_EQ(Get({http, "-o", "kept.asf", "--config-dir", config, "--save-password"}).status, 0);
  SettingsStore settings(config);
  THelper::UseStore(&settings);
  EXPECT_EQ(THelper().ReadSetting(kSettingsKeyPath, "Authh"), secrets[1]);
  THelper::UseStore(nullptr);
}

TEST_F(Reach, ALiveRecordingCutThreeTimesGoesOnInFourFiles) {
  // At 0.4 of real pace the 5.6 s clip lasts 14 s, long enough for three cuts and the joins
  // after them (one second's pause each) before the broadcast would loop into a new track.
  const auto server = Serve(
      {"--live", "live=" + SampleMedia("clip.wmv"), "--rate", "0.4", "--drop-live", "2.5,5,7.5"});
  ASSERT_TRUE(server->Running());
  const std::string fourth = Path("_4_live_live.asf");
  CliRun run;
  // Unattended (no -o): reconnecting is on by default.
  run.args = {"get", "http://127.0.0.1:" + std::to_string(server->HttpPort()) + "/live", "-d",
              folder_.Path()};
  run.workDir = folder_.Path();
  run.interruptWhen = [&fourth] { return FileSize(fourth) > 16000; };
  const CliResult r = RunCli(run);
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_TRUE(Has(r, "- The live stream was cut (3 so far): reconnecting in 1 s")) << r.err;
  EXPECT_TRUE(Has(r, "; 3 cuts, ")) << r.err;
  EXPECT_FALSE(std::filesystem::exists(Path("_5_live_live.asf"))) << r.err;
  const std::vector<uint32_t> source = SendTimes(SampleMedia("clip.wmv"));
  ASSERT_GT(source.size(), 30u);
  for (int n = 1; n <= 4; ++n) {
    const std::string file = Path("_" + std::to_string(n) + "_live_live.asf");
    SCOPED_TRACE(file);
    const std::vector<uint32_t> saved = SendTimes(file);
    EXPECT_GE(saved.size(), 2u);
    EXPECT_TRUE(UnbrokenRunOf(source, saved));
    EXPECT_EQ(ProbeComplaints(file), "");
    EXPECT_GT(ProbeDuration(file), 0.1);
  }
}

TEST_F(Reach, ACutPreRecordedClipResumesInItsOwnFile) {
  const auto server = Serve({"--rate", "0"});
  ASSERT_TRUE(server->Running());
  // Every connection is closed after 12 media packets: the 35 of the clip take three or four
  // (a resume asks again from the last whole packet's time).
  const std::string url =
      "mmst://127.0.0.1:" + std::to_string(server->MmsPort()) + "/clip.wmv?disconnect=12";
  const CliResult r = Get({url, "-o", "clip.asf", "--reconnect", "3"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r, "- The stream was cut (2 so far): reconnecting in 1 s")) << r.err;
  EXPECT_TRUE(Has(r, "> - ** DOWNLOAD COMPLETED ** -\n")) << r.err;
  EXPECT_TRUE(Has(r, " cuts, ")) << r.err;
  EXPECT_FALSE(std::filesystem::exists(Path("_1_clip.wmv"))) << r.err;
  EXPECT_EQ(SendTimes(Path("clip.asf")), SendTimes(SampleMedia("clip.wmv")));
  EXPECT_EQ(ProbeComplaints(Path("clip.asf")), "");
  // Without reconnecting (the default with -o) the first cut ends it, as before.
  const CliResult once = Get({url, "-o", "once.asf"});
  EXPECT_EQ(once.status, 3) << once.err;
  EXPECT_EQ(SendTimes(Path("once.asf")).size(), 12u);
}

}  // namespace
}  // namespace qor::testing
