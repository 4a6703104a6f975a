#include "cli/RememberedChoices.h"

#include <optional>
#include <vector>

#include "comm/KIniSettingsStore.h"

namespace {
constexpr const char* kSection = "BaudSet";
}

RememberedChoices RememberedChoices::Load(const std::string& path, std::string* problem) {
    RememberedChoices choices;
    if (path.empty()) return choices;
    KIniSettingsStore store(path);
    std::vector<std::optional<std::string>> values;
    std::string error;
    if (!store.ReadSection(kSection, {"LastRcvr", "LastPort", "LastBaud", "LastDevice", "LastPortName"}, values, error)) {
        if (problem) *problem = error;
        return choices;
    }
    // As the private-profile calls read numbers: an empty value is the default.
    const auto number = [](const std::optional<std::string>& text, int32_t fallback) {
        return text && !text->empty() ? KIniParseInt(*text) : fallback;
    };
    choices.receiverType = number(values[0], 2);
    choices.portNumber = number(values[1], 0);
    choices.baud = number(values[2], 9600);
    choices.device = values[3].value_or("");
    choices.portIdentity = values[4].value_or("");
    choices.found = values[0].has_value();
    return choices;
}

bool RememberedChoices::Save(const std::string& path, std::string* problem) const {
    if (path.empty()) return false;
    std::string error;
    const bool saved = KIniSettingsStore(path).WriteSection(kSection,
                                                            {{"LastRcvr", std::to_string(receiverType)},
                                                             {"LastPort", std::to_string(portNumber)},
                                                             {"LastBaud", std::to_string(baud)},
                                                             {"LastDevice", device},
                                                             {"LastPortName", portIdentity}},
                                                            error);
    if (!saved && problem) *problem = error;
    return saved;
}
