// Rules every family keeps, checked for every catalogue type against its simulated receiver: a
// rate that is no rate never reaches the receiver, and a command that could not be written is
// never reported as sent.
#include <gtest/gtest.h>

#include <algorithm>

#include "families/KReceiverFamily.h"
#include "sim/KSimComm.h"
#include "support/ReceiverRig.h"

namespace {

constexpr int32_t kDeviceBaud = 9600;

// A line whose writes reach the receiver but are reported failed, as a driver's write timeout
// after a partial write would: the receiver still answers, so only the write's result can tell
// an operation that it failed.
class DeliveredButFailedComm : public KSimComm {
public:
    using KSimComm::KSimComm;
    bool Write(const void* data, uint32_t length) override {
        KSimComm::Write(data, length);
        return false;
    }
};

class ReceiverRules : public ::testing::TestWithParam<int32_t> {
protected:
    // The requests the simulated receiver took in while `operation` ran.
    static std::vector<Bytes> RequestsDuring(SimReceiverRig& rig, const std::function<void()>& operation) {
        const size_t before = rig.DeviceRequests().size();
        operation();
        std::vector<Bytes> all = rig.DeviceRequests();
        return {all.begin() + static_cast<std::ptrdiff_t>(before), all.end()};
    }
    static bool AllAmong(const std::vector<Bytes>& requests, const std::vector<Bytes>& allowed) {
        return std::all_of(requests.begin(), requests.end(), [&](const Bytes& request) {
            return std::find(allowed.begin(), allowed.end(), request) != allowed.end();
        });
    }
};

TEST_P(ReceiverRules, ARateOfZeroOrBelowAsksNothingAPingDoesNotAsk) {
    SimReceiverRig rig(GetParam(), kDeviceBaud);
    rig.OpenAt(kDeviceBaud);
    const std::vector<Bytes> pingAsks = RequestsDuring(rig, [&] { ASSERT_TRUE(rig.Receiver().Ping(5000)); });
    for (const int32_t rate : {0, -300, INT32_MIN}) {
        SCOPED_TRACE(rate);
        bool changed = true;
        const std::vector<Bytes> asked = RequestsDuring(rig, [&] { changed = rig.Receiver().ChangeBaud(rate); });
        EXPECT_FALSE(changed);
        EXPECT_TRUE(AllAmong(asked, pingAsks)) << asked.size() << " requests, some not a ping's";
        EXPECT_EQ(rig.DeviceBaud(), static_cast<uint32_t>(kDeviceBaud));
    }
}

TEST_P(ReceiverRules, ACommandThatCouldNotBeWrittenIsNotReportedAsSent) {
    // What the stop writes on an honest line tells whether it commands anything: a stop that
    // only asks (as a ping does) has nothing to fail.
    bool stopCommands = false;
    {
        SimReceiverRig honest(GetParam(), kDeviceBaud);
        honest.OpenAt(kDeviceBaud);
        const std::vector<Bytes> pingAsks = RequestsDuring(honest, [&] { honest.Receiver().Ping(5000); });
        const std::vector<Bytes> stopAsks =
            RequestsDuring(honest, [&] { ASSERT_TRUE(honest.Receiver().StopAllBroadcast(500)); });
        stopCommands = !AllAmong(stopAsks, pingAsks);
    }

    SimReceiverRig rig(GetParam(), kDeviceBaud);
    rig.OpenAt(kDeviceBaud);
    KReceiver& receiver = rig.Receiver();
    receiver.Detach();
    DeliveredButFailedComm line(*rig.world);
    line.BaudRate = kDeviceBaud;
    ASSERT_TRUE(line.Open(0));
    receiver.Attach(&line, "Trevask");
    if (stopCommands) {
        EXPECT_FALSE(receiver.StopAllBroadcast(500));
    }
    EXPECT_FALSE(receiver.ChangeBaud(19200));
    receiver.Detach();
    line.Close();
}

std::vector<int32_t> EveryType() {
    std::vector<int32_t> types;
    for (const KReceiverFamily& family : ReceiverFamilies())
        for (const KCatalogueType& type : family.types) types.push_back(type.typeId);
    return types;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, ReceiverRules, ::testing::ValuesIn(EveryType()),
                         [](const ::testing::TestParamInfo<int32_t>& param) {
                             return "type" + std::to_string(param.param);
                         });

} // namespace
