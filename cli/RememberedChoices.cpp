#include "cli/RememberedChoices.h"

#include "comm/KIniSettingsStore.h"

namespace {
constexpr const char* kSection = "BaudSet";
}

RememberedChoices RememberedChoices::Load(const std::string& path) {
    RememberedChoices choices;
    if (path.empty()) return choices;
    KIniSettingsStore store(path);
    const bool hasType = store.ReadInt(0, kSection, "LastRcvr", choices.receiverType, 2);
    store.ReadInt(0, kSection, "LastPort", choices.portNumber, 0);
    store.ReadInt(0, kSection, "LastBaud", choices.baud, 9600);
    choices.device = store.ReadString(0, kSection, "LastDevice", "");
    choices.portIdentity = store.ReadString(0, kSection, "LastPortName", "");
    choices.found = hasType;
    return choices;
}

void RememberedChoices::Save(const std::string& path) const {
    if (path.empty()) return;
    KIniSettingsStore store(path);
    store.WriteInt(0, kSection, "LastRcvr", receiverType);
    store.WriteInt(0, kSection, "LastPort", portNumber);
    store.WriteInt(0, kSection, "LastBaud", baud);
    store.WriteString(0, kSection, "LastDevice", device);
    store.WriteString(0, kSection, "LastPortName", portIdentity);
}
