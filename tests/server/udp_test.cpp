// MMS with UDP data: datagram sequences, timing packets, and the faults a resend has to repair.

#include <gtest/gtest.h>

#include <map>

#include "data_units.h"
#include "media_source.h"
#include "server_test_support.h"

namespace qor::server::testing {
namespace {

struct UdpRun {
  std::vector<Bytes> datagrams;  // in arrival order
  uint32_t clientId = 0;
  size_t packetCount = 0;
};

// Plays clip.wmv with UDP data and collects datagrams until the end-of-stream reply has come and
// the socket has been quiet for a while.
void PlayOverUdp(MmsClient& client, UdpClient& udp, const std::string& name, UdpRun& run,
                 uint32_t timingWord = 0) {
  std::string error;
  run.packetCount = MediaSource::Load(SampleDir() + "/clip.wmv", error)->PacketCount();
  ASSERT_TRUE(client.Connect());
  ASSERT_TRUE(client.Timing(timingWord, 1, &run.clientId));
  ASSERT_TRUE(client.Transport("\\\\127.0.0.1\\UDP\\" + std::to_string(udp.Port())));
  ASSERT_TRUE(client.Open(name));
  ASSERT_FALSE(client.Header().empty());
  ASSERT_TRUE(client.SelectStreams() && client.Start());
  bool ended = false;
  while (!ended) {
    while (auto d = udp.Receive(50ms)) run.datagrams.push_back(*d);
    if (client.Tcp().ReadAtLeast(client.Tcp().Received().size() + 1, 10ms)) {
      // Only replies travel on TCP now; the end of stream is the one we wait for.
      auto unit = client.NextCommand(1s);
      if (unit && unit->command && unit->id == 0x1E) ended = true;
    }
  }
  while (auto d = udp.Receive(1s)) run.datagrams.push_back(*d);
}

std::map<uint32_t, Bytes> BySequence(const UdpRun& run, size_t* timing = nullptr) {
  std::map<uint32_t, Bytes> out;
  for (const auto& d : run.datagrams) {
    DataPacketView v;
    if (!ParseDataPacket(d.data(), d.size(), v)) continue;
    if (v.tag == kTagTiming) {
      if (timing != nullptr) ++*timing;
      continue;
    }
    out[v.locationId] = d;  // location id = datagram sequence for a play from the start
  }
  return out;
}

ServerOptions UdpOptions() {
  ServerOptions o = TestServer::Defaults();
  o.rate = 2;  // paced, so no datagram is lost to a full socket buffer
  return o;
}

TEST(MmsUdp, DatagramsCarryTheirSequenceAndTimingPacketsComeWhenAsked) {
  QOR_NEED_SAMPLES();
  TestServer server(UdpOptions());
  MmsClient client(server.Mms());
  UdpClient udp;
  UdpRun run;
  PlayOverUdp(client, udp, "clip.wmv", run, 0xF0F0F901);
  size_t timing = 0;
  const auto got = BySequence(run, &timing);
  EXPECT_EQ(timing, 4u);
  ASSERT_EQ(got.size(), run.packetCount);
  for (const auto& [sequence, d] : got) {
    EXPECT_EQ(d[4], kTagMedia);
    EXPECT_EQ(d[5], static_cast<uint8_t>(sequence));
  }
}

TEST(MmsUdp, DroppedDatagramsArriveOnlyWhenTheirResendIsAsked) {
  QOR_NEED_SAMPLES();
  TestServer server(UdpOptions());
  MmsClient client(server.Mms());
  UdpClient udp;
  UdpRun run;
  PlayOverUdp(client, udp, "clip.wmv?drop=0.1&seed=7", run);
  const auto got = BySequence(run);
  std::vector<uint32_t> missing;
  for (uint32_t s = 0; s < run.packetCount; ++s)
    if (got.count(s) == 0) missing.push_back(s);
  // About a tenth: between 1 and 25 of 73 with any seed is far outside chance.
  EXPECT_GE(missing.size(), 1u);
  EXPECT_LE(missing.size(), run.packetCount / 4);
  EXPECT_EQ(server.Log().Count("fault-drop"), missing.size());

  ASSERT_TRUE(udp.SendTo(server.Mms(), BuildResendRequest(run.clientId, missing)));
  std::map<uint32_t, Bytes> resent;
  while (resent.size() < missing.size()) {
    const auto d = udp.Receive(10s);
    ASSERT_TRUE(d) << "resend did not come";
    resent[Reader(*d).U32(0)] = *d;
  }
  for (uint32_t s : missing) {
    ASSERT_EQ(resent.count(s), 1u);
    EXPECT_EQ(resent[s][5], static_cast<uint8_t>(s));
  }
}

TEST(MmsUdp, ListedDropsWithoutResendsStayLost) {
  QOR_NEED_SAMPLES();
  TestServer server(UdpOptions());
  MmsClient client(server.Mms());
  UdpClient udp;
  UdpRun run;
  PlayOverUdp(client, udp, "clip.wmv?drop-list=2,5&resend=0", run);
  const auto got = BySequence(run);
  EXPECT_EQ(got.size(), run.packetCount - 2);
  EXPECT_EQ(got.count(2), 0u);
  EXPECT_EQ(got.count(5), 0u);
  ASSERT_TRUE(udp.SendTo(server.Mms(), BuildResendRequest(run.clientId, {2, 5})));
  EXPECT_TRUE(server.Log().WaitForLine("udp-resend 5 ignored", 10s));
  EXPECT_FALSE(udp.Receive(500ms).has_value());
}

TEST(MmsUdp, DuplicatesAndReorderingDeliverEveryDatagram) {
  QOR_NEED_SAMPLES();
  TestServer server(UdpOptions());
  {
    MmsClient client(server.Mms());
    UdpClient udp;
    UdpRun run;
    PlayOverUdp(client, udp, "clip.wmv?dup=1", run);
    EXPECT_EQ(run.datagrams.size(), 2 * run.packetCount);
    EXPECT_EQ(BySequence(run).size(), run.packetCount);
  }
  MmsClient client(server.Mms());
  UdpClient udp;
  UdpRun run;
  PlayOverUdp(client, udp, "clip.wmv?reorder=0.3&seed=3", run);
  EXPECT_EQ(BySequence(run).size(), run.packetCount);
  size_t late = 0;
  for (size_t i = 1; i < run.datagrams.size(); ++i)
    if (Reader(run.datagrams[i]).U32(0) < Reader(run.datagrams[i - 1]).U32(0)) ++late;
  EXPECT_GT(late, 0u);
  EXPECT_EQ(late, server.Log().Count("fault-reorder"));
}

}  // namespace
}  // namespace qor::server::testing
