// The media information report built from a parsed header and the session's values.

#include "asf/media_info.h"

#include <gtest/gtest.h>

#include "asf_builders.h"
#include "asf_files.h"

namespace qor::asf_test {
namespace {

using Lines = std::vector<std::string>;

TASF Parsed(const Bytes& block) {
  TASF asf;
  EXPECT_TRUE(asf.ParseHeader(block.data(), block.size()));
  return asf;
}

TEST(MediaInfo, RecordedFileFields) {
  const uint8_t audioSpread[6] = {0x50, 0xCD, 0xC3, 0xBF, 0x8F, 0x61};
  FileProps props;
  props.fileSize = 0x1'2345'6789ull;  // shown whole and unsigned
  props.flags = 2;
  props.preroll = 3100;
  props.play = 91460000;  // 9146 ms
  props.send = 60460000;
  props.maxBitrate = 128999;
  const TASF asf = Parsed(HeaderBlock(
      {FilePropertiesObject(props), HeaderExtensionObject(), VideoStream(1, 160, 120),
       AudioStream(2, 2, 44100, audioSpread), StreamObject(asf_guid::kCommandMedia, 3, {}),
       ContentDescriptionObject("Clip title", "Someone", "(c) 2024", "About it", "G"),
       ExtendedContentObject({{"WM/Genre", 0, WideValue("Test")}, {"IsVBR", 2, NumberValue(0, 4)}}),
       CodecListObject({{1, "wmv2", "", "WMV2"},
                        {2, "WMA", "32 kbps", "a"},
                        {0xFFFF, "?", "", ""},
                        {0, "plain", "", ""}}),
       BitrateObject({{1, 200000}, {2, 32000}})}));
  MediaInfoSession session;
  session.location = "mms://example.org/clip";
  session.serverVersion = "9.01.01.3814";
  session.toolVersion = "9.01.01.3814";
  session.updateUrl = "http://update";
  session.encryptionType = "BASIC";
  const MediaInfoReport r = BuildMediaInfo(asf, session);

  EXPECT_EQ(r.Clip, "Clip title");
  EXPECT_EQ(r.Author, "Someone");
  EXPECT_EQ(r.Copyright, "(c) 2024");
  EXPECT_EQ(r.Description, "About it");
  EXPECT_EQ(r.Rating, "G");
  EXPECT_EQ(r.Location, "mms://example.org/clip");
  EXPECT_EQ(r.ServerVer, "9.01.01.3814");
  EXPECT_EQ(r.UpdateUrl, "http://update");
  EXPECT_EQ(r.EncryptionType, "BASIC");

  EXPECT_EQ(r.ASFPacket, "3200");
  EXPECT_EQ(r.ASFHead, std::to_string(asf.HeaderLength));
  EXPECT_EQ(r.ASFTotalPackets, "1000");
  EXPECT_EQ(r.AllMaxBitRate, "128");
  EXPECT_EQ(r.FileSize, "4886718345 bytes");
  EXPECT_EQ(r.PlayDuration, "00 : 00 : 09");
  EXPECT_EQ(r.SendDuration, "00 : 00 : 06");
  EXPECT_EQ(r.PreRollDuration, "3100 mS");
  EXPECT_EQ(r.Flag, "Pre-recorded or seekable media");

  EXPECT_EQ(r.ExtContent, (Lines{"WM/Genre:\tTest", "IsVBR:\t = false"}));
  EXPECT_EQ(r.Codecs, (Lines{"------- VIDEO CODEC ------", "Codec Name:\twmv2", "Codec Desc:\t",
                             "Codec Info:\tWMV2", "------- AUDIO CODEC ------", "Codec Name:\tWMA",
                             "Codec Desc:\t32 kbps", "Codec Info:\ta", "------ INVALID CODEC -----",
                             "Codec Name:\t?", "Codec Desc:\t", "Codec Info:\t",
                             "Codec Name:\tplain", "Codec Desc:\t", "Codec Info:\t"}));
  EXPECT_EQ(r.TotalStreams, "3");
  EXPECT_EQ(r.StreamProp,
            (Lines{"Stream ID: 1\t[Video]\tWidth = 160\tHeight = 120",
                   "Stream ID: 2\t[Audio] \tAudio Correction\tRate = 44100\tChannels = 2",
                   "Stream ID: 3\t[Command] "}));
  EXPECT_EQ(r.MBR,
            (Lines{"Stream ID: 1\tBitrate: 200000 bps", "Stream ID: 2\tBitrate: 32000 bps"}));
  // Live statistics belong to the progress timer: empty in a fresh report.
  EXPECT_TRUE(r.SendTime.empty());
  EXPECT_TRUE(r.SingleMaxStreamRate.empty());
}

TEST(MediaInfo, LiveSessionAndEmptyModel) {
  FileProps props;
  props.flags = 3;  // broadcast wins over seekable
  TASF asf = Parsed(TypicalHeader(props));
  MediaInfoSession live;
  live.live = true;
  MediaInfoReport r = BuildMediaInfo(asf, live);
  EXPECT_EQ(r.FileSize, "Live");
  EXPECT_EQ(r.ASFTotalPackets, "Live");
  EXPECT_EQ(r.Flag, "Live or non-seekable media");
  EXPECT_EQ(r.MBR, Lines{"None available"});
  EXPECT_TRUE(r.ExtContent.empty());
  EXPECT_TRUE(r.Codecs.empty());

  asf.Reset();
  r = BuildMediaInfo(asf, {});
  EXPECT_EQ(r.Flag, "unknown");
  EXPECT_EQ(r.TotalStreams, "0");
  EXPECT_EQ(r.StreamProp, Lines{"Invalid streams, there must be at least one"});
  EXPECT_EQ(r.FileSize, "0 bytes");
  EXPECT_EQ(r.PreRollDuration, "0 mS");
  EXPECT_EQ(r.Clip, "");

  // Kinds that are none of the known bits, and the plain audio description.
  asf.StreamCount = 2;
  asf.StreamKinds[0] = 0;
  asf.StreamKinds[1] = skAudio;
  asf.AudioSampleRates[1] = 8000;
  asf.AudioChannels[1] = 1;
  asf.StreamNumbers[1] = 127;
  r = BuildMediaInfo(asf, {});
  EXPECT_EQ(r.StreamProp, (Lines{"Stream ID: 0\t[fault] ",
                                 "Stream ID: 127\t[Audio] \tRate = 8000\tChannels = 1"}));
  asf.StreamKinds[0] = skOther;
  EXPECT_EQ(StreamDescription(asf, 0), "[unknown type - script?] ");
}

TEST(MediaInfo, SavedSampleFile) {
  TASF asf;
  ASSERT_TRUE(asf.ReadHeaderFromFile(SampleMediaFolder() + "/clip.wmv"));
  const MediaInfoReport r = BuildMediaInfo(asf, {});
  EXPECT_EQ(r.Clip, "Qor sample clip");
  EXPECT_EQ(r.StreamProp[0], "Stream ID: 1\t[Video]\tWidth = 160\tHeight = 120");
  EXPECT_EQ(r.Created_Asf, "Thu, 01 January 1970  12:00:00 AM  (ASF FILETIME)");
  EXPECT_NE(r.Created_File.find("  (File last written stamp)"), std::string::npos);
  EXPECT_EQ(r.Flag, "Pre-recorded or seekable media");
}

}  // namespace
}  // namespace qor::asf_test
