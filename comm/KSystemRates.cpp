#include "comm/KBaudRates.h"

#ifndef _WIN32
#include "comm/posix/KTermiosSettings.h"
#endif

bool SystemSetsRate(int32_t baud) {
#ifdef _WIN32
    // A DCB takes any rate; the driver is the judge.
    return baud > 0;
#else
    speed_t speed;
    return baud > 0 && KTermiosSettings::SpeedFor(static_cast<uint32_t>(baud), speed);
#endif
}
