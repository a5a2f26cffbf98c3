#include "support/base64.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace qor {
namespace {

std::string Decoded(const Base64Coder& coder) {
  return std::string(reinterpret_cast<const char*>(coder.Decoded()), coder.DecodedLength());
}

TEST(Base64Encode, PadsTheLastGroup) {
  Base64Coder coder;
  coder.EncodeText("abc");
  EXPECT_STREQ(coder.Encoded(), "YWJj");
  EXPECT_EQ(coder.EncodedLength(), 4u);
  coder.EncodeText("ab");
  EXPECT_STREQ(coder.Encoded(), "YWI=");
  coder.EncodeText("a");
  EXPECT_STREQ(coder.Encoded(), "YQ==");
  coder.EncodeText("");
  EXPECT_STREQ(coder.Encoded(), "");
  EXPECT_EQ(coder.EncodedLength(), 0u);
  EXPECT_EQ(Base64Coder::EncodeString("user:pa:ss"), "dXNlcjpwYTpzcw==");
}

TEST(Base64Encode, BinaryAndLongInputWithoutLineBreaks) {
  std::vector<uint8_t> bytes(10000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  Base64Coder coder;
  coder.Encode(bytes.data(), static_cast<uint32_t>(bytes.size()));
  ASSERT_EQ(coder.EncodedLength(), 13336u);
  EXPECT_EQ(std::strlen(coder.Encoded()), 13336u);
  EXPECT_EQ(std::string(coder.Encoded()).find_first_of("\r\n"), std::string::npos);

  Base64Coder back;
  back.Decode(coder.Encoded(), coder.EncodedLength());
  ASSERT_EQ(back.DecodedLength(), 10002u);  // the padded group counts whole
  EXPECT_EQ(std::memcmp(back.Decoded(), bytes.data(), bytes.size()), 0);
}

TEST(Base64Encode, AllByteValuesRoundTrip) {
  std::string plain;
  for (int i = 1; i < 256; ++i) plain += static_cast<char>(i);
  EXPECT_EQ(Base64Coder::DecodeString(Base64Coder::EncodeString(plain)), plain);
}

TEST(Base64Decode, SkipsSpaceCharacters) {
  Base64Coder coder;
  coder.DecodeText("YW Jj");
  EXPECT_EQ(Decoded(coder), "abc");
  coder.DecodeText("\tY\r\nW\vJ\fj \a");
  EXPECT_EQ(Decoded(coder), "abc");
}

TEST(Base64Decode, PaddingBecomesZeroBytesThatEndTheText) {
  Base64Coder coder;
  coder.DecodeText("YQ==");
  EXPECT_EQ(coder.DecodedLength(), 3u);
  EXPECT_EQ(Decoded(coder), std::string("a\0\0", 3));
  EXPECT_EQ(Base64Coder::DecodeString("YQ=="), "a");
  EXPECT_EQ(Base64Coder::DecodeString("dXNlcjpwYTpzcw=="), "user:pa:ss");
}

TEST(Base64Decode, TrailingPartialGroupCountsOnlyCoveredBytes) {
  Base64Coder coder;
  coder.DecodeText("YWJjZA");  // "abcd" without its padding
  EXPECT_EQ(Decoded(coder), "abcd");
  coder.DecodeText("YWJjZGU");
  EXPECT_EQ(Decoded(coder), "abcde");
  // A single character covers no whole byte, and leaves nothing behind in the buffer either.
  coder.DecodeText("YWJjZ");
  EXPECT_EQ(Decoded(coder), "abc");
  EXPECT_EQ(coder.Decoded()[3], 0);
  coder.DecodeText("Y");
  EXPECT_EQ(coder.DecodedLength(), 0u);
  EXPECT_EQ(coder.Decoded()[0], 0);
}

TEST(Base64Decode, UnknownCharactersReadAsSixtyTwo) {
  EXPECT_EQ(Base64Coder::DecodeString("*AAA"), Base64Coder::DecodeString("+AAA"));
  EXPECT_EQ(Base64Coder::DecodeString("YW#j"), Base64Coder::DecodeString("YW+j"));
  // With the top bit set a character decodes as its 7-bit twin.
  const std::string high = {static_cast<char>('Y' | 0x80), 'W', 'J', static_cast<char>('j' | 0x80)};
  EXPECT_EQ(Base64Coder::DecodeString(high), "abc");
}

TEST(Base64Decode, ReadsOnlyTheGivenCount) {
  // No terminator inside the counted characters: the coder must stop at the count.
  const char text[4] = {'Y', 'W', 'J', 'j'};
  Base64Coder coder;
  coder.Decode(text, 2);
  EXPECT_EQ(Decoded(coder), "a");
  coder.Decode(text, 0);
  EXPECT_EQ(coder.DecodedLength(), 0u);
  coder.DecodeText(nullptr);
  coder.EncodeText(nullptr);
  EXPECT_EQ(coder.DecodedLength(), 0u);
}

TEST(Base64Coder, ReusedCoderStartsEachRunClean) {
  Base64Coder coder;
  coder.DecodeText("bG9uZ2VyIHRleHQgaGVyZQ==");
  coder.DecodeText("YQ==");
  EXPECT_STREQ(reinterpret_cast<const char*>(coder.Decoded()), "a");
  coder.EncodeText("a long text to encode first");
  coder.EncodeText("ab");
  EXPECT_STREQ(coder.Encoded(), "YWI=");
  Base64Coder fresh;
  EXPECT_STREQ(fresh.Encoded(), "");
  EXPECT_EQ(fresh.Decoded()[0], 0);
}

}  // namespace
}  // namespace qor
