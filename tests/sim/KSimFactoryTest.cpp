#include <gtest/gtest.h>

#include "families/KReceiverFamily.h"
#include "comm/KBaudRates.h"
#include "families/KSimFactory.h"

namespace {

// Every family's simulated receiver, through the one family list: it carries its catalogue
// name, runs at every rate its type has (the session may find it at any of them), and refuses
// what its family says it cannot run at.
TEST(KSimFactory, EverySimulatedTypeRunsAtEveryRateTheSessionTries) {
    const std::vector<int32_t> types = KSimFactory::SimulatedTypes();
    ASSERT_FALSE(types.empty());
    for (int32_t type : types) {
        const KReceiverFamily* family = FamilyOfType(type);
        ASSERT_NE(family, nullptr) << type;
        for (int32_t baud : FindCatalogueType(type)->rates) {
            std::string error;
            auto device = KSimFactory::CreateDevice(type, baud, {}, error);
            ASSERT_TRUE(device) << type << " at " << baud << ": " << error;
            EXPECT_EQ(device->Name(), FindCatalogueType(type)->displayName);
            EXPECT_EQ(device->Baud(), static_cast<uint32_t>(baud));
        }
        std::string error;
        for (int32_t odd : {250000, 0, -9600}) {
            EXPECT_FALSE(KSimFactory::CreateDevice(type, odd, {}, error)) << type << " at " << odd;
            EXPECT_NE(error.find("cannot run at " + std::to_string(odd) + " baud (it runs at "), std::string::npos)
                << error;
        }
    }
}

TEST(KSimFactory, SaysWhyNoDeviceCanBeMade) {
    std::string error;
    EXPECT_FALSE(KSimFactory::CreateDevice(0, 9600, {}, error));
    EXPECT_EQ(error, "unknown receiver type 0");
    EXPECT_FALSE(KSimFactory::IsSimulated(99));

    // The RS500 models also run at 150, 300 and 600; the CRS1000 ones do not.
    EXPECT_TRUE(KSimFactory::CreateDevice(7, 150, {}, error));
    EXPECT_FALSE(KSimFactory::CreateDevice(4, 600, {}, error));
    EXPECT_EQ(error, "Leica CRS1000 cannot run at 600 baud (it runs at 1200, 2400, 4800, 9600, 19200, 38400, "
                     "57600 or 115200)");

    auto world = KSimFactory::CreateWorld(5, 9600, {}, {}, error);
    ASSERT_TRUE(world);
    EXPECT_EQ(world->WithDevice([](KSimDevice& d) { return d.Name(); }), "Leica GMX900");
}

} // namespace
