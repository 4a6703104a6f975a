#ifndef _WIN32
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "OpenFailureRecorder.h"
#include "PtyPair.h"
#include "comm/KSerialComm.h"

namespace {

std::mutex goneLock;
std::vector<std::string> goneSeen;

void RecordGone(const std::string& device) {
    std::lock_guard<std::mutex> guard(goneLock);
    goneSeen.push_back(device);
}

struct FirstCall {
    const char* name;
    std::function<bool(KSerialComm&)> call;  // true when the call still looked successful
};

void PrintTo(const FirstCall& c, std::ostream* os) { *os << c.name; }

bool ReadOne(KSerialComm& link) {
    char byte = 0;
    return link.ReadExact(&byte, 1);
}
bool ReadSome(KSerialComm& link) {
    char bytes[16];
    return link.ReadAvailable(bytes, sizeof bytes) > 0;
}
bool WriteSome(KSerialComm& link) { return link.Write("ping", 4); }

// The other side of the terminal closes under an open link, whichever call is the first to meet
// it afterwards.
class DeviceGoneOnPty : public ::testing::TestWithParam<FirstCall> {
protected:
    void SetUp() override {
        KSerialComm::SetDeviceGoneHandler(RecordGone);
        std::lock_guard<std::mutex> guard(goneLock);
        goneSeen.clear();
    }
    void TearDown() override { KSerialComm::SetDeviceGoneHandler(nullptr); }
    std::vector<std::string> Seen() {
        std::lock_guard<std::mutex> guard(goneLock);
        return goneSeen;
    }
    PtyPair pty;
    OpenFailureRecorder failures;
};

TEST_P(DeviceGoneOnPty, MarksTheLinkGoneOnceAndEveryLaterCallFails) {
    KSerialComm link;
    link.DevicePath = pty.SlavePath();
    ASSERT_TRUE(link.Open(0));
    // A live line with nothing waiting is not taken for a dead one.
    EXPECT_FALSE(ReadOne(link));
    EXPECT_FALSE(ReadSome(link));
    EXPECT_FALSE(link.DeviceGone());

    pty.HangUp();
    EXPECT_FALSE(GetParam().call(link));
    EXPECT_TRUE(link.DeviceGone());
    EXPECT_FALSE(ReadOne(link));
    EXPECT_FALSE(ReadSome(link));
    EXPECT_FALSE(WriteSome(link));
    EXPECT_EQ(Seen(), std::vector<std::string>{pty.SlavePath()});

    // Closed and tried again, the link stays gone: the device is no more.
    EXPECT_TRUE(link.Close());
    EXPECT_FALSE(link.Open(0));
    EXPECT_TRUE(link.DeviceGone());
    EXPECT_EQ(Seen().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Calls, DeviceGoneOnPty,
                         ::testing::Values(FirstCall{"ReadExact", ReadOne}, FirstCall{"ReadAvailable", ReadSome},
                                           FirstCall{"Write", WriteSome}),
                         [](const ::testing::TestParamInfo<FirstCall>& param) { return param.param.name; });

TEST(DeviceGone, ANewOpenOfADeviceThatCameBackStartsAfresh) {
    KSerialComm link;
    {
        PtyPair first;
        link.DevicePath = first.SlavePath();
        ASSERT_TRUE(link.Open(0));
        first.HangUp();
        EXPECT_FALSE(WriteSome(link));
        ASSERT_TRUE(link.DeviceGone());
        link.Close();
    }
    PtyPair second;
    link.DevicePath = second.SlavePath();
    ASSERT_TRUE(link.Open(0));
    EXPECT_FALSE(link.DeviceGone());
    ASSERT_TRUE(WriteSome(link));
    EXPECT_EQ(second.Receive(4, 3000), "ping");
    link.Close();
}

} // namespace
#endif
