// RTSP as users run it: qor-cli against the real qor-server, judged by independent programs.
// tshark decodes a capture of each session (no malformed RTSP message, the whole exchange there,
// the TEARDOWN also after Ctrl-C); info lists what the DESCRIBE offers; losses that are not resent
// end with exit status 4 and their count.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "cli_runner.h"
#include "common/server_process.h"
#include "platform/temp_folder.h"

namespace qor::testing {
namespace {

using namespace std::chrono_literals;

// An even UDP port whose neighbour is free too, a moment ago.
int FreeUdpPort() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    int fds[2] = {-1, -1};
    int port = 0;
    for (int i = 0; i < 2; ++i) {
      fds[i] = ::socket(AF_INET, SOCK_DGRAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      address.sin_port = htons(static_cast<uint16_t>(i == 0 ? 0 : port + 1));
      socklen_t length = sizeof address;
      if (::bind(fds[i], reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) break;
      ::getsockname(fds[i], reinterpret_cast<sockaddr*>(&address), &length);
      if (i == 0) port = ntohs(address.sin_port);
    }
    const bool pair = fds[1] >= 0 && port % 2 == 0 && port < 65534;
    for (int fd : fds)
      if (fd >= 0) ::close(fd);
    if (pair) return port;
  }
  return 27000;
}

std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

class RtspCli : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<ServerProcess>(
        QOR_SERVER_PROGRAM, std::vector<std::string>{"--root", QOR_SAMPLE_MEDIA_DIR, "--rate", "0",
                                                     "--rtsp-port", "0"});
    ASSERT_TRUE(server_->Running());
  }
  std::string Url(const std::string& scheme, const std::string& name) const {
    return scheme + "://127.0.0.1:" + std::to_string(server_->RtspPort()) + "/" + name;
  }
  CliResult Cli(std::vector<std::string> args, std::function<bool()> interruptWhen = nullptr) {
    CliRun run;
    run.args = std::move(args);
    run.workDir = folder_.Path();
    run.interruptWhen = std::move(interruptWhen);
    return RunCli(run);
  }

  TempFolder folder_;
  std::unique_ptr<ServerProcess> server_;
};

TEST_F(RtspCli, TsharkDecodesEverySessionWithoutAMalformedMessage) {
  if (::geteuid() != 0) GTEST_SKIP() << "capturing on loopback needs root";
  const std::string port = std::to_string(server_->RtspPort());
  const struct {
    const char* scheme;
    std::string name;
    bool interrupt;
  } rows[] = {{"rtspt", "clip.wmv", false},
              {"rtspu", "clip.wmv?drop-list=3&rtp-size=3208", false},
              {"rtspt", "clip.wmv?stall=100&stall-after=10", true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.scheme) + " " + row.name);
    const std::string capture =
        folder_.Path(std::string(row.scheme) + (row.interrupt ? "-stopped" : "") + ".pcapng");
    // The whole loopback traffic of the server's host: RTSP, and RTP and RTCP on whatever ports.
    const std::string said = capture + ".frames";
    // This session's connection and its port pair only: other tests may be streaming beside it.
    const int udp = FreeUdpPort();
    const std::string filter = "tcp port " + port + " or udp port " + std::to_string(udp) +
                               " or udp port " + std::to_string(udp + 1);
    const pid_t tshark = ::fork();
    if (tshark == 0) {
      const int out = ::open(said.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(out, 1);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 2);
      ::execlp("tshark", "tshark", "-i", "lo", "-f", filter.c_str(), "-w", capture.c_str(), "-P",
               "-l", "-T", "fields", "-e", "frame.number", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // The capture is live once a datagram sent to the pair shows up in it; a busy machine may
    // take seconds to get there.
    const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(udp + 1));
    const auto waitFrom = std::chrono::steady_clock::now();
    while (ReadFile(said).empty() && std::chrono::steady_clock::now() - waitFrom < 30s) {
      ::sendto(probe, "probe", 5, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
      std::this_thread::sleep_for(100ms);
    }
    ::close(probe);
    ASSERT_FALSE(ReadFile(said).empty()) << "tshark captured nothing within 30 s";
    const std::string saved = capture + ".asf";
    const auto begun = std::chrono::steady_clock::now();
    const CliResult r = Cli({"get", Url(row.scheme, row.name), "-o", saved, "--overwrite",
                             "--udp-port", std::to_string(udp)},
                            row.interrupt ? std::function<bool()>([&] {
                              return std::chrono::steady_clock::now() - begun > 1500ms;
                            })
                                          : nullptr);
    EXPECT_EQ(r.status, row.interrupt ? 130 : 0) << r.err;
    std::this_thread::sleep_for(500ms);
    ::kill(tshark, SIGINT);
    ::waitpid(tshark, nullptr, 0);
    const std::string decode = "tshark -r '" + capture + "' -d tcp.port==" + port + ",rtsp ";
    const std::string requests =
        Shell(decode + "-Y rtsp.request -T fields -e rtsp.method 2>/dev/null");
    for (const char* method : {"OPTIONS", "DESCRIBE", "SETUP", "PLAY", "TEARDOWN"})
      EXPECT_NE(requests.find(method), std::string::npos) << method << "\n" << requests;
    EXPECT_EQ(Shell(decode + "-Y '_ws.malformed || (rtsp && _ws.expert.severity >= warning)' "
                             "2>/dev/null"),
              "");
    if (std::string(row.scheme) == "rtspu") {
      // The receiver's RTCP, decoded as such: a report and the NACK for the dropped datagram.
      const std::string rtcp = Shell(decode +
                                     "-o rtcp.heuristic_rtcp:TRUE -Y 'rtcp.pt == 205' "
                                     "-T fields -e rtcp.rtpfb.nack_pid 2>/dev/null");
      EXPECT_NE(rtcp, "") << "no NACK decoded";
    }
  }
}

TEST_F(RtspCli, InfoListsTheStreamsOfTheDescription) {
  const CliResult r = Cli({"info", Url("rtsp", "clip.wmv")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Streams offered by " + Url("rtsp", "clip.wmv") + ":"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\tvideo\t"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\taudio\t32000 bps\t22050 Hz, 1 ch"), std::string::npos) << r.out;
  const CliResult missing = Cli({"info", Url("rtsp", "nothing.wmv")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("the server answered \"RTSP/1.0 404"), std::string::npos)
      << missing.err;
}

TEST_F(RtspCli, LossesNotResentEndWithStatusFourAndTheirCount) {
  const CliResult r = Cli({"get", Url("rtspu", "clip.wmv?drop=0.1&resend=0&seed=3&rtp-size=1500"),
                           "-o", folder_.Path("lossy.asf"), "--udp-port", "17010"});
  EXPECT_EQ(r.status, 4) << r.err;
  EXPECT_NE(r.err.find("packets missing"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(", 0 lost"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace qor::testing
