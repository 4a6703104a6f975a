#ifndef _WIN32
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OpenFailureRecorder.h"
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
bool ChangeRate(KSerialComm& link) { return link.Reopen(4800); }

using Call = bool (*)(KSerialComm&);

// The other side of the terminal closes under an open link, as an adapter's terminal hangs up
// when it is pulled out; the parameter is the first call to meet it.
template <typename Base>
class HearsOfGoneDevices : public Base {
protected:
    void SetUp() override {
        goneSeen.clear();
        KSerialComm::SetDeviceGoneHandler([](const std::string& device) { goneSeen.push_back(device); });
    }
    void TearDown() override { KSerialComm::SetDeviceGoneHandler(nullptr); }
};

class DeviceGoneOnPty : public HearsOfGoneDevices<::testing::TestWithParam<Call>> {};

TEST_P(DeviceGoneOnPty, MarksTheLinkGoneOnceEveryLaterCallFailsAndANewOpenStartsAfresh) {
    KSerialComm link;
    {
        PtyPair pty;
        // Held, so that the terminal's number is not handed to another test program running
        // alongside while this one tries the vanished name again.
        pty.OpenSlave();
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
    return param.param == &ReadOne    ? "ReadExact"
           : param.param == &ReadSome ? "ReadAvailable"
           : param.param == &WriteSome ? "Write"
                                       : "Reopen";
}

INSTANTIATE_TEST_SUITE_P(FirstCall, DeviceGoneOnPty, ::testing::Values(&ReadOne, &ReadSome, &WriteSome, &ChangeRate),
                         CallName);

// The other side closes while nothing reads or writes: the close meets it, or (gone between a
// close and the next open, as detection reopens every second) the reopen does. Either way the
// device is gone, said once, and no failed open is reported for it.
enum class Goes { BeforeTheClose, BetweenCloseAndReopen };

class DeviceGoneUnmetByCalls : public HearsOfGoneDevices<::testing::TestWithParam<Goes>> {};

TEST_P(DeviceGoneUnmetByCalls, IsSaidOnceAsGoneNotAsAFailedOpen) {
    OpenFailureRecorder failures;
    PtyPair pty;
    // Held, so that the terminal's number stays taken (its name is gone all the same) and a
    // reopen cannot find another terminal under it.
    pty.OpenSlave();
    KSerialComm link;
    link.DevicePath = pty.SlavePath();
    ASSERT_TRUE(link.Open(0));
    if (GetParam() == Goes::BeforeTheClose) pty.HangUp();
    EXPECT_TRUE(link.Close());
    if (GetParam() == Goes::BetweenCloseAndReopen) pty.HangUp();
    EXPECT_FALSE(link.Open(0));
    EXPECT_TRUE(link.DeviceGone());
    EXPECT_EQ(goneSeen, std::vector<std::string>{pty.SlavePath()});
    EXPECT_TRUE(failures.Seen().empty());

    // A link that never had the device open is told of a failed open as ever.
    KSerialComm other;
    other.DevicePath = pty.SlavePath();
    EXPECT_FALSE(other.Open(0));
    EXPECT_EQ(failures.Seen().size(), 1u);
    EXPECT_EQ(goneSeen.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Hangup, DeviceGoneUnmetByCalls,
                         ::testing::Values(Goes::BeforeTheClose, Goes::BetweenCloseAndReopen),
                         [](const ::testing::TestParamInfo<Goes>& param) {
                             return param.param == Goes::BeforeTheClose ? "BeforeTheClose" : "BetweenCloseAndReopen";
                         });

} // namespace
#endif
