// Resuming into files the way users leave them: killed in the middle of a packet, started at an
// offset, already complete, or written by an earlier version of the program.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "asf/asf.h"
#include "asf/asf_header_totals.h"
#include "session/mms_test_support.h"
#include "session/save_file.h"

namespace qor::testing {
namespace {

using namespace std::chrono_literals;

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

TEST(Resume, AKilledOffsetDownloadContinuesOverAnotherTransportAsIfItHadRunThrough) {
  auto server = StartServer();
  ASSERT_TRUE(server->Running());
  const std::string folder = NewTempFolder();
  const std::string whole = folder + "/whole.asf";
  const std::string parts = folder + "/parts.asf";
  {
    SessionHarness h;
    NewMmsSession(h, server->MmsPort(), "clip.wmv", whole, {.offsetMs = 2000});
    ASSERT_TRUE(h.Run()) << LogText(h);
    ASSERT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  }
  const AsfLayout reference = ReadAsfLayout(whole);
  ASSERT_GT(reference.packets.size(), 12u);
  {
    SessionHarness h;
    TMMS& s =
        NewMmsSession(h, server->MmsPort(), "clip.wmv?disconnect=10", parts, {.offsetMs = 2000});
    ASSERT_TRUE(h.Run(60s, [&] { return s.SaveFile->HighestIndex() == 9; })) << LogText(h);
  }
  // As a killed program leaves it: the end timecode field holds what the server sent there (any
  // bytes), no index, and half of the next packet written.
  std::vector<uint8_t> killed = ReadWholeFile(parts);
  ASSERT_GE(killed.size(), reference.headerLength + 10 * reference.packetSize);
  killed.resize(reference.headerLength + 10 * reference.packetSize);
  const int64_t fileProperties =
      FindAsfPrefix(killed.data(), reference.headerLength, asf_guid::kFileProperties);
  ASSERT_GT(fileProperties, 0);
  std::fill_n(killed.begin() + fileProperties + 24, 4, uint8_t{0xF7});
  const std::vector<uint8_t>& next = reference.packets[10];
  killed.insert(killed.end(), next.begin(),
                next.begin() + static_cast<std::ptrdiff_t>(next.size() / 2));
  WriteBytes(parts, killed);
  {
    SessionHarness h;
    h.NewHttpSession(server->HttpPort(), "clip.wmv", parts, true);
    ASSERT_TRUE(h.Run()) << LogText(h);
    EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
    EXPECT_TRUE(h.Logged("- Resuming at 00:00:01 (packet 10)")) << LogText(h);
  }
  const PacketMatch m = ComparePackets(whole, parts);
  EXPECT_EQ(m.saved, m.source);
  EXPECT_EQ(m.equal, m.source) << "first differing packet "
                               << (m.differing.empty() ? -1 : static_cast<int>(m.differing[0]));
  EXPECT_NEAR(FfprobeDuration(parts), FfprobeDuration(whole), 0.1);
}

TEST(Resume, AnotherClipWithTheSameHeaderIsRefusedAndTheFileLeftAlone) {
  // The same encoder settings, length and tags, another tone: headers alike in all but what
  // finishing rewrites, packets not.
  const std::string folder = NewTempFolder();
  std::filesystem::copy_file(SampleMedia("clip.wmv"), folder + "/clip.wmv");
  const std::string command =
      "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "
      "testsrc=size=160x120:rate=15 -f lavfi -i sine=frequency=880:sample_rate=22050 -t 6 "
      "-map 0:v -map 1:a -c:v wmv2 -g 30 -b:v 200k -c:a wmav2 -b:a 32k -ac 1 -fflags +bitexact "
      "-flags:v +bitexact -flags:a +bitexact -packetsize 3200 -metadata title=\"Qor sample clip\" "
      "-metadata author=\"Qor tests\" -metadata copyright=\"(c) Qor\" -metadata "
      "comment=\"Generated test clip\" -metadata album=\"Qor samples\" -metadata genre=Test -f "
      "asf " +
      folder + "/other.wmv";
  ASSERT_EQ(std::system(command.c_str()), 0);
  ServerProcess server(QOR_SERVER_PROGRAM, {"--root", folder, "--rate", "0"});
  ASSERT_TRUE(server.Running());
  const std::string saved = NewTempFolder() + "/clip.asf";
  {
    SessionHarness h;
    h.NewHttpSession(server.HttpPort(), "clip.wmv?disconnect=20", saved);
    ASSERT_TRUE(h.Run()) << LogText(h);
    ASSERT_TRUE(h.Finish().header);
  }
  const std::vector<uint8_t> before = ReadWholeFile(saved);
  for (const bool http : {true, false}) {
    SessionHarness h;
    if (http) {
      h.NewHttpSession(server.HttpPort(), "other.wmv", saved, true);
    } else {
      NewMmsSession(h, server.MmsPort(), "other.wmv", saved, {.resume = true});
    }
    ASSERT_TRUE(h.Run()) << LogText(h);
    EXPECT_TRUE(
        h.Logged("Cannot resume: the stream does not continue the file (none of its "
                 "packets is the server's)"))
        << LogText(h);
    EXPECT_EQ(h.CountCode(mcCompleted), 0);
    EXPECT_EQ(ReadWholeFile(saved), before);
  }
}

// Two clips whose headers differ only in their length and whose first half is the same: a file
// of the longer one, killed or complete, is never continued from the shorter one.
TEST(Resume, AFileOfALongerClipIsNeverContinuedFromAShorterOne) {
  const std::string folder = NewTempFolder();
  const std::vector<uint8_t> clip = ReadWholeFile(SampleMedia("clip.wmv"));
  const AsfLayout layout = ReadAsfLayout(SampleMedia("clip.wmv"));
  const size_t half = layout.packets.size() / 2;
  ASSERT_GT(half, 10u);
  const auto prefix = [&](size_t packets) {
    return std::vector<uint8_t>(
        clip.begin(), clip.begin() + static_cast<std::ptrdiff_t>(layout.headerLength +
                                                                 packets * layout.packetSize));
  };
  std::vector<uint8_t> shorter = prefix(half);
  AsfPacketTimes last;
  ASSERT_TRUE(ReadAsfPacketTimes(layout.packets[half - 1].data(), layout.packetSize, last));
  ASSERT_TRUE(DescribeWholePackets(shorter.data(), layout.headerLength,
                                   {half, last.sendTime, shorter.size(), false, true, {}}));
  WriteBytes(folder + "/short.wmv", shorter);
  ServerProcess server(QOR_SERVER_PROGRAM, {"--root", folder, "--rate", "0"});
  ASSERT_TRUE(server.Running());
  // As a killed recording of the long clip lies (its header the server's), and as a finished one.
  const std::string killed = NewTempFolder() + "/killed.asf";
  WriteBytes(killed, prefix(half / 2));
  const std::string complete = NewTempFolder() + "/complete.asf";
  WriteBytes(complete, clip);
  for (const std::string& saved : {killed, complete}) {
    const std::vector<uint8_t> before = ReadWholeFile(saved);
    for (const bool http : {true, false}) {
      SCOPED_TRACE(saved + (http ? " http" : " mms"));
      SessionHarness h;
      if (http) {
        h.NewHttpSession(server.HttpPort(), "short.wmv", saved, true);
      } else {
        NewMmsSession(h, server.MmsPort(), "short.wmv", saved, {.resume = true});
      }
      ASSERT_TRUE(h.Run()) << LogText(h);
      EXPECT_TRUE(h.Logged("Cannot resume: the server's header does not match the file"))
          << LogText(h);
      EXPECT_EQ(h.CountCode(mcCompleted), 0);
      EXPECT_EQ(ReadWholeFile(saved), before);
    }
  }
}

// A killed recording with packets that never arrived: a resume from its end cannot bring them,
// so they count as lost (the program's exit status says the file is not whole).
TEST(Resume, PacketsMissingInsideTheFileCountAsLost) {
  auto server = StartServer();
  ASSERT_TRUE(server->Running());
  const std::vector<uint8_t> clip = ReadWholeFile(SampleMedia("clip.wmv"));
  const AsfLayout layout = ReadAsfLayout(SampleMedia("clip.wmv"));
  ASSERT_GT(layout.packets.size(), 30u);
  std::vector<uint8_t> killed(
      clip.begin(),
      clip.begin() + static_cast<std::ptrdiff_t>(layout.headerLength + 30 * layout.packetSize));
  std::fill_n(
      killed.begin() + static_cast<std::ptrdiff_t>(layout.headerLength + 10 * layout.packetSize),
      4 * layout.packetSize, uint8_t{0});
  for (const bool http : {true, false}) {
    SCOPED_TRACE(http ? "http" : "mms");
    const std::string saved = NewTempFolder() + "/killed.asf";
    WriteBytes(saved, killed);
    SessionHarness h;
    TMMS& s = http ? h.NewHttpSession(server->HttpPort(), "clip.wmv", saved, true)
                   : NewMmsSession(h, server->MmsPort(), "clip.wmv", saved, {.resume = true});
    ASSERT_TRUE(h.Run()) << LogText(h);
    EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
    EXPECT_TRUE(h.Logged(
        "Warning, the file lacks 4 packets before the point it resumes from: they stay missing"))
        << LogText(h);
    EXPECT_EQ(s.Status().LostPackets, 4u);
  }
}

TEST(Resume, ACompleteFileIsReportedAndLeftAsItIsOverEveryTransport) {
  auto server = StartServer();
  ASSERT_TRUE(server->Running());
  const std::string saved = NewTempFolder() + "/clip.asf";
  {
    SessionHarness h;
    h.NewHttpSession(server->HttpPort(), "clip.wmv", saved);
    ASSERT_TRUE(h.Run()) << LogText(h);
    ASSERT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  }
  const std::vector<uint8_t> before = ReadWholeFile(saved);
  for (const bool udp : {false, true}) {
    SessionHarness h;
    NewMmsSession(h, server->MmsPort(), "clip.wmv", saved, {.udp = udp, .resume = true});
    ASSERT_TRUE(h.Run()) << LogText(h);
    EXPECT_TRUE(
        h.Logged("- The file already holds the whole clip: it is checked and left as it is"))
        << LogText(h);
    EXPECT_EQ(ReadWholeFile(saved), before) << (udp ? "udp" : "tcp");
  }
}

TEST(Resume, AFileFinishedBeforeResumeDataChangedStillResumes) {
  // Cut after 5 packets of clip.wmv over HTTP and finished by the program as it was before the
  // resume point came from the packets (its end timecode stored in the header only).
  const std::string kept = std::string(QOR_RESUME_DATA_DIR) + "/cut-finished.asf";
  ASSERT_TRUE(std::filesystem::exists(kept));
  auto server = StartServer();
  ASSERT_TRUE(server->Running());
  const std::string saved = NewTempFolder() + "/cut.asf";
  std::filesystem::copy_file(kept, saved);
  SessionHarness h;
  NewMmsSession(h, server->MmsPort(), "clip.wmv", saved, {.resume = true});
  ASSERT_TRUE(h.Run()) << LogText(h);
  EXPECT_EQ(h.CountCode(mcCompleted), 1) << LogText(h);
  const PacketMatch m = ComparePackets(SampleMedia("clip.wmv"), saved);
  EXPECT_EQ(m.saved, m.source);
  EXPECT_EQ(m.equal, m.source);
  EXPECT_NEAR(FfprobeDuration(saved), FfprobeDuration(SampleMedia("clip.wmv")), 0.5);
}

TEST(Resume, APlainFileAsksForItsRestAndEndsAsTheServersFile) {
  auto server = StartServer({"--log-requests", "-"});
  ASSERT_TRUE(server->Running());
  const std::vector<uint8_t> served = ReadWholeFile(ServedFolder() + "/plain.wmv");
  const std::string saved = NewTempFolder() + "/plain.wmv";
  // One harness at a time: each owns the window thread its session reports to.
  struct Run {
    int completed = 0;
    std::string log;
    bool Logged(const std::string& text) const { return log.find("] " + text + "\n") != log.npos; }
  };
  const auto resume = [&](const std::string& path) {
    SessionHarness h;
    h.NewHttpSession(server->HttpPort(), path, saved, true);
    EXPECT_TRUE(h.Run()) << LogText(h);
    return Run{h.CountCode(mcCompleted), LogText(h)};
  };
  const auto cut = [&](size_t length) {
    WriteBytes(saved, std::vector<uint8_t>(served.begin(),
                                           served.begin() + static_cast<std::ptrdiff_t>(length)));
  };

  // The rest, from where the saved part ends.
  cut(100000);
  Run r = resume("plain.wmv");
  EXPECT_EQ(r.completed, 1) << r.log;
  EXPECT_TRUE(r.Logged("- Resuming at byte 100000"));
  EXPECT_TRUE(server->WaitForOutput("from byte 100000", 10s)) << server->Output();
  EXPECT_EQ(ReadWholeFile(saved), served);

  // Complete already: left as it is.
  r = resume("plain.wmv");
  EXPECT_TRUE(r.Logged("- The file is already complete: it is left as it is")) << r.log;
  EXPECT_EQ(ReadWholeFile(saved), served);

  // A server that answers from another byte: refused, the file untouched.
  cut(100000);
  r = resume("plain.wmv?range=wrong");
  EXPECT_TRUE(r.Logged("Cannot resume: the server sent the file from byte 0, not from 100000"))
      << r.log;
  EXPECT_EQ(ReadWholeFile(saved).size(), 100000u);

  // A server that names the range asked for but sends the whole file: refused, untouched.
  r = resume("plain.wmv?range=lie");
  EXPECT_TRUE(r.log.find("] Cannot resume: the server's partial answer contradicts itself") !=
              std::string::npos)
      << r.log;
  EXPECT_EQ(ReadWholeFile(saved).size(), 100000u);

  // A server that sends the whole file again: written from 0, and nothing of the longer saved
  // file stays behind it.
  std::vector<uint8_t> longer = served;
  longer.resize(served.size() + 5000, 0xAB);
  longer[10] ^= 0xFF;
  WriteBytes(saved, longer);
  r = resume("plain.wmv?range=ignore");
  EXPECT_EQ(r.completed, 1) << r.log;
  EXPECT_EQ(ReadWholeFile(saved), served);
}

}  // namespace
}  // namespace qor::testing
