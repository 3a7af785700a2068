#include <gtest/gtest.h>

#include "base/Units.h"

namespace busweave {
namespace {

TEST(Units, ARateIsSaidTheOneWayEngineersSayIt) {
  EXPECT_EQ(RateText(500000), "500 kbit/s");
  EXPECT_EQ(RateText(62500), "62.5 kbit/s");
  EXPECT_EQ(RateText(1000000), "1 Mbit/s");
  EXPECT_EQ(RateText(1500000), "1.5 Mbit/s");
  // A rate that is not whole kilobits stays exact in kbit/s, not rounded in Mbit/s.
  EXPECT_EQ(RateText(1000500), "1000.5 kbit/s");
  EXPECT_EQ(RateText(800), "800 bit/s");
}

}  // namespace
}  // namespace busweave
