// ffmpeg, an independent client, reads whole clips from the server over both of its protocols.

#include <gtest/gtest.h>

#include "server_test_support.h"

namespace qor::server::testing {
namespace {

void ExpectFfmpegCopiesWholeClip(const std::string& scheme, uint16_t port, const std::string& name,
                                 const std::string& inputOptions = "") {
  QOR_NEED_SAMPLES();
  const std::string out = TempDir() + "/out.asf";
  const std::string command = "ffmpeg -hide_banner -loglevel error -nostdin -y " + inputOptions +
                              " -i " + scheme + "://127.0.0.1:" + std::to_string(port) + "/" +
                              name + " -map 0 -c copy -f asf '" + out + "' 2>&1";
  std::string log;
  EXPECT_EQ(RunShell("timeout 120 " + command, &log), 0) << log;
  const int source = CountFfprobePackets(SampleDir() + "/" + name);
  ASSERT_GT(source, 0);
  EXPECT_EQ(CountFfprobePackets(out), source) << scheme;
}

TEST(FfmpegPeer, ReadsTheWholeClipOverHttpStreaming) {
  TestServer server;
  ExpectFfmpegCopiesWholeClip("mmsh", server.Http(), "clip.wmv");
  EXPECT_TRUE(server.Log().WaitForLine("http-describe clip.wmv", 1s));
  EXPECT_TRUE(server.Log().WaitForLine("http-play clip.wmv stream-time=0", 1s));
}

TEST(FfmpegPeer, ReadsTheWholeClipOverMmsTcp) {
  TestServer server;
  ExpectFfmpegCopiesWholeClip("mmst", server.Mms(), "clip.wmv");
  EXPECT_TRUE(server.Log().WaitForLine("mms-end", 1s));
}

TEST(FfmpegPeer, ReadsAudioOnlyAndTwoVideoFilesOverBothProtocols) {
  TestServer server;
  ExpectFfmpegCopiesWholeClip("mmsh", server.Http(), "audio.wma");
  ExpectFfmpegCopiesWholeClip("mmst", server.Mms(), "audio.wma");
  // Probing two 4-second video streams reads past the last packet, and ffmpeg's MMS readers
  // take the end of the stream there for an error (mmst even waits on after it); a short probe
  // keeps ffmpeg inside the data, where it reads every packet.
  const std::string shortProbe = "-probesize 32 -analyzeduration 0";
  ExpectFfmpegCopiesWholeClip("mmsh", server.Http(), "twovideo.asf", shortProbe);
  ExpectFfmpegCopiesWholeClip("mmst", server.Mms(), "twovideo.asf", shortProbe);
}

TEST(FfmpegPeer, ReadsPacketsWithPaddingStripped) {
  ServerOptions o = TestServer::Defaults();
  o.stripPadding = true;
  TestServer server(o);
  ExpectFfmpegCopiesWholeClip("mmsh", server.Http(), "clip.wmv");
  ExpectFfmpegCopiesWholeClip("mmst", server.Mms(), "clip.wmv");
}

}  // namespace
}  // namespace qor::server::testing
