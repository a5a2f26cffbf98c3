// Whole recordings over RTSP from the real qor-server on loopback, with the media over UDP and
// interleaved in the connection: what reaches the file, what the log says, how it ends, and what
// losses, a resume, an offset, a stream choice and a password do to it.

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <sstream>

#include "asf/stream_selection.h"
#include "session/mms_test_support.h"
#include "session/session_harness.h"
#include "session/session_test_support.h"

namespace qor::testing {
namespace {

using namespace std::chrono_literals;

std::unique_ptr<ServerProcess> StartRtspServer(const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args{"--rtsp-port", "0", "--log-requests", "-"};
  args.insert(args.end(), extra.begin(), extra.end());
  return StartServer(args);
}

void ExpectSamePackets(const AsfLayout& source, const AsfLayout& copy) {
  ASSERT_FALSE(source.packets.empty());
  ASSERT_EQ(copy.packetSize, source.packetSize);
  ASSERT_EQ(copy.packets.size(), source.packets.size());
  for (size_t i = 0; i < source.packets.size(); ++i)
    ASSERT_EQ(copy.packets[i], source.packets[i]) << "packet " << i << " differs";
}

// The times of the packets ffprobe reads from second `from` on: a file with a working index
// lets it start there.
std::vector<double> PacketTimesFrom(const std::string& path, double from) {
  std::string out;
  FILE* pipe = ::popen(("ffprobe -v error -read_intervals " + std::to_string(from) +
                        "%+0.5 -show_entries packet=pts_time -of csv=p=0 '" + path + "'")
                           .c_str(),
                       "r");
  if (pipe == nullptr) return {};
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  ::pclose(pipe);
  std::vector<double> times;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line))
    if (!line.empty() && line != "N/A") times.push_back(std::stod(line));
  return times;
}

TEST(RtspDownload, EveryPacketOverUdpAndInterleavedAndTheFilePlaysAndSeeks) {
  auto server = StartRtspServer();
  ASSERT_TRUE(server->Running());
  const std::string folder = NewTempFolder();
  const AsfLayout source = ReadAsfLayout(SampleMedia("clip.wmv"));
  // The third run's server strips the packets' padding: the file has it back.
  int run = 0;
  for (const auto& [udp, clip] :
       {std::pair{false, "clip.wmv"}, {true, "clip.wmv"}, {false, "clip.wmv?strip=1"}}) {
    SCOPED_TRACE(std::string(udp ? "udp " : "tcp ") + clip);
    SessionHarness h;
    const std::string saved = folder + "/run" + std::to_string(++run) + ".asf";
    h.NewRtspSession(server->RtspPort(), clip, saved, udp);
    ASSERT_TRUE(h.Run()) << LogText(h);
    ASSERT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
    EXPECT_TRUE(LoggedInOrder(
        h, {"Connecting...", "Server: \tWMServer/9.1.1.5001", "- Header received and saving",
            "- Data extracted ok, waiting for streams...", ""}))
        << LogText(h);
    EXPECT_EQ(h.Session().Status().LostPackets, 0u);
    ASSERT_TRUE(h.Finished());
    EXPECT_TRUE(h.Finish().header && h.Finish().index && h.Finish().closed);
    ExpectSamePackets(source, ReadAsfLayout(saved));
    EXPECT_NEAR(FfprobeDuration(saved), FfprobeDuration(SampleMedia("clip.wmv")), 0.5);
    const std::vector<double> late = PacketTimesFrom(saved, 3.0);
    ASSERT_FALSE(late.empty());
    EXPECT_GE(late.front(), 2.0);
  }
  // Each session was closed at its end.
  EXPECT_TRUE(server->WaitForOutput("c3 rtsp-teardown 35 packets", 5s)) << server->Output();
  EXPECT_NE(server->Output().find("rtsp-setup rtx udp"), std::string::npos);
}

TEST(RtspDownload, TenPercentLossOverUdpIsResentOrCountedHonestly) {
  auto server = StartRtspServer({"--rate", "4"});
  ASSERT_TRUE(server->Running());
  const std::string folder = NewTempFolder();
  const AsfLayout source = ReadAsfLayout(SampleMedia("audio.wma"));
  {
    SessionHarness h;
    const std::string saved = folder + "/resent.asf";
    h.NewRtspSession(server->RtspPort(), "audio.wma?drop=0.1&rtp-size=1000&seed=5", saved, true);
    ASSERT_TRUE(h.Run(120s)) << LogText(h);
    ASSERT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
    EXPECT_EQ(h.Session().Status().LostPackets, 0u) << LogText(h);
    EXPECT_GT(h.Session().Status().RecoveredPackets, 0u);
    ExpectSamePackets(source, ReadAsfLayout(saved));
  }
  {
    SessionHarness h;
    const std::string saved = folder + "/lost.asf";
    h.NewRtspSession(server->RtspPort(), "audio.wma?drop=0.1&resend=0&seed=5", saved, true);
    ASSERT_TRUE(h.Run(120s)) << LogText(h);
    ASSERT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
    const uint32_t lost = h.Session().Status().LostPackets;
    EXPECT_GT(lost, 0u);
    // Every packet that came is in its place; the count says how many did not come.
    const PacketMatch m = ComparePackets(SampleMedia("audio.wma"), saved);
    EXPECT_EQ(m.equal + lost, m.source) << LogText(h);
    EXPECT_TRUE(h.Logged("Warning, RTP packets that never arrived are missing from the file: " +
                         std::to_string(lost)));
  }
}

TEST(RtspDownload, AResumeAndAnOffsetStartWhereTheyShould) {
  auto server = StartRtspServer();
  ASSERT_TRUE(server->Running());
  const std::string folder = NewTempFolder();
  const std::string parts = folder + "/parts.asf";
  {
    SessionHarness h;
    TMMS& s = h.NewRtspSession(server->RtspPort(), "clip.wmv?disconnect=12", parts, false);
    ASSERT_TRUE(h.Run(60s, [&] { return s.SaveFile->HighestIndex() == 11; })) << LogText(h);
  }
  {
    SessionHarness h;
    h.NewRtspSession(server->RtspPort(), "clip.wmv", parts, true, true);
    ASSERT_TRUE(h.Run()) << LogText(h);
    EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  }
  EXPECT_NE(server->Output().find("rtsp-header Range: npt="), std::string::npos);
  ExpectSamePackets(ReadAsfLayout(SampleMedia("clip.wmv")), ReadAsfLayout(parts));

  // From two seconds on: the same packets an MMS download from there saves.
  const std::string mms = folder + "/mms.asf", rtsp = folder + "/rtsp.asf";
  {
    SessionHarness h;
    NewMmsSession(h, server->MmsPort(), "clip.wmv", mms, {.offsetMs = 2000});
    ASSERT_TRUE(h.Run()) << LogText(h);
  }
  {
    SessionHarness h;
    h.NewRtspSession(server->RtspPort(), "clip.wmv", rtsp, true, false, 2000);
    ASSERT_TRUE(h.Run()) << LogText(h);
    ASSERT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  }
  const AsfLayout fromMms = ReadAsfLayout(mms);
  ASSERT_GT(fromMms.packets.size(), 5u);
  ExpectSamePackets(fromMms, ReadAsfLayout(rtsp));
}

TEST(RtspDownload, OnlyTheChosenStreamsAreSetUpAndTheRightPasswordOpensTheClip) {
  for (const char* auth : {"basic", "digest"}) {
    SCOPED_TRACE(auth);
    auto server = StartRtspServer({"--password", "ann:pw", "--auth", auth});
    ASSERT_TRUE(server->Running());
    SessionHarness h;
    const std::string saved = NewTempFolder() + "/audio-only.asf";
    TMMS& s = h.NewRtspSession(server->RtspPort(), "clip.wmv", saved, true);
    s.Streams.audioOnly = true;
    s.Prompts.AskHttpCredentials = [](const std::string&, const std::string&) {
      return std::optional<std::pair<std::string, std::string>>({"ann", "pw"});
    };
    ASSERT_TRUE(h.Run()) << LogText(h);
    ASSERT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
    const std::string log = server->Output();
    EXPECT_NE(log.find("rtsp-status 401 DESCRIBE"), std::string::npos);
    EXPECT_EQ(log.find("rtsp-setup stream=1"), std::string::npos) << log;
    EXPECT_NE(log.find("rtsp-setup stream=2"), std::string::npos);
    std::map<uint8_t, uint64_t> payloads;
    for (const auto& packet : ReadAsfLayout(saved).packets)
      CountPacketStreams(packet.data(), packet.size(), payloads);
    EXPECT_EQ(payloads.count(1), 0u);
    EXPECT_GT(payloads[2], 0u);
  }
}

// Over UDP nothing but requests keeps a session alive: a server that forgets sessions silent for
// two seconds keeps this one for the whole six-second clip.
TEST(RtspDownload, KeepAlivesHoldASessionLongerThanItsTimeOut) {
  auto server = StartRtspServer({"--session-timeout", "2", "--rate", "1"});
  ASSERT_TRUE(server->Running());
  SessionHarness h;
  const std::string saved = NewTempFolder() + "/kept.asf";
  h.NewRtspSession(server->RtspPort(), "audio.wma", saved, true);
  ASSERT_TRUE(h.Run(60s)) << LogText(h);
  EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h) << server->Output();
  EXPECT_NE(server->Output().find("rtsp-request GET_PARAMETER"), std::string::npos);
  EXPECT_EQ(server->Output().find("rtsp-session-timeout"), std::string::npos);
  ExpectSamePackets(ReadAsfLayout(SampleMedia("audio.wma")), ReadAsfLayout(saved));
}

}  // namespace
}  // namespace qor::testing
