// A short soak, so the sanitizer builds watch many session lives end at random moments.
#ifndef _WIN32
#include <gtest/gtest.h>

#include "support/SessionSoak.h"

TEST(SessionSoak, FiftyStartStopCyclesLeaveNothingBehind) {
    SessionSoak::Options options;
    options.cycles = 50;
    const SessionSoak::Figures figures = SessionSoak::Run(options);
    EXPECT_EQ(figures.startsRefused, 0);
    EXPECT_EQ(figures.stopsOverBound, 0);
    EXPECT_EQ(figures.threadsAfter, figures.threadsBefore);
    EXPECT_EQ(figures.fdsAfter, figures.fdsBefore);
    std::printf("%s", figures.Report().c_str());
    RecordProperty("figures", figures.Report());
}
#endif
