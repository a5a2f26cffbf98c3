// ASF packets out of RTP payloads: both readings of the Length field, several packets in one
// payload, fragments put together, and malformed payloads refused without reading past them.

#include <gtest/gtest.h>

#include <vector>

#include "session/rtp_asf.h"

namespace qor {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Packet(size_t size, uint8_t fill) {
  return Bytes(size, fill);
}

// A payload format header (no optional fields) and the bytes after it.
void Put(Bytes& out, uint8_t flags, uint32_t value, const Bytes& body) {
  out.push_back(flags);
  out.push_back(static_cast<uint8_t>(value >> 16));
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
  out.insert(out.end(), body.begin(), body.end());
}

TEST(RtspRtpAsf, WholePacketsInEitherReadingOfTheLength) {
  struct Row {
    const char* name;
    bool withHeader;
    int packets;
    RtpAsfAssembler::Reading learned;
  } rows[] = {
      {"one, header counted", true, 1, RtpAsfAssembler::Reading::kWithHeader},
      {"one, packet only", false, 1, RtpAsfAssembler::Reading::kPacketOnly},
      {"three, header counted", true, 3, RtpAsfAssembler::Reading::kWithHeader},
      {"three, packet only", false, 3, RtpAsfAssembler::Reading::kPacketOnly},
  };
  for (const Row& row : rows) {
    Bytes payload;
    for (int i = 0; i < row.packets; ++i) {
      const Bytes body = Packet(100 + 10 * static_cast<size_t>(i), static_cast<uint8_t>(i + 1));
      Put(payload, i == 0 ? 0xC0 : 0x40,
          static_cast<uint32_t>(body.size() + (row.withHeader ? 4 : 0)), body);
    }
    RtpAsfAssembler assembler(3200);
    std::vector<AsfFromRtp> out;
    ASSERT_TRUE(assembler.Take(payload.data(), payload.size(), true, 77, out)) << row.name;
    ASSERT_EQ(out.size(), static_cast<size_t>(row.packets)) << row.name;
    for (int i = 0; i < row.packets; ++i)
      EXPECT_EQ(out[static_cast<size_t>(i)].packet,
                Packet(100 + 10 * static_cast<size_t>(i), static_cast<uint8_t>(i + 1)))
          << row.name;
    EXPECT_TRUE(out[0].keyFrame);
    EXPECT_EQ(out[0].timestamp, 77u);
    EXPECT_EQ(assembler.LengthReading(), row.learned) << row.name;
  }
}

TEST(RtspRtpAsf, FragmentsArePutTogetherAndAGapDropsThePacket) {
  const Bytes whole = [] {
    Bytes b(3000);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7);
    return b;
  }();
  const auto fragment = [&](size_t from, size_t to) {
    Bytes p;
    Put(p, 0x00, static_cast<uint32_t>(from),
        Bytes(whole.begin() + static_cast<long>(from), whole.begin() + static_cast<long>(to)));
    return p;
  };
  RtpAsfAssembler assembler(3200);
  std::vector<AsfFromRtp> out;
  for (auto [from, to, marker] :
       {std::tuple{0, 1400, false}, {1400, 2800, false}, {2800, 3000, true}}) {
    const Bytes p = fragment(static_cast<size_t>(from), static_cast<size_t>(to));
    ASSERT_TRUE(assembler.Take(p.data(), p.size(), marker, 5, out));
  }
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].packet, whole);
  out.clear();
  // The middle one lost: nothing comes out, and the next packet starts afresh.
  for (auto [from, to, marker] : {std::tuple{0, 1400, false}, {2800, 3000, true}}) {
    const Bytes p = fragment(static_cast<size_t>(from), static_cast<size_t>(to));
    assembler.Take(p.data(), p.size(), marker, 5, out);
  }
  EXPECT_TRUE(out.empty());
}

TEST(RtspRtpAsf, MalformedPayloadsAndRtpHeadersAreRefused) {
  RtpAsfAssembler assembler(3200);
  std::vector<AsfFromRtp> out;
  const Bytes rows[] = {
      {0x40, 0x00},                          // shorter than a header
      {0x48, 0x00, 0x00, 0x10},              // location id announced, not there
      {0x40, 0x00, 0x01, 0x00, 1, 2, 3},     // length beyond the payload
      {0x40, 0x00, 0x00, 0x00},              // empty packet
      {0x40, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4},  // longer than any packet
  };
  for (const Bytes& row : rows) EXPECT_FALSE(assembler.Take(row.data(), row.size(), true, 0, out));
  EXPECT_TRUE(out.empty());

  RtpHeaderView view;
  const Bytes good = {0x80, 0xE0, 0x01, 0x02, 0, 0, 0, 9, 0, 0, 0, 1, 0xAA};
  ASSERT_TRUE(ReadRtpHeader(good.data(), good.size(), view));
  EXPECT_TRUE(view.marker);
  EXPECT_EQ(view.payloadType, 96);
  EXPECT_EQ(view.sequence, 0x0102);
  EXPECT_EQ(view.payloadOffset, 12u);
  EXPECT_EQ(view.payloadSize, 1u);
  const Bytes bad[] = {
      {0x40, 0x60, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},        // version 1
      {0x81, 0x60, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},        // a source list that is not there
      {0xA0, 0x60, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9},     // padding longer than the payload
      {0x90, 0x60, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // cut extension
  };
  for (const Bytes& row : bad) EXPECT_FALSE(ReadRtpHeader(row.data(), row.size(), view));
}

}  // namespace
}  // namespace qor
