#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "receivers/KReceiver.h"
#include "support/QueueOnlyMonitor.h"
#include "time/KClock.h"

namespace {

// Only the base's reply wait, over a queue that its own clock fills: after sleep number `arrival`
// a message is queued, 'T' to be taken, 'F' a refusal. A sleep costs nothing, so tens of
// millions of polls run in a second or two.
class Waiter : public KReceiver, public KClock {
public:
    Waiter(int64_t when, uint8_t what) : KReceiver(false), arrival(when), tag(what) {
        monitor = std::make_unique<QueueOnly>();
    }
    bool Wait(int32_t budgetMs) {
        KScopedClock scope(*this);
        const auto judge = [](const StreamMessage& m) { return m.data[0] == 'T' ? Verdict::Take : Verdict::Fail; };
        return WaitForVerdict(judge, budgetMs) != nullptr;
    }
    void Sleep(int32_t) override {
        if (++sleeps == arrival) monitor->PushMessage(std::make_unique<StreamMessage>(&tag, 1));
    }
    int64_t NowMs() override { return sleeps * 100; }
    int64_t WallSeconds() override { return 0; }
    bool ScanTimeSpan(bool&, KGPSTime&, bool&, KGPSTime&, bool&) override { return false; }
    void Reset() override {}
    void OnDetach() override {}
    int64_t sleeps = 0;

private:
    const int64_t arrival;
    const uint8_t tag;
};

TEST(ReplyWait, EndsWithItsBudgetEvenAtTheThirtyTwoBitLimit) {
    // The wait sleeps 100 ms at a time until its count of time spent reaches the budget. Near the
    // 32-bit limit that count must not wrap and poll on: a reply one step too late would show it.
    constexpr int64_t kLast = INT32_MAX / 100 + 1;
    struct Case { int32_t budgetMs; int64_t arrival; uint8_t tag; bool got; int64_t sleeps; };
    const Case cases[] = {{0, 1, 'T', false, 0},    {1000, 10, 'T', true, 10}, {1000, 11, 'T', false, 10},
                          {1000, 3, 'F', false, 3}, {INT32_MAX, kLast + 1, 'T', false, kLast}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.budgetMs << " ms, message after sleep " << c.arrival);
        Waiter waiter(c.arrival, c.tag);
        EXPECT_EQ(waiter.Wait(c.budgetMs), c.got);
        EXPECT_EQ(waiter.sleeps, c.sleeps);
    }
}

} // namespace
