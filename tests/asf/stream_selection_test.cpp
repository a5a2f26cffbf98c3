// Choosing streams from real headers: the multiple-bit-rate sample (rates and mutual exclusion
// as an encoder writes them) and ffmpeg's own headers, which carry neither.

#include "asf/stream_selection.h"

#include <gtest/gtest.h>

#include "asf/asf.h"
#include "asf_files.h"

namespace qor {
namespace {

using asf_test::ReadWholeFile;
using asf_test::SampleMediaFolder;

std::vector<uint8_t> Sample(const std::string& name) {
  return ReadWholeFile(SampleMediaFolder() + "/" + name);
}

StreamOffer OfferOf(const std::vector<uint8_t>& file) {
  return ReadStreamOffer(file.data(), file.size());
}

std::vector<uint8_t> Chosen(const StreamOffer& offer, uint32_t rate, bool audioOnly = false,
                            std::vector<uint8_t> numbers = {}) {
  StreamRequest request;
  request.maxRate = rate;
  request.audioOnly = audioOnly;
  request.numbers = std::move(numbers);
  return SelectStreams(offer, request).chosen;
}

TEST(StreamSelection, EncoderLikeHeaderGivesRatesGroupsAndTheBestFit) {
  const auto file = Sample("mbr.wmv");
  ASSERT_FALSE(file.empty());
  const StreamOffer offer = OfferOf(file);
  ASSERT_EQ(offer.streams.size(), 4u);
  EXPECT_TRUE(offer.exclusionInHeader);
  EXPECT_EQ(offer.groupCount, 2);
  // The rates are those of the Stream Bitrate Properties object, as the header model reads them.
  TASF asf;
  ASSERT_TRUE(asf.ParseHeader(file.data(), file.size()));
  ASSERT_EQ(asf.BitrateCount, 4u);
  for (uint32_t i = 0; i < 4; ++i) {
    const OfferedStream* s = offer.Find(asf.BitrateStreamNumbers[i]);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->bitrate, asf.AverageBitrates[i]);
  }
  EXPECT_EQ(offer.streams[0].group, offer.streams[1].group);
  EXPECT_EQ(offer.streams[2].group, offer.streams[3].group);
  EXPECT_NE(offer.streams[0].group, offer.streams[2].group);

  // Video 1 ~420k, 2 ~75k; audio 3 ~64k, 4 ~24k.
  EXPECT_EQ(Chosen(offer, 10000000), (std::vector<uint8_t>{1, 3}));
  EXPECT_EQ(Chosen(offer, 256000), (std::vector<uint8_t>{2, 3}));
  EXPECT_EQ(Chosen(offer, 128000), (std::vector<uint8_t>{2, 4}));
  EXPECT_EQ(Chosen(offer, 0, true), (std::vector<uint8_t>{3}));
  EXPECT_EQ(Chosen(offer, 56000, true), (std::vector<uint8_t>{4}));
  // Nothing fits: the lowest of each group, and the choice says so.
  StreamRequest tight;
  tight.maxRate = 28800;
  const StreamSelection low = SelectStreams(offer, tight);
  EXPECT_EQ(low.chosen, (std::vector<uint8_t>{2, 4}));
  EXPECT_EQ(low.leftOut, (std::vector<uint8_t>{1, 3}));
  EXPECT_TRUE(low.overBudget);
  // Numbers decide alone; numbers the header lacks leave every stream.
  EXPECT_EQ(Chosen(offer, 28800, true, {1, 4}), (std::vector<uint8_t>{1, 4}));
  StreamRequest missing;
  missing.numbers = {9};
  const StreamSelection all = SelectStreams(offer, missing);
  EXPECT_TRUE(all.unmatched);
  EXPECT_EQ(all.chosen.size(), 4u);
}

TEST(StreamSelection, HeadersWithoutTheObjectsUseWhatTheySay) {
  // One audio stream: its rate from the format's byte rate (32 kbps).
  const StreamOffer clip = OfferOf(Sample("clip.wmv"));
  ASSERT_EQ(clip.streams.size(), 2u);
  EXPECT_EQ(clip.groupCount, 0);
  EXPECT_EQ(clip.streams[1].kind, OfferedKind::kAudio);
  EXPECT_EQ(clip.streams[1].bitrate, 32000u);
  EXPECT_EQ(Chosen(clip, 0, true), (std::vector<uint8_t>{2}));
  // Two video streams of unknown rate still exclude each other; header order decides.
  const StreamOffer two = OfferOf(Sample("twovideo.asf"));
  ASSERT_EQ(two.streams.size(), 2u);
  EXPECT_FALSE(two.exclusionInHeader);
  EXPECT_EQ(two.streams[0].group, two.streams[1].group);
  EXPECT_EQ(Chosen(two, 56000), (std::vector<uint8_t>{1}));
  // Audio only of a header without audio chooses nothing (the session then asks for all).
  EXPECT_TRUE(Chosen(two, 0, true).empty());
}

TEST(StreamSelection, CutOrDamagedHeadersAreReadInsideTheirBytes) {
  const auto file = Sample("mbr.wmv");
  ASSERT_GT(file.size(), 2000u);
  for (size_t length = 0; length < 1600; ++length) {
    const std::vector<uint8_t> cut(file.begin(),
                                   file.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_LE(ReadStreamOffer(cut.data(), cut.size()).streams.size(), 4u);
  }
  // Every byte of the header set to 0xFF in turn: sizes and counts become huge.
  std::vector<uint8_t> header(file.begin(), file.begin() + 1600);
  for (size_t i = 0; i < header.size(); ++i) {
    const uint8_t kept = header[i];
    header[i] = 0xFF;
    const StreamOffer offer = ReadStreamOffer(header.data(), header.size());
    EXPECT_LE(offer.streams.size(), 4u);
    SelectStreams(offer, StreamRequest{128000, false, {}});
    header[i] = kept;
  }
}

}  // namespace
}  // namespace qor
