// Clients that misbehave, and HTTP faults: the server closes or answers, and keeps serving.

#include <gtest/gtest.h>

#include "data_units.h"
#include "http_request.h"
#include "media_source.h"
#include "server_test_support.h"

namespace qor::server::testing {
namespace {

bool ServesAfterwards(TestServer& server) {
  return HttpGet(server.Http(), "/clip.wmv", PlayerHeaders(false)).status == 200;
}

TEST(Robustness, GarbageAndHugeLengthsOnTheMmsPortCloseOnlyThatConnection) {
  QOR_NEED_SAMPLES();
  TestServer server;
  {
    TcpClient c(server.Mms());
    ASSERT_TRUE(c.Send(std::string("GET / HTTP/1.0\r\n\r\n")));
    EXPECT_TRUE(c.ReadToClose(20s));
  }
  {
    Bytes huge = {1, 0, 0, 0, 0xCE, 0xFA, 0x0B, 0xB0, 0xFF, 0xFF, 0xFF, 0x7F, 'M', 'M', 'S', ' '};
    TcpClient c(server.Mms());
    ASSERT_TRUE(c.Send(huge));
    EXPECT_TRUE(c.ReadToClose(20s));
  }
  EXPECT_EQ(server.Log().Count("mms-garbage"), 2u);
  EXPECT_TRUE(ServesAfterwards(server));
}

TEST(Robustness, BrokenHttpRequestsAndClientsThatLeaveMidStream) {
  QOR_NEED_SAMPLES();
  TestServer server;
  {
    TcpClient c(server.Http());
    ASSERT_TRUE(c.Send(std::string(kMaxRequestHead + 100, 'x')));
    EXPECT_TRUE(c.ReadToClose(20s));
    const std::string answer(c.Received().begin(), c.Received().end());
    EXPECT_EQ(answer.rfind("HTTP/1.0 400", 0), 0u);
  }
  for (int i = 0; i < 5; ++i) {
    // Leave right after the play request; the server notices on its next write.
    TcpClient c(server.Http());
    std::string request = "GET /clip.wmv HTTP/1.1\r\n";
    for (const auto& h : PlayerHeaders(true)) request += h + "\r\n";
    ASSERT_TRUE(c.Send(request + "\r\n"));
    ASSERT_TRUE(c.ReadAtLeast(100));
  }
  {
    // A request that never ends is dropped after the server's wait, not held for ever.
    TcpClient c(server.Http());
    ASSERT_TRUE(c.Send(std::string("GET /clip.wmv HTTP/1.0\r\nUser-Agent: x\r\n")));
    EXPECT_TRUE(c.ReadToClose(60s));
  }
  EXPECT_TRUE(ServesAfterwards(server));
}

TEST(HttpFaults, DisconnectCutHeaderUnknownChunkLyingLengthAndSplitHeader) {
  QOR_NEED_SAMPLES();
  TestServer server;
  auto chunkTypes = [](const Bytes& body, size_t* rest) {
    std::string types;
    size_t at = 0;
    while (at < body.size()) {
      ChunkView v;
      if (ParseChunk(body.data() + at, body.size() - at, v) != ChunkParse::kChunk) break;
      types.push_back(static_cast<char>(v.type));
      at += v.total;
    }
    *rest = body.size() - at;
    return types;
  };
  size_t rest = 0;
  const HttpResult cut = HttpGet(server.Http(), "/clip.wmv?disconnect=5", PlayerHeaders(true));
  EXPECT_EQ(chunkTypes(cut.body, &rest), "HDDDDD");
  EXPECT_EQ(rest, 0u);

  const HttpResult header = HttpGet(server.Http(), "/clip.wmv?cut-header=1", PlayerHeaders(false));
  EXPECT_EQ(chunkTypes(header.body, &rest), "");
  EXPECT_GT(rest, 4u);  // part of a header chunk, then the close

  const HttpResult odd =
      HttpGet(server.Http(), "/clip.wmv?unknown-command=1&bad-length=3", PlayerHeaders(true));
  // H D, then the unknown chunk: a reader that knows the types stops there.
  EXPECT_EQ(chunkTypes(odd.body, &rest), "HD");
  ASSERT_GT(rest, 4u);
  const Bytes tail(odd.body.end() - static_cast<std::ptrdiff_t>(rest), odd.body.end());
  EXPECT_EQ(tail[1], 'X');
  // Further on, a $D chunk whose length is shorter than its own extension.
  bool lying = false;
  for (size_t i = 0; i + 4 <= tail.size(); ++i)
    if (tail[i] == 0x24 && tail[i + 1] == 'D' && Reader(tail).U16(i + 2) == 4) lying = true;
  EXPECT_TRUE(lying);

  const HttpResult split = HttpGet(server.Http(), "/clip.wmv?split-header=4", PlayerHeaders(false));
  EXPECT_EQ(split.status, 200);
  EXPECT_EQ(chunkTypes(split.body, &rest), "H");
}

TEST(HttpFaults, StallHoldsThePacketsBack) {
  QOR_NEED_SAMPLES();
  TestServer server;
  TcpClient c(server.Http());
  std::string request = "GET /clip.wmv?stall=1.5&stall-after=2 HTTP/1.0\r\n";
  for (const auto& h : PlayerHeaders(true)) request += h + "\r\n";
  ASSERT_TRUE(c.Send(request + "\r\n"));
  std::string error;
  const auto media = MediaSource::Load(SampleDir() + "/clip.wmv", error);
  ASSERT_TRUE(c.ReadAtLeast(4));
  size_t headEnd = std::string::npos;
  while (headEnd == std::string::npos) {
    const std::string text(c.Received().begin(), c.Received().end());
    headEnd = text.find("\r\n\r\n");
    if (headEnd == std::string::npos) {
      ASSERT_TRUE(c.ReadAtLeast(c.Received().size() + 1));
    }
  }
  // The head, the header chunk and the two packets sent before the stall.
  ASSERT_TRUE(
      c.ReadAtLeast(headEnd + 4 + 12 + media->Header().size() + 2 * (12 + media->PacketSize())));
  const auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(c.ReadToClose(60s));
  EXPECT_GE(std::chrono::steady_clock::now() - before, 1000ms);
}

}  // namespace
}  // namespace qor::server::testing
