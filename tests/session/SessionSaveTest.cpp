// Saving the rate over a power cycle (set --save): once, right after the session first confirms
// the target rate, over every family's simulated receiver, in virtual time.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

#include "receivers/KReceiver.h"
#include "session/SessionRig.h"

namespace {

struct SaveRun {
    bool confirmed = false;
    std::optional<SaveOutcome> outcome;
    uint32_t savedBaud = 0;  // what the simulated receiver keeps over a power cycle
    uint32_t deviceBaud = 0;
};

// A session from `from` to `to` that stops on its first confirmation.
SaveRun RunSession(int32_t type, uint32_t from, int32_t to, bool save, const KSimDeviceOptions& options = {}) {
    SessionRig rig(type, from, options);
    rig.session.SetSaveRate(save);
    // The save is in the step that confirmed: by the next report it has been done.
    rig.StopWhen([&rig](const std::vector<StatusReport>&) { return rig.session.IsConfirmed(); });
    EXPECT_TRUE(rig.session.Start(0, to, 0, type));
    EXPECT_TRUE(rig.WaitForWorker());
    SaveRun run;
    run.confirmed = rig.session.Stop();
    run.outcome = rig.session.SaveResult();
    run.savedBaud = rig.world->WithDevice([](KSimDevice& d) { return d.SavedBaud(); });
    run.deviceBaud = rig.DeviceBaud();
    return run;
}

KSimDeviceOptions Port(const char* port, bool refusesSave = false) {
    KSimDeviceOptions options;
    options.receiverPort = port;
    options.refusesSave = refusesSave;
    return options;
}

constexpr int32_t kUblox = 15, kSeptentrio = 17;

struct SavingCase {
    const char* name;
    int32_t type;
    KSimDeviceOptions options;
    uint32_t from;
    int32_t to;
    SaveOutcome outcome;
};

TEST(SessionSave, ReceiversThatCanSaveKeepTheNewRateAfterTheChange) {
    const SavingCase cases[] = {
        {"u-blox 8 on UART2 (CFG-CFG)", kUblox, Port("8:2"), 9600, 115200, SaveOutcome::Saved},
        {"u-blox 9 on UART1 (VALSET to BBR and flash)", kUblox, Port("9:1"), 38400, 9600, SaveOutcome::Saved},
        {"u-blox 9 on UART2", kUblox, Port("9:2"), 9600, 460800, SaveOutcome::Saved},
        {"u-blox 10 (one UART)", kUblox, Port("10:1"), 115200, 38400, SaveOutcome::Saved},
        {"Septentrio on COM2 (copy to boot)", kSeptentrio, Port("COM2"), 115200, 9600, SaveOutcome::Saved},
        {"u-blox 8 refusing", kUblox, Port("8:1", true), 9600, 57600, SaveOutcome::Failed},
        {"u-blox 9 refusing", kUblox, Port("9:1", true), 9600, 57600, SaveOutcome::Failed},
        {"Septentrio refusing", kSeptentrio, Port("COM1", true), 4800, 57600, SaveOutcome::Failed},
    };
    for (const SavingCase& c : cases) {
        SCOPED_TRACE(c.name);
        const SaveRun saved = RunSession(c.type, c.from, c.to, true, c.options);
        // A failed save leaves the rate set and confirmed.
        EXPECT_TRUE(saved.confirmed);
        EXPECT_EQ(saved.deviceBaud, static_cast<uint32_t>(c.to));
        EXPECT_EQ(saved.outcome, c.outcome);
        EXPECT_EQ(saved.savedBaud, c.outcome == SaveOutcome::Saved ? static_cast<uint32_t>(c.to) : 0u);

        const SaveRun unasked = RunSession(c.type, c.from, c.to, false, c.options);
        EXPECT_TRUE(unasked.confirmed);
        EXPECT_EQ(unasked.outcome, std::nullopt);
        EXPECT_EQ(unasked.savedBaud, 0u) << "saved without being asked";
    }
}

// Every other type of the registry says it cannot, sends nothing and is still confirmed.
TEST(SessionSave, EveryOtherTypeSaysItCannotAndIsStillConfirmed) {
    const std::set<int32_t> saving = {kUblox, kSeptentrio};
    int checked = 0;
    for (const KCatalogueType* type : CatalogueTypes()) {
        if (saving.count(type->typeId) || !KSimFactory::IsSimulated(type->typeId)) continue;
        SCOPED_TRACE(type->displayName);
        ++checked;
        const int32_t rate = 9600;  // already there: confirmed at once
        ASSERT_TRUE(type->RunsAt(rate));
        const SaveRun run = RunSession(type->typeId, rate, rate, true);
        EXPECT_TRUE(run.confirmed);
        EXPECT_EQ(run.outcome, SaveOutcome::NotSupported);
        EXPECT_EQ(run.savedBaud, 0u);
    }
    EXPECT_GE(checked, 15);
}

// Only the first confirmation saves: a receiver lost and found again is not saved twice, and a
// session that never confirms saves nothing.
TEST(SessionSave, OnceAndOnlyAfterAConfirmation) {
    {
        KSimDeviceOptions silent = Port("9:1");
        silent.silent = true;
        SessionRig rig(kUblox, 9600, silent);
        rig.session.SetSaveRate(true);
        rig.StopWhen([](const std::vector<StatusReport>& r) { return r.size() >= 12; });
        ASSERT_TRUE(rig.session.Start(0, 115200, 0, kUblox));
        ASSERT_TRUE(rig.WaitForWorker());
        EXPECT_FALSE(rig.session.Stop());
        EXPECT_EQ(rig.session.SaveResult(), std::nullopt);
    }
    // Falls back to its old rate once, a while after the first change: found and set again.
    KSimDeviceOptions reverting = Port("COM1");
    reverting.revertAfterMs = 6000;
    reverting.revertsOnce = true;
    SessionRig rig(kSeptentrio, 9600, reverting);
    rig.session.SetSaveRate(true);
    rig.StopWhen([](const std::vector<StatusReport>& r) {
        // Monitored, lost, detected, monitored three times over.
        int phase = 0, monitoredAgain = 0;
        for (const StatusReport& report : r) {
            if (phase == 0 && report.kind == kStatusMonitoring) phase = 1;
            else if (phase == 1 && report.kind == kStatusDetecting) phase = 2;
            else if (phase == 2 && report.kind == kStatusMonitoring) ++monitoredAgain;
        }
        return monitoredAgain >= 3;
    });
    ASSERT_TRUE(rig.session.Start(0, 115200, 9600, kSeptentrio));
    ASSERT_TRUE(rig.WaitForWorker());
    EXPECT_TRUE(rig.session.Stop());
    EXPECT_EQ(rig.session.SaveResult(), SaveOutcome::Saved);
    size_t saves = 0;
    for (const auto& request : rig.DeviceRequests()) {
        const std::string text(request.begin(), request.end());
        if (text.find("exeCopyConfigFile") != std::string::npos) ++saves;
    }
    EXPECT_EQ(saves, 1u);
}

} // namespace
