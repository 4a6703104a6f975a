#include <gtest/gtest.h>

#include "time/KClock.h"

namespace {
class FixedClock : public KClock {
public:
    void Sleep(int32_t ms) override { slept += ms; }
    int64_t NowMs() override { return slept; }
    int64_t WallSeconds() override { return 1167523200; }
    int64_t slept = 0;
};
} // namespace

TEST(KClock, InstalledClockServesTheProcessUntilRemoved) {
    FixedClock fixed;
    {
        KScopedClock scope(fixed);
        KClock::Current().Sleep(250);
        EXPECT_EQ(fixed.slept, 250);
        EXPECT_EQ(KClock::Current().WallSeconds(), 1167523200);
    }
    EXPECT_NE(&KClock::Current(), &fixed);
}
