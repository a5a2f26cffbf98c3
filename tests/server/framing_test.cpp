// The wire units the server builds, and the parsers it applies to what clients send.

#include <gtest/gtest.h>

#include "data_units.h"
#include "faults.h"
#include "http_request.h"
#include "mms_message.h"

namespace qor::server {
namespace {

TEST(ServerCommand, FramingLengthsAndFieldsSitWhereClientsReadThem) {
  Bytes fields;
  PutU32(fields, 0xAABBCCDD);  // offset 48
  const Bytes m = BuildServerCommand(0x06, 0x80070002, 0xF0F0F0EF, fields, 7);
  const Reader r(m);
  ASSERT_EQ(m.size() % 8, 0u);
  EXPECT_EQ(m.size(), 56u);  // 52 padded
  EXPECT_EQ(r.U32(0), 1u);
  EXPECT_EQ(r.U32(4), 0xB00BFACEu);
  EXPECT_EQ(r.U32(8), m.size() - 16);
  EXPECT_EQ(std::string(m.begin() + 12, m.begin() + 16), "MMS ");
  EXPECT_EQ(r.U32(16), (m.size() - 16) / 8);
  EXPECT_EQ(r.U16(20), 7);
  EXPECT_EQ(r.U32(32), (m.size() - 32) / 8);
  EXPECT_EQ(r.U16(36), 0x06);
  EXPECT_EQ(r.U16(38), 0x0004);
  EXPECT_EQ(r.U32(40), 0x80070002u);
  EXPECT_EQ(r.U32(44), 0xF0F0F0EFu);
  EXPECT_EQ(r.U32(48), 0xAABBCCDDu);
  EXPECT_EQ(r.U32(52), 0u);  // padding
}

Bytes ClientCommandBytes(uint16_t id, size_t bodyLength) {
  Bytes m = BuildServerCommand(id, 0, 0, Bytes(bodyLength, 0x11), 0);
  StoreU16(m.data() + 38, 3);
  return m;
}

TEST(CommandSplitter, CutsCommandsWhateverTheSplitOfTheReceives) {
  const Bytes a = ClientCommandBytes(0x01, 20), b = ClientCommandBytes(0x18, 8);
  Bytes stream = a;
  stream.insert(stream.end(), b.begin(), b.end());
  for (size_t step = 1; step <= stream.size(); ++step) {
    CommandSplitter splitter;
    std::vector<uint16_t> ids;
    for (size_t at = 0; at < stream.size(); at += step) {
      splitter.Feed(stream.data() + at, std::min(step, stream.size() - at));
      ClientCommand c;
      std::string reason;
      while (splitter.Next(c, reason) == CommandSplitter::Result::kCommand) ids.push_back(c.Id());
    }
    ASSERT_EQ(ids, (std::vector<uint16_t>{0x01, 0x18})) << "step " << step;
    EXPECT_EQ(splitter.Buffered(), 0u);
  }
}

TEST(CommandSplitter, RefusesGarbageAndHugeOrTinyLengths) {
  ClientCommand c;
  std::string reason;
  {
    CommandSplitter s;
    const std::string junk = "GET / HTTP/1.0\r\n\r\n";
    s.Feed(reinterpret_cast<const uint8_t*>(junk.data()), junk.size());
    EXPECT_EQ(s.Next(c, reason), CommandSplitter::Result::kGarbage);
  }
  for (uint32_t length : {0u, 8u, 23u, mms::kMaxCommandLength + 1, 0xFFFFFFFFu}) {
    Bytes m = ClientCommandBytes(0x01, 8);
    StoreU32(m.data() + 8, length);
    CommandSplitter s;
    s.Feed(m.data(), m.size());
    EXPECT_EQ(s.Next(c, reason), CommandSplitter::Result::kGarbage) << length;
  }
  CommandSplitter partial;
  const Bytes m = ClientCommandBytes(0x05, 40);
  partial.Feed(m.data(), m.size() - 1);
  EXPECT_EQ(partial.Next(c, reason), CommandSplitter::Result::kNeedMore);
}

TEST(ClientCommand, FieldsBeyondTheMessageReadAsZeroAndTextsStopAtItsEnd) {
  ClientCommand c;
  c.message = ClientCommandBytes(0x05, 8);
  EXPECT_EQ(c.Word(c.message.size() - 2), 0u);
  EXPECT_EQ(c.Word(1u << 30), 0u);
  Bytes open;
  PutUtf16(open, "clip.wmv", false);  // no terminator: the text ends with the message
  c.message = ClientCommandBytes(0x05, 0);
  c.message.insert(c.message.end(), open.begin(), open.end());
  EXPECT_EQ(c.Text(48), "clip.wmv");
}

TEST(DataPacket, HeaderCarriesLocationTagFlagsAndTotalLength) {
  const Bytes payload(100, 0x5A);
  const Bytes p = BuildDataPacket(501, kTagMedia, 0x07, payload.data(), payload.size());
  ASSERT_EQ(p.size(), 108u);
  DataPacketView v;
  ASSERT_TRUE(ParseDataPacket(p.data(), p.size(), v));
  EXPECT_EQ(v.locationId, 501u);
  EXPECT_EQ(v.tag, kTagMedia);
  EXPECT_EQ(v.flags, 0x07);
  EXPECT_EQ(v.length, 108);
  EXPECT_EQ(v.payloadSize, 100u);
  EXPECT_FALSE(ParseDataPacket(p.data(), 107, v));  // length says more than there is
  Bytes lying = p;
  StoreU16(lying.data() + 6, 4);
  EXPECT_FALSE(ParseDataPacket(lying.data(), lying.size(), v));
}

TEST(HttpChunks, PacketAndReasonChunksRoundTripAndRejectLies) {
  const Bytes payload(300, 1);
  const Bytes h = BuildPacketChunk(kChunkHeader, 0, 0x0C, payload.data(), payload.size());
  EXPECT_EQ(h[0], 0x24);
  EXPECT_EQ(h[1], 'H');
  EXPECT_EQ(Reader(h).U16(2), 308);
  ChunkView v;
  ASSERT_EQ(ParseChunk(h.data(), h.size(), v), ChunkParse::kChunk);
  EXPECT_EQ(v.afFlags, 0x0C);
  EXPECT_EQ(v.packetSize, 308);
  EXPECT_EQ(v.payloadSize, 300u);
  EXPECT_EQ(v.total, h.size());
  EXPECT_EQ(ParseChunk(h.data(), h.size() - 1, v), ChunkParse::kNeedMore);

  const Bytes e = BuildReasonChunk(kChunkEnd, 1);
  EXPECT_EQ(e, (Bytes{0x24, 'E', 4, 0, 1, 0, 0, 0}));
  ASSERT_EQ(ParseChunk(e.data(), e.size(), v), ChunkParse::kChunk);
  EXPECT_EQ(v.reason, 1u);

  Bytes shortChunk = BuildPacketChunk(kChunkData, 9, 0, payload.data(), 10);
  StoreU16(shortChunk.data() + 2, 4);  // shorter than its own extension
  EXPECT_EQ(ParseChunk(shortChunk.data(), shortChunk.size(), v), ChunkParse::kBad);
  const Bytes odd = {0x24, 'X', 8, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(ParseChunk(odd.data(), odd.size(), v), ChunkParse::kBad);
}

TEST(ResendRequest, ReadsThirtyTwoBitSequencesInsideTheDatagram) {
  const Bytes r = BuildResendRequest(0x44332211, {7, 300});
  EXPECT_EQ(Bytes(r.begin(), r.begin() + 16),
            (Bytes{0x0D, 0xF0, 0xEF, 0xBE, 0x11, 0x22, 0x33, 0x44, 1, 0, 1, 0, 7, 0, 0, 0}));
  ResendRequest parsed;
  ASSERT_TRUE(ParseResendRequest(r.data(), r.size(), parsed));
  EXPECT_EQ(parsed.clientId, 0x44332211u);
  EXPECT_EQ(parsed.sequences, (std::vector<uint32_t>{7, 300}));
  // A trailing partial entry is not read.
  ASSERT_TRUE(ParseResendRequest(r.data(), r.size() - 1, parsed));
  EXPECT_EQ(parsed.sequences, (std::vector<uint32_t>{7}));
  EXPECT_FALSE(ParseResendRequest(r.data(), 15, parsed));
  Bytes wrong = r;
  wrong[0] = 0;
  EXPECT_FALSE(ParseResendRequest(wrong.data(), wrong.size(), parsed));
}

TEST(HttpRequestHead, ToleratesTheFormsIndependentClientsSend) {
  // ffmpeg's play request: HTTP/1.1, commas in Pragma, and a missing line break.
  const std::string ffmpeg =
      "GET /clip.wmv?drop=0.1 HTTP/1.1\r\nRange: bytes=0-\r\nUser-Agent: NSPlayer/4.1.0.3856\r\n"
      "Pragma: no-cache,rate=1.000000,request-context=2\r\nPragma: xPlayStrm=1\r\n"
      "Pragma: stream-switch-entry=ffff:1:0 ffff:2:0\r\n"
      "Pragma: no-cache,rate=1.000000,stream-time=2500Connection: Close\r\n\r\nrest";
  HttpRequest r;
  size_t used = 0;
  ASSERT_EQ(ParseHttpRequest(ffmpeg, r, used), HeadParse::kDone);
  EXPECT_EQ(ffmpeg.substr(used), "rest");
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.target, "/clip.wmv?drop=0.1");
  EXPECT_TRUE(r.FromMediaPlayer());
  EXPECT_TRUE(r.PlayRequest());
  EXPECT_EQ(r.StreamTimeMs(), 2500u);
  EXPECT_EQ(*r.Pragma("stream-switch-entry"), "ffff:1:0 ffff:2:0");

  const std::string bare = "GET http://host:99/a/b.asf HTTP/1.0\nuser-agent: curl\n\n";
  ASSERT_EQ(ParseHttpRequest(bare, r, used), HeadParse::kDone);
  EXPECT_EQ(r.target, "/a/b.asf");
  EXPECT_FALSE(r.FromMediaPlayer());
  EXPECT_FALSE(r.PlayRequest());
  EXPECT_EQ(r.StreamTimeMs(), 0u);

  EXPECT_EQ(ParseHttpRequest("GET / HTTP/1.0\r\nHost: x\r\n", r, used), HeadParse::kNeedMore);
  EXPECT_EQ(ParseHttpRequest(std::string(kMaxRequestHead + 1, 'a'), r, used), HeadParse::kBad);
}

TEST(FaultQuery, ParsesEveryKeyAndRefusesUnknownOnes) {
  Faults f;
  std::string error;
  ASSERT_TRUE(ParseFaults(
      "drop=0.25&drop-list=3,9&resend=0&dup=0.1&reorder=0.2&disconnect=200&cut-header=1&"
      "fail=0x05:0x80070005&password=u:p&strip=1&unknown-tag=4&unknown-command=5&bad-length=6&"
      "split-header=3&stall=1.5&stall-after=10&refuse-transport=1&status=503&header-pieces=3&"
      "seed=9",
      f, error))
      << error;
  EXPECT_DOUBLE_EQ(f.dropShare, 0.25);
  EXPECT_EQ(f.dropList, (std::set<uint32_t>{3, 9}));
  EXPECT_TRUE(f.ignoreResends);
  EXPECT_EQ(f.disconnectAfter, 200);
  EXPECT_EQ(f.failCommand.at(0x05), 0x80070005u);
  EXPECT_EQ(f.password, "u:p");
  EXPECT_TRUE(*f.stripPadding);
  EXPECT_EQ(f.splitHeader, 3);
  EXPECT_DOUBLE_EQ(f.stallSeconds, 1.5);
  EXPECT_EQ(f.httpStatus, 503);
  EXPECT_EQ(f.headerPieces, 3);
  EXPECT_EQ(f.seed, 9u);
  EXPECT_TRUE(f.Any());

  for (const char* bad :
       {"drop=2", "drop=x", "nonsense=1", "fail=5", "status=42", "password=x", "disconnect=-1"}) {
    Faults g;
    EXPECT_FALSE(ParseFaults(bad, g, error)) << bad;
  }
  std::string name, query;
  SplitQuery("clip.wmv?drop=0.1", name, query);
  EXPECT_EQ(name, "clip.wmv");
  EXPECT_EQ(query, "drop=0.1");
}

}  // namespace
}  // namespace qor::server
