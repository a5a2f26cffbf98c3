// Damaged header blocks: every read stays inside the block, counts are bounded, and a required
// field beyond the end fails with its object's text. Run under AddressSanitizer to catch stray
// reads: each block is parsed from a heap buffer of exactly its own length.

#include <gtest/gtest.h>

#include <memory>

#include "asf/asf.h"
#include "asf_builders.h"
#include "support/message_queue.h"

namespace qor::asf_test {
namespace {

struct Outcome {
  bool ok;
  std::string text;  // the last posted text
};

Outcome ParseExact(TASF& asf, const Bytes& block, size_t length) {
  TMessageClass queue;
  asf.Messages = &queue;
  auto exact = std::make_unique<uint8_t[]>(length == 0 ? 1 : length);
  std::copy(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(length), exact.get());
  Outcome out{asf.ParseHeader(exact.get(), length), ""};
  MessagePair pair;
  while (queue.Take(pair)) out.text = pair.text;
  asf.Messages = nullptr;
  return out;
}

Bytes RichHeader() {
  return HeaderBlock(
      {FilePropertiesObject({}), HeaderExtensionObject(), VideoStream(1, 8, 8),
       AudioStream(2, 2, 44100), BitrateObject({{1, 5}, {2, 6}}),
       ContentDescriptionObject("a", "b", "c", "d", "e"),
       ExtendedContentObject({{"n", 0, WideValue("v")}, {"m", 3, NumberValue(7, 4)}}),
       CodecListObject({{1, "n", "d", "i"}, {2, "m", "e", "j"}})});
}

TEST(HeaderBounds, EveryTruncationIsHandled) {
  const Bytes block = RichHeader();
  TASF asf;
  for (size_t length = 1; length <= block.size(); ++length) {
    const Outcome out = ParseExact(asf, block, length);
    // The Data Object comes last: the block parses once its packet count is inside.
    EXPECT_EQ(out.ok, length >= block.size() - 2) << length;
    if (!out.ok) {
      EXPECT_EQ(out.text, "TASF: no data object was found") << length;
    }
  }
}

TEST(HeaderBounds, TruncatedObjectsAfterTheDataObject) {
  // Objects placed after the Data Object's 50 bytes, cut by the end of the block.
  const Bytes head = HeaderBlock({HeaderExtensionObject(), VideoStream(1, 8, 8)});
  const Bytes props = FilePropertiesObject({});
  TASF asf;
  for (size_t cut = 1; cut < props.size(); ++cut) {
    Bytes block = head;
    block.insert(block.end(), props.begin(), props.begin() + static_cast<std::ptrdiff_t>(cut));
    const Outcome out = ParseExact(asf, block, block.size());
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.text, "TASF: no file properties object found") << cut;
  }
  // A Stream Properties match whose fields leave the block.
  const Bytes video = VideoStream(2, 8, 8);
  const Bytes base =
      HeaderBlock({FilePropertiesObject({}), HeaderExtensionObject(), VideoStream(1, 8, 8)});
  for (size_t cut = 6; cut < 86; ++cut) {
    Bytes block = base;
    block.insert(block.end(), video.begin(), video.begin() + static_cast<std::ptrdiff_t>(cut));
    const Outcome out = ParseExact(asf, block, block.size());
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.text, "TASF: no media streams found in header") << cut;
    EXPECT_EQ(asf.StreamCount, 1u);
  }
  // Optional objects cut short keep what lies inside and raise nothing.
  for (const Bytes& optional :
       {BitrateObject({{1, 5}, {2, 6}}), ContentDescriptionObject("title", "", "", "", ""),
        ExtendedContentObject({{"n", 0, WideValue("v")}, {"m", 5, NumberValue(7, 2)}}),
        CodecListObject({{1, "n", "d", "i"}, {2, "m", "e", "j"}})}) {
    for (size_t cut = 1; cut <= optional.size(); ++cut) {
      Bytes block = base;
      block.insert(block.end(), optional.begin(),
                   optional.begin() + static_cast<std::ptrdiff_t>(cut));
      const Outcome out = ParseExact(asf, block, block.size());
      EXPECT_TRUE(out.ok) << cut;
      EXPECT_LE(asf.BitrateCount, 2u);
      EXPECT_LE(asf.ExtendedCount, 2u);
      EXPECT_LE(asf.CodecCount, 2u);
    }
  }
}

TEST(HeaderBounds, PrefixesAtTheVeryEnd) {
  TASF asf;
  Bytes block =
      HeaderBlock({FilePropertiesObject({}), HeaderExtensionObject(), VideoStream(1, 8, 8)});
  // A second Stream Properties prefix as the block's last 6 bytes: a match with no fields.
  block.insert(block.end(), asf_guid::kStreamProperties, asf_guid::kStreamProperties + 6);
  Outcome out = ParseExact(asf, block, block.size());
  EXPECT_FALSE(out.ok);
  EXPECT_EQ(out.text, "TASF: no media streams found in header");
  // The same prefix cut by one byte is no match at all.
  out = ParseExact(asf, block, block.size() - 1);
  EXPECT_TRUE(out.ok);
  EXPECT_EQ(asf.StreamCount, 1u);
  // Optional objects' prefixes alone at the end are harmless.
  for (const auto* prefix : {asf_guid::kCodecList, asf_guid::kExtendedContentDescription,
                             asf_guid::kContentDescription, asf_guid::kStreamBitrateProperties}) {
    Bytes withPrefix =
        HeaderBlock({FilePropertiesObject({}), HeaderExtensionObject(), VideoStream(1, 8, 8)});
    withPrefix.insert(withPrefix.end(), prefix, prefix + 6);
    EXPECT_TRUE(ParseExact(asf, withPrefix, withPrefix.size()).ok);
  }
}

TEST(HeaderBounds, HugeCountsAndLengths) {
  TASF asf;
  const Bytes base =
      HeaderBlock({FilePropertiesObject({}), HeaderExtensionObject(), VideoStream(1, 8, 8)});
  // Codec count of 4 billion with two real entries.
  Bytes block = base;
  const Bytes codecs = CodecListObject({{1, "a", "b", "c"}, {2, "d", "e", "f"}}, 0xFFFFFFFFll);
  block.insert(block.end(), codecs.begin(), codecs.end());
  EXPECT_TRUE(ParseExact(asf, block, block.size()).ok);
  EXPECT_EQ(asf.CodecCount, 2u);

  // Descriptor count 65535 and a descriptor whose value length is 65535.
  Bytes ecd = ExtendedContentObject({{"ok", 0, WideValue("v")}, {"big", 1, Bytes(4, 0)}}, 65535);
  PutAt(ecd, ecd.size() - 6, 65535, 2);  // value length of the second descriptor
  block = base;
  block.insert(block.end(), ecd.begin(), ecd.end());
  EXPECT_TRUE(ParseExact(asf, block, block.size()).ok);
  EXPECT_EQ(asf.ExtendedCount, 1u);
  EXPECT_EQ(asf.ExtendedValues[0], "v");

  // Content description lengths of 65535 each.
  Bytes cd = ContentDescriptionObject("title", "", "", "", "");
  for (int i = 0; i < 5; ++i) PutAt(cd, 24 + 2 * i, 65535, 2);
  block = base;
  block.insert(block.end(), cd.begin(), cd.end());
  EXPECT_TRUE(ParseExact(asf, block, block.size()).ok);
  EXPECT_EQ(asf.Title, "title");
  EXPECT_TRUE(asf.Author.empty());

  // A bitrate record count of 65535 with one record present.
  Bytes rates = BitrateObject({{3, 9}});
  PutAt(rates, 24, 65535, 2);
  block = base;
  block.insert(block.end(), rates.begin(), rates.end());
  EXPECT_TRUE(ParseExact(asf, block, block.size()).ok);
  EXPECT_EQ(asf.BitrateCount, 1u);
}

TEST(HeaderBounds, RandomDamageNeverEscapesTheBlock) {
  const Bytes block = RichHeader();
  TASF asf;
  uint32_t state = 12345;
  auto next = [&] { return state = state * 1664525u + 1013904223u; };
  for (int round = 0; round < 3000; ++round) {
    Bytes damaged = block;
    for (int k = 0; k < 4; ++k)
      damaged[next() % damaged.size()] = static_cast<uint8_t>(next() >> 24);
    const Outcome out = ParseExact(asf, damaged, damaged.size());
    EXPECT_LE(asf.StreamCount, kAsfSlots);
    EXPECT_LE(asf.CodecCount, kAsfSlots);
    EXPECT_LE(asf.ExtendedCount, kAsfSlots);
    EXPECT_LE(asf.BitrateCount, kAsfSlots);
    if (!out.ok) {
      EXPECT_FALSE(out.text.empty());
    }
  }
}

}  // namespace
}  // namespace qor::asf_test
