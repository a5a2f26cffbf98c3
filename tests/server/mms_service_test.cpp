// MMS over TCP as a raw client sees it: the replies in order, their fields, header pieces,
// packets by location, live play lists, password challenges and the per-request faults.

#include <gtest/gtest.h>

#include "data_units.h"
#include "media_source.h"
#include "server_test_support.h"
#include "support/base64.h"

namespace qor::server::testing {
namespace {

std::shared_ptr<const MediaSource> Clip(const std::string& name = "clip.wmv") {
  std::string error;
  return MediaSource::Load(SampleDir() + "/" + name, error);
}

// Media packets until the end-of-stream reply (or the connection ends).
std::vector<MmsUnit> MediaUntilEnd(MmsClient& client, std::optional<MmsUnit>* end = nullptr) {
  std::vector<MmsUnit> media;
  for (;;) {
    auto unit = client.NextCommand();
    if (!unit) return media;
    if (unit->command) {
      if (end != nullptr) *end = unit;
      if (unit->id == 0x1E) return media;
      continue;
    }
    media.push_back(*unit);
  }
}

TEST(MmsTcp, HandshakeRepliesCarryTheFileFactsAndPacketsTheirLocation) {
  QOR_NEED_SAMPLES();
  TestServer server;
  const auto media = Clip();
  MmsClient client(server.Mms());
  uint32_t incarnation = 0, clientId = 0;
  ASSERT_TRUE(client.Connect(&incarnation));
  EXPECT_EQ(incarnation, 0xF0F0F0F0u);
  ASSERT_TRUE(client.Timing(0xF0F0F0F1, 3, &clientId));  // three replies for a TCP timing test
  EXPECT_NE(clientId, 0u);
  ASSERT_TRUE(client.Transport("\\\\127.0.0.1\\TCP\\1234"));
  Bytes reply;
  ASSERT_TRUE(client.Open("clip.wmv", nullptr, &reply));
  const Reader r(reply);
  EXPECT_EQ(r.U32(60) & 0x01800000u, 0x01800000u);  // can seek and stride
  EXPECT_EQ(r.U32(60) & 0x02000000u, 0u);
  EXPECT_NEAR(r.Double(64), media->DurationSeconds(), 0.001);
  EXPECT_EQ(r.U32(92), media->PacketSize());
  EXPECT_EQ(r.U64(96), media->PacketCount());
  EXPECT_EQ(r.U32(104), media->BitRate());
  EXPECT_EQ(r.U32(108), media->Header().size());
  std::vector<uint8_t> flags;
  EXPECT_EQ(client.Header(&flags), media->Header());
  EXPECT_EQ(flags, (std::vector<uint8_t>{0x0C}));
  ASSERT_TRUE(client.SelectStreams());
  ASSERT_TRUE(client.Start(0, 0xFFFFFFFF, 5));
  std::optional<MmsUnit> end;
  const auto packets = MediaUntilEnd(client, &end);
  ASSERT_TRUE(end && end->id == 0x1E);
  EXPECT_EQ(end->hr, 0u);
  ASSERT_EQ(packets.size(), media->PacketCount());
  for (size_t i = 0; i < packets.size(); ++i) {
    EXPECT_EQ(packets[i].tag, 5);  // the tag the start command asked for
    EXPECT_EQ(packets[i].locationId, i);
    EXPECT_EQ(packets[i].flags, static_cast<uint8_t>(i));
    ASSERT_EQ(packets[i].payload, Bytes(media->Packet(i), media->Packet(i) + media->PacketSize()));
  }
}

TEST(MmsTcp, WithoutTimingTestsOneFunnelReplyAndSeekingByTimeOrLocation) {
  QOR_NEED_SAMPLES();
  ServerOptions o = TestServer::Defaults();
  o.packetPair = false;
  TestServer server(o);
  const auto media = Clip();
  MmsClient client(server.Mms());
  uint32_t incarnation = 0;
  ASSERT_TRUE(client.Connect(&incarnation));
  EXPECT_EQ(incarnation, 0xF0F0F0EFu);
  ASSERT_TRUE(client.Timing(0xF0F0F0F1, 1));
  ASSERT_TRUE(client.Transport("\\\\127.0.0.1\\TCP\\1234"));
  ASSERT_TRUE(client.Open("/clip.wmv?header-pieces=3"));
  std::vector<uint8_t> flags;
  EXPECT_EQ(client.Header(&flags), media->Header());
  EXPECT_EQ(flags, (std::vector<uint8_t>{0x04, 0x00, 0x08}));
  ASSERT_TRUE(client.SelectStreams());
  ASSERT_TRUE(client.Start(3.0));
  auto packets = MediaUntilEnd(client);
  ASSERT_FALSE(packets.empty());
  EXPECT_EQ(packets.front().locationId, media->PacketForTime(3000));
  EXPECT_GT(packets.front().locationId, 0u);
  ASSERT_TRUE(client.Start(0, 10));
  packets = MediaUntilEnd(client);
  ASSERT_FALSE(packets.empty());
  EXPECT_EQ(packets.front().locationId, 10u);
  EXPECT_EQ(packets.size(), media->PacketCount() - 10);
}

TEST(MmsTcp, MissingFilesFailedCommandsAndRefusedTransports) {
  QOR_NEED_SAMPLES();
  TestServer server;
  {
    MmsClient client(server.Mms());
    ASSERT_TRUE(client.Connect() && client.Timing(0, 1) &&
                client.Transport("\\\\127.0.0.1\\TCP\\1"));
    uint32_t hr = 0;
    EXPECT_FALSE(client.Open("nothere.wmv", &hr));
    EXPECT_EQ(hr, 0x80070002u);
  }
  {
    MmsClient client(server.Mms());
    ASSERT_TRUE(client.Connect() && client.Timing(0, 1) &&
                client.Transport("\\\\127.0.0.1\\TCP\\1"));
    ASSERT_TRUE(client.Open("clip.wmv?fail=0x15:0x80004005"));
    Bytes f(44, 0);
    ASSERT_TRUE(client.SendCommand(0x15, f));
    const auto reply = client.NextCommand();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->id, 0x11);
    EXPECT_EQ(reply->hr, 0x80004005u);
  }
  ServerOptions o = TestServer::Defaults();
  o.faults = "refuse-transport=1";
  TestServer refusing(o);
  MmsClient client(refusing.Mms());
  ASSERT_TRUE(client.Connect() && client.Timing(0, 1));
  EXPECT_TRUE(client.Transport("\\\\127.0.0.1\\TCP\\1", 0x03));
}

TEST(MmsTcp, PasswordChallengeRefusesWrongAndAcceptsRightCredentials) {
  QOR_NEED_SAMPLES();
  TestServer server;
  MmsClient client(server.Mms());
  ASSERT_TRUE(client.Connect() && client.Timing(0, 1) && client.Transport("\\\\127.0.0.1\\TCP\\1"));
  Bytes open;
  PutU32(open, 1);
  PutU32(open, 0xFFFFFFFF);
  PutU32(open, 0);
  PutU32(open, 0);
  PutUtf16(open, "clip.wmv?password=ann:secret", true);
  ASSERT_TRUE(client.SendCommand(0x05, open));
  auto challenge = client.NextCommand();
  ASSERT_TRUE(challenge);
  EXPECT_EQ(challenge->id, 0x1A);
  auto answer = [&](const std::string& credentials) {
    Bytes f;
    PutU32(f, 1);
    PutU32(f, 1);
    PutU32(f, static_cast<uint32_t>(credentials.size() + 5));
    f.insert(f.end(), credentials.begin(), credentials.end());
    PutU32(f, 0);
    return client.SendCommand(0x1A, f);
  };
  ASSERT_TRUE(answer(Base64Coder::EncodeString("ann:wrong")));
  challenge = client.NextCommand();
  ASSERT_TRUE(challenge);
  EXPECT_EQ(challenge->id, 0x1A);
  ASSERT_TRUE(answer(Base64Coder::EncodeString("ann:secret")));
  const auto opened = client.NextCommand();
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->id, 0x06);
  EXPECT_EQ(opened->hr, 0u);
}

TEST(MmsTcpFaults, DisconnectUnknownUnitsAndLyingLengths) {
  QOR_NEED_SAMPLES();
  TestServer server;
  {
    MmsClient client(server.Mms());
    ASSERT_TRUE(client.HandshakeTcp("clip.wmv?disconnect=7"));
    std::optional<MmsUnit> end;
    EXPECT_EQ(MediaUntilEnd(client, &end).size(), 7u);
    EXPECT_FALSE(end.has_value());
    EXPECT_TRUE(client.Tcp().PeerClosed());
  }
  {
    MmsClient client(server.Mms());
    ASSERT_TRUE(client.HandshakeTcp("clip.wmv?unknown-tag=2&unknown-command=4&bad-length=6"));
    std::vector<std::string> seen;
    for (int i = 0; i < 12; ++i) {
      const auto unit = client.Next();
      ASSERT_TRUE(unit);
      if (unit->command)
        seen.push_back("command " + std::to_string(unit->id));
      else if (unit->bytes.size() == 8)
        seen.push_back("short " + std::to_string(Reader(unit->bytes).U16(6)));
      else
        seen.push_back("tag " + std::to_string(unit->tag));
      if (seen.back() == "short 4") break;
    }
    const std::vector<std::string> expected = {"tag 4",       "tag 4", "tag 3", "tag 4",  "tag 4",
                                               "command 119", "tag 4", "tag 4", "short 4"};
    EXPECT_EQ(seen, expected);
  }
}

TEST(MmsTcpFaults, CutHeaderClosesInsideTheHeaderAndStallPauses) {
  QOR_NEED_SAMPLES();
  TestServer server;
  {
    MmsClient client(server.Mms());
    ASSERT_TRUE(client.Connect() && client.Timing(0, 1) &&
                client.Transport("\\\\127.0.0.1\\TCP\\1") && client.Open("clip.wmv?cut-header=1"));
    EXPECT_TRUE(client.Header().empty());
    EXPECT_TRUE(client.Tcp().PeerClosed());
  }
  MmsClient client(server.Mms());
  ASSERT_TRUE(client.HandshakeTcp("clip.wmv?stall=1.5&stall-after=3"));
  std::vector<std::chrono::steady_clock::time_point> times;
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(client.Next(30s));
    times.push_back(std::chrono::steady_clock::now());
  }
  EXPECT_GE(times[3] - times[2], 1400ms);
}

TEST(MmsLive, PlayListAnnouncesBroadcastAndChangesEntries) {
  QOR_NEED_SAMPLES();
  ServerOptions o = TestServer::Defaults();
  o.lives.push_back({"radio", {SampleDir() + "/audio.wma", SampleDir() + "/clip.wmv"}});
  o.rate = 0;
  TestServer server(o);
  MmsClient client(server.Mms());
  ASSERT_TRUE(client.Connect() && client.Timing(0, 1) && client.Transport("\\\\127.0.0.1\\TCP\\1"));
  Bytes reply;
  ASSERT_TRUE(client.Open("radio", nullptr, &reply));
  const uint32_t attributes = Reader(reply).U32(60);
  EXPECT_EQ(attributes & 0x46000000u, 0x46000000u);  // broadcast, live, play list
  EXPECT_EQ(Reader(reply).U64(96), 0u);
  ASSERT_FALSE(client.Header().empty());
  ASSERT_TRUE(client.SelectStreams() && client.Start());
  std::vector<std::string> events;
  uint32_t previous = 0;
  bool seen = false, continuous = true;
  for (int i = 0; i < 2000 && events.size() < 3; ++i) {
    const auto unit = client.NextCommand();
    ASSERT_TRUE(unit);
    if (unit->command) {
      events.push_back(std::to_string(unit->id) + "/" + std::to_string(unit->hr));
    } else if (unit->tag == 2) {
      if (unit->flags == 0x0C || unit->flags == 0x08) events.push_back("header");
    } else {
      EXPECT_GE(unit->locationId, 1000u);
      if (seen && unit->locationId != previous + 1) continuous = false;
      previous = unit->locationId;
      seen = true;
    }
  }
  EXPECT_EQ(events, (std::vector<std::string>{"30/1", "32/0", "header"}));
  EXPECT_TRUE(continuous);
}

}  // namespace
}  // namespace qor::server::testing
