// Server behaviour the reference server does not produce on its own, made by a relay that edits
// its replies: a cut in the middle of a packet, impossible packet sizes, a failing ping, and a
// server that declines the timing test only in its funnel reply.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "session/mms_commands.h"
#include "session/mms_protocol.h"
#include "session/mms_relay.h"
#include "session/mms_test_support.h"

namespace qor::testing {
namespace {

using namespace std::chrono_literals;
using Unit = MmsRelay::Unit;

Unit ServerCommand(uint16_t id, uint32_t result, uint32_t second) {
  mms::Bytes fields;
  mms::PutU32(fields, result);
  mms::PutU32(fields, second);
  Unit unit = mms::BuildCommand(id, fields, mms::Placement::First, {}, {}, 0);
  unit[38] = 0x04;  // server to client
  return unit;
}

bool Sent(const MmsRelay& relay, uint16_t id) {
  const auto ids = relay.ClientCommands();
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// The relay notes the client's commands on its own thread, which may not have read the last of
// them yet when the session has already ended.
bool SentSoon(const MmsRelay& relay, uint16_t id) {
  for (int i = 0; i < 500 && !Sent(relay, id); ++i) std::this_thread::sleep_for(10ms);
  return Sent(relay, id);
}

TEST(MmsRelay, DisconnectInTheMiddleOfAPacketKeepsTheWholeOnes) {
  auto server = StartServer();
  ASSERT_TRUE(server->Running());
  int media = 0;
  MmsRelay relay(server->MmsPort(), [&](const Unit& unit) {
    if (MmsRelay::IsMedia(unit) && ++media == 6)
      return MmsRelay::Action{{unit}, static_cast<long>(unit.size() / 2)};
    return MmsRelay::Action{{unit}, -1};
  });
  const std::string saved = NewTempFolder() + "/clip.asf";
  SessionHarness h;
  TMMS& s = NewMmsSession(h, relay.Port(), "clip.wmv", saved);
  ASSERT_TRUE(h.Run(60s, [&] {
    return h.Logged("Disconnected") && s.SaveFile->HighestIndex() == 4;
  })) << LogText(h);
  // Nothing of the half packet may follow.
  h.RunUntil([] { return false; }, 300ms);
  EXPECT_EQ(s.SaveFile->HighestIndex(), 4);
  h.Abort();
  h.EndSession();
  EXPECT_TRUE(h.Finished());
  const PacketMatch m = ComparePackets(SampleMedia("clip.wmv"), saved);
  EXPECT_EQ(m.saved, 5u);
  EXPECT_EQ(m.equal, 5u);
  EXPECT_GT(FfprobePacketCount(saved), 0);
}

TEST(MmsRelay, PacketSizeOutsideTheRangeEndsTheSession) {
  auto server = StartServer();
  ASSERT_TRUE(server->Running());
  for (uint32_t size : {0u, 1000001u}) {
    SCOPED_TRACE(size);
    MmsRelay relay(server->MmsPort(), [&](const Unit& unit) {
      Unit changed = unit;
      if (MmsRelay::IsCommand(unit) && MmsRelay::CommandId(unit) == 0x06)
        MmsRelay::StoreU32(changed, 92, size);
      return MmsRelay::Action{{changed}, -1};
    });
    SessionHarness h;
    NewMmsSession(h, relay.Port(), "clip.wmv", NewTempFolder() + "/clip.asf");
    ASSERT_TRUE(h.Run()) << LogText(h);
    EXPECT_TRUE(h.Logged("TMMS: invalid packet size from server")) << LogText(h);
    EXPECT_EQ(h.CountCode(mcFatal), 1);
    h.EndSession();
    EXPECT_TRUE(SentSoon(relay, 0x05));
    EXPECT_FALSE(Sent(relay, 0x15));  // no header request
  }
}

TEST(MmsRelay, PingWithAFailureCodeIsStillAnswered) {
  auto server = StartServer();
  ASSERT_TRUE(server->Running());
  int media = 0;
  MmsRelay relay(server->MmsPort(), [&](const Unit& unit) {
    if (MmsRelay::IsMedia(unit) && ++media == 3)
      return MmsRelay::Action{{ServerCommand(0x1B, 0x80070005, 0), unit}, -1};
    return MmsRelay::Action{{unit}, -1};
  });
  const std::string saved = NewTempFolder() + "/clip.asf";
  SessionHarness h;
  TMMS& s = NewMmsSession(h, relay.Port(), "clip.wmv", saved);
  ASSERT_TRUE(h.Run()) << LogText(h);
  EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  EXPECT_EQ(h.CountCode(mcFatal), 0) << LogText(h);
  EXPECT_EQ(s.Status().Acknowledgements, 1u);
  h.EndSession();
  EXPECT_TRUE(SentSoon(relay, 0x1B));
  const PacketMatch m = ComparePackets(SampleMedia("clip.wmv"), saved);
  EXPECT_EQ(m.equal, m.source);
}

// The connected reply promises timing tests; the one funnel reply then says there are none.
TEST(MmsRelay, FunnelReplyDecliningTheTimingTestEndsTheWaitForThree) {
  auto server = StartServer({"--packet-pair", "off"});
  ASSERT_TRUE(server->Running());
  MmsRelay relay(server->MmsPort(), [&](const Unit& unit) {
    Unit changed = unit;
    if (MmsRelay::IsCommand(unit) && MmsRelay::CommandId(unit) == 0x01)
      MmsRelay::StoreU32(changed, 44, 0xF0F0F0F0);
    return MmsRelay::Action{{changed}, -1};
  });
  const std::string saved = NewTempFolder() + "/clip.asf";
  SessionHarness h;
  NewMmsSession(h, relay.Port(), "clip.wmv", saved);
  ASSERT_TRUE(h.Run(30s)) << LogText(h);
  EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  EXPECT_FALSE(h.Logged("Server does not support timing packets"));
  EXPECT_FALSE(h.Logged("TCP network timing packets received"));
  h.EndSession();
  const auto ids = relay.ClientCommands();
  ASSERT_GE(ids.size(), 3u);
  EXPECT_EQ(ids[0], 0x01);
  EXPECT_EQ(ids[1], 0x18);
  EXPECT_EQ(ids[2], 0x02);
}

TEST(MmsRelay, HeaderInSeveralPiecesIsSavedOnce) {
  auto server = StartServer();
  ASSERT_TRUE(server->Running());
  int pieces = 0;
  MmsRelay relay(server->MmsPort(), [&](const Unit& unit) {
    pieces += !MmsRelay::IsCommand(unit) && unit.size() > 4 && unit[4] == 0x02;
    return MmsRelay::Action{{unit}, -1};
  });
  const std::string saved = NewTempFolder() + "/clip.asf";
  SessionHarness h;
  NewMmsSession(h, relay.Port(), "clip.wmv?header-pieces=3", saved);
  ASSERT_TRUE(h.Run()) << LogText(h);
  EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  h.EndSession();
  EXPECT_EQ(pieces, 3);
  int saving = 0;
  for (const MessagePair& p : h.Log()) saving += p.text == "- Header received and saving";
  EXPECT_EQ(saving, 1);
  const PacketMatch m = ComparePackets(SampleMedia("clip.wmv"), saved);
  EXPECT_EQ(m.equal, m.source);
  EXPECT_EQ(ReadAsfLayout(saved).headerLength, ReadAsfLayout(SampleMedia("clip.wmv")).headerLength);
}

}  // namespace
}  // namespace qor::testing

namespace qor::testing {
namespace {

// A refusal without a failure code gets the refusal's own message.
TEST(MmsRelayReplies, TransportRefusedWithoutAFailureCode) {
  auto server = StartServer({"--faults", "refuse-transport=1"});
  ASSERT_TRUE(server->Running());
  MmsRelay relay(server->MmsPort(), [&](const Unit& unit) {
    Unit changed = unit;
    if (MmsRelay::IsCommand(unit) && MmsRelay::CommandId(unit) == 0x03)
      MmsRelay::StoreU32(changed, 40, 0);
    return MmsRelay::Action{{changed}, -1};
  });
  SessionHarness h;
  NewMmsSession(h, relay.Port(), "clip.wmv", NewTempFolder() + "/clip.asf");
  ASSERT_TRUE(h.Run()) << LogText(h);
  const int at = FindText(h, "Error: 02 protocol select failure");
  ASSERT_GE(at, 0) << LogText(h);
  EXPECT_EQ(h.Log()[static_cast<size_t>(at)].code, mcFatal);
  h.EndSession();
  EXPECT_FALSE(Sent(relay, 0x05));
}

// Timing packets are counted wherever they come from; only the second is reported.
TEST(MmsRelayReplies, OfFiveTimingPacketsOnlyTheSecondIsReported) {
  auto server = StartServer();
  ASSERT_TRUE(server->Running());
  MmsRelay relay(server->MmsPort(), [&](const Unit& unit) {
    if (MmsRelay::IsCommand(unit) && MmsRelay::CommandId(unit) == 0x02) {
      MmsRelay::Action action{{unit}, -1};
      for (uint8_t i = 0; i < 5; ++i) {
        Unit timing = {i, 0, 0, 0, 0xFF, 0x10, 24, 0};
        timing.resize(24, 0xAA);
        action.send.push_back(timing);
      }
      return action;
    }
    return MmsRelay::Action{{unit}, -1};
  });
  const std::string saved = NewTempFolder() + "/clip.asf";
  SessionHarness h;
  NewMmsSession(h, relay.Port(), "clip.wmv", saved);
  ASSERT_TRUE(h.Run()) << LogText(h);
  EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  int reports = 0;
  for (const MessagePair& p : h.Log())
    reports += p.text == "- UDP timing packet pairs were received";
  EXPECT_EQ(reports, 1);
  const PacketMatch m = ComparePackets(SampleMedia("clip.wmv"), saved);
  EXPECT_EQ(m.equal, m.source);
}

}  // namespace
}  // namespace qor::testing
