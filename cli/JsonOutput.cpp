#include "cli/JsonOutput.h"

#include <cstdio>

#include "cli/Commands.h"
#include "cli/TimeText.h"
#include "comm/KPortRegistry.h"
#include "comm/KPrintableText.h"
#include "families/KReceiverFamily.h"

void PrintJson(const JsonValue& document) {
    JsonValue framed = {{"version", kJsonVersion}};
    if (document.is_object()) {
        for (const auto& [key, value] : document.items())
            if (key != "version") framed[key] = value;
    }
    const std::string text = framed.dump(2, ' ', true, JsonValue::error_handler_t::replace) + "\n";
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

JsonValue JsonError(const std::string& kind, const std::string& message) {
    return {{"kind", kind}, {"message", message}};
}

int PrintFailure(bool json, JsonValue document, const std::string& command, const std::string& kind,
                 const std::string& message, int exitCode) {
    if (json) {
        document["error"] = JsonError(kind, message);
        PrintJson(document);
    } else if (exitCode == kExitPortError) {
        std::fprintf(stderr, "velinor %s: %s\n", command.c_str(), PrintableText(message).c_str());
    } else {
        std::printf("%s\n", PrintableText(message).c_str());
    }
    return exitCode;
}

JsonValue JsonTextOrNull(const std::string& text) { return text.empty() ? JsonValue() : JsonValue(text); }

JsonValue JsonReceiverType(int32_t typeId) {
    const KCatalogueType* row = FindCatalogueType(typeId);
    if (!row) return nullptr;
    const KReceiverFamily* family = FamilyOfType(typeId);
    return {{"id", typeId},
            {"name", row->displayName},
            {"family", family ? JsonValue(family->name) : JsonValue()},
            {"protocol", family ? JsonValue(family->protocol.name) : JsonValue()},
            {"supported", family != nullptr},
            {"queriesTime", family && family->queriesTime},
            {"scansTime", family && family->protocol.createReader != nullptr}};
}

JsonValue JsonPort(const std::string& slot, const KPortInfo& info) {
    const KPortAdapter& adapter = info.adapter;
    return {{"slot", JsonTextOrNull(slot)},
            {"device", info.device},
            {"stableName", JsonTextOrNull(info.stableName)},
            {"adapter",
             {{"maker", JsonTextOrNull(adapter.maker)},
              {"model", JsonTextOrNull(adapter.model)},
              {"serial", JsonTextOrNull(adapter.serial)},
              {"usbId", JsonTextOrNull(adapter.usbId)},
              {"driver", JsonTextOrNull(adapter.driver)}}}};
}

JsonValue JsonCalendar(const KGPSTime& time) {
    std::string text = time.Format();  // "2007/05/14 09:13:20", or "?"
    if (text.size() != 19) return nullptr;
    text[4] = text[7] = '-';
    text[10] = 'T';
    char millis[8];
    std::snprintf(millis, sizeof millis, ".%03d", time.nanoseconds / 1000000);
    return text + millis;
}

JsonValue JsonUtc(const KGPSTime& time) {
    const JsonValue calendar = JsonCalendar(time);
    return calendar.is_string() ? JsonValue(calendar.get<std::string>() + "Z") : calendar;
}

JsonValue JsonGpsTime(const KGPSTime& time, bool weekKnown) {
    return {{"week", weekKnown ? JsonValue(time.GetGPSWeek()) : JsonValue()},
            {"secondsOfWeek", ShownSecondsOfWeek(time)},
            {"gps", weekKnown ? JsonCalendar(time) : JsonValue()},
            {"utc", weekKnown ? JsonUtc(GpsToUtc(time)) : JsonValue()}};
}
