// MMS downloads with the media over UDP: lost datagrams asked for again, given up after the last
// attempt, and datagrams from strangers ignored.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "session/mms_commands.h"
#include "session/mms_protocol.h"
#include "session/mms_test_support.h"

namespace qor::testing {
namespace {

using namespace std::chrono_literals;

// How many lines of the server's request log contain text.
int CountLines(const std::string& output, const std::string& text) {
  int n = 0;
  for (size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + 1)) ++n;
  return n;
}

// Sequences the server logged after kind ("fault-drop 17").
std::vector<int> LoggedNumbers(const std::string& output, const std::string& kind) {
  std::vector<int> numbers;
  const std::regex line(kind + " ([0-9]+)");
  for (auto it = std::sregex_iterator(output.begin(), output.end(), line);
       it != std::sregex_iterator(); ++it)
    numbers.push_back(std::stoi((*it)[1]));
  return numbers;
}

// Sent from `from`, a loopback address (127.0.0.2 stands for another host).
void SendDatagram(int port, const std::vector<uint8_t>& bytes, const char* from = nullptr) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  if (from != nullptr) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ASSERT_EQ(inet_pton(AF_INET, from, &local.sin_addr), 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
            static_cast<ssize_t>(bytes.size()));
  close(fd);
}

class UdpDownload : public ::testing::Test {
 protected:
  // A clip long enough, in small packets, for the datagram count to pass 256 more than once.
  static void SetUpTestSuite() {
    folder_ = new std::string(NewTempFolder());
    const std::string command =
        "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "
        "testsrc2=size=320x240:rate=25 -f lavfi -i anoisesrc=d=6:r=22050:seed=5 -t 6 -c:v wmv2 "
        "-g 30 -b:v 400k -c:a wmav2 -b:a 64k -fflags +bitexact -flags:v +bitexact "
        "-flags:a +bitexact -packet_size 800 -f asf " +
        *folder_ + "/long.wmv";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    std::filesystem::remove_all(*folder_, ignored);
    delete folder_;
    folder_ = nullptr;
  }
  static std::string Long() { return *folder_ + "/long.wmv"; }
  // Paced at five times real time: the server keeps only its last 256 datagrams for resends,
  // and unpaced it would have moved on before a request could arrive.
  static std::unique_ptr<ServerProcess> LongServer() {
    return std::make_unique<ServerProcess>(
        QOR_SERVER_PROGRAM,
        std::vector<std::string>{"--root", *folder_, "--rate", "5", "--log-requests", "-"});
  }

  static std::string* folder_;
};
std::string* UdpDownload::folder_ = nullptr;

TEST_F(UdpDownload, PrerecordedClipOverUdpSavesEveryPacket) {
  auto server = StartServer({"--log-requests", "-"});
  ASSERT_TRUE(server->Running());
  const std::string saved = NewTempFolder() + "/clip.asf";
  SessionHarness h;
  TMMS& s = NewMmsSession(h, server->MmsPort(), "clip.wmv", saved, {.udp = true});
  ASSERT_TRUE(h.Run()) << LogText(h);
  EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  EXPECT_EQ(h.CountCode(mcFatal), 0) << LogText(h);
  EXPECT_TRUE(h.Logged("Local UDP Port \t" + std::to_string(s.UdpPort)));
  // Four timing datagrams, one message (unless loopback lost them while the receiver started).
  int timingMessages = 0;
  for (const MessagePair& p : h.Log())
    timingMessages += p.text == "- UDP timing packet pairs were received";
  EXPECT_LE(timingMessages, 1);
  // The transport text announces the UDP receiver's port, not the TCP connection's.
  EXPECT_NE(server->Output().find("\\UDP\\" + std::to_string(s.UdpPort)), std::string::npos)
      << server->Output();
  // Loopback may still drop a datagram under load; whatever was dropped came back.
  EXPECT_EQ(s.Status().LostPackets, 0u);
  // With nothing asked for again the resend tick never ran (it starts at the first gap).
  if (s.Status().RecoveredPackets == 0) {
    EXPECT_FALSE(s.ResendTickEverRan()) << "the resend tick ran with nothing to ask for";
  }
  const PacketMatch m = ComparePackets(SampleMedia("clip.wmv"), saved);
  ASSERT_GT(m.source, 0u);
  EXPECT_EQ(m.equal, m.source) << LogText(h) << server->Output();
  EXPECT_GT(FfprobePacketCount(saved), 0);
}

TEST_F(UdpDownload, DroppedDatagramsAreResentPastTheWrap) {
  auto server = LongServer();
  ASSERT_TRUE(server->Running());
  const std::string saved = NewTempFolder() + "/long.asf";
  SessionHarness h;
  TMMS& s = NewMmsSession(h, server->MmsPort(), "long.wmv?drop=0.05&seed=7", saved, {.udp = true});
  ASSERT_TRUE(h.Run()) << LogText(h);
  EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  const std::vector<int> dropped = LoggedNumbers(server->Output(), "fault-drop");
  ASSERT_FALSE(dropped.empty());
  ASSERT_GT(*std::max_element(dropped.begin(), dropped.end()), 300)
      << "the clip is too short" << LogText(h) << server->Output();
  // Each dropped datagram was asked for by its whole number and arrived late.
  for (int d : dropped)
    EXPECT_GE(CountLines(server->Output(), "udp-resend " + std::to_string(d) + " answered"), 1)
        << d;
  // Late arrivals: at least every dropped one; a datagram asked for twice may come twice.
  EXPECT_GE(s.Status().RecoveredPackets, dropped.size());
  EXPECT_LE(s.Status().RecoveredPackets,
            static_cast<size_t>(CountLines(server->Output(), " answered")));
  EXPECT_EQ(s.Status().LostPackets, 0u);
  const PacketMatch m = ComparePackets(Long(), saved);
  ASSERT_GT(m.source, 300u);
  EXPECT_EQ(m.equal, m.source);
  EXPECT_GT(FfprobePacketCount(saved), 0);
}

// Datagram 300 never comes: one request when the gap is seen, five from the scan, then one
// message; every other packet is saved.
TEST_F(UdpDownload, ADatagramNeverResentIsGivenUpOnce) {
  auto server = LongServer();
  ASSERT_TRUE(server->Running());
  const std::string saved = NewTempFolder() + "/long.asf";
  SessionHarness h;
  TMMS& s = NewMmsSession(h, server->MmsPort(),
                          "long.wmv?drop-list=300&resend=0&stall=30&stall-after=320", saved,
                          {.udp = true});
  const std::string gaveUp = "TMMS: UDP resend failed at seq: 44 at time point: ";
  auto givenUp = [&] {
    for (const MessagePair& p : h.Log())
      if (p.text.rfind(gaveUp, 0) == 0) return true;
    return false;
  };
  ASSERT_TRUE(h.Run(60s, givenUp)) << LogText(h);
  // One more full scan: no seventh request, no second message.
  const auto settle = std::chrono::steady_clock::now() + 2500ms;
  h.RunUntil([&] { return std::chrono::steady_clock::now() > settle; }, 10s);
  h.Abort();
  EXPECT_EQ(s.Status().LostPackets, 1u);
  h.EndSession();
  EXPECT_EQ(CountLines(server->Output(), "udp-resend 300 "), 6) << server->Output();
  int messages = 0;
  for (const MessagePair& p : h.Log()) {
    if (p.text.rfind(gaveUp, 0) == 0) {
      ++messages;
      EXPECT_EQ(p.code, mcMedia);
    }
  }
  EXPECT_EQ(messages, 1);
  const PacketMatch m = ComparePackets(Long(), saved);
  ASSERT_GE(m.saved, 320u);
  for (size_t i = 0; i < 320; ++i) {
    const bool differs = std::find(m.differing.begin(), m.differing.end(), i) != m.differing.end();
    EXPECT_EQ(differs, i == 300) << i;
  }
}

// A burst longer than half the 8-bit sequence reads as late packets, and a lost tail has no
// datagram behind it: neither is ever asked for, and the end of the stream says how many packets
// the file lacks instead of passing for a whole download.
TEST_F(UdpDownload, LossesTheSequenceCannotSeeAreReportedAtTheEnd) {
  const size_t packets = ReadAsfLayout(Long()).packets.size();
  ASSERT_GT(packets, 550u);
  std::string dropped;
  for (size_t i = 300; i < 500; ++i) dropped += std::to_string(i) + ",";
  for (size_t i = packets - 3; i < packets; ++i) dropped += std::to_string(i) + ",";
  dropped.pop_back();
  auto server = LongServer();
  ASSERT_TRUE(server->Running());
  const std::string saved = NewTempFolder() + "/long.asf";
  SessionHarness h;
  TMMS& s = NewMmsSession(h, server->MmsPort(), "long.wmv?resend=0&drop-list=" + dropped, saved,
                          {.udp = true});
  ASSERT_TRUE(h.Run()) << LogText(h);
  EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  // The lost tail is asked for at the end (and given up, resends being ignored); the burst is
  // longer than the sequence can tell and is only found by the count.
  EXPECT_TRUE(h.Logged("Warning, packets that never arrived are missing from the file: 200"))
      << LogText(h);
  EXPECT_EQ(s.Status().LostPackets, 203u);
  const PacketMatch m = ComparePackets(Long(), saved);
  EXPECT_EQ(m.source - m.differing.size(), packets - 203);
}

// The first datagram is lost and comes back after later ones: the file is numbered from the
// first datagram the server sent, so it takes its place before them (never over the header).
TEST_F(UdpDownload, AResentFirstDatagramTakesItsPlace) {
  auto server = StartServer({"--log-requests", "-"});
  ASSERT_TRUE(server->Running());
  const std::string saved = NewTempFolder() + "/clip.asf";
  SessionHarness h;
  TMMS& s = NewMmsSession(h, server->MmsPort(), "clip.wmv?drop-list=0", saved, {.udp = true});
  ASSERT_TRUE(h.Run()) << LogText(h);
  EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  // Asked for when the gap is seen, maybe once more by the scan before it came.
  const int answered = CountLines(server->Output(), "udp-resend 0 answered");
  EXPECT_GE(answered, 1) << server->Output();
  EXPECT_FALSE(h.Logged("Warning, a packet with an invalid index was dropped: -1")) << LogText(h);
  EXPECT_GE(s.Status().RecoveredPackets, 1u);
  EXPECT_EQ(s.Status().LostPackets, 0u);
  const AsfLayout source = ReadAsfLayout(SampleMedia("clip.wmv"));
  const AsfLayout copy = ReadAsfLayout(saved);
  ASSERT_EQ(copy.headerLength, source.headerLength);  // the header is intact
  EXPECT_EQ(copy.packets.size(), source.packets.size());
  const PacketMatch m = ComparePackets(SampleMedia("clip.wmv"), saved);
  EXPECT_EQ(m.equal, m.source);  // the first key frame included
  EXPECT_GT(FfprobePacketCount(saved), 0);
}

// Anyone can send to the data port. A command message there (here a forged end of stream) or a
// datagram whose length field lies must not reach the loop.
TEST_F(UdpDownload, DatagramsThatAreNotDataPacketsAreIgnored) {
  auto server = StartServer({"--log-requests", "-"});
  ASSERT_TRUE(server->Running());
  const std::string saved = NewTempFolder() + "/clip.asf";
  SessionHarness h;
  TMMS& s =
      NewMmsSession(h, server->MmsPort(), "clip.wmv?stall=2&stall-after=3", saved, {.udp = true});
  ASSERT_TRUE(h.Run(60s, [&] { return h.CountCode(mcStarted) == 1; })) << LogText(h);
  mms::Bytes fields;
  mms::PutU32(fields, 0);  // result
  mms::PutU32(fields, 0);  // second word
  mms::Bytes forged = mms::BuildCommand(0x1E, fields, mms::Placement::First, {}, {}, 0);
  SendDatagram(s.UdpPort, forged);
  std::vector<uint8_t> lying = {0, 0, 0, 0, 0x04, 0x00, 0x60, 0xEA};  // claims 60 000 bytes
  lying.resize(100, 0x55);
  SendDatagram(s.UdpPort, lying);
  std::vector<uint8_t> tiny = {9, 0, 0, 0, 0x04, 0x00, 0x04, 0x00};  // shorter than its header
  SendDatagram(s.UdpPort, tiny);
  ASSERT_TRUE(h.RunUntil([&] { return h.Ended(); })) << LogText(h);
  EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  EXPECT_EQ(h.CountCode(mcFatal), 0) << LogText(h);
  const PacketMatch m = ComparePackets(SampleMedia("clip.wmv"), saved);
  EXPECT_EQ(m.equal, m.source);
  EXPECT_EQ(m.saved, m.source);
}

// A media datagram: the packet number, tag 4, the 8-bit sequence, the length, then the payload.
std::vector<uint8_t> ForgedMediaDatagram(uint32_t number, size_t payload) {
  std::vector<uint8_t> d = {static_cast<uint8_t>(number),
                            static_cast<uint8_t>(number >> 8),
                            static_cast<uint8_t>(number >> 16),
                            static_cast<uint8_t>(number >> 24),
                            0x04,
                            static_cast<uint8_t>(number)};
  const size_t length = payload + 8;
  d.push_back(static_cast<uint8_t>(length));
  d.push_back(static_cast<uint8_t>(length >> 8));
  d.resize(length, 0x5A);
  return d;
}

// Well-formed media datagrams that are not the server's: from another host, and from the
// server's own host but another port, carrying packets already saved (with other bytes) or a
// number far past the end. None of them reaches the file.
TEST_F(UdpDownload, MediaDatagramsFromAnyoneButTheServerAreIgnored) {
  auto server = StartServer({"--log-requests", "-"});
  ASSERT_TRUE(server->Running());
  const std::string saved = NewTempFolder() + "/clip.asf";
  SessionHarness h;
  TMMS& s =
      NewMmsSession(h, server->MmsPort(), "clip.wmv?stall=2&stall-after=3", saved, {.udp = true});
  ASSERT_TRUE(h.Run(60s, [&] { return s.Status().PacketNumber >= 2; })) << LogText(h);
  const size_t packetSize = ReadAsfLayout(SampleMedia("clip.wmv")).packetSize;
  SendDatagram(s.UdpPort, ForgedMediaDatagram(1, packetSize), "127.0.0.2");
  for (uint32_t number : {1u, 2u, 20000u})
    SendDatagram(s.UdpPort, ForgedMediaDatagram(number, packetSize), "127.0.0.1");
  ASSERT_TRUE(h.RunUntil([&] { return h.Ended(); })) << LogText(h);
  EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  EXPECT_EQ(s.Status().LostPackets, 0u);
  const PacketMatch m = ComparePackets(SampleMedia("clip.wmv"), saved);
  EXPECT_EQ(m.equal, m.source) << LogText(h);
  EXPECT_EQ(m.saved, m.source) << LogText(h);
}

}  // namespace
}  // namespace qor::testing

namespace qor::testing {
namespace {

TEST(UdpLive, PlayListChangeOverUdpWritesNothingOfTheNextEntry) {
  // Paced, as a live server is: unpaced, the change on the control connection would overtake
  // the whole first entry's datagrams.
  auto server = StartServer({"--log-requests", "-", "--rate", "5", "--live",
                             "radio=" + SampleMedia("audio.wma") + "," + SampleMedia("clip.wmv")});
  ASSERT_TRUE(server->Running());
  const std::string saved = NewTempFolder() + "/radio.asf";
  SessionHarness h;
  NewMmsSession(h, server->MmsPort(), "radio", saved, {.udp = true});
  ASSERT_TRUE(h.Run()) << LogText(h);
  EXPECT_EQ(h.CountCode(mcNewTrack), 1) << LogText(h);
  EXPECT_EQ(h.CountCode(mcCompleted), 0) << LogText(h);
  int headers = 0;
  for (const MessagePair& p : h.Log()) headers += p.text == "- Header received and saving";
  EXPECT_EQ(headers, 1) << LogText(h) << server->Output();
  const AsfLayout copy = ReadAsfLayout(saved);
  const AsfLayout first = ReadAsfLayout(SampleMedia("audio.wma"));
  EXPECT_EQ(copy.packetSize, first.packetSize);
  EXPECT_GT(copy.packets.size(), 0u);
  EXPECT_LE(copy.packets.size(), first.packets.size());
}

}  // namespace
}  // namespace qor::testing

namespace qor::testing {
namespace {

// A live stream has no packet count: a number far ahead of the last one taken is refused, or one
// datagram would make a file of holes as long as its number.
}  // namespace
}  // namespace qor::testing
