// The real programs' clock: the link's 30-second bound and pauses rest on it.
#include <gtest/gtest.h>

#include <chrono>

#include "linkclock.h"

namespace {

TEST(RealClock, CountsMillisecondsAndNeverGoesBack)
{
    using namespace std::chrono;
    const uint64_t first = linkNowMs();
    const auto start = steady_clock::now();
    uint64_t last = first;
    while (steady_clock::now() - start < milliseconds(5)) {  // a busy wait, not a sleep
        const uint64_t now = linkNowMs();
        ASSERT_GE(now, last);
        last = now;
    }
    EXPECT_GE(last - first, 4u);
    EXPECT_LT(last - first, 1000u);
    linkSleepUs(0);  // a pause of nothing returns at once
    EXPECT_GE(linkNowMs(), last);
}

}  // namespace
