// Whole downloads over MMS (media over TCP) from the real qor-server on loopback.

#include <gtest/gtest.h>

#include "session/mms_protocol.h"
#include "session/mms_test_support.h"

namespace qor::testing {
namespace {

using namespace std::chrono_literals;

TEST(MmsDownload, PrerecordedClipOverTcpSavesEveryPacket) {
  auto server = StartServer();
  ASSERT_TRUE(server->Running());
  const std::string saved = NewTempFolder() + "/clip.asf";
  SessionHarness h;
  NewMmsSession(h, server->MmsPort(), "clip.wmv", saved);
  ASSERT_TRUE(h.Run()) << LogText(h);
  EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  EXPECT_EQ(h.CountCode(mcFatal), 0) << LogText(h);
  EXPECT_TRUE(
      LoggedInOrder(h, {"- Requesting ASF header...waiting", "- Header notification received...",
                        "- Header received and saving", "- Extracting header object data...",
                        "- Data extracted ok, waiting for streams...", "", ""}))
      << LogText(h);
  const PacketMatch m = ComparePackets(SampleMedia("clip.wmv"), saved);
  ASSERT_GT(m.source, 0u);
  EXPECT_EQ(m.equal, m.source);
  EXPECT_EQ(m.saved, m.source);
  EXPECT_GT(FfprobePacketCount(saved), 0);
}

}  // namespace
}  // namespace qor::testing
