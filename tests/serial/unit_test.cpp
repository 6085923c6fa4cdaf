// The common serial set-up's own arithmetic.
#include "serial/serial.h"

#include <gtest/gtest.h>

namespace
{

TEST(FlowRate, BytesPerSecondTruncated)
{
    EXPECT_EQ(flow_rate(221400, 2000000000), 110700);
    EXPECT_EQ(flow_rate(10, 3000000000), 3);
    // Past 2^31 bytes and a day's nanoseconds, without overflow.
    EXPECT_EQ(flow_rate(5000000000LL, 86400000000000LL), 57870);
}

TEST(FlowRate, ANoughtIntervalCountsAsOneNanosecond)
{
    EXPECT_EQ(flow_rate(35, 0), 35000000000LL);
    EXPECT_EQ(flow_rate(0, 0), 0);
}

TEST(Speeds, ExactNamesOnlyAndTheHangUpPairStopsAt153600)
{
    ASSERT_NE(find_speed("153600", LINECLOSE_SPEEDS), nullptr);
    EXPECT_EQ(find_speed("153600", LINECLOSE_SPEEDS)->rate, 153600u);
    EXPECT_EQ(find_speed("230400", LINECLOSE_SPEEDS), nullptr);
    EXPECT_EQ(find_speed("230400", ALL_SPEEDS)->rate, 230400u);
    for (const char *bad : {"600", "09600", "", "9600 ", "4608000"})
        EXPECT_EQ(find_speed(bad, ALL_SPEEDS), nullptr) << bad;
}

} // namespace
