#include "cli/FleetFile.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>

#include "cli/CommandLine.h"
#include "cli/ReceiverChoice.h"
#include "comm/KNetworkComm.h"
#include "comm/KPortRegistry.h"

namespace {

// The words of a line: blank-separated, a double-quoted word kept whole. False when a quote is
// left open.
bool SplitWords(const std::string& line, std::vector<std::string>& words) {
    size_t at = 0;
    while (at < line.size()) {
        if (std::isspace(static_cast<unsigned char>(line[at]))) {
            ++at;
            continue;
        }
        if (line[at] == '"') {
            const size_t close = line.find('"', at + 1);
            if (close == std::string::npos) return false;
            words.push_back(line.substr(at + 1, close - at - 1));
            at = close + 1;
            continue;
        }
        size_t end = at;
        while (end < line.size() && !std::isspace(static_cast<unsigned char>(line[end]))) ++end;
        words.push_back(line.substr(at, end - at));
        at = end;
    }
    return true;
}

// What tells two entries' ports apart: a URL case-blind, a device (or a slot's device) by the
// file it leads to, so that a stable name and the device it names are one port.
std::string PortKey(const PortChoice& port) {
    if (IsNetworkPortName(port.devicePath)) {
        std::string key = port.devicePath;
        std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
        return key;
    }
    const std::string device =
        port.devicePath.empty() ? KPortRegistry::Instance().DevicePath(port.portNumber) : port.devicePath;
    std::error_code ec;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(device, ec);
    return ec ? device : resolved.string();
}

} // namespace

namespace {

// One line's receiver from its three words; false with the file's error for a line that does
// not read. A port that reads but is not there now goes to the port problems.
bool ReadEntry(const std::vector<std::string>& words, const std::string& where, FleetFile& fleet, FleetEntry& entry) {
    std::string problem;
    entry.type = ChooseReceiver(words[0], problem);
    if (entry.type == 0) {
        fleet.error = where + problem;
        return false;
    }
    long long baud = 0;
    if (!ParseInt(words[2], 1, 10000000, baud) || !TypeTakesRate(entry.type, baud)) {
        fleet.error = where + "the rate must be one of " + TypeRatesText(entry.type);
        return false;
    }
    entry.baud = static_cast<int32_t>(baud);
    if (IsFixedRatePort(words[1])) {
        fleet.error = where + words[1] + " is a raw TCP port whose rate the server fixes: name it rfc2217://HOST:PORT";
        return false;
    }
    if (!ChoosePort(words[1], entry.port, problem)) {
        // A URL that does not read is the file's fault; a device not there now is the port's.
        if (IsNetworkPortName(words[1])) {
            fleet.error = where + problem;
            return false;
        }
        fleet.portProblems.push_back(where + problem);
        entry.port.devicePath = words[1];
        entry.port.display = words[1];
        entry.port.portNumber = -1;  // not to be opened
    }
    return true;
}

} // namespace

FleetFile ReadFleet(const std::string& text) {
    FleetFile fleet;
    std::istringstream lines(text);
    std::string line;
    std::vector<std::pair<std::string, int>> seen;  // port key, line
    for (int number = 1; std::getline(lines, line); ++number) {
        const std::string where = "line " + std::to_string(number) + ": ";
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        std::vector<std::string> words;
        if (!SplitWords(line, words)) {
            fleet.error = where + "a double quote is not closed";
            return fleet;
        }
        if (words.empty()) continue;
        if (words.size() != 3) {
            fleet.error = where + "expected TYPE PORT RATE (a type name with blanks in double quotes), found " +
                          std::to_string(words.size()) + " words";
            return fleet;
        }
        FleetEntry entry;
        entry.line = number;
        if (!ReadEntry(words, where, fleet, entry)) return fleet;
        const std::string key = entry.port.portNumber < 0 ? words[1] : PortKey(entry.port);
        for (const auto& [other, otherLine] : seen) {
            if (other == key) {
                fleet.error = where + words[1] + " is named twice (also on line " + std::to_string(otherLine) +
                              "): one port carries one receiver";
                return fleet;
            }
        }
        seen.emplace_back(key, number);
        fleet.entries.push_back(entry);
    }
    if (fleet.entries.empty() && fleet.error.empty()) fleet.error = "the file names no receiver";
    return fleet;
}
