// qor-cli's command line, info and record.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include <atomic>
#include <chrono>
#include <thread>

#include "cli_runner.h"
#include "common/script_server.h"
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
  EXPECT_NE(json.out.find("\"title\": \"Qor sample clip\""), std::string::npos) << json.out;
  EXPECT_EQ(json.out.front(), '{');
  const CliResult missing = Cli({"info", "/nonexistent/file.asf"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("/nonexistent/file.asf"), std::string::npos);
}

// Titles are UTF-16 in the file and UTF-8 on the way out, so the JSON is JSON (python3 judges);
// a file cut short says so instead of passing the header's sizes off as its own.
TEST(CliInfo, TextIsUnicodeAndATruncatedFileSaysSo) {
  TempFolder folder;
  const std::string made = folder.Path("caf\xC3\xA9.wmv");
  const std::string title = "Caf\xC3\xA9 \xE2\x98\x95 \xF0\x9D\x84\x9E \"quoted\"";
  const std::string command =
      "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i sine=d=3 -c:a wmav2 "
      "-metadata title='" +
      title + "' -metadata author='Zo\xC3\xAB' -f asf '" + made + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const CliResult text = Cli({"info", made});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("  Clip: " + title + "\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("  Author: Zo\xC3\xAB\n"), std::string::npos) << text.out;
  EXPECT_EQ(text.out.find("truncated"), std::string::npos) << text.out;

  const CliResult json = Cli({"info", made, "--json"});
  EXPECT_EQ(json.status, 0) << json.err;
  const std::string jsonFile = folder.Path("info.json");
  {
    std::ofstream out(jsonFile, std::ios::binary);
    out << json.out;
  }
  const std::string check =
      "python3 -c 'import json,sys; d=json.load(open(sys.argv[1], "
      "encoding=\"utf-8\")); print(d[\"tags\"][\"title\"])' " +
      jsonFile + " > " + folder.Path("title.txt");
  ASSERT_EQ(std::system(check.c_str()), 0) << json.out;
  EXPECT_EQ(ReadFile(folder.Path("title.txt")), title + "\n");

  // The first half of the file: the header still says the whole.
  const long long size = FileSize(made);
  const std::string cut = folder.Path("cut.wmv");
  std::filesystem::copy_file(made, cut);
  std::filesystem::resize_file(cut, static_cast<uintmax_t>(size / 2));
  const CliResult truncated = Cli({"info", cut});
  EXPECT_EQ(truncated.status, 0) << truncated.err;
  EXPECT_NE(truncated.out.find("  FileSize: " + std::to_string(size / 2) +
                               " bytes (truncated: the header gives " + std::to_string(size) +
                               " bytes)\n"),
            std::string::npos)
      << truncated.out;
  const size_t packets = truncated.out.find("ASFTotalPackets: ");
  ASSERT_NE(packets, std::string::npos) << truncated.out;
  const std::string packetsLine =
      truncated.out.substr(packets, truncated.out.find('\n', packets) - packets);
  EXPECT_NE(packetsLine.find(" (truncated: the header gives "), std::string::npos) << packetsLine;
  // The JSON says it with numbers: the size on disk, the header's, and the flag.
  const CliResult cutJson = Cli({"info", cut, "--json"});
  EXPECT_EQ(cutJson.status, 0) << cutJson.err;
  const std::string cutFormat = "\"size\": " + std::to_string(size / 2) +
                                ",\n    \"header_file_size\": " + std::to_string(size) +
                                ",\n    \"truncated\": true,";
  EXPECT_NE(cutJson.out.find(cutFormat), std::string::npos) << cutJson.out;
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

TEST(CliRecord, AWindowAlreadyPastEndsAtOnce) {
  TempFolder folder;
  const std::time_t now = std::time(nullptr);
  CliRun run;
  run.args = {"record", "http://127.0.0.1:1/show", "--start", LocalMoment(now - 120),
              "--end",  LocalMoment(now - 60)};
  run.workDir = folder.Path();
  run.timeoutSeconds = 60;
  const CliResult r = RunCli(run);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("the recording window ended before anything was recorded"),
            std::string::npos)
      << r.err;
}

// A recording cut with no reconnect left ends at once instead of waiting for its end moment (at
// full speed, as it once did); the folder -d names is made first, and one that cannot be is
// refused before anything waits.
TEST(CliRecord, ACutWithNothingLeftToFollowEndsAtOnce) {
  ServerProcess server(QOR_SERVER_PROGRAM, {"--root", QOR_SAMPLE_MEDIA_DIR, "--rate", "1"});
  ASSERT_TRUE(server.Running());
  TempFolder folder;
  const std::time_t now = std::time(nullptr);
  const std::string url =
      "mmst://127.0.0.1:" + std::to_string(server.MmsPort()) + "/clip.wmv?stall=60&stall-after=5";
  const auto start = std::chrono::steady_clock::now();
  const CliResult r =
      Cli({"record", url, "--start", LocalMoment(now - 5), "--end", LocalMoment(now + 90),
           "--stall-timeout", "1", "--reconnect", "0", "-d", "new/rec"},
          folder.Path());
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_NE(r.err.find("qor-cli: created the folder new/rec\n"), std::string::npos) << r.err;
  EXPECT_GT(FileSize(folder.Path("new/rec/_1_clip.wmv")), 0);
  const CliResult refused = Cli({"record", url, "--start", LocalMoment(now + 60), "--end",
                                 LocalMoment(now + 90), "-d", "/proc/none"},
                                folder.Path());
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("qor-cli: -d /proc/none: the folder cannot be created"),
            std::string::npos)
      << refused.err;
}

// The end moment comes while a cut stream waits to be joined again: the recording is short of
// its window, which the status says.
TEST(CliRecord, AnEndInAReconnectPauseIsACut) {
  ServerProcess server(QOR_SERVER_PROGRAM, {"--root", QOR_SAMPLE_MEDIA_DIR, "--rate", "1"});
  ASSERT_TRUE(server.Running());
  TempFolder folder;
  const std::time_t now = std::time(nullptr);
  const std::string url = "mmst://127.0.0.1:" + std::to_string(server.MmsPort()) + "/clip.wmv";
  // The server goes away mid-stream: every attempt to join again is refused, and the pauses
  // between them grow (1 s, 2 s, 4 s) past the end moment.
  std::thread gone([&server] {
    std::this_thread::sleep_for(std::chrono::seconds(3));
    server.Stop();
  });
  const CliResult r = Cli({"record", url, "--start", LocalMoment(now - 5), "--end",
                           LocalMoment(now + 8), "--reconnect", "5"},
                          folder.Path());
  gone.join();
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("the end moment came while the cut stream was being joined again"),
            std::string::npos)
      << r.err;
}

// A web server that accepts and never answers: Ctrl-C while batch or open fetches from it ends
// the run at once, cleanly (its own note and status, not a death by the signal).
TEST(CliStops, InterruptedWhileALocationIsFetched) {
  test::ScriptServer silent([](int, const std::string&) { return test::Script().Hang(); });
  TempFolder folder;
  const std::string list = "http://127.0.0.1:" + std::to_string(silent.Port()) + "/list.asx";
  for (const char* command : {"batch", "open"}) {
    SCOPED_TRACE(command);
    CliRun run;
    run.args = {command, list};
    run.workDir = folder.Path();
    const int before = silent.Connections();
    run.interruptWhen = [&] { return silent.Connections() > before; };
    run.timeoutSeconds = 30;  // the fetch itself would wait 45 s
    const auto start = std::chrono::steady_clock::now();
    const CliResult r = RunCli(run);
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_NE(r.err.find("qor-cli: interrupted while the "), std::string::npos) << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  }
}

}  // namespace
}  // namespace qor::testing
