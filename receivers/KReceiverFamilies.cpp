// The one list of receiver families. Adding a family is its own files plus one row here.
#include "receivers/KAshtechReceiver.h"
#include "receivers/KLeicaReceiver.h"
#include "receivers/KMediaTekReceiver.h"
#include "receivers/KNavComReceiver.h"
#include "receivers/KNovatelReceiver.h"
#include "receivers/KReceiverFamily.h"
#include "receivers/KSeptentrioReceiver.h"
#include "receivers/KSiRFReceiver.h"
#include "receivers/KTopconReceiver.h"
#include "receivers/KTrimbleReceiver.h"
#include "receivers/KUbloxReceiver.h"
#include "sim/KAshtechDevice.h"
#include "sim/KLeicaDevice.h"
#include "sim/KMediaTekDevice.h"
#include "sim/KNavComDevice.h"
#include "sim/KNovatelDevice.h"
#include "sim/KSeptentrioDevice.h"
#include "sim/KSiRFDevice.h"
#include "sim/KTopconDevice.h"
#include "sim/KTrimbleDevice.h"
#include "sim/KUbloxDevice.h"

const std::vector<KReceiverFamily>& ReceiverFamilies() {
    static const std::vector<KReceiverFamily> families = {
        // name, protocol, catalogue types, receiver, simulated receiver and its rates, time query, time scan
        {"Ashtech", "ashtech", {1, 2, 3}, &KAshtechReceiver::Create, &KAshtechDevice::Create, &KAshtechDevice::Rates, false, true},
        {"Leica", "lb2", {4, 5, 6, 7}, &KLeicaReceiver::Create, &KLeicaDevice::Create, &KLeicaDevice::Rates, true, false},
        {"NavCom", "navcom", {8}, &KNavComReceiver::Create, &KNavComDevice::Create, &KNavComDevice::Rates, true, true},
        {"Novatel", "novatel", {9}, &KNovatelReceiver::Create, &KNovatelDevice::Create, &KNovatelDevice::Rates, true, true},
        {"SiRF", "sirf", {10}, &KSiRFReceiver::Create, &KSiRFDevice::Create, &KSiRFDevice::Rates, true, true},
        {"Topcon", "topcon", {11}, &KTopconReceiver::Create, &KTopconDevice::Create, &KTopconDevice::Rates, false, true},
        {"Trimble", "trimble", {12, 13, 14}, &KTrimbleReceiver::Create, &KTrimbleDevice::Create, &KTrimbleDevice::Rates, false, true},
        {"u-blox", "ubx", {15}, &KUbloxReceiver::Create, &KUbloxDevice::Create, &KUbloxDevice::Rates, true, true},
        {"MediaTek", "nmea", {16}, &KMediaTekReceiver::Create, &KMediaTekDevice::Create, &KMediaTekDevice::Rates, false, true},
        {"Septentrio", "sbf", {17}, &KSeptentrioReceiver::Create, &KSeptentrioDevice::Create, &KSeptentrioDevice::Rates, false, true},
    };
    return families;
}

bool KReceiverFamily::Serves(int32_t typeId) const {
    for (int32_t id : typeIds)
        if (id == typeId) return true;
    return false;
}

bool KReceiverFamily::DeviceRunsAt(int32_t typeId, uint32_t baud) const {
    for (uint32_t rate : deviceRates(typeId))
        if (rate == baud) return true;
    return false;
}

const KReceiverFamily* FamilyOfType(int32_t typeId) {
    for (const KReceiverFamily& family : ReceiverFamilies())
        if (family.Serves(typeId)) return &family;
    return nullptr;
}
