#include "monitors/KMonitorFactory.h"

#include "monitors/KAshtechStreamMonitor.h"
#include "monitors/KLB2StreamMonitor.h"
#include "monitors/KNavComStreamMonitor.h"
#include "monitors/KNmeaStreamMonitor.h"
#include "monitors/KNovatelStreamMonitor.h"
#include "monitors/KSBPStreamMonitor.h"
#include "monitors/KSeptentrioStreamMonitor.h"
#include "monitors/KTopconStreamMonitor.h"
#include "monitors/KTrimbleStreamMonitor.h"
#include "monitors/KUbxStreamMonitor.h"

std::unique_ptr<KStreamMonitor> CreateStreamMonitor(const std::string& protocol) {
    if (protocol == "ashtech") return std::make_unique<KAshtechStreamMonitor>();
    if (protocol == "lb2") return std::make_unique<KLB2StreamMonitor>();
    if (protocol == "navcom") return std::make_unique<KNavComStreamMonitor>();
    if (protocol == "nmea") return std::make_unique<KNmeaStreamMonitor>();
    if (protocol == "novatel") return std::make_unique<KNovatelStreamMonitor>();
    if (protocol == "sbf") return std::make_unique<KSeptentrioStreamMonitor>();
    if (protocol == "sirf") return std::make_unique<KSBPStreamMonitor>();
    if (protocol == "topcon") return std::make_unique<KTopconStreamMonitor>();
    if (protocol == "trimble") return std::make_unique<KTrimbleStreamMonitor>();
    if (protocol == "ubx") return std::make_unique<KUbxStreamMonitor>();
    return nullptr;
}

const std::vector<std::string>& StreamMonitorNames() {
    static const std::vector<std::string> names = {"ashtech", "lb2", "navcom", "nmea", "novatel", "sbf", "sirf", "topcon", "trimble", "ubx"};
    return names;
}
