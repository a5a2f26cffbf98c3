// Choosing the streams of a multiple-bit-rate clip, end to end: qor-cli against the real
// qor-server over every transport. What the server sent per stream comes from its request log,
// what the file holds from ffprobe, and every file must decode without errors.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "cli_runner.h"
#include "common/server_process.h"
#include "platform/temp_folder.h"

namespace qor::testing {
namespace {

// Output of a shell command and whether it exited with 0.
bool Shell(const std::string& command, std::string& out) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return false;
  char buffer[4096];
  size_t n = 0;
  out.clear();
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  return ::pclose(pipe) == 0;
}

// A UDP port free just now: the stored default (7000) may be taken by tests running alongside.
std::string FreeUdpPort() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  if (fd >= 0) ::close(fd);
  return std::to_string(port);
}

// Packets ffprobe reads per stream (by its index: stream number - 1 in the sample clip).
std::map<int, int> PacketsPerStream(const std::string& path) {
  std::string out;
  std::map<int, int> counts;
  if (!Shell("ffprobe -v error -show_entries packet=stream_index -of csv=p=0 '" + path + "'", out))
    return {{-1, -1}};
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line))
    if (!line.empty()) ++counts[std::atoi(line.c_str())];
  return counts;
}

class StreamChoiceCli : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<ServerProcess>(
        QOR_SERVER_PROGRAM, std::vector<std::string>{"--root", QOR_SAMPLE_MEDIA_DIR, "--rate", "0",
                                                     "--log-requests", "-"});
    ASSERT_TRUE(server_->Running());
  }
  std::vector<std::string> Locations() const {
    const std::string http = "http://127.0.0.1:" + std::to_string(server_->HttpPort());
    const std::string mms = "127.0.0.1:" + std::to_string(server_->MmsPort());
    return {http + "/mbr.wmv", "mmst://" + mms + "/mbr.wmv", "mmsu://" + mms + "/mbr.wmv"};
  }
  CliResult Get(std::vector<std::string> args) {
    args.insert(args.begin(), "get");
    CliRun run;
    run.args = args;
    run.workDir = folder_.Path();
    return RunCli(run);
  }
  // The streams the server sent in its latest stream, from "streams-sent 2=P/B 4=P/B".
  std::string LastStreamsSent() {
    const std::string out = server_->Output();
    const size_t at = out.rfind("streams-sent");
    if (at == std::string::npos) return "(none)";
    std::string line = out.substr(at + 13, out.find('\n', at) - at - 13);
    std::string streams;
    std::istringstream words(line);
    std::string word;
    while (words >> word) streams += word.substr(0, word.find('=')) + " ";
    return streams;
  }
  // Downloads with args, then checks what the server sent, what the file holds, that it
  // decodes, and (rate given) that it is no larger than that rate over the clip, within 10 %.
  void Expect(const std::string& location, const std::vector<std::string>& args,
              const std::string& sentStreams, const std::set<int>& fileStreams, long rate = 0) {
    SCOPED_TRACE(location);
    const std::string name = "f" + std::to_string(++runs_) + ".asf";
    std::vector<std::string> all{location, "-o", name};
    all.insert(all.end(), args.begin(), args.end());
    if (location.rfind("mmsu://", 0) == 0) {
      all.push_back("--udp-port");
      all.push_back(FreeUdpPort());
    }
    const CliResult r = Get(all);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(server_->WaitForOutput("streams-sent"));
    EXPECT_EQ(LastStreamsSent(), sentStreams);
    const std::string path = folder_.Path(name);
    std::set<int> held;
    for (const auto& [index, packets] : PacketsPerStream(path))
      if (packets > 0) held.insert(index + 1);
    EXPECT_EQ(held, fileStreams);
    std::string errors;
    EXPECT_TRUE(Shell("ffmpeg -v error -i '" + path + "' -map 0 -f null - 2>&1", errors));
    EXPECT_EQ(errors, "");
    // The saved header still describes every stream.
    std::string probe;
    ASSERT_TRUE(
        Shell("ffprobe -v error -show_entries stream=index -of csv=p=0 '" + path + "'", probe));
    EXPECT_EQ(probe, "0\n1\n2\n3\n");
    if (rate > 0) {
      const double seconds = ProbeDuration(SampleMedia("mbr.wmv"));
      const long long header = 1500;
      EXPECT_LE(FileSize(path), (header + rate * seconds / 8) * 1.1) << seconds;
    }
    if (fileStreams.size() < 4) {
      EXPECT_NE(r.err.find("> - Streams left out"), std::string::npos) << r.err;
      // info of the file tells what it really holds.
      std::string absent;
      for (int n = 1; n <= 4; ++n)
        if (!fileStreams.count(n)) absent += (absent.empty() ? "" : ", ") + std::to_string(n);
      CliRun info;
      info.workDir = folder_.Path();
      info.args = {"info", path};
      const CliResult shown = RunCli(info);
      EXPECT_NE(shown.out.find("  Described but not recorded: " + absent + "\n"), std::string::npos)
          << shown.out;
    }
  }

  TempFolder folder_;
  std::unique_ptr<ServerProcess> server_;
  int runs_ = 0;
};

// The clip: video 1 (about 420 kbps) and 2 (75 kbps) exclude each other, as do audio 3 (64 kbps)
// and 4 (24 kbps).
TEST_F(StreamChoiceCli, RateAndAudioOnlyOverEveryTransport) {
  for (const std::string& location : Locations()) {
    Expect(location, {"--max-rate", "120000"}, "2 4 ", {2, 4}, 120000);
    Expect(location, {"--max-rate", "1000000"}, "1 3 ", {1, 3});
    Expect(location, {"--audio-only"}, "3 ", {3});
  }
}

TEST_F(StreamChoiceCli, NumbersDecideAndNoChoiceAsksForEverything) {
  const std::string http = Locations()[0];
  Expect(http, {"--streams", "2,3"}, "2 3 ", {2, 3});
  Expect(Locations()[1], {}, "1 2 3 4 ", {1, 2, 3, 4});
  EXPECT_EQ(Get({http, "-o", "x.asf", "--streams", "1,x"}).status, 2);
  // A server numbers chosen packets afresh from a resume point: resuming with a choice would
  // write them at the wrong places, so it is refused and the file left as it was.
  const std::string sample = ReadFile(SampleMedia("mbr.wmv"));
  {
    std::ofstream part(folder_.Path("part.asf"), std::ios::binary);
    part << sample.substr(0, 40000);
  }
  const CliResult resumed = Get({http, "-o", "part.asf", "--resume", "--max-rate", "120000"});
  EXPECT_EQ(resumed.status, 1) << resumed.err;
  EXPECT_NE(resumed.err.find("> - A download of chosen streams cannot be resumed"),
            std::string::npos)
      << resumed.err;
  EXPECT_EQ(ReadFile(folder_.Path("part.asf")), sample.substr(0, 40000));
}

// The options dialog's stored "Stream Rates" choice drives a download without any flag.
TEST_F(StreamChoiceCli, StoredRateSettingApplies) {
  const std::string dir = folder_.Path("config/qor");
  std::filesystem::create_directories(dir);
  {
    std::ofstream out(dir + "/settings.conf");
    // Item 5: 256 kbps, which takes the low video with the high audio.
    out << "[Software\\Qor\\Qor downloader\\2.3.0]\nUseMaxRate=on\nMaxNetworkRate=5\n";
  }
  Expect(Locations()[2], {}, "2 3 ", {2, 3});
}

// info of a location asks for the header only and lists what a choice picks from.
TEST_F(StreamChoiceCli, InfoOfALocationListsTheOfferedStreams) {
  CliRun run;
  run.workDir = folder_.Path();
  run.args = {"info", Locations()[0]};
  const CliResult text = RunCli(run);
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("  2\tvideo\t"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("\t160x120\tgroup 1\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("  3\taudio\t63"), std::string::npos) << text.out;
  EXPECT_EQ(server_->Output().find("http-play"), std::string::npos);  // nothing was streamed
  run.args = {"info", "--json", Locations()[0]};
  const CliResult json = RunCli(run);
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_NE(json.out.find("\"number\": 4,\n      \"codec_type\": \"audio\""), std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"bit_rate\": 23"), std::string::npos) << json.out;
  run.args = {"info", Locations()[0] + "-missing"};
  const CliResult missing = RunCli(run);
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("404"), std::string::npos) << missing.err;
}

// info of a location asks as a download would: through the HTTP proxy given or stored, under
// the connection's time-out.
TEST_F(StreamChoiceCli, InfoOfALocationGoesThroughTheProxyAndTheTimeOut) {
  const std::string proxy = "127.0.0.1:" + std::to_string(server_->HttpPort());
  const std::string dir = folder_.Path("stored");
  std::filesystem::create_directories(dir);
  CliRun run;
  run.workDir = folder_.Path();
  // Only the proxy knows the name.
  run.args = {"info", "http://media.example.invalid/mbr.wmv", "--proxy", proxy};
  const CliResult given = RunCli(run);
  EXPECT_EQ(given.status, 0) << given.err;
  EXPECT_NE(given.out.find("  2\tvideo\t"), std::string::npos) << given.out;
  EXPECT_NE(server_->Output().find("http-proxy-target http://media.example.invalid/mbr.wmv"),
            std::string::npos);
  {
    std::ofstream out(dir + "/settings.conf");
    out << "[Software\\Qor\\Qor downloader\\2.3.0]\nUseHttpProxy=on\nHttpProxyUrl=127.0.0.1\n"
        << "HttpProxyPort=" << server_->HttpPort() << "\n";
  }
  run.args = {"info", "http://media.example.invalid/mbr.wmv", "--config-dir", dir};
  const CliResult stored = RunCli(run);
  EXPECT_EQ(stored.status, 0) << stored.err;
  EXPECT_EQ(stored.out, given.out);
  const SilentPort unreachable(true);
  const std::string nowhere = "http://127.0.0.1:" + std::to_string(unreachable.Port()) + "/x.wmv";
  run.args = {"info", nowhere, "--connect-timeout", "1"};
  const auto start = std::chrono::steady_clock::now();
  const CliResult late = RunCli(run);
  EXPECT_EQ(late.status, 1);
  EXPECT_EQ(late.err, "qor-cli: " + nowhere + ": cannot connect to 127.0.0.1:" +
                          std::to_string(unreachable.Port()) + " within 1 seconds\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace qor::testing
