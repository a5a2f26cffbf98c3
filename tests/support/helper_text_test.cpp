#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "support/helper.h"
#include "support/unicode_text.h"

namespace qor {
namespace {

TEST(TextPrimitives, OutOfRangeArgumentsShortenTheResult) {
  EXPECT_EQ(THelper::Length(""), 0);
  EXPECT_EQ(THelper::Length("abc"), 3);
  EXPECT_EQ(THelper::Left("abc", 2), "ab");
  EXPECT_EQ(THelper::Left("abc", 9), "abc");
  EXPECT_EQ(THelper::Left("abc", -1), "");
  EXPECT_EQ(THelper::Mid("abcdef", 2, 3), "bcd");
  EXPECT_EQ(THelper::Mid("abcdef", 5, 9), "ef");
  EXPECT_EQ(THelper::Mid("abcdef", 7, 1), "");
  EXPECT_EQ(THelper::Mid("abcdef", 0, 2), "ab");
  EXPECT_EQ(THelper::Mid("abcdef", 3, 0), "");
  EXPECT_EQ(THelper::Right("abcdef", 2), "ef");
  EXPECT_EQ(THelper::Right("abc", 5), "abc");
  EXPECT_EQ(THelper::Right("abc", 0), "");
  EXPECT_EQ(THelper::IntText(-2147483647 - 1), "-2147483648");
  EXPECT_EQ(THelper::CharText(0), std::string(1, '\0'));
  EXPECT_EQ(THelper::CharText(200), std::string(1, static_cast<char>(200)));
}

TEST(TextPrimitives, TrimAndLowerCase) {
  EXPECT_EQ(THelper::Trim(" \t\r\n\x01 a b \x1f "), "a b");
  EXPECT_EQ(THelper::Trim("   "), "");
  // Bytes above 127 are text in the desktop's code page, not blanks.
  EXPECT_EQ(THelper::Trim("\xA0x\xA0"), "\xA0x\xA0");
  EXPECT_EQ(THelper::LowerCase("MMS://Host/A.ASF\xC4"), "mms://host/a.asf\xC4");
}

TEST(FormatTime, WholeSecondsContainedInTheTime) {
  EXPECT_EQ(THelper::FormatTime(0), "00 : 00 : 00");
  EXPECT_EQ(THelper::FormatTime(999), "00 : 00 : 00");
  EXPECT_EQ(THelper::FormatTime(1000), "00 : 00 : 01");
  EXPECT_EQ(THelper::FormatTime(3599999), "00 : 59 : 59");
  EXPECT_EQ(THelper::FormatTime(3600000), "01 : 00 : 00");
  EXPECT_EQ(THelper::FormatTime(3723500), "01 : 02 : 03");
  EXPECT_EQ(THelper::FormatTime(59999), "00 : 00 : 59");
  EXPECT_EQ(THelper::FormatTime(600000), "00 : 10 : 00");
}

TEST(FormatTime, FractionsAndExtremes) {
  // Within the last millisecond before a second, that second already counts.
  EXPECT_EQ(THelper::FormatTime(999.5), "00 : 00 : 01");
  EXPECT_EQ(THelper::FormatTime(998.9), "00 : 00 : 00");
  EXPECT_EQ(THelper::FormatTime(0.5), "00 : 00 : 00");
  // Hours take as many digits as they need.
  EXPECT_EQ(THelper::FormatTime(100.0 * 3600000), "100 : 00 : 00");
  EXPECT_EQ(THelper::FormatTime(4294967295.0), "1193 : 02 : 47");
  // Nothing sensible to show for these; they must not be garbage either.
  EXPECT_EQ(THelper::FormatTime(-5000), "00 : 00 : 00");
  EXPECT_EQ(THelper::FormatTime(std::numeric_limits<double>::quiet_NaN()), "00 : 00 : 00");
}

TEST(HexDump, SixteenBytesPerLine) {
  EXPECT_EQ(THelper::HexDump(nullptr, 0), " Data Dump: \r\n");
  std::vector<uint8_t> bytes(17);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 15 + 10);
  const std::string dump = THelper::HexDump(bytes.data(), 17);
  EXPECT_EQ(dump,
            " Data Dump: \r\n"
            "0A 19 28 37 46 55 64 73 82 91 A0 AF BE CD DC EB \r\n"
            "FA ");
  const std::string two_lines = THelper::HexDump(bytes.data(), 16);
  EXPECT_EQ(two_lines.substr(two_lines.size() - 5), "EB \r\n");
  EXPECT_EQ(THelper::HexDump(bytes.data(), -3), " Data Dump: \r\n");
}

TEST(DwordToBytes, LeastSignificantFirst) {
  uint8_t out[4] = {};
  THelper::DwordToBytes(0x12345678u, out);
  EXPECT_EQ(out[0], 0x78);
  EXPECT_EQ(out[1], 0x56);
  EXPECT_EQ(out[2], 0x34);
  EXPECT_EQ(out[3], 0x12);
}

}  // namespace
}  // namespace qor

namespace qor {
namespace {

// What files and servers send is not always well-formed: a lone surrogate, an odd byte, bytes
// that are not UTF-8 must still give UTF-8.
TEST(UnicodeText, Utf16BecomesUtf8AndBadInputIsReplaced) {
  const uint8_t text[] = {'C',  0,    0xE9, 0, 0x15, 0x26, 0x34, 0xD8, 0x1E, 0xDD,  // C é ☕ 𝄞
                          0x00, 0xD8, 'x',  0,                                      // lone high
                          0,    0,    'z',  0};
  EXPECT_EQ(Utf16LeToUtf8(text, sizeof text, true),
            "C\xC3\xA9\xE2\x98\x95\xF0\x9D\x84\x9E\xEF\xBF\xBDx");
  EXPECT_EQ(Utf16LeToUtf8(text, 3, true), "C");  // the odd byte is no character
  EXPECT_EQ(Utf16LeToUtf8(text + 14, 4, false), std::string("\0z", 2));

  EXPECT_EQ(ValidUtf8("Caf\xC3\xA9 \xF0\x9D\x84\x9E"), "Caf\xC3\xA9 \xF0\x9D\x84\x9E");
  EXPECT_EQ(ValidUtf8("Caf\xE9!"), "Caf\xEF\xBF\xBD!");                          // Latin-1
  EXPECT_EQ(ValidUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");                  // overlong "/"
  EXPECT_EQ(ValidUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate
  EXPECT_EQ(ValidUtf8("end\xE2\x98"), "end\xEF\xBF\xBD\xEF\xBF\xBD");            // cut short
}

}  // namespace
}  // namespace qor
