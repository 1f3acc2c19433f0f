// The real programs' clock: the link's 30-second bound and pauses rest on it.
#include <gtest/gtest.h>

#include <chrono>

#include "linkclock.h"

namespace {

TEST(RealClock, CountsMillisecondsAndNeverGoesBack)
{
    using namespace std::chrono;
    const auto start = steady_clock::now();
    const uint64_t first = linkNowMs();
    uint64_t last = first;
    // A busy wait, not a sleep, until the clock has counted 5 ms (or 2 s have
    // passed: a clock that stands still). A preemption only lengthens it.
    while (last - first < 5 && steady_clock::now() - start < seconds(2)) {
        const uint64_t now = linkNowMs();
        ASSERT_GE(now, last);
        last = now;
    }
    const auto spent = static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now() - start).count());
    EXPECT_GE(last - first, 5u);         // it counts
    EXPECT_LE(last - first, spent + 1);  // in milliseconds, no faster than real time
    linkSleepUs(0);  // a pause of nothing returns at once
    EXPECT_GE(linkNowMs(), last);
}

}  // namespace
