// Whole downloads over MMS (media over TCP) from the real qor-server on loopback.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "session/mms_protocol.h"
#include "session/mms_test_support.h"
#include "support/base64.h"

namespace qor::testing {
namespace {

using namespace std::chrono_literals;

const std::vector<std::string> kHandshakeLines = {"- Requesting ASF header...waiting",
                                                  "- Header notification received...",
                                                  "- Header received and saving",
                                                  "- Extracting header object data...",
                                                  "- Data extracted ok, waiting for streams...",
                                                  ""};

TEST(MmsDownload, PrerecordedClipOverTcpSavesEveryPacket) {
  auto server = StartServer();
  ASSERT_TRUE(server->Running());
  const std::string saved = NewTempFolder() + "/clip.asf";
  SessionHarness h;
  NewMmsSession(h, server->MmsPort(), "clip.wmv", saved);
  ASSERT_TRUE(h.Run()) << LogText(h);
  EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  EXPECT_EQ(h.CountCode(mcStarted), 1);
  EXPECT_EQ(h.CountCode(mcFatal), 0) << LogText(h);
  EXPECT_TRUE(LoggedInOrder(h, {"TCP network timing packets received"}));
  std::vector<std::string> lines = kHandshakeLines;
  lines.push_back("");  // the completion follows the start
  EXPECT_TRUE(LoggedInOrder(h, lines)) << LogText(h);
  EXPECT_FALSE(h.Logged("Server does not support timing packets"));
  const PacketMatch m = ComparePackets(SampleMedia("clip.wmv"), saved);
  ASSERT_GT(m.source, 0u);
  EXPECT_EQ(m.equal, m.source);
  EXPECT_EQ(m.saved, m.source);
  EXPECT_GT(FfprobePacketCount(saved), 0);
  EXPECT_NEAR(FfprobeDuration(saved), FfprobeDuration(SampleMedia("clip.wmv")), 0.5);
}

// A server that cannot run timing tests says so in its connected and funnel replies; the
// transport selection must still go out after its single funnel reply.
TEST(MmsDownload, ServerWithoutTimingTestsStillStreams) {
  auto server = StartServer({"--packet-pair", "off"});
  ASSERT_TRUE(server->Running());
  const std::string saved = NewTempFolder() + "/clip.asf";
  SessionHarness h;
  NewMmsSession(h, server->MmsPort(), "twovideo.asf", saved);
  ASSERT_TRUE(h.Run()) << LogText(h);
  EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  EXPECT_TRUE(h.Logged("Server does not support timing packets"));
  EXPECT_FALSE(h.Logged("TCP network timing packets received"));
  const PacketMatch m = ComparePackets(SampleMedia("twovideo.asf"), saved);
  EXPECT_EQ(m.equal, m.source);
  EXPECT_GT(m.source, 0u);
}

TEST(MmsDownload, OffsetStartSkipsTheBeginning) {
  auto server = StartServer({"--log-requests", "-"});
  ASSERT_TRUE(server->Running());
  const std::string saved = NewTempFolder() + "/clip.asf";
  SessionHarness h;
  NewMmsSession(h, server->MmsPort(), "clip.wmv", saved, {.offsetMs = 3500});
  ASSERT_TRUE(h.Run()) << LogText(h);
  EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  const PacketMatch m = ComparePackets(SampleMedia("clip.wmv"), saved);
  // Whole seconds are asked for: the server starts near 3 s and the copy is shorter.
  EXPECT_GT(m.saved, 0u);
  EXPECT_LT(m.saved, m.source);
  EXPECT_EQ(server->Output().find("from packet 0"), std::string::npos) << server->Output();
  const double duration = FfprobeDuration(saved);
  EXPECT_GT(duration, 1.0);
  EXPECT_LT(duration, FfprobeDuration(SampleMedia("clip.wmv")) - 1.5);
}

TEST(MmsDownload, ResumedDownloadEqualsAnUninterruptedOne) {
  auto server = StartServer();
  ASSERT_TRUE(server->Running());
  const std::string folder = NewTempFolder();
  const std::string whole = folder + "/whole.asf";
  const std::string parts = folder + "/parts.asf";
  {
    SessionHarness h;
    NewMmsSession(h, server->MmsPort(), "clip.wmv", whole);
    ASSERT_TRUE(h.Run()) << LogText(h);
    ASSERT_EQ(h.CountCode(mcCompleted), 1);
  }
  {
    // The server drops the connection after 12 packets; the window finishes what was written.
    SessionHarness h;
    TMMS& s = NewMmsSession(h, server->MmsPort(), "clip.wmv?disconnect=12", parts);
    // The last packets may still be in the ring when the disconnection is reported.
    ASSERT_TRUE(
        h.Run(60s, [&] { return h.Logged("Disconnected") && s.SaveFile->HighestIndex() == 11; }))
        << LogText(h) << s.SaveFile->HighestIndex();
    h.Abort();
    EXPECT_EQ(h.CountCode(mcCompleted), 0);
    const PacketMatch first = ComparePackets(whole, parts);
    EXPECT_EQ(first.saved, 12u);
    EXPECT_EQ(first.equal, 12u);
  }
  {
    SessionHarness h;
    NewMmsSession(h, server->MmsPort(), "clip.wmv", parts, {.resume = true});
    ASSERT_TRUE(h.Run()) << LogText(h);
    EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
    EXPECT_TRUE(h.Logged("- Header received but not saved, resuming session"));
  }
  const PacketMatch m = ComparePackets(whole, parts);
  EXPECT_EQ(m.saved, m.source);
  EXPECT_EQ(m.equal, m.source) << "first differing packet "
                               << (m.differing.empty() ? -1 : static_cast<int>(m.differing[0]));
  EXPECT_GT(FfprobePacketCount(parts), 0);
}

TEST(MmsDownload, LivePlayListChangePostsANewTrackAndWritesNothingAfter) {
  const std::string live =
      "--live=radio=" + SampleMedia("audio.wma") + "," + SampleMedia("clip.wmv");
  auto server =
      StartServer({"--live", "radio=" + SampleMedia("audio.wma") + "," + SampleMedia("clip.wmv")});
  ASSERT_TRUE(server->Running());
  const std::string saved = NewTempFolder() + "/radio.asf";
  SessionHarness h;
  NewMmsSession(h, server->MmsPort(), "radio", saved);
  ASSERT_TRUE(h.Run()) << LogText(h);
  EXPECT_EQ(h.CountCode(mcNewTrack), 1) << LogText(h);
  EXPECT_EQ(h.CountCode(mcCompleted), 0) << LogText(h);
  EXPECT_EQ(h.Session().Status().StreamKind, 2);
  const AsfLayout copy = ReadAsfLayout(saved);
  const AsfLayout first = ReadAsfLayout(SampleMedia("audio.wma"));
  // The first entry's header stays the file's header and no packet of the next entry follows.
  EXPECT_EQ(copy.packetSize, first.packetSize);
  EXPECT_GT(copy.packets.size(), 0u);
  EXPECT_LE(copy.packets.size(), first.packets.size());
  EXPECT_GT(FfprobePacketCount(saved), 0);
}

TEST(MmsDownload, LiveStreamRefusesAnOffsetStart) {
  auto server = StartServer({"--live", "radio=" + SampleMedia("audio.wma")});
  ASSERT_TRUE(server->Running());
  SessionHarness h;
  NewMmsSession(h, server->MmsPort(), "radio", NewTempFolder() + "/r.asf", {.offsetMs = 2000});
  ASSERT_TRUE(h.Run()) << LogText(h);
  EXPECT_TRUE(h.Logged("Seeking into live streams is not allowed\n> Offset time must = 0"))
      << LogText(h);
  EXPECT_EQ(h.CountCode(mcStarted), 0);
}

TEST(MmsDownload, LiveStreamCannotBeResumed) {
  auto server = StartServer({"--live", "radio=" + SampleMedia("audio.wma")});
  ASSERT_TRUE(server->Running());
  SessionHarness h;
  NewMmsSession(h, server->MmsPort(), "radio", NewTempFolder() + "/r.asf", {.resume = true});
  ASSERT_TRUE(h.Run()) << LogText(h);
  EXPECT_TRUE(LoggedInOrder(h, {"Error: - A live stream was detected !",
                                "You cannot resume live streams, please select overwrite"}))
      << LogText(h);
  EXPECT_FALSE(h.Logged("- Requesting ASF header...waiting"));
}

TEST(MmsDownload, PasswordChallengeAnsweredWithTheRightCredentials) {
  auto server = StartServer({"--password", "ann:secret"});
  ASSERT_TRUE(server->Running());
  const std::string saved = NewTempFolder() + "/clip.asf";
  SessionHarness h;
  TMMS& s = NewMmsSession(h, server->MmsPort(), "clip.wmv", saved);
  std::string seenHost, seenChallenge;
  int asked = 0;
  s.Prompts.AskMmsCredentials = [&](const std::string& host, const std::string& challenge) {
    EXPECT_TRUE(h.Window().IsWindowThread());
    ++asked;
    seenHost = host;
    seenChallenge = challenge;
    return std::optional<std::string>(Base64Coder::EncodeString("ann:secret"));
  };
  ASSERT_TRUE(h.Run()) << LogText(h);
  EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(seenHost, "127.0.0.1");
  EXPECT_NE(seenChallenge.find("realm"), std::string::npos) << seenChallenge;
  EXPECT_EQ(s.GetServerTexts().EncryptionType, "BASIC");
  const PacketMatch m = ComparePackets(SampleMedia("clip.wmv"), saved);
  EXPECT_EQ(m.equal, m.source);
}

TEST(MmsDownload, CancelledPasswordEndsTheSession) {
  auto server = StartServer({"--password", "ann:secret"});
  ASSERT_TRUE(server->Running());
  SessionHarness h;
  TMMS& s = NewMmsSession(h, server->MmsPort(), "clip.wmv", NewTempFolder() + "/clip.asf");
  s.Prompts.AskMmsCredentials = [](const std::string&, const std::string&) {
    return std::optional<std::string>();
  };
  ASSERT_TRUE(h.Run()) << LogText(h);
  EXPECT_TRUE(h.Logged("Session aborted, connection now closing")) << LogText(h);
  EXPECT_EQ(h.CountCode(mcStarted), 0);
}

TEST(MmsDownload, StopWhileThePasswordDialogIsOpenEndsTheWait) {
  auto server = StartServer({"--password", "ann:secret"});
  ASSERT_TRUE(server->Running());
  SessionHarness h;
  TMMS& s = NewMmsSession(h, server->MmsPort(), "clip.wmv", NewTempFolder() + "/clip.asf");
  bool asked = false;
  // The dialog stays open (the prompt returns only after the session was stopped).
  s.Prompts.AskMmsCredentials = [&](const std::string&, const std::string&) {
    asked = true;
    h.Abort();
    return std::optional<std::string>("late");
  };
  ASSERT_TRUE(h.Run(60s, [&] { return asked; })) << LogText(h);
  h.EndSession();  // joins the session thread: it must have left its wait
  EXPECT_FALSE(h.Logged("Session aborted, connection now closing"));
}

}  // namespace
}  // namespace qor::testing

namespace qor::testing {
namespace {

// The ASF model is shared with the window, but what it reports while the session thread parses
// belongs to that session: tagged as the window's, a failed session's parse errors would act on
// whatever download runs when the window drains them.
TEST(MmsDownload, PacketParseFailuresCarryTheSessionsTag) {
  const std::string root = NewTempFolder();
  const AsfLayout layout = ReadAsfLayout(SampleMedia("clip.wmv"));
  ASSERT_GT(layout.packets.size(), 3u);
  std::filesystem::copy_file(SampleMedia("clip.wmv"), root + "/broken.wmv");
  {
    // Packet 2 loses the error correction byte every packet of the clip starts with.
    std::fstream file(root + "/broken.wmv", std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(layout.headerLength + 2 * layout.packetSize));
    file.put('\0');
  }
  ServerProcess server(QOR_SERVER_PROGRAM, {"--root", root, "--rate", "0"});
  ASSERT_TRUE(server.Running());
  SessionHarness h;
  TMMS& s = NewMmsSession(h, server.MmsPort(), "broken.wmv", NewTempFolder() + "/broken.asf");
  ASSERT_NE(s.Source, kWindowSource);
  ASSERT_TRUE(h.Run()) << LogText(h);
  int tagged = 0;
  for (const MessagePair& p : h.Log()) {
    if (p.text.rfind("TASF: ", 0) != 0) continue;
    ++tagged;
    EXPECT_EQ(p.source, s.Source) << p.text;
  }
  EXPECT_GE(tagged, 1) << LogText(h);
}

}  // namespace
}  // namespace qor::testing

namespace qor::testing {
namespace {

// Through a proxy the server is named in the request itself, port included: the request line
// and Host: of MMS over HTTP, and the "; Host:" of the MMS connect text. qor-server stands in for
// the proxy and logs what it was asked.
TEST(ProxiedDownload, ThePortOfTheLocationReachesTheProxy) {
  auto server = StartServer({"--log-requests", "-"});
  ASSERT_TRUE(server->Running());
  {
    SessionHarness h;
    TMMS& s = h.NewHttpSession(8555, "clip.wmv", NewTempFolder() + "/h.asf");
    s.Host = "media.example";
    s.UseProxy = 1;
    s.ProxyHost = "127.0.0.1";
    s.ProxyPort = server->HttpPort();
    ASSERT_TRUE(h.Run()) << LogText(h);
    EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  }
  {
    SessionHarness h;
    TMMS& s = NewMmsSession(h, 8755, "clip.wmv", NewTempFolder() + "/m.asf");
    s.Host = "media.example";
    s.UseProxy = 1;
    s.ProxyHost = "127.0.0.1";
    s.ProxyPort = server->MmsPort();
    ASSERT_TRUE(h.Run()) << LogText(h);
    EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  }
  const std::string log = server->Output();
  EXPECT_NE(log.find("http-proxy-target http://media.example:8555/clip.wmv"), std::string::npos)
      << log;
  EXPECT_NE(log.find("Host: media.example:8555"), std::string::npos) << log;
  EXPECT_NE(log.find("; Host: media.example:8755"), std::string::npos) << log;
}

}  // namespace
}  // namespace qor::testing
