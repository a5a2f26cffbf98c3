// Live broadcasts over MMS over HTTP from qor-server: recording, aborting, play-list changes and
// the refusals that only apply to live streams.

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "asf/asf.h"
#include "session/session_harness.h"
#include "session/session_test_support.h"

namespace qor::testing {
namespace {

using namespace std::chrono_literals;

std::string Live(const std::string& channel, const std::vector<std::string>& files) {
  std::string arg = channel + "=";
  for (size_t i = 0; i < files.size(); ++i) arg += (i ? "," : "") + SampleMedia(files[i]);
  return arg;
}

TEST(HttpLive, RecordingAbortedAfterAFewSecondsIsFinishedAndPlays) {
  auto server = StartServer({"--live", Live("radio", {"clip.wmv"}), "--rate", "1"});
  ASSERT_TRUE(server->Running());
  const std::string saved = NewTempFolder() + "/live.asf";
  SessionHarness h;
  h.NewHttpSession(server->HttpPort(), "radio", saved);
  ASSERT_TRUE(h.Run(60s, [&] { return h.Session().Status().SendTime >= 2500; }));
  EXPECT_EQ(h.Session().Status().StreamKind, skLive);
  h.Abort();
  h.EndSession();
  EXPECT_EQ(h.CountCode(mcFatal), 0);
  ASSERT_TRUE(h.Finish().fixedUp);
  EXPECT_TRUE(h.Finish().header && h.Finish().timecode && h.Finish().index && h.Finish().closed);

  const AsfLayout copy = ReadAsfLayout(saved);
  ASSERT_GT(copy.packets.size(), 5u);
  EXPECT_EQ(copy.declaredPackets, copy.packets.size());
  AsfPacketTimes first;
  ASSERT_TRUE(ReadAsfPacketTimes(copy.packets[0].data(), copy.packets[0].size(), first));
  EXPECT_EQ(first.sendTime, 0u);
  EXPECT_GT(FfprobeDuration(saved), 2.0);
  EXPECT_GT(FfprobePacketCount(saved), 10);
}

TEST(HttpLive, PlayListChangeEndsTheFileWithOnlyItsOwnPackets) {
  auto server = StartServer({"--live", Live("list", {"clip.wmv", "twovideo.asf"}), "--rate", "6"});
  ASSERT_TRUE(server->Running());
  const std::string saved = NewTempFolder() + "/first.asf";
  SessionHarness h;
  h.NewHttpSession(server->HttpPort(), "list", saved);
  ASSERT_TRUE(h.Run(60s));
  ASSERT_EQ(h.CountCode(mcNewTrack), 1);
  // The end of the entry (reason 1) announces the change; it is not a completion.
  EXPECT_EQ(h.CountCode(mcCompleted), 0);
  h.EndSession();

  // The file starts with the first entry's header (one video and one audio stream) and holds
  // only packets written before the change, each a whole readable packet.
  TASF header;
  ASSERT_TRUE(header.ReadHeaderFromFile(saved));
  ASSERT_EQ(header.StreamCount, 2u);
  EXPECT_TRUE((header.StreamKinds[0] | header.StreamKinds[1]) & skAudio);
  const AsfLayout copy = ReadAsfLayout(saved);
  ASSERT_FALSE(copy.packets.empty());
  EXPECT_LE(copy.packets.size(), ReadAsfLayout(SampleMedia("clip.wmv")).packets.size());
  for (const auto& packet : copy.packets) {
    AsfPacketTimes times;
    EXPECT_TRUE(ReadAsfPacketTimes(packet.data(), packet.size(), times));
  }
  EXPECT_GT(FfprobePacketCount(saved), 0);
}

// The play list moved on between the describe and the play request: the play answers with the
// other entry's header, and the recording is that entry's, whole.
TEST(HttpLive, PlayAnsweredWithAnotherEntrysHeaderRecordsThatEntry) {
  auto server = StartServer({"--live", Live("show", {"audio.wma", "clip.wmv"}), "--rate", "1"});
  ASSERT_TRUE(server->Running());
  const std::string saved = NewTempFolder() + "/show.asf";
  SessionHarness h;
  h.NewHttpSession(server->HttpPort(), "show?describe-behind=1", saved);
  ASSERT_TRUE(h.Run(60s, [&] { return h.Session().Status().SendTime >= 1500; }));
  EXPECT_EQ(h.Session().Asf->StreamCount, 1u);
  h.Abort();
  h.EndSession();
  EXPECT_EQ(h.CountCode(mcFatal), 0);
  ASSERT_TRUE(h.Finish().fixedUp);

  TASF header;
  ASSERT_TRUE(header.ReadHeaderFromFile(saved));
  EXPECT_EQ(header.StreamCount, 1u);
  const AsfLayout copy = ReadAsfLayout(saved);
  ASSERT_GT(copy.packets.size(), 2u);
  EXPECT_EQ(copy.declaredPackets, copy.packets.size());
  EXPECT_GT(FfprobeDuration(saved), 1.0);
  EXPECT_GT(FfprobePacketCount(saved), 5);
}

// A server that holds the streams chosen, by number, for every entry answers a play request
// made from the entry before with the next entry's header: asked again with that header's
// streams, the file holds every stream of the entry it records.
TEST(HttpLive, APlayAnsweredWithAnotherHeaderIsAskedAgainForItsStreams) {
  auto server = StartServer({"--live", Live("show", {"clip.wmv", "audio.wma"}), "--rate", "1"});
  ASSERT_TRUE(server->Running());
  const std::string saved = NewTempFolder() + "/show.asf";
  SessionHarness h;
  h.NewHttpSession(server->HttpPort(), "show?describe-behind=1&sticky-choice=1", saved);
  ASSERT_TRUE(h.Run(60s, [&] { return h.Session().Status().SendTime >= 1500; }));
  h.Abort();
  h.EndSession();
  EXPECT_TRUE(h.Logged("- The stream's header changed since it was asked for: asking again"));
  TASF header;
  ASSERT_TRUE(header.ReadHeaderFromFile(saved));
  ASSERT_EQ(header.StreamCount, 2u);
  // ffprobe's packets per stream: none may be empty.
  FILE* probe = popen(("ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of "
                       "csv=p=0 '" +
                       saved + "'")
                          .c_str(),
                      "r");
  ASSERT_NE(probe, nullptr);
  std::vector<int> counts;
  int count = 0;
  while (std::fscanf(probe, "%d", &count) == 1) counts.push_back(count);
  pclose(probe);
  ASSERT_EQ(counts.size(), 2u);
  EXPECT_GT(counts[0], 0);
  EXPECT_GT(counts[1], 0);
}

TEST(HttpLive, ResumingOrSeekingALiveStreamIsRefused) {
  auto server = StartServer({"--live", Live("radio", {"clip.wmv"}), "--rate", "1"});
  ASSERT_TRUE(server->Running());
  const std::string folder = NewTempFolder();
  {
    SessionHarness h;
    h.NewHttpSession(server->HttpPort(), "radio", folder + "/resume.asf", true);
    ASSERT_TRUE(h.Run());
    EXPECT_TRUE(InOrder(h.Texts(), {"HTTP: live stream detected !",
                                    "HTTP: you cannot resume live streams, please select "
                                    "'overwrite'"}));
    EXPECT_EQ(h.CountCode(mcFatal), 1);
    EXPECT_EQ(ReadWholeFile(folder + "/resume.asf").size(), 0u);
  }
  {
    SessionHarness h;
    h.NewHttpSession(server->HttpPort(), "radio", folder + "/offset.asf", false, 5000);
    ASSERT_TRUE(h.Run());
    EXPECT_TRUE(InOrder(h.Texts(), {"HTTP: seeking into live streams is not allowed !",
                                    "HTTP: please select 0 for offset time"}));
    EXPECT_FALSE(h.Finish().fixedUp);
  }
}

}  // namespace
}  // namespace qor::testing
