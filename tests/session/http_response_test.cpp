// The response header of each connection, however the network cuts it (looked for only at the
// start of the connection, collected across receives, never more than 256 000 bytes), and what
// the HTTP protocol makes of its status and content type.

#include <gtest/gtest.h>

#include "net/tcp_client.h"
#include "platform/window_thread.h"
#include "session/http_protocol.h"
#include "session/response_header_collector.h"
#include "session/scripted_port.h"
#include "session/session.h"

namespace qor {
namespace {

using Step = ResponseHeaderCollector::Step;

const std::string kHead =
    "HTTP/1.0 200 OK\r\nServer: Cougar/9.01.01.3814\r\nContent-Type: "
    "application/x-mms-framed\r\nPragma: no-cache\r\n\r\n";

// Feeds the collector as the handler does and returns the bytes that are data.
std::string Collect(ResponseHeaderCollector& c, const std::string& block) {
  const auto r = c.Feed(reinterpret_cast<const uint8_t*>(block.data()), block.size());
  return r.held + block.substr(r.used);
}

TEST(ResponseHeaderCollector, HeaderCutAnywhereIsCollectedAndOnlyTheBodyIsData) {
  const std::string body = "$H\x10\x00 body bytes HTTP";
  const std::string whole = kHead + body;
  for (size_t cut1 = 1; cut1 < whole.size(); cut1 += 7) {
    for (size_t cut2 = cut1; cut2 < whole.size(); cut2 += 13) {
      SCOPED_TRACE(std::to_string(cut1) + "," + std::to_string(cut2));
      ResponseHeaderCollector c;
      std::string data = Collect(c, whole.substr(0, cut1));
      data += Collect(c, whole.substr(cut1, cut2 - cut1));
      data += Collect(c, whole.substr(cut2));
      ASSERT_EQ(data, body);
      ASSERT_EQ(c.Header(), kHead);
    }
  }
}

TEST(ResponseHeaderCollector, OnlyTheStartOfAConnectionOpensAHeader) {
  ResponseHeaderCollector later;
  EXPECT_EQ(Collect(later, kHead), "");
  // A block later in the connection that starts with HTTP is data.
  EXPECT_EQ(Collect(later, "HTTP/1.0 200 OK\r\n\r\n"), "HTTP/1.0 200 OK\r\n\r\n");

  ResponseHeaderCollector none;
  EXPECT_EQ(Collect(none, "HT"), "");
  EXPECT_EQ(Collect(none, "XP rest"), "HTXP rest");
  EXPECT_FALSE(none.EndedInside());
}

TEST(ResponseHeaderCollector, NoEndWithinTheLimitOrAConnectionEndingInsideIsAFault) {
  ResponseHeaderCollector c;
  const std::string filler(100000, 'x');
  EXPECT_EQ(c.Feed(reinterpret_cast<const uint8_t*>("HTTP/1.0 200 OK\r\n"), 17).step, Step::kMore);
  EXPECT_TRUE(c.EndedInside());
  const auto* bytes = reinterpret_cast<const uint8_t*>(filler.data());
  EXPECT_EQ(c.Feed(bytes, filler.size()).step, Step::kMore);
  EXPECT_EQ(c.Feed(bytes, filler.size()).step, Step::kMore);
  const auto last = c.Feed(bytes, filler.size());
  EXPECT_EQ(last.step, Step::kTooLong);
  EXPECT_EQ(last.used, filler.size());  // dropped with the header
  EXPECT_EQ(c.Feed(bytes, 10).step, Step::kNone);
}

// The session's handlers: what reaches the queue and the counters, before any protocol runs.
TEST(SessionHandlers, ReceivesCountAndAConnectionEndingInsideAHeaderIsFatal) {
  WindowThread window;
  TMessageClass queue;
  TMMS session;
  TTCP tcp;
  session.Messages = &queue;
  session.TcpDataReceived(&tcp, nullptr, 0);
  session.TcpDataReceived(&tcp, reinterpret_cast<const uint8_t*>(kHead.data()),
                          static_cast<int32_t>(kHead.size()));
  session.TcpDataReceived(&tcp, reinterpret_cast<const uint8_t*>("HTTP/1"), 6);
  const TMMS::TickCounts counts = session.TakeTickCounts();
  EXPECT_EQ(counts.receives, 2u);  // empty blocks are ignored
  EXPECT_EQ(counts.bytes, kHead.size() + 6);
  EXPECT_EQ(session.TakeTickCounts().receives, 0u);
  session.TcpDisconnected(&tcp);
  MessagePair pair;
  ASSERT_TRUE(queue.Take(pair));
  EXPECT_EQ(pair.text, "Disconnected");
  EXPECT_EQ(pair.code, mcNotice);

  TMMS cut;
  cut.Messages = &queue;
  cut.TcpDataReceived(&tcp, reinterpret_cast<const uint8_t*>("HTTP/1.0 200 OK\r\nServer: x\r\n"),
                      29);
  cut.TcpDisconnected(&tcp);
  ASSERT_TRUE(queue.Take(pair));
  EXPECT_EQ(pair.text, "HTTP: no http header has no ending");
  EXPECT_TRUE(cut.Terminated());
}

// The HTTP protocol given a response header, with no socket.
struct Answer {
  std::string head;
  int32_t kindBefore;
  std::vector<std::string> posts;  // (text) in order
  int32_t kindAfter;
  bool terminated;
};

TEST(HttpResponseHead, StatusAndContentTypeDecideWhatTheBodyIs) {
  const Answer answers[] = {
      {"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic\r\n\r\n",
       skUnknown,
       {"HTTP/1.1 401 Unauthorized"},
       skUnknown,
       true},
      // Plain file types, in any case, start a progressive download.
      {"HTTP/1.0 200 OK\r\nCONTENT-TYPE: Video/X-MS-ASF\r\n\r\n",
       skUnknown,
       {"", "HTTP: Media is simple progressive http downloading..."},
       skProgressive,
       false},
      // Parameters do not change a type.
      {"HTTP/1.0 200 OK\r\nContent-Type: application/x-mms-framed; q=1\r\n\r\n",
       skUnknown,
       {},
       skUnknown,
       false},
      // A type that names no stream stops the session when the stream is already known (the
      // first response's body is looked at instead).
      {"HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n",
       skPrerecorded,
       {"HTTP: Unknnown content type: content-type: text/html; charset=utf-8"},
       skPrerecorded,
       true},
      {"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n", skUnknown, {}, skProgressive, false},
  };
  for (const Answer& a : answers) {
    SCOPED_TRACE(a.head);
    SessionConfig config;
    config.ProtocolFlags = pfHttp;
    config.Host = "example";
    config.HttpPort = 80;
    testing::ScriptedPort port(config);
    HttpProtocol http(port);
    port.Attach(http);
    port.Counters().StreamKind = a.kindBefore;
    port.Receive(a.head);
    std::vector<std::string> texts;
    for (const auto& [text, code] : port.Posts()) texts.push_back(text);
    EXPECT_EQ(texts, a.posts);
    EXPECT_EQ(port.Counters().StreamKind.load(), a.kindAfter);
    EXPECT_EQ(port.Terminated(), a.terminated);
  }
}

}  // namespace
}  // namespace qor
