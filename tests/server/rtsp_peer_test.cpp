// Independent clients read the server's RTSP: ffmpeg over TCP and UDP, GStreamer's rtspsrc with
// its ASF depayloader. Each saved file must hold the source's media packets, byte for byte.

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "server_test_support.h"

namespace qor::server::testing {
namespace {

// Per stream, the MD5 of every media packet ffprobe reads, in order. Containers differ (ffmpeg
// writes its own ASF), so the packets' contents are compared, not the files' bytes.
std::map<int, std::vector<std::string>> PacketHashes(const std::string& path) {
  std::string out;
  std::map<int, std::vector<std::string>> hashes;
  if (RunShell("ffprobe -v error -show_data_hash MD5 -show_entries packet=stream_index,data_hash "
               "-of csv=p=0 '" +
                   path + "' 2>/dev/null",
               &out) != 0)
    return hashes;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    hashes[std::stoi(line.substr(0, comma))].push_back(line.substr(comma + 1));
  }
  return hashes;
}

ServerOptions RtspServer(double rate, bool packetOnly) {
  ServerOptions o = TestServer::Defaults();
  o.rtspPort = 0;
  o.rate = rate;
  o.rtpLengthPacketOnly = packetOnly;
  return o;
}

std::string Url(TestServer& server, const std::string& name) {
  return "rtsp://127.0.0.1:" + std::to_string(server.Get().RtspPort()) + "/" + name;
}

TEST(RtspPeer, FfmpegCopiesEveryPacketOverTcpAndUdp) {
  QOR_NEED_SAMPLES();
  TestServer server(RtspServer(0, false));
  for (const std::string name : {"clip.wmv", "audio.wma"}) {
    const auto source = PacketHashes(SampleDir() + "/" + name);
    ASSERT_FALSE(source.empty());
    for (const std::string transport : {"tcp", "udp"}) {
      const std::string out = TempDir() + "/rtsp-" + transport + ".asf";
      std::string log;
      EXPECT_EQ(RunShell("timeout 120 ffmpeg -hide_banner -loglevel error -nostdin -y "
                         "-rtsp_transport " +
                             transport + " -i " + Url(server, name) + " -map 0 -c copy -f asf '" +
                             out + "' 2>&1",
                         &log),
                0)
          << log;
      EXPECT_EQ(PacketHashes(out), source) << name << " over " << transport << "\n" << log;
    }
  }
  // The dialect's client sets the retransmission stream up first over UDP.
  EXPECT_TRUE(server.Log().WaitForLine("rtsp-setup rtx udp", 1s));
  EXPECT_TRUE(server.Log().WaitForLine("rtsp-setup stream=2 tcp", 1s));
}

// GStreamer counts only the ASF packet in the Length field, so it misreads packets that share an
// RTP packet as Windows Media servers send them; in the server's other mode it reads them all.
TEST(RtspPeer, GstreamerReadsEveryPacketWhenLengthCountsThePacketOnly) {
  QOR_NEED_SAMPLES();
  if (FindProgram("gst-launch-1.0").empty()) GTEST_SKIP() << "gst-launch-1.0 not installed";
  const auto source = PacketHashes(SampleDir() + "/audio.wma");
  // Paced, so that small packets due together share RTP packets.
  const auto read = [&](bool packetOnly, const std::string& transport) {
    TestServer server(RtspServer(4, packetOnly));
    const std::string out = TempDir() + "/gst-" + transport + ".asf";
    std::remove(out.c_str());
    RunShell("timeout 20 gst-launch-1.0 -q rtspsrc location=" + Url(server, "audio.wma") +
             " protocols=" + transport +
             // Over UDP the jitter buffer's default 2 s puts gst-launch in buffering, which holds
             // the pipeline paused; a short clip sent within that time never reaches the file.
             (transport == "udp" ? " latency=100" : "") + " ! rtpasfdepay ! filesink location='" +
             out + "' >/dev/null 2>&1");
    return PacketHashes(out);
  };
  EXPECT_EQ(read(true, "tcp"), source);
  EXPECT_EQ(read(true, "udp"), source);
  EXPECT_NE(read(false, "tcp"), source);
}

}  // namespace
}  // namespace qor::server::testing
