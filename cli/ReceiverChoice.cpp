#include "cli/ReceiverChoice.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdint>
#include <vector>

#include "cli/CommandLine.h"
#include "comm/KBaudRates.h"
#include "families/KReceiverFamily.h"

namespace {

std::string Seconds(int32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
    return text;
}

bool SameTimings(const KTypeTimings& a, const KTypeTimings& b) {
    return a.detectPingMs == b.detectPingMs && a.slowUpToBaud == b.slowUpToBaud && a.slowPingMs == b.slowPingMs &&
           a.pauseAfterChangeMs == b.pauseAfterChangeMs;
}

bool SameRates(const KCatalogueType& a, const KCatalogueType& b) {
    return std::equal(a.rates.begin(), a.rates.end(), b.rates.begin(), b.rates.end());
}

std::string Fold(const std::string& text) {
    std::string out;
    for (char c : text)
        if (std::isalnum(static_cast<unsigned char>(c))) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}
bool SameWord(const std::string& a, const char* b) {
    const std::string other = b;
    return a.size() == other.size() && std::equal(a.begin(), a.end(), other.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

const KReceiverFamily* ChooseProtocol(const std::string& text, std::string& error) {
    for (const KReceiverFamily& family : ReceiverFamilies()) {
        if (!family.protocol.createMonitor || !family.protocol.createReader) continue;
        bool called = SameWord(text, family.protocol.name) || SameWord(text, family.name);
        for (const char* alias : family.protocol.aliases) called = called || SameWord(text, alias);
        if (called) return &family;
    }
    error = "unknown protocol '" + text + "' (" + ProtocolNamesText(", ") + ")";
    return nullptr;
}

int32_t ChooseReceiver(const std::string& text, std::string& error) {
    long long id = 0;
    if (ParseInt(text, 1, INT32_MAX, id) && FindCatalogueType(static_cast<int32_t>(id))) return static_cast<int32_t>(id);
    const std::string wanted = Fold(text);
    if (wanted.empty()) {
        error = "no receiver type given";
        return 0;
    }
    std::vector<const KCatalogueType*> partial;
    for (const KCatalogueType* type : CatalogueTypes()) {
        const std::string name = Fold(type->displayName);
        if (name == wanted) return type->typeId;
        if (name.find(wanted) != std::string::npos) partial.push_back(type);
    }
    if (partial.size() == 1) return partial.front()->typeId;
    if (partial.empty()) {
        error = "no receiver type matches '" + text + "' (see 'velinor receivers')";
    } else {
        error = "'" + text + "' could be any of:";
        for (const KCatalogueType* row : partial) error += std::string(" \"") + row->displayName + "\"";
    }
    return 0;
}

std::vector<int32_t> TypeRates(int32_t type) {
    const KCatalogueType* row = FindCatalogueType(type);
    std::vector<int32_t> rates;
    for (int32_t rate : row ? row->rates : std::span<const int32_t>(kBaudRates))
        if (SystemSetsRate(rate)) rates.push_back(rate);
    return rates;
}

bool TypeTakesRate(int32_t type, long long rate) {
    for (int32_t r : TypeRates(type))
        if (r == rate) return true;
    return false;
}

std::string TypeRatesText(int32_t type) {
    std::string text;
    for (int32_t r : TypeRates(type)) text += (text.empty() ? "" : " ") + std::to_string(r);
    return text;
}

std::string TypeDifference(const KReceiverFamily& family, const KCatalogueType& type) {
    bool otherRates = false, otherTimings = false, otherNote = false;
    for (const KCatalogueType& other : family.types) {
        otherRates = otherRates || !SameRates(type, other);
        otherTimings = otherTimings || !SameTimings(type.timings, other.timings);
        otherNote = otherNote || std::string(type.note) != other.note;
    }
    std::vector<std::string> parts;
    if (otherNote && *type.note) parts.emplace_back(type.note);
    if (otherRates) {
        std::string rates = "rates";
        for (int32_t rate : type.rates) rates += " " + std::to_string(rate);
        parts.push_back(rates);
    }
    if (otherTimings) {
        const KTypeTimings& t = type.timings;
        std::string waits = "waits " + Seconds(t.detectPingMs) + " for an answer";
        if (t.slowUpToBaud > 0)
            waits += " (" + Seconds(t.slowPingMs) + " at " + std::to_string(t.slowUpToBaud) + " baud and below)";
        if (t.pauseAfterChangeMs > 0) waits += ", pauses " + Seconds(t.pauseAfterChangeMs) + " after a rate change";
        parts.push_back(waits);
    }
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
    return text;
}
