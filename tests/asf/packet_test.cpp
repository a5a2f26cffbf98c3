// Data packets: times read, key frames, the in-place shift, and damaged packets.

#include <gtest/gtest.h>

#include <memory>

#include "asf/asf.h"
#include "asf_builders.h"
#include "support/message_queue.h"

namespace qor::asf_test {
namespace {

class Packets : public ::testing::Test {
 protected:
  Packets() { asf.Messages = &queue; }

  // Parses from a heap buffer of exactly the packet's length and copies the result back.
  bool Parse(Bytes& packet, int32_t base = 0, bool shift = false) {
    auto exact = std::make_unique<uint8_t[]>(packet.empty() ? 1 : packet.size());
    std::copy(packet.begin(), packet.end(), exact.get());
    const bool ok =
        asf.ParsePacket(exact.get(), packet.size(), sendTime, duration, base, shift, keyFrame);
    std::copy(exact.get(), exact.get() + packet.size(), packet.begin());
    return ok;
  }
  std::string LastText() {
    std::string text;
    MessagePair pair;
    while (queue.Take(pair)) {
      EXPECT_EQ(pair.code, static_cast<uint32_t>(mcFatal));
      text = pair.text;
    }
    return text;
  }

  TMessageClass queue;
  TASF asf;
  uint32_t sendTime = 0;
  uint16_t duration = 0;
  bool keyFrame = false;
};

constexpr const char* kEcText = "TASF: Core Error, unhandled error correction 0x82 field";
constexpr const char* kCompressedText = "TASF: compressed sub-payload pointer missed end";
constexpr const char* kPayloadText = "TASF: non-compressed payload pointer missed end";

Bytes ThreePayloads(uint8_t keyOf) {
  PacketSpec s;
  s.multiple = true;
  s.sendTime = 90000;
  s.duration = 40;
  s.payloadFlags = 0x80 | 3;  // two-byte payload lengths
  Bytes p = PacketHead(s);
  for (uint8_t k = 0; k < 3; ++k)
    PutPayload(p, static_cast<uint8_t>(k + 1 + (k == keyOf ? 0x80 : 0)), 90500 + k, Bytes(10, k),
               2);
  p.resize(3200, 0);  // padding
  return p;
}

TEST_F(Packets, ReadsTimesAndKeyFrames) {
  Bytes p = ThreePayloads(1);
  ASSERT_TRUE(Parse(p));
  EXPECT_EQ(sendTime, 90000u);
  EXPECT_EQ(duration, 40);
  EXPECT_TRUE(keyFrame);  // only the second payload is marked
  Bytes none = ThreePayloads(9);
  ASSERT_TRUE(Parse(none));
  EXPECT_FALSE(keyFrame);
  EXPECT_EQ(LastText(), "");

  AsfPacketTimes times;
  ASSERT_TRUE(ReadAsfPacketTimes(p.data(), p.size(), times));
  EXPECT_EQ(times.sendTime, 90000u);
  EXPECT_EQ(times.duration, 40);
  EXPECT_TRUE(times.keyFrame);
}

TEST_F(Packets, ShiftRewritesEveryTime) {
  Bytes p = ThreePayloads(0);
  const Bytes before = p;
  ASSERT_TRUE(Parse(p, 90000, true));
  EXPECT_EQ(sendTime, 0u);
  const size_t sendAt = 5;
  EXPECT_EQ(GetAt(p, sendAt, 4), 0u);
  // Presentation times of the three payloads (replicated data bytes 4-7).
  size_t pos = 5 + 6 + 1;
  for (uint32_t k = 0; k < 3; ++k) {
    EXPECT_EQ(GetAt(p, pos + 7 + 4, 4), 500u + k);
    pos += 7 + 8 + 2 + 10;
  }
  // Nothing else changed.
  size_t changed = 0;
  for (size_t i = 0; i < p.size(); ++i) changed += p[i] != before[i];
  EXPECT_LE(changed, 4u * 3 + 4);
  // Shifting by a base above the time wraps modulo 2^32.
  Bytes q = ThreePayloads(0);
  ASSERT_TRUE(Parse(q, 90001, true));
  EXPECT_EQ(sendTime, 0xFFFFFFFFu);
}

TEST_F(Packets, SinglePayloadWithReplicatedTime) {
  PacketSpec s;
  s.sendTime = 7000;
  s.duration = 3;
  Bytes p = PacketHead(s);
  PutPayload(p, 0x82, 5000, {}, 0);
  p.resize(100, 0xAB);
  ASSERT_TRUE(Parse(p, 1000, true));
  EXPECT_EQ(sendTime, 6000u);
  EXPECT_TRUE(keyFrame);
  EXPECT_EQ(GetAt(p, 11 + 7 + 4, 4), 4000u);
}

TEST_F(Packets, ErrorCorrectionByteMustBe82) {
  Bytes p = ThreePayloads(0);
  p[0] = 0x00;
  sendTime = 17;
  EXPECT_FALSE(Parse(p));
  EXPECT_EQ(LastText(), kEcText);
  EXPECT_EQ(sendTime, 17u);  // not read
  Bytes empty;
  EXPECT_FALSE(Parse(empty));
  EXPECT_EQ(LastText(), kEcText);
}

TEST_F(Packets, ZeroPayloadCountWalksOnePayload) {
  PacketSpec s;
  s.multiple = true;
  s.payloadFlags = 0x40 | 0;  // one-byte lengths, count 0
  Bytes p = PacketHead(s);
  PutPayload(p, 1, 10, Bytes(5, 1), 1);
  p.push_back(0xFF);  // garbage a second payload would trip over
  EXPECT_TRUE(Parse(p));
}

// What stands in a slot whose packet never came parses at its time, shifts like any packet and
// carries no media, at every packet size (past 64 KiB its padding length is a double word).
TEST_F(Packets, APaddingPacketParsesAndCarriesNoMedia) {
  for (const size_t size : {size_t{23}, size_t{3200}, size_t{70000}}) {
    Bytes p(size, 0xAA);
    ASSERT_TRUE(MakeAsfPaddingPacket(p.data(), p.size(), 5000)) << size;
    EXPECT_TRUE(Parse(p, 1000, true)) << size;
    AsfPacketTimes times;
    EXPECT_TRUE(ReadAsfPacketTimes(p.data(), p.size(), times) && times.sendTime == 4000 &&
                times.payloadBytes == 0 && !times.keyFrame)
        << size;
  }
  Bytes tooSmall(22);
  EXPECT_FALSE(MakeAsfPaddingPacket(tooSmall.data(), tooSmall.size(), 0));
}

// Compressed payloads (replicated data length 1): the offset field is the presentation time.
Bytes CompressedPacket(bool multiple, uint8_t declaredShortBy) {
  PacketSpec s;
  s.multiple = multiple;
  s.sendTime = 2000;
  s.payloadFlags = 0x80 | 2;
  Bytes p = PacketHead(s);
  for (int k = 0; k < (multiple ? 2 : 1); ++k) {
    p.push_back(static_cast<uint8_t>(k == 0 ? 0x81 : 0x01));  // stream
    p.push_back(0);                                           // object number
    Put(p, 2500, 4);                                          // presentation time
    p.push_back(1);                                           // replicated length 1
    p.push_back(40);                                          // presentation time delta
    const Bytes subs = {3, 'a', 'b', 'c', 1, 'd'};
    if (multiple) Put(p, subs.size() - (k == 1 ? declaredShortBy : 0), 2);
    p.insert(p.end(), subs.begin(), subs.end());
  }
  return p;
}

TEST_F(Packets, CompressedPayloads) {
  Bytes single = CompressedPacket(false, 0);
  single.resize(single.size() + 30, 0x55);  // never walked
  ASSERT_TRUE(Parse(single, 2000, true));
  EXPECT_EQ(GetAt(single, 13, 4), 500u);

  Bytes two = CompressedPacket(true, 0);
  ASSERT_TRUE(Parse(two, 500, true));
  EXPECT_TRUE(keyFrame);
  EXPECT_EQ(sendTime, 1500u);

  Bytes shortByOne = CompressedPacket(true, 1);
  shortByOne.resize(shortByOne.size() + 8, 0);
  EXPECT_FALSE(Parse(shortByOne));
  EXPECT_EQ(LastText(), kCompressedText);
}

TEST_F(Packets, NarrowOffsetFieldShiftsAtItsOwnWidth) {
  PacketSpec s;
  s.propertyFlags = 0x55;  // replicated 1 byte, offset 1 byte, object 1, stream 1
  s.sendTime = 300;
  Bytes p = PacketHead(s);
  p.insert(p.end(), {0x01, 0x00, 0x05, 0x01, 0x00});  // presentation time 5 in one byte
  p.insert(p.end(), {2, 'x', 'y'});
  ASSERT_TRUE(Parse(p, 10, true));
  EXPECT_EQ(p[13], 0xFB);  // 5 - 10 modulo 256
  EXPECT_EQ(sendTime, 290u);
}

TEST_F(Packets, FieldsPastTheEndFailInside) {
  // Each prefix of a valid multi-payload packet: no read beyond it, a failure text when cut.
  const Bytes full = ThreePayloads(2);
  const size_t payloadEnd = 12 + 3 * (7 + 8 + 2 + 10);
  for (size_t length = 0; length < payloadEnd; ++length) {
    Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_FALSE(Parse(cut)) << length;
    EXPECT_EQ(LastText(), length == 0 ? kEcText : kPayloadText) << length;
  }
  Bytes exact(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(payloadEnd));
  EXPECT_TRUE(Parse(exact));

  // Width codes of 4 bytes everywhere in a packet of 8 bytes.
  Bytes tiny = {0x82, 0, 0, 0x7F, 0xFF, 1, 2, 3};
  EXPECT_FALSE(Parse(tiny));
  EXPECT_EQ(LastText(), kPayloadText);

  // 63 payloads announced in a tiny packet.
  PacketSpec s;
  s.multiple = true;
  s.payloadFlags = 0xC0 | 63;
  Bytes many = PacketHead(s);
  PutPayload(many, 1, 0, Bytes(2, 0), 4);
  EXPECT_FALSE(Parse(many));
  EXPECT_EQ(LastText(), kPayloadText);

  // A payload length that leaves the packet.
  Bytes longer = ThreePayloads(0);
  longer.resize(payloadEnd);
  PutAt(longer, 12 + 2 * 27 + 15, 11, 2);
  EXPECT_FALSE(Parse(longer));
  EXPECT_EQ(LastText(), kPayloadText);

  // Sub-payload lengths that walk out of a compressed payload at the end of the packet.
  Bytes compressed = CompressedPacket(true, 0);
  compressed.back() = 200;
  compressed.resize(compressed.size() - 0);
  PutAt(compressed, compressed.size() - 8, 250, 2);
  EXPECT_FALSE(Parse(compressed));
  EXPECT_EQ(LastText(), kCompressedText);
}

TEST_F(Packets, TimesAreKeptWhenALaterCheckFails) {
  Bytes p = ThreePayloads(0);
  p.resize(40);
  EXPECT_FALSE(Parse(p, 10000, true));
  EXPECT_EQ(sendTime, 80000u);
  EXPECT_EQ(duration, 40);
  EXPECT_EQ(GetAt(p, 5, 4), 80000u);  // the send time was shifted before the failure
  LastText();
}

}  // namespace
}  // namespace qor::asf_test
