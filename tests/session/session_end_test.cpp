// Every way a connection can end, ends the session by itself: a server that closes before or in
// the header, one that answers garbage or nothing at all, a stream that stops sending, and a UDP
// stream whose every datagram is lost. A stream whose first or last datagram is lost is still
// saved whole, because both are asked for again (the first: udp_download_test).

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <thread>

#include "common/script_server.h"
#include "session/mms_test_support.h"
#include "session/session_port.h"

namespace qor::testing {
namespace {

using namespace std::chrono_literals;

// A peer that says `reply` (may be empty) on each connection and then closes it, or holds it
// open in silence until the peer goes away.
std::unique_ptr<test::ScriptServer> Peer(std::string reply, bool holdOpen) {
  return std::make_unique<test::ScriptServer>(
      [reply, holdOpen](int, const std::string&) {
        test::Script script;
        if (!reply.empty()) script.Send(reply);
        if (holdOpen) script.Hang();
        return script;
      },
      test::ScriptServer::Request::kNothing);
}

enum class Transport { Http, Tcp, Udp };
const char* NameOf(Transport t) {
  return t == Transport::Http ? "HTTP" : t == Transport::Tcp ? "MMS/TCP" : "MMS/UDP";
}

class SessionEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = StartServer().release(); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  TMMS& Open(SessionHarness& h, Transport t, int httpPort, int mmsPort, const std::string& path) {
    saved_ = NewTempFolder() + "/clip.asf";
    if (t == Transport::Http) return h.NewHttpSession(httpPort, path, saved_);
    return NewMmsSession(h, mmsPort, path, saved_, {.udp = t == Transport::Udp});
  }
  // Runs the session until it ends by itself; the harness finishes the file on the failure.
  static void RunToEnd(SessionHarness& h) {
    ASSERT_TRUE(h.Run(60s)) << "the session did not end by itself\n" << LogText(h);
    EXPECT_TRUE(h.Finished());
    EXPECT_EQ(h.CountCode(mcCompleted), 0) << LogText(h);
    EXPECT_EQ(h.CountCode(mcFatal), 1) << LogText(h);
  }

  static ServerProcess* server_;
  std::string saved_;
};
ServerProcess* SessionEnd::server_ = nullptr;

TEST_F(SessionEnd, ConnectionClosedInTheHeaderEndsEveryTransport) {
  for (Transport t : {Transport::Http, Transport::Tcp, Transport::Udp}) {
    SCOPED_TRACE(NameOf(t));
    SessionHarness h;
    TMMS& s = Open(h, t, server_->HttpPort(), server_->MmsPort(), "clip.wmv?cut-header=1");
    s.Timeouts = {0, 0, 0, 0};  // the close itself must end it
    RunToEnd(h);
    EXPECT_TRUE(h.Logged("The server closed the connection before the stream began")) << LogText(h);
    EXPECT_FALSE(s.Status().StreamCut);
  }
}

TEST_F(SessionEnd, ServersThatCloseOrTalkNonsenseEndTheSession) {
  const auto closes = Peer("", false);
  const auto garbage = Peer(std::string(300, '\x5a'), false);
  const auto fewBytes = Peer("\x01\x00\x00", false);  // less than one unit, then gone
  for (Transport t : {Transport::Http, Transport::Tcp, Transport::Udp}) {
    for (const test::ScriptServer* peer : {closes.get(), garbage.get(), fewBytes.get()}) {
      SCOPED_TRACE(NameOf(t));
      SessionHarness h;
      TMMS& s = Open(h, t, peer->Port(), peer->Port(), "clip.wmv");
      s.Timeouts = {0, 0, 0, 0};  // the close itself must end it
      RunToEnd(h);
    }
  }
}

// A listener whose queue is full drops further connection attempts, so a connect waits: the
// connect time-out ends the session.
TEST_F(SessionEnd, ConnectionThatIsNeverMadeTimesOut) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    const int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    connect(c, reinterpret_cast<sockaddr*>(&address), sizeof address);
    fillers.push_back(c);
  }
  SessionHarness h;
  TMMS& s = Open(h, Transport::Tcp, 0, ntohs(address.sin_port), "clip.wmv");
  s.Timeouts = {1, 0, 0, 0};
  RunToEnd(h);
  EXPECT_TRUE(h.Logged("No connection to the server within 1 seconds")) << LogText(h);
  for (int c : fillers) close(c);
  close(listener);
}

TEST_F(SessionEnd, SilentServerAndStalledStreamTimeOut) {
  const auto silent = Peer("", true);
  for (Transport t : {Transport::Http, Transport::Tcp}) {
    SCOPED_TRACE(NameOf(t));
    SessionHarness h;
    TMMS& s = Open(h, t, silent->Port(), silent->Port(), "clip.wmv");
    s.Timeouts.AnswerSeconds = 1;
    RunToEnd(h);
    EXPECT_TRUE(h.Logged("The server did not answer within 1 seconds")) << LogText(h);
  }
  // Media began, then nothing for longer than the stall time-out: cut, the file keeps the packets.
  for (Transport t : {Transport::Http, Transport::Tcp, Transport::Udp}) {
    SCOPED_TRACE(NameOf(t));
    SessionHarness h;
    TMMS& s =
        Open(h, t, server_->HttpPort(), server_->MmsPort(), "clip.wmv?stall=120&stall-after=6");
    s.Timeouts.StallSeconds = 1;
    RunToEnd(h);
    EXPECT_TRUE(h.Logged("The stream sent nothing for 1 seconds and is treated as cut"))
        << LogText(h);
    EXPECT_TRUE(s.Status().StreamCut);
    EXPECT_EQ(ReadAsfLayout(saved_).packets.size(), 6u);
  }
}

// With every time-out off nothing but the stop can end a wait for a silent server: the stop
// must wake the session thread itself, which no longer looks at it on a period.
TEST_F(SessionEnd, StopEndsASessionWaitingWithoutAnyTimeOut) {
  const auto silent = Peer("", true);
  for (Transport t : {Transport::Http, Transport::Tcp}) {
    SCOPED_TRACE(NameOf(t));
    SessionHarness h;
    TMMS& s = Open(h, t, silent->Port(), silent->Port(), "clip.wmv");
    s.Timeouts = {0, 0, 0, 0};
    const std::string asked = "Initialising streaming protocol, waiting for reply...";
    ASSERT_TRUE(h.Run(60s, [&] { return h.Logged(asked); })) << LogText(h);
    ASSERT_FALSE(h.Ended()) << "the session ended by itself" << LogText(h);
    h.Abort();
    EXPECT_TRUE(h.RunUntil([&] { return s.Finished(); }, 20s))
        << "the stop did not wake the session thread" << LogText(h);
  }
}

TEST_F(SessionEnd, ServerClosingInTheStreamIsACut) {
  for (Transport t : {Transport::Http, Transport::Tcp, Transport::Udp}) {
    SCOPED_TRACE(NameOf(t));
    SessionHarness h;
    TMMS& s = Open(h, t, server_->HttpPort(), server_->MmsPort(), "clip.wmv?disconnect=10");
    s.Timeouts = {0, 0, 0, 0};
    RunToEnd(h);
    EXPECT_TRUE(h.Logged("The server closed the connection before the end of the stream"))
        << LogText(h);
    EXPECT_TRUE(s.Status().StreamCut);
    const AsfLayout layout = ReadAsfLayout(saved_);
    EXPECT_EQ(layout.declaredPackets, layout.packets.size());
    EXPECT_GE(layout.packets.size(), 1u);
  }
}

// Another recording holds the configured data port: this one takes a free port, says so, and the
// server sends to it (the holder gets nothing).
TEST_F(SessionEnd, UdpPortInUseFallsBackToAFreeOne) {
  const int holder = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  socklen_t size = sizeof address;
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  getsockname(holder, reinterpret_cast<sockaddr*>(&address), &size);
  const int taken = ntohs(address.sin_port);
  SessionHarness h;
  TMMS& s = Open(h, Transport::Udp, 0, server_->MmsPort(), "clip.wmv");
  s.UdpPort = taken;
  ASSERT_TRUE(h.Run(60s)) << LogText(h);
  EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  bool announced = false;
  for (const MessagePair& p : h.Log())
    announced |=
        p.text.rfind("UDP port " + std::to_string(taken) + " is in use; receiving on ", 0) == 0;
  EXPECT_TRUE(announced) << LogText(h);
  // Said once, and never as the port in use.
  EXPECT_FALSE(h.Logged("Local UDP Port \t" + std::to_string(taken))) << LogText(h);
  const PacketMatch m = ComparePackets(SampleMedia("clip.wmv"), saved_);
  EXPECT_EQ(m.equal, m.source);
  char scrap[8];
  EXPECT_LT(recv(holder, scrap, sizeof scrap, MSG_DONTWAIT), 0);
  close(holder);
}

TEST_F(SessionEnd, UdpWithEveryDatagramLostIsAFailure) {
  SessionHarness h;
  Open(h, Transport::Udp, 0, server_->MmsPort(), "clip.wmv?drop=1");
  RunToEnd(h);
  EXPECT_TRUE(h.Logged(kNothingReceived)) << LogText(h);
}

TEST_F(SessionEnd, UdpLastDatagramIsAskedForAgain) {
  const AsfLayout source = ReadAsfLayout(SampleMedia("clip.wmv"));
  ASSERT_GT(source.packets.size(), 2u);
  const std::string last = std::to_string(source.packets.size() - 1);
  for (const std::string& list : {last, "0," + last}) {
    SCOPED_TRACE(list);
    SessionHarness h;
    TMMS& s = Open(h, Transport::Udp, 0, server_->MmsPort(), "clip.wmv?drop-list=" + list);
    ASSERT_TRUE(h.Run(60s)) << LogText(h);
    EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
    EXPECT_EQ(s.Status().LostPackets, 0u) << LogText(h);
    const PacketMatch m = ComparePackets(SampleMedia("clip.wmv"), saved_);
    EXPECT_EQ(m.equal, m.source) << LogText(h);
    EXPECT_EQ(ReadAsfLayout(saved_).declaredPackets, source.packets.size());
  }
}

// A disk that fills up: files of this process may not grow past a limit (and writing past it
// fails with EFBIG instead of raising SIGXFSZ) until the end of the scope.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  void (*previous_)(int) = nullptr;
};

TEST_F(SessionEnd, FullDiskEndsAsAFailureWithAFileOfWholePackets) {
  const AsfLayout source = ReadAsfLayout(SampleMedia("clip.wmv"));
  ASSERT_GT(source.packets.size(), 12u);
  for (Transport t : {Transport::Http, Transport::Tcp}) {
    SCOPED_TRACE(NameOf(t));
    SessionHarness h;
    Open(h, t, server_->HttpPort(), server_->MmsPort(), "clip.wmv");
    {
      // Room for the header and ten and a half packets.
      FileSizeLimit disk(source.headerLength + source.packetSize * 21 / 2);
      ASSERT_TRUE(h.Run(60s)) << LogText(h);
    }
    EXPECT_EQ(h.CountCode(mcCompleted), 0) << LogText(h);
    EXPECT_TRUE(h.Logged("Could not access local file to write data packet")) << LogText(h);
    EXPECT_FALSE(h.Logged("- ** DOWNLOAD COMPLETED ** -"));
    // The header describes exactly the whole packets the file holds, and they are the source's.
    const AsfLayout copy = ReadAsfLayout(saved_);
    EXPECT_EQ(copy.declaredPackets, 10u);
    ASSERT_EQ(copy.packets.size(), 10u);
    EXPECT_LE(ReadWholeFile(saved_).size(), source.headerLength + source.packetSize * 21 / 2);
    const PacketMatch m = ComparePackets(SampleMedia("clip.wmv"), saved_);
    EXPECT_EQ(m.equal, 10u);
    EXPECT_GT(FfprobePacketCount(saved_), 0);
  }
}

}  // namespace
}  // namespace qor::testing
