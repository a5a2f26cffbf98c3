// qor-cli get against the real qor-server: every transport, the resume question's answers,
// offsets, failures and Ctrl-C, each with its exit status and a file ffprobe can read.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli_runner.h"
#include "common/server_process.h"
#include "platform/settings_store.h"
#include "platform/temp_folder.h"
#include "support/base64.h"
#include "support/helper.h"

namespace qor::testing {
namespace {

class CliGet : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<ServerProcess>(
        QOR_SERVER_PROGRAM,
        std::vector<std::string>{"--root", QOR_SAMPLE_MEDIA_DIR, "--rate", "0"});
    ASSERT_TRUE(server_->Running());
    clipSeconds_ = ProbeDuration(SampleMedia("clip.wmv"));
    ASSERT_GT(clipSeconds_, 5.0);
  }
  std::string Http(const std::string& name) const {
    return "http://127.0.0.1:" + std::to_string(server_->HttpPort()) + "/" + name;
  }
  std::string Mms(const std::string& scheme, const std::string& name) const {
    return scheme + "://127.0.0.1:" + std::to_string(server_->MmsPort()) + "/" + name;
  }
  CliResult Get(std::vector<std::string> args, std::function<bool()> interruptWhen = nullptr) {
    args.insert(args.begin(), "get");
    CliRun run;
    run.args = args;
    run.workDir = folder_.Path();
    run.interruptWhen = std::move(interruptWhen);
    return RunCli(run);
  }
  std::string Path(const std::string& name) const { return folder_.Path(name); }

  TempFolder folder_;
  std::unique_ptr<ServerProcess> server_;
  double clipSeconds_ = 0;
};

TEST_F(CliGet, EveryTransportCompletes) {
  struct Case {
    std::string url, name, protocolLine;
  };
  const std::vector<Case> cases{
      {Http("clip.wmv"), "http.asf", "- Receiving HTTP protocol streams -"},
      {Mms("mmst", "clip.wmv"), "tcp.asf", "- Receiving MMS via TCP protocol streams -"},
      {Mms("mmsu", "clip.wmv"), "udp.asf", "- Receiving MMS via UDP protocol streams -"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const CliResult r = Get({c.url, "-o", c.name});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("> " + c.protocolLine + "\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("> - ** DOWNLOAD COMPLETED ** -\n"), std::string::npos);
    EXPECT_NEAR(ProbeDuration(Path(c.name)), clipSeconds_, 0.5);
  }
  // No colour without a terminal.
  EXPECT_EQ(Get({Http("audio.wma"), "-o", "a.wma"}).err.find('\x1b'), std::string::npos);
}

TEST_F(CliGet, UnattendedNamesAndTheLogFile) {
  ASSERT_EQ(Get({Http("clip.wmv"), "--log", "run.txt"}).status, 0);
  ASSERT_EQ(Get({Http("clip.wmv"), "-d", folder_.Path()}).status, 0);
  EXPECT_NEAR(ProbeDuration(Path("_1_clip.wmv")), clipSeconds_, 0.5);
  EXPECT_NEAR(ProbeDuration(Path("_2_clip.wmv")), clipSeconds_, 0.5);
  const std::string log = ReadFile(Path("run.txt"));
  EXPECT_EQ(log.rfind("> OPEN :\t" + Http("clip.wmv") + "\r\n", 0), 0u) << log;
  EXPECT_NE(log.find("> - ** DOWNLOAD COMPLETED ** -\r\n"), std::string::npos);
}

TEST_F(CliGet, ExistingFileNeedsResumeOrOverwrite) {
  {
    std::ofstream out(Path("kept.asf"));
    out << "not a stream";
  }
  const CliResult refused = Get({Http("clip.wmv"), "-o", "kept.asf"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("kept.asf already holds data"), std::string::npos) << refused.err;
  EXPECT_EQ(ReadFile(Path("kept.asf")), "not a stream");

  const CliResult overwritten = Get({Http("clip.wmv"), "-o", "kept.asf", "--overwrite"});
  EXPECT_EQ(overwritten.status, 0) << overwritten.err;
  EXPECT_NEAR(ProbeDuration(Path("kept.asf")), clipSeconds_, 0.5);
}

TEST_F(CliGet, InterruptedThenResumed) {
  const std::string part = Path("part.asf");
  // The server pauses after 20 of its 35 packets, so the interrupt lands in the middle of the
  // stream.
  const CliResult stopped = Get({Http("clip.wmv?stall=30&stall-after=20"), "-o", "part.asf"},
                                [&] { return FileSize(part) > 15 * 3200; });
  EXPECT_EQ(stopped.status, 130) << stopped.err;
  EXPECT_NE(stopped.err.find("interrupted"), std::string::npos);
  const double partial = ProbeDuration(part);
  EXPECT_GT(partial, 1.0);
  EXPECT_LT(partial, clipSeconds_ - 0.5);

  const CliResult resumed = Get({Http("clip.wmv"), "-o", "part.asf", "--resume"});
  EXPECT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_NEAR(ProbeDuration(part), clipSeconds_, 0.5);
}

TEST_F(CliGet, OffsetStartsLaterIntoTheClip) {
  const CliResult r = Get({Mms("mmst", "clip.wmv"), "-o", "late.asf", "--offset", "00:00:03"});
  EXPECT_EQ(r.status, 0) << r.err;
  const double seconds = ProbeDuration(Path("late.asf"));
  EXPECT_GT(seconds, 1.0);
  EXPECT_LT(seconds, clipSeconds_ - 1.5);
}

TEST_F(CliGet, ServerClosingEarlyFinishesTheFile) {
  const CliResult r = Get({Http("clip.wmv?disconnect=30"), "-o", "short.asf"});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("closed the connection before the end of the stream"), std::string::npos);
  EXPECT_NE(r.err.find("> - ASF index seeking object written"), std::string::npos);
  EXPECT_GT(ProbeDuration(Path("short.asf")), 0.5);
}

TEST_F(CliGet, FailuresExitWithOne) {
  struct Case {
    std::string url, line;
  };
  const std::vector<Case> cases{
      {"http://127.0.0.1:1/clip.wmv",
       "> TTCP: socket connect failed: 10061 (connection refused: nothing listens on that port)"},
      {"http://no-such-host.invalid/clip.wmv", "> TTCP: DNS resolve failed: 1100"},
      {Http("missing.wmv"), "> HTTP/1.0 404 Not Found"},
      // Refused before anything is looked up, in words a user can act on.
      {"mms://127.0.0.1:0/clip.wmv", "> Bad port '0' in the location"},
      {"mms://127.0.0.1:65536/clip.wmv", "> Bad port '65536' in the location"},
      {"http://127.0.0.1:abc/clip.wmv", "> Bad port 'abc' in the location"},
      {"ftp://127.0.0.1/clip.wmv", "> Unsupported location type 'ftp://'"},
      {"rtmp://127.0.0.1/clip.wmv", "> Unsupported location type 'rtmp://'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const CliResult r = Get({c.url, "-o", "fail.asf", "--overwrite"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(c.line), std::string::npos) << r.err;
  }
}

// A settings file with lines that cannot be read is reported with its place, and a stored value
// that is no number names its setting and the file; neither is a bare failure.
TEST_F(CliGet, BadSettingsAreNamedWithTheirFile) {
  const std::string dir = Path("config/qor");
  std::filesystem::create_directories(dir);
  {
    std::ofstream out(dir + "/settings.conf");
    out << "[Software\\Qor\\Qor downloader\\2.3.0]\nTCPPort=17o5\nthis line is no setting\n";
  }
  const CliResult r = Get({Mms("mmst", "clip.wmv"), "-o", "bad.asf"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("Qor settings: 1 line(s) of " + dir + "/settings.conf cannot be read"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("'17o5' is not a valid integer value (setting TCPPort in " + dir +
                       "/settings.conf)"),
            std::string::npos)
      << r.err;
}

// Each way a download can go wrong has its own status, and every run ends with the summary.
TEST_F(CliGet, BrokenRunsEndByThemselvesWithTheirStatus) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string line;
  };
  const std::vector<Case> cases{
      {{Mms("mmst", "clip.wmv?cut-header=1"), "-o", "cut.asf"},
       1,
       "> The server closed the connection before the stream began"},
      {{Mms("mmsu", "clip.wmv?drop=1"), "-o", "cut.asf"},
       1,
       "> The stream ended before any data packet arrived: nothing was recorded"},
      {{Http("clip.wmv?stall=120&stall-after=6"), "-o", "stalled.asf", "--stall-timeout", "1"},
       3,
       "> The stream sent nothing for 1 seconds and is treated as cut"},
      {{Mms("mmsu", "clip.wmv?resend=0&drop-list=5"), "-o", "holes.asf"},
       4,
       "> - ** DOWNLOAD COMPLETED ** - (1 packets missing)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const CliResult r = Get(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.line + "\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("qor-cli: summary: "), std::string::npos) << r.err;
  }
  // A run that failed after the header but before any media packet leaves no file in the way of
  // the retry.
  const CliResult refused = Get({Mms("mmst", "clip.wmv?fail=0x07:0x80070005"), "-o", "cut.asf"});
  EXPECT_EQ(refused.status, 1) << refused.err;
  EXPECT_NE(refused.err.find("> - Header received and saving"), std::string::npos) << refused.err;
  EXPECT_EQ(FileSize(Path("cut.asf")), -1);
  EXPECT_EQ(Get({Http("clip.wmv"), "-o", "cut.asf"}).status, 0);
  // A refused resume leaves the file as it was: its summary counts what the file holds, not the
  // clip its never-updated header describes.
  {
    std::ifstream in(SampleMedia("clip.wmv"), std::ios::binary);
    std::string clip((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto packetSize = 3200;  // the sample media's packet size
    const size_t header = clip.find("\x36\x26\xb2\x75\x8e\x66\xcf\x11") + 50;
    ASSERT_NE(header, std::string::npos + 50);
    std::ofstream(Path("other.asf"), std::ios::binary) << clip.substr(0, header + 5 * packetSize);
  }
  const CliResult other = Get({Http("twovideo.asf"), "-o", "other.asf", "--resume"});
  EXPECT_EQ(other.status, 1) << other.err;
  EXPECT_NE(other.err.find("summary: other.asf, 5 packets saved"), std::string::npos) << other.err;
  const CliResult holes = Get({Mms("mmsu", "clip.wmv?resend=0&drop-list=5"), "-o", "h2.asf"});
  EXPECT_NE(holes.err.find("packets saved, 0 recovered, 1 lost"), std::string::npos) << holes.err;
  EXPECT_NE(holes.err.find("qor-cli: summary: h2.asf, "), std::string::npos) << holes.err;
}

// Every fault the reference server offers, over every transport, ends the run by itself.
TEST_F(CliGet, EveryServerFaultEndsTheRun) {
  const std::vector<std::string> faults{
      "drop=0.3",     "drop-list=0,3",  "resend=0&drop=0.1",      "dup=0.2",
      "reorder=0.3",  "disconnect=5",   "cut-header=1",           "fail=0x15:0x80070005",
      "password=u:p", "strip=1",        "unknown-tag=5",          "unknown-command=5",
      "bad-length=5", "split-header=3", "stall=90&stall-after=5", "refuse-transport=1",
      "status=503",   "header-pieces=3"};
  for (const std::string scheme : {"http", "mmst", "mmsu"}) {
    for (const std::string& fault : faults) {
      SCOPED_TRACE(scheme + " " + fault);
      const std::string url =
          scheme == "http" ? Http("clip.wmv?" + fault) : Mms(scheme, "clip.wmv?" + fault);
      CliRun run;
      run.args = {"get", url, "-o", "f.asf", "--overwrite", "--stall-timeout", "3"};
      run.workDir = folder_.Path();
      run.timeoutSeconds = 60;
      const CliResult r = RunCli(run);
      EXPECT_TRUE(r.status == 0 || r.status == 1 || r.status == 3 || r.status == 4) << r.err;
      EXPECT_NE(r.err.find("qor-cli: summary: "), std::string::npos) << r.err;
    }
  }
}

// Credentials from the command line serve that run only; --save-password keeps them once the
// server took them, for that server alone. A wrong password is never kept, and a run stores
// nothing else (--log is no folder to remember).
TEST_F(CliGet, CredentialsGoOnlyWhereTheyWereGiven) {
  server_ = std::make_unique<ServerProcess>(
      QOR_SERVER_PROGRAM, std::vector<std::string>{"--root", QOR_SAMPLE_MEDIA_DIR, "--rate", "0",
                                                   "--password", "ann:s3cret"});
  ASSERT_TRUE(server_->Running());
  auto stored = [&](const std::string& name) {
    SettingsStore settings(Path("config/qor"));
    THelper::UseStore(&settings);
    const std::string value = THelper().ReadSetting(kSettingsKeyPath, name);
    THelper::UseStore(nullptr);
    return value;
  };
  const CliResult declined = Get({Mms("mmst", "clip.wmv"), "-o", "p.asf"});
  EXPECT_EQ(declined.status, 1);
  EXPECT_NE(declined.err.find("Session aborted, connection now closing"), std::string::npos);
  const CliResult wrong = Get({Mms("mmst", "clip.wmv"), "-o", "p.asf", "--overwrite", "--user",
                               "ann", "--password", "typo", "--save-password"});
  EXPECT_EQ(wrong.status, 1) << wrong.err;
  EXPECT_EQ(stored("Authm"), "");
  const CliResult once = Get({Mms("mmst", "clip.wmv"), "-o", "p.asf", "--overwrite", "--user",
                              "ann", "--password", "s3cret", "--log", "/dev/null"});
  EXPECT_EQ(once.status, 0) << once.err;
  EXPECT_NEAR(ProbeDuration(Path("p.asf")), clipSeconds_, 0.5);
  EXPECT_EQ(stored("Authm"), "");
  EXPECT_EQ(stored("LogDir"), "");
  const CliResult saved = Get({Mms("mmst", "clip.wmv"), "-o", "p.asf", "--overwrite", "--user",
                               "ann", "--password", "s3cret", "--save-password"});
  EXPECT_EQ(saved.status, 0) << saved.err;
  EXPECT_EQ(stored("Authm"), Base64Coder::EncodeString("ann:s3cret"));
  EXPECT_EQ(stored("AuthmSite"), "127.0.0.1:" + std::to_string(server_->MmsPort()));
  const CliResult again = Get({Mms("mmst", "clip.wmv"), "-o", "p.asf", "--overwrite"});
  EXPECT_EQ(again.status, 0) << again.err;

  // Another server asking for a password is not offered the saved set.
  ServerProcess other(QOR_SERVER_PROGRAM,
                      {"--root", QOR_SAMPLE_MEDIA_DIR, "--rate", "0", "--host", "127.0.0.2",
                       "--password", "ann:s3cret", "--log-requests", "-"});
  ASSERT_TRUE(other.Running());
  const CliResult elsewhere =
      Get({"mmst://127.0.0.2:" + std::to_string(other.MmsPort()) + "/clip.wmv", "-o", "q.asf"});
  EXPECT_EQ(elsewhere.status, 1) << elsewhere.err;
  EXPECT_NE(elsewhere.err.find("Session aborted, connection now closing"), std::string::npos);
  EXPECT_EQ(other.Output().find("mms-password"), std::string::npos) << other.Output();
}

TEST_F(CliGet, StoredProtocolHoldsForAPlainMmsLocation) {
  auto store = [](const std::string& dir, const std::string& protocol) {
    SettingsStore settings(dir);
    THelper::UseStore(&settings);
    THelper().WriteSetting(kSettingsKeyPath, "ProtoSelected", protocol);
    THelper::UseStore(nullptr);
  };
  store(folder_.Path("config/qor"), "UDP");
  const CliResult udp = Get({Mms("mms", "clip.wmv"), "-o", "u.asf"});
  EXPECT_EQ(udp.status, 0) << udp.err;
  EXPECT_NE(udp.err.find("> - Receiving MMS via UDP protocol streams -"), std::string::npos);
  store(folder_.Path("elsewhere"), "TCP");
  const CliResult tcp =
      Get({Mms("mms", "clip.wmv"), "-o", "t.asf", "--config-dir", folder_.Path("elsewhere")});
  EXPECT_EQ(tcp.status, 0) << tcp.err;
  EXPECT_NE(tcp.err.find("> - Receiving MMS via TCP protocol streams -"), std::string::npos);
}

// --progress json: a front end reads one object a second while the clip arrives at three times
// its pace, and a last summary object that agrees with the file on disk and the exit status.
TEST_F(CliGet, ProgressJsonIsOneObjectASecondAndASummary) {
  ServerProcess paced(QOR_SERVER_PROGRAM, {"--root", QOR_SAMPLE_MEDIA_DIR, "--rate", "3"});
  ASSERT_TRUE(paced.Running());
  const std::string url = "http://127.0.0.1:" + std::to_string(paced.HttpPort()) + "/clip.wmv";
  const CliResult r = Get({url, "-o", "p.asf", "--progress", "json"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<nlohmann::json> objects;
  std::istringstream lines(r.err);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] != '{') continue;
    objects.push_back(nlohmann::json::parse(line, nullptr, false));
    ASSERT_TRUE(objects.back().is_object()) << line;
  }
  ASSERT_GE(objects.size(), 2u) << r.err;
  const nlohmann::json& summary = objects.back();
  EXPECT_EQ(summary["event"], "summary");
  EXPECT_EQ(summary["status"], 0);
  EXPECT_EQ(summary["size"].get<long long>(), FileSize(Path("p.asf")));
  EXPECT_EQ(summary["packets"], 35) << summary;
  EXPECT_EQ(summary["lost"], 0);
  bool receiving = false;
  double lastTime = 0;
  for (size_t i = 0; i + 1 < objects.size(); ++i) {
    const nlohmann::json& p = objects[i];
    EXPECT_EQ(p["event"], "progress") << p;
    for (const char* key : {"stream_time", "packets", "bytes", "rate", "lost", "recovered"})
      EXPECT_TRUE(p[key].is_number()) << key << " in " << p;
    EXPECT_GE(p["stream_time"].get<double>(), lastTime);
    lastTime = p["stream_time"].get<double>();
    receiving |= p["state"] == "receiving" && p["packets"].get<int>() > 0;
  }
  EXPECT_TRUE(receiving) << r.err;
  // The default stays the human line, which is not written without a terminal.
  const CliResult plain = Get({url, "-o", "q.asf"});
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.err.find('{'), std::string::npos) << plain.err;
}

}  // namespace
}  // namespace qor::testing
