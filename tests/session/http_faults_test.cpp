// A misbehaving server: refusals, odd headers, damaged chunks and dropped connections each end as
// they should, and the file keeps what was written before.

#include <gtest/gtest.h>

#include "session/session_harness.h"
#include "session/session_test_support.h"

namespace qor::testing {
namespace {

using namespace std::chrono_literals;

class HttpFaults : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = StartServer().release(); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(server_ && server_->Running());
    folder_ = NewTempFolder();
  }
  std::string Saved() const { return folder_ + "/saved.asf"; }
  int Port() const { return server_->HttpPort(); }

  static ServerProcess* server_;
  std::string folder_;
};
ServerProcess* HttpFaults::server_ = nullptr;

TEST_F(HttpFaults, NotFoundStatusLineIsTheFatalMessage) {
  SessionHarness h;
  h.NewHttpSession(Port(), "clip.wmv?status=404", Saved());
  ASSERT_TRUE(h.Run());
  ASSERT_EQ(h.CountCode(mcFatal), 1);
  for (const MessagePair& p : h.Log()) {
    if (p.code == mcFatal) {
      EXPECT_EQ(p.text.rfind("HTTP/1.", 0), 0u) << p.text;
      EXPECT_NE(p.text.find("404"), std::string::npos) << p.text;
    }
  }
  EXPECT_EQ(ReadWholeFile(Saved()).size(), 0u);
}

TEST_F(HttpFaults, UnknownContentTypeStopsBeforeAnythingIsWritten) {
  SessionHarness h;
  h.NewHttpSession(Port(), "page.html", Saved());
  ASSERT_TRUE(h.Run());
  EXPECT_TRUE(h.Logged("HTTP: Unknnown content type: content-type: text/html"));
  EXPECT_EQ(ReadWholeFile(Saved()).size(), 0u);
}

TEST_F(HttpFaults, ServerClosingInsideAChunkEndsTheSession) {
  SessionHarness h;
  h.NewHttpSession(Port(), "clip.wmv?cut-header=1", Saved());
  ASSERT_TRUE(h.Run(60s));
  EXPECT_TRUE(InOrder(
      h.Texts(), {"Disconnected", "The server closed the connection before the stream began"}));
  EXPECT_EQ(h.Session().Status().StreamKind, skUnknown);
  h.EndSession();
  EXPECT_FALSE(h.Finish().fixedUp);
  EXPECT_EQ(ReadWholeFile(Saved()).size(), 0u);
}

TEST_F(HttpFaults, ServerDroppingTheStreamKeepsAFinishableFile) {
  SessionHarness h;
  h.NewHttpSession(Port(), "clip.wmv?disconnect=10", Saved());
  // The session ends by itself once it has saved what arrived.
  ASSERT_TRUE(h.Run(60s));
  EXPECT_TRUE(h.Logged("The server closed the connection before the end of the stream"));
  EXPECT_TRUE(h.Session().Status().StreamCut);
  h.EndSession();
  EXPECT_TRUE(h.Finish().header && h.Finish().timecode && h.Finish().index);
  const AsfLayout copy = ReadAsfLayout(Saved());
  EXPECT_EQ(copy.packets.size(), 10u);
  EXPECT_EQ(copy.declaredPackets, 10u);
  EXPECT_GT(FfprobePacketCount(Saved()), 0);
}

TEST_F(HttpFaults, NobodyListeningIsAFatalTransportMessage) {
  SessionHarness h;
  // A port that was just free: bind, read it, close.
  const int port = [] {
    ServerProcess probe(QOR_SERVER_PROGRAM, {"--root", "/tmp", "--mms-port", "-1"});
    return probe.HttpPort();
  }();
  h.NewHttpSession(port, "clip.wmv", Saved());
  ASSERT_TRUE(h.Run());
  ASSERT_EQ(h.CountCode(mcFatal), 1);
  EXPECT_NE(h.Log().back().text.find("10061"), std::string::npos) << h.Log().back().text;
  EXPECT_FALSE(h.Session().IsConnected());
}

}  // namespace
}  // namespace qor::testing
