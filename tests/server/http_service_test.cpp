// HTTP: plain files, redirects, authentication, and the streaming dialogue as a raw client sees
// it, pre-recorded and live.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "data_units.h"
#include "media_source.h"
#include "server_test_support.h"
#include "support/base64.h"

namespace qor::server::testing {
namespace {

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<ChunkView> Chunks(const Bytes& body, bool* clean = nullptr) {
  std::vector<ChunkView> out;
  size_t at = 0;
  while (at < body.size()) {
    ChunkView v;
    if (ParseChunk(body.data() + at, body.size() - at, v) != ChunkParse::kChunk) break;
    out.push_back(v);
    at += v.total;
  }
  if (clean != nullptr) *clean = at == body.size();
  return out;
}

TEST(PlainHttp, ServesFilesAsTheyAreWithTypesByExtensionAnd404) {
  QOR_NEED_SAMPLES();
  {
    std::ofstream asx(SampleDir() + "/list.asx");
    asx << "<asx version=\"3.0\"><entry><ref href=\"mms://127.0.0.1/clip.wmv\"/></entry></asx>";
  }
  TestServer server;
  const HttpResult wmv = HttpGet(server.Http(), "/clip.wmv", {"User-Agent: curl/8"});
  EXPECT_EQ(wmv.status, 200);
  EXPECT_NE(wmv.head.find("Content-Type: video/x-ms-wmv\r\n"), std::string::npos);
  EXPECT_EQ(wmv.body, ReadFile(SampleDir() + "/clip.wmv"));
  const HttpResult asx = HttpGet(server.Http(), "/list.asx", {});
  EXPECT_EQ(asx.status, 200);
  EXPECT_NE(asx.head.find("Content-Type: video/x-ms-asf\r\n"), std::string::npos);
  EXPECT_EQ(
      HttpGet(server.Http(), "/audio.wma", {}).head.find("audio/x-ms-wma") != std::string::npos,
      true);
  EXPECT_EQ(HttpGet(server.Http(), "/missing.wmv", {}).status, 404);
  EXPECT_EQ(HttpGet(server.Http(), "/../etc/passwd", {}).status, 404);
  // A player asking for a name that is not there gets 404 too.
  EXPECT_EQ(HttpGet(server.Http(), "/missing.wmv", PlayerHeaders(false)).status, 404);
}

TEST(PlainHttp, RedirectsAuthenticationAndForcedStatus) {
  QOR_NEED_SAMPLES();
  ServerOptions o = TestServer::Defaults();
  o.redirects["old.wmv"] = {302, "http://127.0.0.1/clip.wmv"};
  o.redirects["gone.wmv"] = {301, "http://elsewhere/clip.wmv"};
  TestServer server(o);
  const HttpResult found = HttpGet(server.Http(), "/old.wmv", {});
  EXPECT_EQ(found.status, 302);
  EXPECT_NE(found.head.find("Location: http://127.0.0.1/clip.wmv\r\n"), std::string::npos);
  EXPECT_EQ(HttpGet(server.Http(), "/gone.wmv", {}).status, 301);

  const HttpResult denied = HttpGet(server.Http(), "/clip.wmv?password=ann:secret", {});
  EXPECT_EQ(denied.status, 401);
  EXPECT_NE(denied.head.find("WWW-Authenticate: Basic"), std::string::npos);
  const std::string good = "Authorization: Basic " + Base64Coder::EncodeString("ann:secret");
  const std::string bad = "Authorization: Basic " + Base64Coder::EncodeString("ann:wrong");
  EXPECT_EQ(HttpGet(server.Http(), "/clip.wmv?password=ann:secret", {bad}).status, 401);
  EXPECT_EQ(HttpGet(server.Http(), "/clip.wmv?password=ann:secret", {good}).status, 200);
  EXPECT_EQ(HttpGet(server.Http(), "/clip.wmv?status=503", PlayerHeaders(true)).status, 503);
  EXPECT_EQ(HttpGet(server.Http(), "/clip.wmv?bogus=1", {}).status, 400);
}

TEST(HttpStreaming, DescribeAnswersWithTheHeaderInChunksAndServerLines) {
  QOR_NEED_SAMPLES();
  TestServer server;
  const HttpResult r = HttpGet(server.Http(), "/clip.wmv", PlayerHeaders(false));
  ASSERT_EQ(r.status, 200);
  EXPECT_EQ(r.head.rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
  EXPECT_NE(r.head.find("Content-Type: application/vnd.ms.wms-hdr.asfv1\r\n"), std::string::npos);
  EXPECT_NE(r.head.find("Server: Cougar/"), std::string::npos);
  EXPECT_NE(r.head.find("features=\"seekable,stridable\""), std::string::npos);
  bool clean = false;
  const auto chunks = Chunks(r.body, &clean);
  ASSERT_TRUE(clean);
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0].type, 'H');
  EXPECT_EQ(chunks[0].afFlags, 0x0C);
  std::string error;
  const auto media = MediaSource::Load(SampleDir() + "/clip.wmv", error);
  ASSERT_TRUE(media) << error;
  EXPECT_EQ(Bytes(chunks[0].payload, chunks[0].payload + chunks[0].payloadSize), media->Header());

  const HttpResult pieces =
      HttpGet(server.Http(), "/clip.wmv?header-pieces=3", PlayerHeaders(false));
  std::vector<uint8_t> flags;
  for (const auto& c : Chunks(pieces.body)) flags.push_back(c.afFlags);
  EXPECT_EQ(flags, (std::vector<uint8_t>{0x04, 0x00, 0x08}));
}

TEST(HttpStreaming, PlayFromAStreamTimeSendsPacketsByLocationAndEnds) {
  QOR_NEED_SAMPLES();
  TestServer server;
  std::string error;
  const auto media = MediaSource::Load(SampleDir() + "/clip.wmv", error);
  ASSERT_TRUE(media);
  for (uint32_t from : {0u, 3000u}) {
    const HttpResult r = HttpGet(server.Http(), "/clip.wmv", PlayerHeaders(true, from));
    ASSERT_EQ(r.status, 200);
    EXPECT_NE(r.head.find("Content-Type: application/x-mms-framed\r\n"), std::string::npos);
    bool clean = false;
    const auto chunks = Chunks(r.body, &clean);
    ASSERT_TRUE(clean);
    ASSERT_GE(chunks.size(), 3u);
    EXPECT_EQ(chunks.front().type, 'H');
    EXPECT_EQ(chunks.back().type, 'E');
    EXPECT_EQ(chunks.back().reason, 0u);
    const uint64_t first = media->PacketForTime(from);
    if (from > 0) {
      EXPECT_GT(first, 0u);
    }
    ASSERT_EQ(chunks.size() - 2, media->PacketCount() - first);
    for (size_t i = 1; i + 1 < chunks.size(); ++i) {
      ASSERT_EQ(chunks[i].type, 'D');
      EXPECT_EQ(chunks[i].locationId, first + i - 1);
      EXPECT_EQ(chunks[i].afFlags, static_cast<uint8_t>(i - 1));  // sequence
      EXPECT_EQ(
          Bytes(chunks[i].payload, chunks[i].payload + chunks[i].payloadSize),
          Bytes(media->Packet(first + i - 1), media->Packet(first + i - 1) + media->PacketSize()));
    }
  }
}

TEST(HttpStreaming, StrippedPacketsLosePaddingAndSayNoneIsLeft) {
  QOR_NEED_SAMPLES();
  TestServer server;
  std::string error;
  const auto media = MediaSource::Load(SampleDir() + "/clip.wmv", error);
  const HttpResult r = HttpGet(server.Http(), "/clip.wmv?strip=1", PlayerHeaders(true));
  size_t shorter = 0;
  for (const auto& c : Chunks(r.body)) {
    if (c.type != 'D') continue;
    ASSERT_LE(c.payloadSize, media->PacketSize());
    if (c.payloadSize == media->PacketSize()) continue;
    ++shorter;
    const uint8_t lengthFlags = c.payload[3];
    ASSERT_NE(lengthFlags & 0x18, 0);  // only packets with a padding field shrink
    const size_t paddingAt = 5 +
                             ((lengthFlags >> 5) & 3 ? 1 << (((lengthFlags >> 5) & 3) - 1) : 0) +
                             ((lengthFlags >> 1) & 3 ? 1 << (((lengthFlags >> 1) & 3) - 1) : 0);
    EXPECT_EQ(c.payload[paddingAt], 0);
  }
  EXPECT_GT(shorter, 0u);
}

TEST(LiveHttp, PlayListBroadcastsWithContinuingIdsAndEntryChanges) {
  QOR_NEED_SAMPLES();
  ServerOptions o = TestServer::Defaults();
  o.lives.push_back({"radio", {SampleDir() + "/clip.wmv", SampleDir() + "/audio.wma"}});
  o.rate = 0;  // unpaced, so a whole entry passes at once
  TestServer server(o);
  const HttpResult describe = HttpGet(server.Http(), "/radio", PlayerHeaders(false));
  ASSERT_EQ(describe.status, 200);
  EXPECT_NE(describe.head.find("features=\"broadcast,playlist\""), std::string::npos);

  TcpClient client(server.Http());
  std::string request = "GET /radio HTTP/1.0\r\n";
  for (const auto& h : PlayerHeaders(true)) request += h + "\r\n";
  ASSERT_TRUE(client.Send(request + "\r\n"));
  // Read until an entry change and the next entry's first packets have come.
  std::vector<ChunkView> chunks;
  Bytes body;  // the chunk views point into it
  size_t bodyAt = std::string::npos;
  for (int rounds = 0; rounds < 400; ++rounds) {
    client.ReadAtLeast(client.Received().size() + 1, 5s);
    const Bytes& in = client.Received();
    const std::string text(in.begin(), in.end());
    if (bodyAt == std::string::npos) bodyAt = text.find("\r\n\r\n");
    if (bodyAt == std::string::npos) continue;
    body.assign(in.begin() + static_cast<std::ptrdiff_t>(bodyAt + 4), in.end());
    chunks = Chunks(body);
    size_t change = 0;
    for (size_t i = 0; i < chunks.size(); ++i)
      if (chunks[i].type == 'C') change = i;
    if (change > 0 && chunks.size() > change + 4) break;
  }
  client.Close();
  size_t change = 0;
  for (size_t i = 0; i < chunks.size(); ++i)
    if (chunks[i].type == 'C') change = i;
  ASSERT_GT(change, 2u) << "no entry change seen";
  EXPECT_EQ(chunks[change - 1].type, 'E');
  EXPECT_EQ(chunks[change - 1].reason, 1u);
  EXPECT_EQ(chunks[change + 1].type, 'H');
  // The new header is marked as a broadcast.
  const Bytes header(chunks[change + 1].payload,
                     chunks[change + 1].payload + chunks[change + 1].payloadSize);
  const Reader headerReader(header);
  bool broadcast = false;
  for (size_t at = 0; at + 104 <= header.size(); ++at)
    if (header[at] == 0xA1 && header[at + 1] == 0xDC && header[at + 2] == 0xAB &&
        header[at + 3] == 0x8C)
      broadcast = (headerReader.U32(at + 88) & 1) != 0 && headerReader.U64(at + 56) == 0;
  EXPECT_TRUE(broadcast);
  // Location ids continue across the change, from a start that is not 0.
  uint32_t previous = 0;
  bool seen = false;
  for (const auto& c : chunks) {
    if (c.type != 'D') continue;
    EXPECT_GE(c.locationId, 1000u);
    if (seen) {
      EXPECT_EQ(c.locationId, previous + 1);
    }
    previous = c.locationId;
    seen = true;
  }
}

}  // namespace
}  // namespace qor::server::testing
