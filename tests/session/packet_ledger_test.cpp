#include "session/packet_ledger.h"

#include <gtest/gtest.h>

namespace qor {
namespace {

TEST(PacketLedger, CountsHolesAndAnyEndAServerClaims) {
  PacketLedger ledger;
  EXPECT_TRUE(ledger.Empty());
  for (int64_t i : {5, 6, 9, 7, 6}) ledger.Mark(i);
  ledger.Mark(-1);  // refused indices never count
  EXPECT_EQ(ledger.First(), 5);
  EXPECT_EQ(ledger.Highest(), 9);
  EXPECT_EQ(ledger.MissingIn(5, 10), 1u);  // 8
  EXPECT_EQ(ledger.MissingIn(0, 10), 6u);
  EXPECT_EQ(ledger.MissingIn(9, 5), 0u);
  // A packet count from a server header can be absurd; it costs no time.
  EXPECT_EQ(ledger.MissingIn(5, int64_t{1} << 60), (uint64_t{1} << 60) - 5 - 4);
  ledger.Mark(3);  // a late packet from before the first one
  EXPECT_EQ(ledger.First(), 3);
  EXPECT_EQ(ledger.MissingIn(0, 10), 5u);  // 0, 1, 2, 4, 8
  ledger.Reset();
  EXPECT_TRUE(ledger.Empty());
  EXPECT_EQ(ledger.MissingIn(0, 3), 3u);
}

}  // namespace
}  // namespace qor
