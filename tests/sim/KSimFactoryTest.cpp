#include <gtest/gtest.h>

#include "sim/KLeicaDevice.h"
#include "sim/KSimFactory.h"

namespace {

TEST(KSimFactory, NamesAndTypeIds) {
    EXPECT_EQ(KSimFactory::ReceiverName(1), "Ashtech Z");
    EXPECT_EQ(KSimFactory::ReceiverName(5), "Leica GMX900");
    EXPECT_EQ(KSimFactory::ReceiverName(14), "Trimble NetR5");
    EXPECT_EQ(KSimFactory::ReceiverName(0), "");
    EXPECT_EQ(KSimFactory::ReceiverName(15), "");
    for (int32_t id = 1; id <= 14; ++id) EXPECT_EQ(KSimFactory::TypeIdOf(KSimFactory::ReceiverName(id)), id);
    EXPECT_EQ(KSimFactory::TypeIdOf("leica system 500"), 7);
    EXPECT_EQ(KSimFactory::TypeIdOf("gmx900"), 5);
    EXPECT_EQ(KSimFactory::TypeIdOf("6"), 6);
    EXPECT_EQ(KSimFactory::TypeIdOf("15"), 0);
    EXPECT_EQ(KSimFactory::TypeIdOf("Leica"), 0);  // four fit
    EXPECT_EQ(KSimFactory::TypeIdOf("Garmin"), 0);
    EXPECT_EQ(KSimFactory::TypeIdOf(""), 0);
}

TEST(KSimFactory, CreatesTheLeicaModelsAndSaysWhyNotOtherwise) {
    std::string error;
    for (int32_t id = 4; id <= 7; ++id) {
        auto device = KSimFactory::CreateDevice(id, 38400, {}, error);
        ASSERT_TRUE(device) << error;
        EXPECT_EQ(device->Name(), KSimFactory::ReceiverName(id));
        EXPECT_EQ(device->Baud(), 38400u);
        EXPECT_TRUE(KSimFactory::IsSimulated(id));
    }
    EXPECT_FALSE(KSimFactory::CreateDevice(8, 9600, {}, error));
    EXPECT_EQ(error, "NavCom is not simulated yet");
    EXPECT_FALSE(KSimFactory::IsSimulated(13));
    EXPECT_FALSE(KSimFactory::CreateDevice(0, 9600, {}, error));
    EXPECT_EQ(error, "unknown receiver type 0");

    // The RS500 models also run at 150, 300 and 600; the CRS1000 ones do not; none at 230400.
    EXPECT_TRUE(KSimFactory::CreateDevice(7, 150, {}, error));
    EXPECT_FALSE(KSimFactory::CreateDevice(4, 600, {}, error));
    EXPECT_NE(error.find("cannot run at 600 baud"), std::string::npos);
    EXPECT_FALSE(KSimFactory::CreateDevice(6, 230400, {}, error));
    EXPECT_FALSE(KSimFactory::CreateDevice(6, -9600, {}, error));

    auto world = KSimFactory::CreateWorld(5, 9600, {}, {}, error);
    ASSERT_TRUE(world);
    EXPECT_EQ(world->WithDevice([](KSimDevice& d) { return d.Name(); }), "Leica GMX900");
}

} // namespace
