// Command messages compared byte for byte with what a Windows Media server expects.

#include "session/mms_commands.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace qor::mms {
namespace {

uint32_t U32At(const Bytes& m, size_t at) {
  return static_cast<uint32_t>(m[at] | (m[at + 1] << 8) | (m[at + 2] << 16) |
                               (static_cast<uint32_t>(m[at + 3]) << 24));
}
uint16_t U16At(const Bytes& m, size_t at) {
  return static_cast<uint16_t>(m[at] | (m[at + 1] << 8));
}
double DoubleAt(const Bytes& m, size_t at) {
  double d;
  std::memcpy(&d, m.data() + at, 8);
  return d;
}
Bytes Slice(const Bytes& m, size_t from, size_t count) {
  return Bytes(m.begin() + static_cast<long>(from), m.begin() + static_cast<long>(from + count));
}
Bytes Wide(const std::string& s) {
  return WidenText(s);
}

// The framing every command shares: lengths agree with the size, which is a multiple of 8.
void ExpectFraming(const Bytes& m, uint16_t id, uint16_t sequence) {
  ASSERT_GE(m.size(), 40u);
  EXPECT_EQ(m.size() % 8, 0u);
  EXPECT_EQ(Slice(m, 0, 16), (Bytes{0x01, 0, 0, 0, 0xCE, 0xFA, 0x0B, 0xB0, m[8], m[9], m[10], m[11],
                                    'M', 'M', 'S', ' '}));
  EXPECT_EQ(U32At(m, 8), m.size() - 16);
  EXPECT_EQ(U32At(m, 16), (m.size() - 16) / 8);
  EXPECT_EQ(U16At(m, 20), sequence);
  EXPECT_EQ(U16At(m, 22), 0);
  EXPECT_EQ(Slice(m, 24, 8), Bytes(8, 0));
  EXPECT_EQ(U32At(m, 32), (m.size() - 32) / 8);
  EXPECT_EQ(U16At(m, 36), id);
  EXPECT_EQ(U16At(m, 38), 0x0003);
}

TEST(MmsCommands, PongIs48BytesWithItsLengthsAndFields) {
  const Bytes m = BuildPong(0, 7);
  ASSERT_EQ(m.size(), 48u);
  ExpectFraming(m, 0x1B, 0);
  EXPECT_EQ(U32At(m, 32), 2u);
  EXPECT_EQ(U32At(m, 16), 4u);
  EXPECT_EQ(U32At(m, 8), 32u);
  EXPECT_EQ(U32At(m, 40), 7u);
  EXPECT_EQ(U32At(m, 44), 0x0001FFFFu);
}

TEST(MmsCommands, SequenceIsTheLow16BitsOfTheCounter) {
  EXPECT_EQ(U16At(BuildPong(1, 1), 20), 1);
  EXPECT_EQ(U16At(BuildPong(0x12345, 1), 20), 0x2345);
}

TEST(MmsCommands, HeaderRequestIs88BytesEndingInTheStreamFlagAndPadding) {
  const Bytes m = BuildHeaderRequest(3, 1);
  ASSERT_EQ(m.size(), 88u);
  ExpectFraming(m, 0x15, 3);
  EXPECT_EQ(U32At(m, 32), 7u);
  EXPECT_EQ(U32At(m, 16), 9u);
  EXPECT_EQ(U32At(m, 8), 72u);
  EXPECT_EQ(U32At(m, 40), 1u);
  EXPECT_EQ(U32At(m, 52), 0x00008000u);
  EXPECT_EQ(U32At(m, 56), 0xFFFFFFFFu);
  EXPECT_EQ(Slice(m, 64, 8), Bytes(8, 0));
  EXPECT_EQ(Slice(m, 72, 8), (Bytes{0, 0, 0, 0, 0, 0x20, 0xAC, 0x40}));
  EXPECT_EQ(Slice(m, 80, 8), (Bytes{0x02, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(MmsCommands, StreamSelectionForTwoStreamsPutsTheFixedBytesLast) {
  const Bytes m = BuildStreamSelection(5, {1, 2});
  ASSERT_EQ(m.size(), 64u);  // 23-byte body padded to 24
  ExpectFraming(m, 0x33, 5);
  EXPECT_EQ(U32At(m, 8), 48u);
  EXPECT_EQ(Slice(m, 40, 24), (Bytes{2, 0, 0, 0, 0xFF, 0xFF, 1, 0,    0,    0,    0xFF, 0xFF,
                                     2, 0, 0, 0, 0,    0,    0, 0x20, 0xAC, 0x40, 0x02, 0}));
  // A stream left out stays in the list, switched off (action 2); the layout is unchanged.
  const Bytes off = BuildStreamSelection(5, {1, 2}, {1});
  ASSERT_EQ(off.size(), 64u);
  EXPECT_EQ(Slice(off, 40, 16),
            (Bytes{2, 0, 0, 0, 0xFF, 0xFF, 1, 0, 2, 0, 0xFF, 0xFF, 2, 0, 0, 0}));
  EXPECT_EQ(Slice(off, 56, 8), Slice(m, 56, 8));
}

TEST(MmsCommands, ConnectWithoutProxyEndsWithTheGuidAndTwoWideNuls) {
  const std::string guid = "{01234567-89AB-CDEF-0123-456789ABCDEF}";
  const Bytes m = BuildConnect(0, guid, false, "server");
  ExpectFraming(m, 0x01, 0);
  EXPECT_EQ(U32At(m, 40), 0xF0F0F0F0u);
  const Bytes text =
      Wide(std::string("\x0B\x04\x1C\x03") + "NSPlayer/7.1.0.1956; " + guid + std::string(2, '\0'));
  ASSERT_GE(m.size(), 44 + text.size());
  EXPECT_EQ(Slice(m, 44, text.size()), text);
  EXPECT_EQ(Slice(m, 44, 8), (Bytes{0x0B, 0, 0x04, 0, 0x1C, 0, 0x03, 0}));
  for (size_t i = 44 + text.size(); i < m.size(); ++i) EXPECT_EQ(m[i], 0) << i;
}

TEST(MmsCommands, ConnectThroughAProxyNamesTheTrimmedHost) {
  const Bytes m = BuildConnect(0, "{G}", true, "  media.example  ");
  const Bytes text = Wide(std::string("\x0B\x04\x1C\x03") +
                          "NSPlayer/7.1.0.1956; {G}; Host: media.example" + std::string(2, '\0'));
  EXPECT_EQ(Slice(m, 44, text.size()), text);
}

TEST(MmsCommands, TransportTextNamesTheAddressProtocolAndPort) {
  const Bytes tcp = BuildTransportSelect(2, 0xF0F0F0F0, " 192.168.0.5 ", false, 1234);
  ExpectFraming(tcp, 0x02, 2);
  EXPECT_EQ(Slice(tcp, 40, 20), (Bytes{0xF0, 0xF0, 0xF0, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0,
                                       0,    0,    0,    0,    0xA0, 0,    2,    0,    0, 0}));
  const Bytes text = Wide(std::string("\\\\192.168.0.5\\TCP\\1234") + '\0');
  EXPECT_EQ(Slice(tcp, 60, text.size()), text);
  EXPECT_EQ(tcp.size(), (40 + 20 + text.size() + 7) / 8 * 8);

  const Bytes udp = BuildTransportSelect(2, 0, "10.0.0.1", true, 7000);
  const Bytes udpText = Wide(std::string("\\\\10.0.0.1\\UDP\\7000") + '\0');
  EXPECT_EQ(Slice(udp, 60, udpText.size()), udpText);
}

TEST(MmsCommands, OpenFileCarriesTheTrimmedPathAndOneNul) {
  const Bytes m = BuildOpenFile(4, 2, "  /clip.wmv ");
  ExpectFraming(m, 0x05, 4);
  EXPECT_EQ(Slice(m, 40, 16), (Bytes{2, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0}));
  const Bytes text = Wide(std::string("/clip.wmv") + '\0');
  EXPECT_EQ(Slice(m, 56, text.size()), text);
  EXPECT_EQ(m.size(), (40 + 16 + text.size() + 7) / 8 * 8);
}

TEST(MmsCommands, StartPositionIsInWholeSeconds) {
  const Bytes m = BuildStartPlay(6, 1, 1500);
  ASSERT_EQ(m.size(), 72u);  // 32-byte body
  ExpectFraming(m, 0x07, 6);
  EXPECT_EQ(U32At(m, 40), 1u);
  EXPECT_EQ(U32At(m, 44), 0x0001FFFFu);
  EXPECT_EQ(DoubleAt(m, 48), 1.0);
  EXPECT_EQ(U32At(m, 56), 0xFFFFFFFFu);
  EXPECT_EQ(U32At(m, 60), 0xFFFFFFFFu);
  EXPECT_EQ(U32At(m, 64), 0u);
  EXPECT_EQ(U32At(m, 68), 4u);
  EXPECT_EQ(DoubleAt(BuildStartPlay(0, 1, 999), 48), 0.0);
  EXPECT_EQ(DoubleAt(BuildStartPlay(0, 1, 0), 48), 0.0);
  // An accelerated start's bandwidth, duration and link follow, padded to whole chunks.
  FastDeliveryAsk ask;
  ask.accelDurationMs = 4000;
  const Bytes fast = BuildStartPlay(6, 1, 1500, &ask);
  ASSERT_EQ(fast.size(), 88u);
  ExpectFraming(fast, 0x07, 6);
  EXPECT_EQ(Slice(fast, 40, 32), Slice(m, 40, 32));
  EXPECT_EQ(U32At(fast, 72), 2147483647u);
  EXPECT_EQ(U32At(fast, 76), 4000u);
  EXPECT_EQ(U32At(fast, 80), 2147483647u);
}

TEST(MmsCommands, OnlyANonZeroPositionIntoALiveStreamIsRefused) {
  EXPECT_TRUE(StartPlayRefused(1000, 2));
  EXPECT_FALSE(StartPlayRefused(0, 2));
  EXPECT_FALSE(StartPlayRefused(1000, 4));
  EXPECT_STREQ(kLiveSeekRefusal,
               "Seeking into live streams is not allowed\n> Offset time must = 0");
}

TEST(MmsCommands, TimingWordFollowsTheRequestedTest) {
  int32_t state = 0;
  Bytes m = BuildTimingRequest(1, state, false);
  ASSERT_EQ(m.size(), 48u);
  ExpectFraming(m, 0x18, 1);
  EXPECT_EQ(U32At(m, 40), 0u);
  EXPECT_EQ(U32At(m, 44), 0x0004000Bu);
  EXPECT_EQ(state, 0);

  state = 3;
  m = BuildTimingRequest(1, state, false);
  EXPECT_EQ(U32At(m, 40), 0xF0F0F0F1u);
  EXPECT_EQ(state, 1);

  state = 3;
  m = BuildTimingRequest(1, state, true);
  EXPECT_EQ(U32At(m, 40), 0xF0F0F901u);
  EXPECT_EQ(state, 2);
}

TEST(MmsCommands, PasswordResponseCarriesTheCredentialsNarrow) {
  const Bytes m = BuildPasswordResponse(7, 2, "dXNlcjpwYXNz");
  ExpectFraming(m, 0x1A, 7);
  EXPECT_EQ(U32At(m, 40), 2u);
  EXPECT_EQ(U32At(m, 44), 1u);
  EXPECT_EQ(U32At(m, 48), 12u + 5u);
  const std::string credentials = "dXNlcjpwYXNz";
  EXPECT_EQ(Slice(m, 52, 12), Bytes(credentials.begin(), credentials.end()));
  EXPECT_EQ(Slice(m, 64, 4), Bytes(4, 0));
  EXPECT_EQ(m.size(), (40 + 16 + 12 + 7) / 8 * 8);
}

TEST(MmsCommands, GenericBuilderLeavesOutEmptyParts) {
  const Bytes bare = BuildCommand(0x42, {}, Placement::First, {}, {}, 9);
  ASSERT_EQ(bare.size(), 40u);
  ExpectFraming(bare, 0x42, 9);
  EXPECT_EQ(U32At(bare, 32), 1u);
}

}  // namespace
}  // namespace qor::mms
