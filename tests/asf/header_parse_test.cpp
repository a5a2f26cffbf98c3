// The header model: what a header block yields, and how each missing or damaged part is reported.

#include <gtest/gtest.h>

#include "asf/asf.h"
#include "asf_builders.h"
#include "support/message_queue.h"

namespace qor::asf_test {
namespace {

class HeaderParse : public ::testing::Test {
 protected:
  HeaderParse() { asf.Messages = &queue; }

  bool Parse(const Bytes& block) { return asf.ParseHeader(block.data(), block.size()); }
  // Every text posted since the last call, each with the code it carried.
  std::vector<std::string> Posted() {
    std::vector<std::string> texts;
    MessagePair pair;
    while (queue.Take(pair)) texts.push_back(std::to_string(pair.code) + " " + pair.text);
    return texts;
  }

  TMessageClass queue;
  TASF asf;
};

using Texts = std::vector<std::string>;

TEST_F(HeaderParse, TypicalHeaderFillsTheModel) {
  FileProps props;
  props.fileSize = 0x1'0000'0005ull;  // above 4 GiB: kept whole
  const Bytes block = TypicalHeader(props);
  ASSERT_TRUE(Parse(block));
  EXPECT_TRUE(Posted().empty());
  EXPECT_EQ(asf.HeaderLength, block.size());
  EXPECT_EQ(asf.DataObjectOffset, block.size() - 50);
  EXPECT_EQ(asf.FirstPacketOffset(), block.size());
  EXPECT_EQ(asf.TotalDataPackets, 1000u);
  EXPECT_EQ(asf.StreamCount, 2u);
  EXPECT_EQ(asf.StreamKinds[0], skVideo);
  EXPECT_EQ(asf.StreamNumbers[0], 1);
  EXPECT_EQ(asf.VideoWidths[0], 320u);
  EXPECT_EQ(asf.VideoHeights[0], 240u);
  EXPECT_EQ(asf.StreamKinds[1], skAudio);
  EXPECT_EQ(asf.StreamNumbers[1], 2);
  EXPECT_EQ(asf.AudioChannels[1], 2);
  EXPECT_EQ(asf.AudioSampleRates[1], 44100u);
  EXPECT_EQ(asf.FileSize, 0x1'0000'0005ull);
  EXPECT_EQ(asf.DataPacketsCount, 77u);
  EXPECT_DOUBLE_EQ(asf.PlayDuration, 65000.0);
  EXPECT_DOUBLE_EQ(asf.SendDuration, 60000.0);
  EXPECT_DOUBLE_EQ(asf.Preroll, 5000.0);
  EXPECT_EQ(asf.FileFlags, ffBroadcast);
  EXPECT_EQ(asf.PacketSize, 3200u);
  EXPECT_EQ(asf.MaxBitrate, 128999u);
  EXPECT_TRUE(asf.CreationText.empty());
  // Optional objects missing: empty texts and zero counts.
  EXPECT_EQ(asf.BitrateCount, 0u);
  EXPECT_EQ(asf.ExtendedCount, 0u);
  EXPECT_EQ(asf.CodecCount, 0u);
  EXPECT_TRUE(asf.Title.empty());
  EXPECT_TRUE(asf.Rating.empty());
}

TEST_F(HeaderParse, ZeroLengthFailsWithoutClearing) {
  ASSERT_TRUE(Parse(TypicalHeader()));
  const uint8_t none = 0;
  EXPECT_FALSE(asf.ParseHeader(&none, 0));
  EXPECT_EQ(Posted(), Texts{"8 TASF: header data length is zero"});
  EXPECT_EQ(asf.StreamCount, 2u);
  EXPECT_EQ(asf.PacketSize, 3200u);
}

TEST_F(HeaderParse, RequiredObjectsAreCheckedInOrder) {
  const Bytes props = FilePropertiesObject({});
  const Bytes ext = HeaderExtensionObject();
  const Bytes video = VideoStream(1, 8, 8);
  // Without a Data Object (cut before it).
  Bytes noData = HeaderBlock({props, ext, video});
  noData.resize(noData.size() - 50);
  EXPECT_FALSE(Parse(noData));
  EXPECT_EQ(Posted(), Texts{"8 TASF: no data object was found"});

  EXPECT_FALSE(Parse(HeaderBlock({props, video})));
  EXPECT_EQ(Posted(), Texts{"8 TASF: no header extention object was found"});
  EXPECT_EQ(asf.TotalDataPackets, 1000u);  // filled before the failing step

  EXPECT_FALSE(Parse(HeaderBlock({props, ext})));
  EXPECT_EQ(Posted(), Texts{"8 TASF: no media streams found in header"});

  EXPECT_FALSE(Parse(HeaderBlock({ext, video, BitrateObject({{1, 5000}})})));
  EXPECT_EQ(Posted(), Texts{"8 TASF: no file properties object found"});
  EXPECT_EQ(asf.StreamCount, 1u);
  EXPECT_EQ(asf.BitrateCount, 1u);
}

TEST_F(HeaderParse, VariablePacketSizesFailAfterStreamsAndBitrates) {
  FileProps props;
  props.minPacket = 3200;
  props.maxPacket = 3210;
  EXPECT_FALSE(
      Parse(HeaderBlock({BitrateObject({{1, 100000}, {2, 32000}}), FilePropertiesObject(props),
                         HeaderExtensionObject(), VideoStream(1, 8, 8), AudioStream(2, 1, 8000)})));
  EXPECT_EQ(Posted(), Texts{"8 TASF: packet sizes are variable"});
  EXPECT_EQ(asf.StreamCount, 2u);
  EXPECT_EQ(asf.BitrateCount, 2u);
  EXPECT_EQ(asf.AverageBitrates[1], 32000u);
  EXPECT_EQ(asf.PacketSize, 0u);
}

TEST_F(HeaderParse, StreamKindsAndEmbeddedStreams) {
  const uint8_t audioSpread[6] = {0x50, 0xCD, 0xC3, 0xBF, 0x8F, 0x61};
  const uint8_t otherType[6] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
  Bytes command = StreamObject(asf_guid::kCommandMedia, 5, {});
  Bytes other = StreamObject(otherType, 0x86, {});  // number keeps only its low 7 bits
  // A Stream Properties Object inside the Header Extension counts as one more stream.
  const Bytes ext = HeaderExtensionObject(VideoStream(9, 64, 48));
  ASSERT_TRUE(Parse(HeaderBlock({FilePropertiesObject({}), AudioStream(1, 2, 44100, audioSpread),
                                 AudioStream(2, 1, 8000), command, other, ext})));
  ASSERT_EQ(asf.StreamCount, 5u);
  EXPECT_EQ(asf.StreamKinds[0], skAudio | skErrorCorrected);
  EXPECT_EQ(asf.StreamKinds[1], skAudio);
  EXPECT_EQ(asf.StreamKinds[2], skCommand);
  EXPECT_EQ(asf.StreamKinds[3], skOther);
  EXPECT_EQ(asf.StreamNumbers[3], 6);
  EXPECT_EQ(asf.StreamKinds[4], skVideo);
  EXPECT_EQ(asf.StreamNumbers[4], 9);
  EXPECT_EQ(asf.VideoWidths[4], 64u);
}

TEST_F(HeaderParse, ChannelByteIsSigned) {
  ASSERT_TRUE(Parse(HeaderBlock(
      {FilePropertiesObject({}), HeaderExtensionObject(), AudioStream(1, 0xFF, 22050)})));
  EXPECT_EQ(asf.AudioChannels[0], -1);
}

TEST_F(HeaderParse, ContentDescriptionTexts) {
  ASSERT_TRUE(
      Parse(HeaderBlock({FilePropertiesObject({}), HeaderExtensionObject(), VideoStream(1, 8, 8),
                         ContentDescriptionObject("Title", "", "(c) me", "Desc", "PG")})));
  EXPECT_EQ(asf.Title, "Title");
  EXPECT_EQ(asf.Author, "");
  EXPECT_EQ(asf.Copyright, "(c) me");
  EXPECT_EQ(asf.Description, "Desc");
  EXPECT_EQ(asf.Rating, "PG");
}

TEST_F(HeaderParse, ExtendedDescriptorValues) {
  const std::vector<Descriptor> descriptors = {
      {"  WM/AlbumTitle ", 0, WideValue("\tAlbum ")},
      {"Picture", 1, Bytes(17, 0xEE)},
      {"IsVBR", 2, NumberValue(1, 4)},
      {"IsOff", 2, NumberValue(2, 4)},
      {"Minus", 3, NumberValue(4294967295u, 4)},
      {"Big", 4, NumberValue(0x7'0000'0005ull, 8)},
      {"Short", 5, NumberValue(65535, 2)},
      {"Odd", 9, NumberValue(1, 2)},
      // A 2-byte boolean: the value's own bytes only, never the next descriptor's.
      {"ShortBool", 2, NumberValue(1, 2)},
      {"After", 0, WideValue("x")},
  };
  ASSERT_TRUE(Parse(HeaderBlock({FilePropertiesObject({}), HeaderExtensionObject(),
                                 VideoStream(1, 8, 8), ExtendedContentObject(descriptors)})));
  ASSERT_EQ(asf.ExtendedCount, 10u);
  const Texts names(asf.ExtendedNames, asf.ExtendedNames + 10);
  const Texts values(asf.ExtendedValues, asf.ExtendedValues + 10);
  EXPECT_EQ(names, (Texts{"WM/AlbumTitle", "Picture", "IsVBR", "IsOff", "Minus", "Big", "Short",
                          "Odd", "ShortBool", "After"}));
  EXPECT_EQ(values, (Texts{"Album", "Binary array of length: 17", " = true", " = false", "-1", "5",
                           "65535", "Data type unknown", " = true", "x"}));
}

TEST_F(HeaderParse, EleventhEntriesAreKeptOut) {
  std::vector<Bytes> objects = {FilePropertiesObject({}), HeaderExtensionObject()};
  for (int k = 0; k < 12; ++k) objects.push_back(VideoStream(static_cast<uint8_t>(k + 1), 8, 8));
  std::vector<Descriptor> descriptors;
  std::vector<Codec> codecs;
  for (int k = 0; k < 12; ++k) {
    descriptors.push_back({"n" + std::to_string(k), 0, WideValue("v")});
    codecs.push_back({1, "c" + std::to_string(k), "d", "i"});
  }
  objects.push_back(ExtendedContentObject(descriptors));
  objects.push_back(CodecListObject(codecs));
  objects.push_back(BitrateObject({{1, 1},
                                   {2, 2},
                                   {3, 3},
                                   {4, 4},
                                   {5, 5},
                                   {6, 6},
                                   {7, 7},
                                   {8, 8},
                                   {9, 9},
                                   {10, 10},
                                   {11, 11},
                                   {12, 12}}));
  ASSERT_TRUE(Parse(HeaderBlock(objects)));
  EXPECT_EQ(asf.StreamCount, 10u);
  EXPECT_EQ(asf.StreamNumbers[9], 10);
  EXPECT_EQ(asf.ExtendedCount, 10u);
  EXPECT_EQ(asf.ExtendedNames[9], "n9");
  EXPECT_EQ(asf.CodecCount, 10u);
  EXPECT_EQ(asf.CodecNames[9], "c9");
  EXPECT_EQ(asf.BitrateCount, 10u);
  EXPECT_EQ(asf.AverageBitrates[9], 10u);
}

TEST_F(HeaderParse, CodecEntries) {
  const std::vector<Codec> codecs = {
      {1, "Windows Media Video 8", " wmv2 ", "WMV2"},
      {2, "Windows Media Audio V2", "32 kbps, 22 kHz, mono", "\x61\x01"},
      {0xFFFF, "Broken", "", ""},
      {7, "Other", "x", "y"},
  };
  ASSERT_TRUE(Parse(HeaderBlock({FilePropertiesObject({}), HeaderExtensionObject(),
                                 VideoStream(1, 8, 8), CodecListObject(codecs)})));
  ASSERT_EQ(asf.CodecCount, 4u);
  EXPECT_EQ(asf.CodecKinds[0], ckVideo);
  EXPECT_EQ(asf.CodecKinds[1], ckAudio);
  EXPECT_EQ(asf.CodecKinds[2], ckUnknown);
  EXPECT_EQ(asf.CodecKinds[3], 0u);
  EXPECT_EQ(asf.CodecNames[0], "Windows Media Video 8");
  EXPECT_EQ(asf.CodecDescriptions[0], "wmv2");
  EXPECT_EQ(asf.CodecInformation[0], "WMV2");
  EXPECT_EQ(asf.CodecInformation[1], "a");  // the control byte 0x01 is trimmed
  EXPECT_EQ(asf.CodecDescriptions[2], "");
}

TEST_F(HeaderParse, CreationDateText) {
  FileProps props;
  props.creation = 132539328000000000ull;  // 2021-01-01 00:00:00 UTC
  ASSERT_TRUE(Parse(TypicalHeader(props)));
  EXPECT_EQ(asf.CreationText, "Fri, 01 January 2021  12:00:00 AM  (ASF FILETIME)");
  props.creation = 132539328000000000ull + 13 * 3600 * 10000000ull + 5 * 10000000ull;
  ASSERT_TRUE(Parse(TypicalHeader(props)));
  EXPECT_EQ(asf.CreationText, "Fri, 01 January 2021  01:00:05 PM  (ASF FILETIME)");
  props.creation = 0x8000000000000000ull;
  ASSERT_TRUE(Parse(TypicalHeader(props)));
  EXPECT_EQ(asf.CreationText, "TASF: FILETIME read value error");
  EXPECT_TRUE(Posted().empty());
}

TEST_F(HeaderParse, ResetKeepsTheQueue) {
  ASSERT_TRUE(Parse(HeaderBlock(
      {FilePropertiesObject({}), HeaderExtensionObject(), VideoStream(1, 8, 8),
       ContentDescriptionObject("T", "", "", "", ""), CodecListObject({{1, "n", "d", "i"}})})));
  EXPECT_TRUE(asf.Reset());
  EXPECT_EQ(asf.Messages, &queue);
  EXPECT_EQ(asf.StreamCount, 0u);
  EXPECT_EQ(asf.CodecCount, 0u);
  EXPECT_TRUE(asf.CodecNames[0].empty());
  EXPECT_TRUE(asf.Title.empty());
  EXPECT_EQ(asf.HeaderLength, 0u);
  EXPECT_EQ(asf.PacketSize, 0u);
}

TEST(AsfPrefix, SearchStartsAtOneAndStaysInside) {
  const uint8_t p[6] = {1, 2, 3, 4, 5, 6};
  Bytes b = {1, 2, 3, 4, 5, 6, 0};
  EXPECT_EQ(FindAsfPrefix(b.data(), b.size(), p), -1);  // position 0 is never examined
  b.insert(b.begin(), 9);
  EXPECT_EQ(FindAsfPrefix(b.data(), b.size(), p), 1);
  // A match ending exactly at the end is inside; one cut by the end is not.
  Bytes tail = {0, 0, 1, 2, 3, 4, 5, 6};
  EXPECT_EQ(FindAsfPrefix(tail.data(), tail.size(), p), 2);
  tail.pop_back();
  EXPECT_EQ(FindAsfPrefix(tail.data(), tail.size(), p), -1);
  // The first occurrence wins, partial ones before it do not confuse the scan.
  Bytes twice = {0, 1, 2, 3, 1, 2, 3, 4, 5, 6, 1, 2, 3, 4, 5, 6};
  EXPECT_EQ(FindAsfPrefix(twice.data(), twice.size(), p), 4);
}

}  // namespace
}  // namespace qor::asf_test
