#include "session/KSessionTimings.h"

namespace {

struct Row {
    int32_t firstType;
    int32_t lastType;
    KSessionTimings timings;
};

// Detection pings at 1200 .. 115200 baud.
constexpr KSessionTimings kUsual = {{1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000}, false, 0};

constexpr Row kRows[] = {
    // Leica GMX900: slow to answer at every rate, and needs control command 4 and a pause
    // after a rate change.
    {5, 5, {{5000, 5000, 5000, 5000, 5000, 5000, 5000, 5000}, true, 2000}},
    // Trimble 4000 SSi, 47/48/5700 and NetR5: slow to answer at the three slowest rates.
    {12, 14, {{3000, 3000, 3000, 1000, 1000, 1000, 1000, 1000}, false, 0}},
    // u-blox: at 4800 and 9600 its MON-VER answer may queue behind a second of its output.
    {15, 15, {{1000, 1000, 2000, 1500, 1000, 1000, 1000, 1000}, false, 0}},
    // MediaTek: at 4800 the firmware's answer may queue behind a second of NMEA output.
    {16, 16, {{1000, 1000, 2000, 1000, 1000, 1000, 1000, 1000}, false, 0}},
    // Septentrio: the line end's answer and the capabilities' answer take over a second at 1200.
    {17, 17, {{3000, 2000, 1000, 1000, 1000, 1000, 1000, 1000}, false, 0}},
};

} // namespace

const KSessionTimings& SessionTimingsOf(int32_t receiverType) {
    for (const Row& row : kRows)
        if (receiverType >= row.firstType && receiverType <= row.lastType) return row.timings;
    return kUsual;
}
