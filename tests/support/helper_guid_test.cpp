#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "support/helper.h"

namespace qor {
namespace {

TEST(HelperGuid, RegistryFormUpperCaseAndFreshEachTime) {
  const std::string first = THelper::NewGuidText();
  const std::string second = THelper::NewGuidText();
  ASSERT_EQ(first.size(), 38u);
  EXPECT_EQ(first.front(), '{');
  EXPECT_EQ(first.back(), '}');
  for (size_t i = 1; i < 37; ++i) {
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      EXPECT_EQ(first[i], '-') << first;
    } else {
      const char ch = first[i];
      EXPECT_TRUE((ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F')) << first;
    }
  }
  EXPECT_EQ(first[15], '4') << first;  // version 4
  EXPECT_NE(first, second);
}

}  // namespace
}  // namespace qor
