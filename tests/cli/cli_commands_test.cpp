// qor-cli's command line, info and record.

#include <gtest/gtest.h>

#include <ctime>

#include "cli_runner.h"
#include "common/server_process.h"
#include "platform/temp_folder.h"

namespace qor::testing {
namespace {

CliResult Cli(const std::vector<std::string>& args, const std::string& dir = "") {
  CliRun run;
  run.args = args;
  run.workDir = dir;
  return RunCli(run);
}

TEST(CliCommandLine, BadFlagsAreUsageErrors) {
  const std::vector<std::vector<std::string>> bad{
      {"fetch", "x"},
      {"get"},
      {"get", "a", "b"},
      {"get", "mms://h/x", "--protocol", "ftp"},
      {"get", "mms://h/x", "--tcp-port", "70000"},
      {"get", "mms://h/x", "--http-port", "8o"},
      {"get", "mms://h/x", "--max-udp", "0"},
      {"get", "mms://h/x", "--offset", "25:00:00"},
      {"get", "mms://h/x", "--proxy", "host"},
      {"get", "mms://h/x", "-o", "notes.txt"},
      {"get", "mms://h/x", "--resume"},
      {"get", "mms://h/x", "-o", "a.asf", "--resume", "--overwrite"},
      {"get", "mms://h/x", "--password", "p"},
      {"get", "mms://h/x", "--json"},
      {"record", "mms://h/x", "--start", "2026-01-01 10:00:00"},
      {"record", "mms://h/x", "--start", "2026-01-01 10:00:00", "--end", "2026-01-01 09:00:00"},
      {"record", "mms://h/x", "--start", "yesterday", "--end", "2026-01-01 09:00:00"},
      {"info"},
  };
  for (const auto& args : bad) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const CliResult r = Cli(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("qor-cli: ", 0), 0u) << r.err;
  }
}

TEST(CliCommandLine, HelpForEveryCommandShowsTheExitTable) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--help"}, {"get", "--help"}, {"record", "--help"}, {"info", "--help"}}) {
    const CliResult r = Cli(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("  130  interrupted by Ctrl-C (file finished)"), std::string::npos)
        << r.out;
  }
  EXPECT_NE(Cli({"get", "--help"}).out.find("--resume"), std::string::npos);
  EXPECT_EQ(Cli({"--version"}).out, "qor-cli 2.3.0\n");
}

TEST(CliInfo, TextAndJson) {
  const CliResult text = Cli({"info", SampleMedia("clip.wmv")});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("  Clip: Qor sample clip\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("[Stream Properties]"), std::string::npos);
  const CliResult json = Cli({"info", SampleMedia("clip.wmv"), "--json"});
  EXPECT_EQ(json.status, 0);
  EXPECT_NE(json.out.find("\"Clip\": \"Qor sample clip\""), std::string::npos) << json.out;
  EXPECT_EQ(json.out.front(), '{');
  const CliResult missing = Cli({"info", "/nonexistent/file.asf"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("/nonexistent/file.asf"), std::string::npos);
}

std::string LocalMoment(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

TEST(CliRecord, RecordsBetweenTheTwoMoments) {
  ServerProcess server(QOR_SERVER_PROGRAM,
                       {"--root", QOR_SAMPLE_MEDIA_DIR, "--live",
                        "show=" + SampleMedia("clip.wmv") + "," + SampleMedia("audio.wma")});
  ASSERT_TRUE(server.Running());
  TempFolder folder;
  const std::time_t now = std::time(nullptr);
  const CliResult r =
      Cli({"record", "http://127.0.0.1:" + std::to_string(server.HttpPort()) + "/show", "--start",
           LocalMoment(now - 5), "--end", LocalMoment(now + 4)},
          folder.Path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("> VCR ON, now recording...."), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("> VCR OFF, end time reached"), std::string::npos);
  EXPECT_GT(ProbeDuration(folder.Path("_1_show_live.asf")), 0.5);
}

}  // namespace
}  // namespace qor::testing
