// The built-in receiver families, one row each. A family is its own files plus its row here.
#include "families/KReceiverFamily.h"
#include "monitors/KAshtechStreamMonitor.h"
#include "monitors/KLeicaStreamMonitor.h"
#include "monitors/KNavComStreamMonitor.h"
#include "monitors/KMediaTekStreamMonitor.h"
#include "monitors/KNovatelStreamMonitor.h"
#include "monitors/KSeptentrioStreamMonitor.h"
#include "monitors/KSiRFStreamMonitor.h"
#include "monitors/KTopconStreamMonitor.h"
#include "monitors/KTrimbleStreamMonitor.h"
#include "monitors/KUbloxStreamMonitor.h"
#include "receivers/KAshtechReceiver.h"
#include "receivers/KLeicaReceiver.h"
#include "receivers/KMediaTekReceiver.h"
#include "receivers/KNavComReceiver.h"
#include "receivers/KNovatelReceiver.h"
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

namespace {

template <typename Monitor> std::unique_ptr<KStreamMonitor> Framer() { return std::make_unique<Monitor>(); }

} // namespace

std::vector<KReceiverFamily> BuiltInFamilies() {
    std::vector<KReceiverFamily> rows;
    rows.push_back({
        .name = "Ashtech",
        .protocol = {.name = "ashtech", .createMonitor = &Framer<KAshtechStreamMonitor>,
                     .createReader = &KAshtechReceiver::CreateMessageReader},
        .types = {{1, "Ashtech Z"}, {2, "Ashtech AC12"}, {3, "Ashtech G12"}},
        .createReceiver = &KAshtechReceiver::Create,
        .simulator = {.create = &KAshtechDevice::Create, .rates = &KAshtechDevice::Rates, .missesFirstTry = true,
                      .receiverPorts = "A-D"},
        .scansTime = true,
        .output = {.stopped = true,
                   .turnOnAgain = "send $PASHS,NME,<message>,<port>,ON for each NMEA message wanted "
                                  "($PASHS,RAW,<message>,<port>,ON for raw data)",
                   .notRestorable = "$PASHS,OUT turns every output of the port off at once, and this program "
                                    "cannot read back which messages were on"},
    });
    // The two command sets of the family, which no answer to a ping tells apart.
    constexpr const char* kCrs1000 = "CRS1000 commands: the rate change is not acknowledged";
    constexpr const char* kRs500 = "System 500 commands: the rate change is acknowledged";
    rows.push_back({
        .name = "Leica",
        .protocol = {.name = "lb2", .createMonitor = &Framer<KLeicaStreamMonitor>,
                     .createReader = &KLeicaReceiver::CreateMessageReader},
        .types = {{4, "Leica CRS1000", {}, kBaudRates, kCrs1000},
                  // Slow to answer at every rate; after a rate change it gets a control command
                  // (the receiver's own business) and a pause.
                  {5, "Leica GMX900", {.detectPingMs = 5000, .pauseAfterChangeMs = 2000}, kBaudRates, kCrs1000},
                  {6, "Leica GPS1200", {}, kBaudRates, kRs500},
                  {7, "Leica System 500", {}, kBaudRates, kRs500}},
        .createReceiver = &KLeicaReceiver::Create,
        .simulator = {.create = &KLeicaDevice::Create, .rates = &KLeicaDevice::Rates},
        .queriesTime = true,
        .output = {.stopped = true,
                   .turnOnAgain = "set its outputs up again from the receiver's controller or Leica's "
                                  "configuration software",
                   .notRestorable = "its stop commands turn every output off at once, and this program cannot "
                                    "read back which outputs were on"},
    });
    rows.push_back({
        .name = "NavCom",
        .protocol = {.name = "navcom", .createMonitor = &Framer<KNavComStreamMonitor>,
                     .createReader = &KNavComReceiver::CreateMessageReader},
        .types = {{8, "NavCom"}},
        .createReceiver = &KNavComReceiver::Create,
        .simulator = {.create = &KNavComDevice::Create},
        .queriesTime = true,
        .scansTime = true,
        .output = {.stopped = true,
                   .turnOnAgain = "ask for each message wanted again (output request, message 0x20, with the "
                                  "message and its rate), for example with NavCom's configuration software",
                   .notRestorable = "its output request turns every output off at once, and this program cannot "
                                    "read back which outputs were on"},
    });
    rows.push_back({
        .name = "Novatel",
        .protocol = {.name = "novatel", .createMonitor = &Framer<KNovatelStreamMonitor>,
                     .createReader = &KNovatelReceiver::CreateMessageReader},
        .types = {{9, "Novatel/Sokkia"}},
        .createReceiver = &KNovatelReceiver::Create,
        .simulator = {.create = &KNovatelDevice::Create},
        .queriesTime = true,
        .scansTime = true,
        .output = {.stopped = true,
                   .turnOnAgain = "send LOG <port> <message> ONTIME <seconds> for each log wanted (a reset "
                                  "brings back the logs saved with SAVECONFIG)",
                   .notRestorable = "UNLOGALL removes every log of the port at once, and this program cannot "
                                    "read back which logs were on"},
    });
    rows.push_back({
        .name = "SiRF",
        .protocol = {.name = "sirf", .createMonitor = &Framer<KSiRFStreamMonitor>,
                     .createReader = &KSiRFReceiver::CreateMessageReader},
        .types = {{10, "SiRFStar III"}},
        .createReceiver = &KSiRFReceiver::Create,
        .simulator = {.create = &KSiRFDevice::Create},
        .queriesTime = true,
        .scansTime = true,
        .output = {.stopped = true,
                   .turnOnAgain = "set each message's rate again with Set Message Rate (message ID 166), for "
                                  "example with SiRF's demonstration software",
                   .notRestorable = "its stop sets the rates of sixteen messages to 0, and this program cannot "
                                    "read back what they were"},
    });
    rows.push_back({
        .name = "Topcon",
        .protocol = {.name = "topcon", .createMonitor = &Framer<KTopconStreamMonitor>,
                     .createReader = &KTopconReceiver::CreateMessageReader},
        .types = {{11, "Topcon"}},
        .createReceiver = &KTopconReceiver::Create,
        .simulator = {.create = &KTopconDevice::Create, .missesFirstTry = true, .receiverPorts = "a-d"},
        .scansTime = true,
        .output = {.stopped = true,
                   .turnOnAgain = "turn each message on again with the em command (for example "
                                  "em,,/msg/nmea/GGA:1), or with Topcon's configuration software",
                   .notRestorable = "dm turns every message of the port off at once, and this program cannot "
                                    "read back which were on"},
    });
    // Slow to answer at the three slowest rates.
    constexpr KTypeTimings kTrimble = {.slowUpToBaud = 4800, .slowPingMs = 3000};
    rows.push_back({
        .name = "Trimble",
        .protocol = {.name = "trimble", .createMonitor = &Framer<KTrimbleStreamMonitor>,
                     .createReader = &KTrimbleReceiver::CreateMessageReader},
        .types = {{12, "Trimble 4000 SSi", kTrimble}, {13, "Trimble 47/48/5700", kTrimble}, {14, "Trimble NetR5", kTrimble}},
        .createReceiver = &KTrimbleReceiver::Create,
        .simulator = {.create = &KTrimbleDevice::Create, .receiverPorts = "1-4 or 18"},
        .scansTime = true,
    });
    rows.push_back({
        .name = "u-blox",
        .protocol = {.name = "ubx", .createMonitor = &Framer<KUbloxStreamMonitor>,
                     .createReader = &KUbloxReceiver::CreateMessageReader},
        // Up to 9600 its MON-VER answer may queue behind a second of its output.
        .types = {{15, "u-blox", {.slowUpToBaud = 9600, .slowPingMs = 2000}, KUbloxReceiver::kRates}},
        .createReceiver = &KUbloxReceiver::Create,
        .simulator = {.create = &KUbloxDevice::Create, .receiverPorts = "UART 1-2, or generation:UART as 8:2"},
        .queriesTime = true,
        .scansTime = true,
    });
    rows.push_back({
        .name = "MediaTek",
        .protocol = {.name = "nmea", .createMonitor = &Framer<KMediaTekStreamMonitor>,
                     .createReader = &KMediaTekReceiver::CreateMessageReader, .listeningProves = false},
        // At 4800 the firmware's answer may queue behind a second of NMEA output.
        .types = {{16, "MediaTek/Quectel", {.slowUpToBaud = 4800, .slowPingMs = 2000}, KMediaTekReceiver::Rates()}},
        .createReceiver = &KMediaTekReceiver::Create,
        .simulator = {.create = &KMediaTekDevice::Create},
        .scansTime = true,
        // Quectel's L70/L80 protocol documents: a PMTK251 rate is lost only on a full cold start
        // or in standby mode, i.e. it lives in the backup memory.
        .unsavedRateNote = "PMTK251 has no save of its own: many MediaTek firmwares keep the rate while the "
                           "module has backup power, and a full cold start or standby takes it back to the default",
    });
    rows.push_back({
        .name = "Septentrio",
        .protocol = {.name = "sbf", .createMonitor = &Framer<KSeptentrioStreamMonitor>,
                     .createReader = &KSeptentrioReceiver::CreateMessageReader},
        // A ping is two exchanges (a line end for the prompt, then the command), so it waits for
        // two answers; at 1200 they take over a second each.
        .types = {{17, "Septentrio", {.detectPingMs = 2000, .slowUpToBaud = 2400, .slowPingMs = 3000},
                   KSeptentrioReceiver::Rates()}},
        .createReceiver = &KSeptentrioReceiver::Create,
        .simulator = {.create = &KSeptentrioDevice::Create, .receiverPorts = "COM1-COM4"},
        .scansTime = true,
    });
    return rows;
}
