// Whole downloads over MMS over HTTP from the real qor-server on loopback: what reaches the file,
// what the log says, and how the file is finished.

#include <gtest/gtest.h>

#include <cmath>

#include "session/session_harness.h"
#include "session/session_test_support.h"

namespace qor::testing {
namespace {

using namespace std::chrono_literals;

class HttpDownload : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = NewTempFolder(); }
  std::string Saved(const std::string& name) const { return folder_ + "/" + name; }

  // Downloads `path` completely into `saved`; returns the harness for inspection.
  void DownloadCompletely(ServerProcess& server, const std::string& path, const std::string& saved,
                          SessionHarness& h) {
    h.NewHttpSession(server.HttpPort(), path, saved);
    ASSERT_TRUE(h.Run());
    ASSERT_EQ(h.CountCode(mcCompleted), 1) << "download did not complete";
    ASSERT_EQ(h.CountCode(mcFatal), 0);
  }

  static void ExpectSamePackets(const AsfLayout& source, const AsfLayout& copy) {
    ASSERT_FALSE(source.packets.empty());
    ASSERT_EQ(copy.packetSize, source.packetSize);
    ASSERT_EQ(copy.packets.size(), source.packets.size());
    for (size_t i = 0; i < source.packets.size(); ++i)
      ASSERT_EQ(copy.packets[i], source.packets[i]) << "packet " << i << " differs";
  }

  std::string folder_;
};

TEST_F(HttpDownload, PrerecordedClipHoldsEverySourcePacketAndIsFinished) {
  auto server = StartServer();
  ASSERT_TRUE(server->Running());
  SessionHarness h;
  const std::string saved = Saved("clip.asf");
  DownloadCompletely(*server, "clip.wmv", saved, h);

  // The log follows the two connections in order; completion is an empty pair.
  const std::string port = std::to_string(server->HttpPort());
  EXPECT_TRUE(InOrder(
      h.Texts(),
      {"Connecting...", "Resolving DNS IP address, please wait...", "CONNECTED at: \t*",
       "Server Address: \t127.0.0.1", "Server Port: \t" + port, "Local Address: \t127.0.0.1",
       "Local HTTP Port \t*", "Initialising streaming protocol, waiting for reply...",
       "- Header received and saving", "- Extracting header object data...",
       "- Data extracted ok, receiving streams...", "Connecting...", "CONNECTED at: \t*",
       "Initialising streaming protocol, waiting for reply...", ""}));
  for (const MessagePair& p : h.Log()) {
    if (p.text == "- Data extracted ok, receiving streams...") {
      EXPECT_EQ(p.code, mcNotice | mcStarted);
    }
    EXPECT_EQ(p.source, h.Session().Source) << p.text;
  }
  EXPECT_EQ(h.Session().Status().StreamKind, skPrerecorded);
  // The describe connection ends by design once it has answered: no disconnection to report.
  EXPECT_FALSE(InOrder(h.Texts(), {"Disconnected", "Connecting..."}));

  ASSERT_TRUE(h.Finished());
  EXPECT_TRUE(h.Finish().header && h.Finish().timecode && h.Finish().index && h.Finish().closed);
  const AsfLayout source = ReadAsfLayout(SampleMedia("clip.wmv"));
  const AsfLayout copy = ReadAsfLayout(saved);
  ExpectSamePackets(source, copy);
  EXPECT_EQ(copy.declaredPackets, source.packets.size());
  EXPECT_EQ(h.Session().Status().PacketNumber + 1, static_cast<int32_t>(source.packets.size()));

  const double sourceSeconds = FfprobeDuration(SampleMedia("clip.wmv"));
  const double copySeconds = FfprobeDuration(saved);
  ASSERT_GT(copySeconds, 0);
  EXPECT_NEAR(copySeconds, sourceSeconds, 0.5);
  EXPECT_EQ(FfprobePacketCount(saved), FfprobePacketCount(SampleMedia("clip.wmv")));
}

TEST_F(HttpDownload, StrippedPaddingIsRestoredByteForByte) {
  auto server = StartServer({"--strip-padding"});
  ASSERT_TRUE(server->Running());
  for (const char* name : {"clip.wmv", "audio.wma", "twovideo.asf"}) {
    SCOPED_TRACE(name);
    SessionHarness h;
    const std::string saved = Saved(std::string("stripped-") + name);
    DownloadCompletely(*server, name, saved, h);
    ExpectSamePackets(ReadAsfLayout(SampleMedia(name)), ReadAsfLayout(saved));
  }
}

TEST_F(HttpDownload, OffsetStartAsksForThatStreamTime) {
  auto server = StartServer({"--log-requests", "-"});
  ASSERT_TRUE(server->Running());
  SessionHarness h;
  const std::string saved = Saved("offset.asf");
  h.NewHttpSession(server->HttpPort(), "clip.wmv", saved, false, 3000);
  ASSERT_TRUE(h.Run());
  EXPECT_EQ(h.CountCode(mcCompleted), 1);
  EXPECT_TRUE(server->WaitForOutput("stream-time=3000", 10s)) << server->Output();
  // The saved part starts at time 0 and holds fewer packets than the whole clip.
  const AsfLayout copy = ReadAsfLayout(saved);
  const AsfLayout source = ReadAsfLayout(SampleMedia("clip.wmv"));
  ASSERT_FALSE(copy.packets.empty());
  EXPECT_LT(copy.packets.size(), source.packets.size());
  AsfPacketTimes first;
  ASSERT_TRUE(ReadAsfPacketTimes(copy.packets[0].data(), copy.packets[0].size(), first));
  EXPECT_EQ(first.sendTime, 0u);
}

TEST_F(HttpDownload, ResumedDownloadEqualsAnUninterruptedOne) {
  auto server = StartServer();
  ASSERT_TRUE(server->Running());
  const std::string saved = Saved("resumed.asf");
  {
    // The server drops the connection after 20 packets: the session ends, the file is finished.
    SessionHarness h;
    h.NewHttpSession(server->HttpPort(), "clip.wmv?disconnect=20", saved);
    ASSERT_TRUE(h.Run(60s));
    ASSERT_TRUE(h.Finish().header);
    EXPECT_EQ(h.CountCode(mcCompleted), 0);
  }
  const size_t partial = ReadAsfLayout(saved).packets.size();
  const AsfLayout source = ReadAsfLayout(SampleMedia("clip.wmv"));
  ASSERT_EQ(partial, 20u);
  ASSERT_LT(partial, source.packets.size());

  SessionHarness h;
  h.NewHttpSession(server->HttpPort(), "clip.wmv", saved, true);
  ASSERT_TRUE(h.Run());
  EXPECT_EQ(h.CountCode(mcCompleted), 1);
  EXPECT_TRUE(h.Logged("- Header received but not saved, resuming session"));
  EXPECT_GT(h.Session().Status().PacketNumber, 20);
  ExpectSamePackets(source, ReadAsfLayout(saved));
  EXPECT_NEAR(FfprobeDuration(saved), FfprobeDuration(SampleMedia("clip.wmv")), 0.5);
}

TEST_F(HttpDownload, ResumeAgainstADifferentClipIsRefusedAndLeavesTheFileAlone) {
  auto server = StartServer();
  ASSERT_TRUE(server->Running());
  const std::string saved = Saved("other.asf");
  {
    SessionHarness h;
    DownloadCompletely(*server, "twovideo.asf", saved, h);
  }
  const std::vector<uint8_t> before = ReadWholeFile(saved);
  SessionHarness h;
  h.NewHttpSession(server->HttpPort(), "clip.wmv", saved, true);
  ASSERT_TRUE(h.Run());
  EXPECT_TRUE(h.Logged("Cannot resume: the server's header does not match the file"));
  EXPECT_EQ(h.CountCode(mcCompleted), 0);
  EXPECT_EQ(ReadWholeFile(saved), before);
}

TEST_F(HttpDownload, PlainFileDownloadsToTheLastByteAndCompletesSilently) {
  auto server = StartServer();
  ASSERT_TRUE(server->Running());
  SessionHarness h;
  const std::string saved = Saved("plain.wmv");
  h.NewHttpSession(server->HttpPort(), "plain.wmv", saved);
  ASSERT_TRUE(h.Run());
  EXPECT_EQ(h.CountCode(mcCompleted), 1);
  EXPECT_EQ(h.CountCode(mcStarted), 1);
  EXPECT_TRUE(h.Logged("HTTP: Media is simple progressive http downloading..."));
  EXPECT_FALSE(h.Logged("Disconnected"));
  EXPECT_EQ(h.Log().back().text, "");
  EXPECT_EQ(h.Log().back().code, mcCompleted);
  EXPECT_EQ(h.Session().Status().StreamKind, skProgressive);
  EXPECT_FALSE(h.Finish().fixedUp);
  EXPECT_EQ(ReadWholeFile(saved), ReadWholeFile(ServedFolder() + "/plain.wmv"));
}

TEST_F(HttpDownload, PlainFileCutShortKeepsWhatArrived) {
  auto server = StartServer();
  ASSERT_TRUE(server->Running());
  SessionHarness h;
  const std::string saved = Saved("plain-cut.wmv");
  h.NewHttpSession(server->HttpPort(), "plain.wmv?disconnect=100000", saved);
  ASSERT_TRUE(h.Run());
  const std::vector<uint8_t> whole = ReadWholeFile(ServedFolder() + "/plain.wmv");
  const std::vector<uint8_t> got = ReadWholeFile(saved);
  ASSERT_EQ(got.size(), 100000u);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), whole.begin()));
}

}  // namespace
}  // namespace qor::testing
