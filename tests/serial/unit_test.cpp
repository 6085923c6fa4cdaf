// rxpace's rate: bytes per second, truncated, without overflow past 2^31
// bytes and a day's nanoseconds; a nought interval counts as 1 ns.
#include "serial/serial.h"

#include <gtest/gtest.h>

TEST(FlowRate, WorkedByHand)
{
    const long long cases[][3] = {
        {221400, 2000000000, 110700}, {10, 3000000000, 3}, {5000000000LL, 86400000000000LL, 57870},
        {35, 0, 35000000000LL},       {0, 0, 0},
    };
    for (auto &c : cases) EXPECT_EQ(flow_rate(c[0], c[1]), c[2]) << c[0] << " " << c[1];
}
