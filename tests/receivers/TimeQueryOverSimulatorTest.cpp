// Every type whose family has a time query, against its simulated receiver: after the output is
// stopped (as `velinor time` does), the answer tells the receiver's clock, which the simulated
// receivers keep from the computer's.
#include <gtest/gtest.h>

#include <cmath>

#include "families/KReceiverFamily.h"
#include "support/ReceiverRig.h"

namespace {

class TimeQueryOverSimulator : public ::testing::TestWithParam<int32_t> {};

TEST_P(TimeQueryOverSimulator, TellsTheReceiversClock) {
    const int32_t type = GetParam();
    KSimDeviceOptions options;
    options.gpsLeapSeconds = 0;  // the product's times carry no leap seconds either
    SimReceiverRig rig(type, 38400, options);
    rig.OpenAt(38400);
    rig.clock.Advance(3250);  // into a second, so that the fractions count
    EXPECT_TRUE(rig.Receiver().StopAllBroadcast(2000));
    KGPSTime time(400000000);
    ASSERT_TRUE(rig.Receiver().QueryTime(time));
    const KGPSTime now;
    EXPECT_EQ(time.GetGPSWeek(), now.GetGPSWeek());
    EXPECT_NEAR(time.GetSecondsOfWeek() + time.nanoseconds / 1e9, now.GetSecondsOfWeek(), 1.0);
}

std::vector<int32_t> TypesWithATimeQuery() {
    std::vector<int32_t> types;
    for (const KReceiverFamily& family : ReceiverFamilies())
        if (family.queriesTime)
            for (const KCatalogueType& type : family.types) types.push_back(type.typeId);
    return types;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, TimeQueryOverSimulator, ::testing::ValuesIn(TypesWithATimeQuery()),
                         [](const ::testing::TestParamInfo<int32_t>& param) {
                             return "type" + std::to_string(param.param);
                         });

} // namespace
