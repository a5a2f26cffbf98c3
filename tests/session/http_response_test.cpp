// The response header of each connection, however the network cuts it: looked for only at the
// start of the connection, collected across receives, and never more than 256 000 bytes.

#include <gtest/gtest.h>

#include <cstring>

#include "net/tcp_client.h"
#include "platform/window_thread.h"
#include "session/session.h"

namespace qor {
namespace {

class ResponseHeader : public ::testing::Test {
 protected:
  void SetUp() override {
    session_.Messages = &queue_;
    session_.ProtocolFlags = pfHttp;
  }
  void Receive(const std::string& bytes) {
    session_.TcpDataReceived(&tcp_, reinterpret_cast<const uint8_t*>(bytes.data()),
                             static_cast<int32_t>(bytes.size()));
  }
  std::string RingText() {
    std::string text(static_cast<size_t>(session_.Ring().Available()), '\0');
    int32_t count = static_cast<int32_t>(text.size());
    session_.Ring().Read(text.data(), count);
    return text;
  }
  std::vector<MessagePair> Taken() {
    std::vector<MessagePair> pairs;
    MessagePair p;
    while (queue_.Take(p)) pairs.push_back(p);
    return pairs;
  }

  WindowThread window_;
  TMessageClass queue_;
  TMMS session_;
  TTCP tcp_;
};

const std::string kHead =
    "HTTP/1.0 200 OK\r\nServer: Cougar/9.01.01.3814\r\nContent-Type: "
    "application/x-mms-framed\r\nPragma: no-cache\r\n\r\n";

TEST_F(ResponseHeader, HeaderCutAnywhereIsCollectedAndOnlyTheBodyReachesTheRing) {
  const std::string body = "$H\x10\x00 body bytes HTTP";
  const std::string whole = kHead + body;
  for (size_t cut1 = 1; cut1 < whole.size(); cut1 += 7) {
    for (size_t cut2 = cut1; cut2 < whole.size(); cut2 += 13) {
      SCOPED_TRACE(std::to_string(cut1) + "," + std::to_string(cut2));
      session_.InitFields();
      session_.Messages = &queue_;
      session_.ProtocolFlags = pfHttp;
      session_.Ring().Clear();
      Receive(whole.substr(0, cut1));
      Receive(whole.substr(cut1, cut2 - cut1));
      Receive(whole.substr(cut2));
      ASSERT_EQ(RingText(), body);
      ASSERT_EQ(session_.ContentType, "content-type: application/x-mms-framed");
      ASSERT_EQ(session_.ServerText, "Server: Cougar/9.01.01.3814");
      ASSERT_EQ(session_.HeaderLines.size(), 4u);
      ASSERT_TRUE(Taken().empty());
    }
  }
}

TEST_F(ResponseHeader, BlocksLaterInTheConnectionThatStartWithHttpAreData) {
  Receive(kHead);
  Receive("HTTP/1.0 200 OK\r\n\r\n");
  EXPECT_EQ(RingText(), "HTTP/1.0 200 OK\r\n\r\n");
  EXPECT_TRUE(Taken().empty());
  // Every non-empty receive counts, header or not.
  EXPECT_EQ(session_.ReceivesSinceTick.load(), 2u);
  EXPECT_EQ(session_.BytesSinceTick.load(), kHead.size() + 19);
}

TEST_F(ResponseHeader, AConnectionThatStartsWithoutHttpHasNoHeader) {
  Receive("HT");
  Receive("XP rest");
  EXPECT_EQ(RingText(), "HTXP rest");
  EXPECT_TRUE(Taken().empty());
}

TEST_F(ResponseHeader, AHeaderWithoutAnEndWithinTheLimitIsFatal) {
  Receive("HTTP/1.0 200 OK\r\n");
  std::string filler(100000, 'x');
  Receive(filler);
  EXPECT_TRUE(Taken().empty());
  Receive(filler);
  Receive(filler);
  const auto pairs = Taken();
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].text, "HTTP: no http header has no ending");
  EXPECT_EQ(pairs[0].code, mcFatal);
  EXPECT_TRUE(session_.Terminated());
  EXPECT_EQ(session_.Ring().Available(), 0);
}

TEST_F(ResponseHeader, AConnectionEndingInsideTheHeaderIsFatal) {
  Receive("HTTP/1.0 200 OK\r\nServer: x\r\n");
  session_.TcpDisconnected(&tcp_);
  const auto pairs = Taken();
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].text, "HTTP: no http header has no ending");
}

TEST_F(ResponseHeader, StatusOtherThan200IsPostedAsItStands) {
  Receive("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic\r\n\r\n");
  const auto pairs = Taken();
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].text, "HTTP/1.1 401 Unauthorized");
  EXPECT_EQ(pairs[0].code, mcFatal);
  EXPECT_TRUE(session_.Terminated());
}

TEST_F(ResponseHeader, PlainFileTypesInAnyCaseStartAProgressiveDownload) {
  Receive("HTTP/1.0 200 OK\r\nCONTENT-TYPE: Video/X-MS-ASF\r\n\r\nASF");
  EXPECT_EQ(session_.Progressive.load(), 1u);
  EXPECT_EQ(session_.StreamKind.load(), skProgressive);
  const auto pairs = Taken();
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0].text, "");
  EXPECT_EQ(pairs[0].code, mcStarted);
  EXPECT_EQ(pairs[1].text, "HTTP: Media is simple progressive http downloading...");
  EXPECT_EQ(RingText(), "ASF");
  // The end of such a connection is not logged: the loop reports completion.
  session_.TcpDisconnected(&tcp_);
  EXPECT_TRUE(Taken().empty());
  EXPECT_TRUE(session_.ProgressiveEnded());
}

// Parameters do not change a type; a type that names no stream stops the session when the
// stream is already known (the first response's body is looked at instead).
TEST_F(ResponseHeader, ParametersDoNotChangeTheTypeAndAnUnknownTypeOfThePlayResponseStops) {
  Receive("HTTP/1.0 200 OK\r\nContent-Type: application/x-mms-framed; q=1\r\n\r\n$H");
  EXPECT_TRUE(Taken().empty());
  EXPECT_FALSE(session_.Terminated());
  EXPECT_EQ(session_.StreamKind.load(), skUnknown);
  EXPECT_EQ(RingText(), "$H");

  session_.InitFields();
  session_.Messages = &queue_;
  session_.ProtocolFlags = pfHttp;
  session_.StreamKind = skPrerecorded;
  Receive("HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n");
  const auto pairs = Taken();
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].text, "HTTP: Unknnown content type: content-type: text/html; charset=utf-8");
  EXPECT_TRUE(session_.Terminated());
}

TEST_F(ResponseHeader, EmptyBlocksAreIgnoredAndOtherDisconnectsAreLogged) {
  session_.TcpDataReceived(&tcp_, nullptr, 0);
  EXPECT_EQ(session_.ReceivesSinceTick.load(), 0u);
  session_.TcpDisconnected(&tcp_);
  const auto pairs = Taken();
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].text, "Disconnected");
  EXPECT_EQ(pairs[0].code, mcNotice);
}

}  // namespace
}  // namespace qor
