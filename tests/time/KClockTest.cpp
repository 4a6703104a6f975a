#include <gtest/gtest.h>

#include <ctime>

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

TEST(KClock, ScopesNest) {
    KClock& real = KClock::Current();
    FixedClock outer, inner;
    {
        KScopedClock outerScope(outer);
        {
            KScopedClock innerScope(inner);
            KClock::Current().Sleep(5);
        }
        KClock::Current().Sleep(7);
        EXPECT_EQ(&KClock::Current(), &outer);
    }
    EXPECT_EQ(inner.slept, 5);
    EXPECT_EQ(outer.slept, 7);
    EXPECT_EQ(&KClock::Current(), &real);
}

TEST(KClock, RealClockReadsTheSystemTime) {
    KRealClock clock;
    const int64_t before = static_cast<int64_t>(std::time(nullptr));
    const int64_t wall = clock.WallSeconds();
    EXPECT_GE(wall, before);
    EXPECT_LE(wall, static_cast<int64_t>(std::time(nullptr)));
    const int64_t start = clock.NowMs();
    clock.Sleep(2);
    EXPECT_GE(clock.NowMs() - start, 2);
    clock.Sleep(-5);  // nothing to wait for
}
