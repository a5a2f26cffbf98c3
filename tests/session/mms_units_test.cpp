// Unit framing of the TCP stream, datagram acceptance and bounded reply reading.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/mms_commands.h"
#include "session/mms_reply.h"
#include "session/mms_unit_framer.h"
#include "session/udp_datagram.h"

namespace qor::mms {
namespace {

Bytes DataPacket(uint32_t sequence, uint8_t tag, uint8_t flags, size_t payload, uint8_t fill) {
  Bytes p;
  PutU32(p, sequence);
  p.push_back(tag);
  p.push_back(flags);
  PutU16(p, static_cast<uint16_t>(payload + 8));
  p.insert(p.end(), payload, fill);
  return p;
}

// A server reply: framing, result, second word, then fields from offset 48.
Bytes Reply(uint8_t id, uint32_t result, uint32_t second, const Bytes& fields) {
  Bytes body;
  PutU32(body, result);
  PutU32(body, second);
  body.insert(body.end(), fields.begin(), fields.end());
  Bytes m = BuildCommand(id, body, Placement::First, {}, {}, 0);
  m[38] = 0x04;
  return m;
}

struct Collected {
  std::vector<Bytes> units;
  MmsUnitFramer::Sink Sink() {
    return [this](const uint8_t* u, size_t n) {
      units.emplace_back(u, u + n);
      return true;
    };
  }
};

TEST(MmsUnitFramer, ReassemblesUnitsFromEverySplit) {
  Bytes stream;
  std::vector<Bytes> expected = {Reply(0x01, 0, 0xF0F0F0F0, Bytes(60, 'a')),
                                 DataPacket(0, 0x02, 0x0C, 300, 0x11),
                                 DataPacket(1, 0x04, 0x00, 0, 0), Reply(0x1B, 0, 0, {}),
                                 DataPacket(2, 0x04, 0x01, 1500, 0x22)};
  for (const auto& u : expected) stream.insert(stream.end(), u.begin(), u.end());
  for (size_t chunk : {size_t{1}, size_t{3}, size_t{7}, size_t{11}, size_t{64}, stream.size()}) {
    MmsUnitFramer framer(1000000);
    Collected got;
    for (size_t at = 0; at < stream.size(); at += chunk) {
      const size_t n = std::min(chunk, stream.size() - at);
      ASSERT_EQ(framer.Feed(stream.data() + at, n, got.Sink()), MmsUnitFramer::Status::Ok);
    }
    EXPECT_EQ(got.units, expected) << "chunk " << chunk;
    EXPECT_EQ(framer.Pending(), 0u);
  }
}

TEST(MmsUnitFramer, HoldsBackAPartialUnitUntilItIsWhole) {
  const Bytes packet = DataPacket(9, 0x04, 0, 100, 0x33);
  MmsUnitFramer framer(1000000);
  Collected got;
  ASSERT_EQ(framer.Feed(packet.data(), 50, got.Sink()), MmsUnitFramer::Status::Ok);
  EXPECT_TRUE(got.units.empty());
  EXPECT_EQ(framer.Pending(), 50u);
  ASSERT_EQ(framer.Feed(packet.data() + 50, packet.size() - 50, got.Sink()),
            MmsUnitFramer::Status::Ok);
  ASSERT_EQ(got.units.size(), 1u);
  EXPECT_EQ(got.units[0], packet);
}

TEST(MmsUnitFramer, RefusesUnitsShorterThanTheirHeaderOrLongerThanTheRing) {
  Bytes shortPacket = DataPacket(0, 0x04, 0, 8, 0);
  shortPacket[6] = 7;
  Bytes zeroPacket = DataPacket(0, 0x04, 0, 8, 0);
  zeroPacket[6] = 0;
  Bytes shortCommand = Reply(0x01, 0, 0, {});
  shortCommand[8] = 31;  // 47 bytes in all
  Bytes hugeCommand = Reply(0x01, 0, 0, {});
  hugeCommand[8] = 0x00;
  hugeCommand[9] = 0x00;
  hugeCommand[10] = 0x10;  // a megabyte
  for (const Bytes& bad : {shortPacket, zeroPacket, shortCommand, hugeCommand}) {
    MmsUnitFramer framer(1000000);
    Collected got;
    const Bytes good = DataPacket(1, 0x04, 0, 10, 1);
    ASSERT_EQ(framer.Feed(good.data(), good.size(), got.Sink()), MmsUnitFramer::Status::Ok);
    // Fed in two pieces, so the check also runs on a held-back unit.
    EXPECT_EQ(framer.Feed(bad.data(), 12, got.Sink()), MmsUnitFramer::Status::Malformed);
    EXPECT_TRUE(framer.Stopped());
    EXPECT_EQ(framer.FailedUnit(), Bytes(bad.begin(), bad.begin() + 12));
    EXPECT_EQ(got.units.size(), 1u);
    EXPECT_NE(framer.Feed(good.data(), good.size(), got.Sink()), MmsUnitFramer::Status::Ok);
    EXPECT_EQ(got.units.size(), 1u);
  }
}

TEST(MmsUnitFramer, ARefusingSinkStopsFraming) {
  const Bytes a = DataPacket(0, 0x04, 0, 10, 1);
  Bytes two = a;
  two.insert(two.end(), a.begin(), a.end());
  MmsUnitFramer framer(1000000);
  int calls = 0;
  EXPECT_EQ(framer.Feed(two.data(), two.size(),
                        [&](const uint8_t*, size_t) {
                          ++calls;
                          return false;
                        }),
            MmsUnitFramer::Status::SinkRefused);
  EXPECT_EQ(calls, 1);
}

TEST(UdpDatagram, AcceptsOnlyDataPacketsWithAnHonestLength) {
  const Bytes packet = DataPacket(3, 0x04, 7, 40, 5);
  EXPECT_EQ(AcceptedDatagramLength(packet.data(), packet.size()), packet.size());
  Bytes trailing = packet;
  trailing.push_back(0);  // bytes past the declared length are not part of the packet
  EXPECT_EQ(AcceptedDatagramLength(trailing.data(), trailing.size()), packet.size());
  Bytes lying = packet;
  lying[6] = 200;
  EXPECT_EQ(AcceptedDatagramLength(lying.data(), lying.size()), 0u);
  Bytes tiny = packet;
  tiny[6] = 4;
  tiny[7] = 0;
  EXPECT_EQ(AcceptedDatagramLength(tiny.data(), tiny.size()), 0u);
  const Bytes command = Reply(0x05, 0, 0, {});
  EXPECT_EQ(AcceptedDatagramLength(command.data(), command.size()), 0u);
  EXPECT_EQ(AcceptedDatagramLength(packet.data(), 7), 0u);
}

TEST(UdpDatagram, ResendRequestForSequenceSeven) {
  const uint8_t id[4] = {0x11, 0x22, 0x33, 0x44};
  const auto r = BuildResendRequest(id, 7);
  EXPECT_EQ(Bytes(r.begin(), r.end()), (Bytes{0x0D, 0xF0, 0xEF, 0xBE, 0x11, 0x22, 0x33, 0x44, 0x01,
                                              0x00, 0x01, 0x00, 0x07, 0x00, 0x00, 0x00}));
  const auto wrapped = BuildResendRequest(id, 0x0102);
  EXPECT_EQ(wrapped[12], 0x02);
  EXPECT_EQ(wrapped[13], 0x01);
}

TEST(MmsReply, ReadsHeaderWordsAndFailureBit) {
  const Bytes m = Reply(0x06, 0x80070005, 0xF0F0F0EF, {});
  const ReplyView v(m.data(), m.size());
  EXPECT_EQ(v.CommandId(), 0x06);
  EXPECT_TRUE(v.Failed());
  EXPECT_EQ(v.SecondWord(), 0xF0F0F0EFu);
  EXPECT_TRUE(ServerRunsNoTimingTests(v));
  const Bytes ok = Reply(0x01, 1, 0xF0F0F0F0, {});
  EXPECT_FALSE(ReplyView(ok.data(), ok.size()).Failed());
  EXPECT_FALSE(ServerRunsNoTimingTests(ReplyView(ok.data(), ok.size())));
}

TEST(MmsReply, ServerTextsFollowTheirCountsAndAreCutAtTheEnd) {
  Bytes f(32, 0);  // offsets 48 to 79
  PutU32(f, 3);
  PutU32(f, 2);
  PutU32(f, 0);
  PutU32(f, 6);
  for (const char* t : {"9.1", " x"}) {
    for (const char* c = t; *c; ++c) {
      f.push_back(static_cast<uint8_t>(*c));
      f.push_back(0);
    }
  }
  for (const char* c = "BAS"; *c; ++c) {  // claims 6 characters, message holds 3 (plus padding)
    f.push_back(static_cast<uint8_t>(*c));
    f.push_back(0);
  }
  const Bytes m = Reply(0x01, 0, 0, f);
  const ServerTexts t = ReadServerTexts(ReplyView(m.data(), m.size()));
  EXPECT_EQ(t.ServerVersion, "9.1");
  EXPECT_EQ(t.ToolVersion, "x");
  EXPECT_EQ(t.UpdateUrl, "");
  EXPECT_EQ(t.EncryptionType, "BAS");

  // Counts far past the end read nothing and nothing outside.
  Bytes huge(32, 0);
  for (int i = 0; i < 4; ++i) PutU32(huge, 0xFFFFFFFF);
  const Bytes h = Reply(0x01, 0, 0, huge);
  const ServerTexts none = ReadServerTexts(ReplyView(h.data(), h.size()));
  EXPECT_EQ(none.ServerVersion, "");
  EXPECT_EQ(none.EncryptionType, "");
}

TEST(MmsReply, MissingOpenFileFieldsReadZero) {
  Bytes f(64, 0);
  f[12] = 0x00;
  f[15] = 0x02;  // attributes at 60: live
  f[44] = 0x10;  // packet size at 92: 0x10
  const Bytes m = Reply(0x06, 0, 0, f);
  const OpenFileFields o = ReadOpenFile(ReplyView(m.data(), 48 + 64));
  EXPECT_TRUE(o.Live());
  EXPECT_EQ(o.packetSize, 0x10u);
  EXPECT_EQ(o.headerLength, 0u);  // 108 lies past the 112 bytes given
  EXPECT_EQ(o.maxStreamRate, 0u);
}

TEST(MmsReply, ChallengeIsCutToItsFirstHundredBytes) {
  Bytes f;
  PutU32(f, 400);
  for (int i = 0; i < 200; ++i) {
    f.push_back(static_cast<uint8_t>('a' + i % 26));
    f.push_back(0);
  }
  const Bytes m = Reply(0x1A, 0, 0, f);
  const std::string text = ReadChallenge(ReplyView(m.data(), m.size()));
  ASSERT_EQ(text.size(), 50u);
  EXPECT_EQ(text.substr(0, 3), "abc");

  Bytes lying;
  PutU32(lying, 80);
  lying.push_back('Z');
  lying.push_back(0);
  const Bytes l = Reply(0x1A, 0, 0, lying);
  const std::string cut = ReadChallenge(ReplyView(l.data(), 54));
  EXPECT_EQ(cut, "Z");
}

TEST(MmsReply, FunnelClientIdIsTheFourBytesAtSixty) {
  Bytes f(12, 0);
  f.insert(f.end(), {0xDE, 0xAD, 0xBE, 0xEF});
  const Bytes m = Reply(0x15, 0, 0, f);
  uint8_t id[4];
  ReadClientId(ReplyView(m.data(), m.size()), id);
  EXPECT_EQ(Bytes(id, id + 4), (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
}

}  // namespace
}  // namespace qor::mms
