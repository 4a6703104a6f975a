#ifndef _WIN32
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/PtyPair.h"
#include "comm/KSerialComm.h"

namespace {

std::vector<std::string> goneSeen;  // only the test's own thread uses the link here

bool ReadOne(KSerialComm& link) {
    char byte = 0;
    return link.ReadExact(&byte, 1);
}
bool ReadSome(KSerialComm& link) {
    char bytes[16];
    return link.ReadAvailable(bytes, sizeof bytes) > 0;
}
bool WriteSome(KSerialComm& link) { return link.Write("ping", 4); }

using Call = bool (*)(KSerialComm&);

// The other side of the terminal closes under an open link, as an adapter's terminal hangs up
// when it is pulled out; the parameter is the first call to meet it.
class DeviceGoneOnPty : public ::testing::TestWithParam<Call> {
protected:
    void SetUp() override {
        goneSeen.clear();
        KSerialComm::SetDeviceGoneHandler([](const std::string& device) { goneSeen.push_back(device); });
    }
    void TearDown() override { KSerialComm::SetDeviceGoneHandler(nullptr); }
};

TEST_P(DeviceGoneOnPty, MarksTheLinkGoneOnceEveryLaterCallFailsAndANewOpenStartsAfresh) {
    KSerialComm link;
    {
        PtyPair pty;
        link.DevicePath = pty.SlavePath();
        ASSERT_TRUE(link.Open(0));
        // A live line with nothing waiting is not taken for a dead one.
        EXPECT_FALSE(ReadOne(link));
        EXPECT_FALSE(ReadSome(link));
        EXPECT_FALSE(link.DeviceGone());

        pty.HangUp();
        EXPECT_FALSE(GetParam()(link));
        EXPECT_TRUE(link.DeviceGone());
        EXPECT_FALSE(ReadOne(link));
        EXPECT_FALSE(ReadSome(link));
        EXPECT_FALSE(WriteSome(link));
        EXPECT_EQ(goneSeen, std::vector<std::string>{pty.SlavePath()});
        // Closed and tried again, the link stays gone: the device is no more.
        EXPECT_TRUE(link.Close());
        EXPECT_FALSE(link.Open(0));
        EXPECT_TRUE(link.DeviceGone());
    }
    PtyPair back;
    link.DevicePath = back.SlavePath();
    ASSERT_TRUE(link.Open(0));
    EXPECT_FALSE(link.DeviceGone());
    ASSERT_TRUE(WriteSome(link));
    EXPECT_EQ(back.Receive(4, 3000), "ping");
    EXPECT_EQ(goneSeen.size(), 1u);
    link.Close();
}

std::string CallName(const ::testing::TestParamInfo<Call>& param) {
    return param.param == &ReadOne ? "ReadExact" : param.param == &ReadSome ? "ReadAvailable" : "Write";
}

INSTANTIATE_TEST_SUITE_P(FirstCall, DeviceGoneOnPty, ::testing::Values(&ReadOne, &ReadSome, &WriteSome), CallName);

} // namespace
#endif
