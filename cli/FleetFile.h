#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "cli/PortChoice.h"

// One receiver of a fleet file: its type, where it is cabled, the rate it should run at.
struct FleetEntry {
    int line = 0;  // in the file, from 1
    int32_t type = 0;
    PortChoice port;
    int32_t baud = 0;
};

// What reading a fleet file came to. A file that cannot be used at all (a line that does not
// read, a port named twice) is a usage error: `error` names the line. A port that reads but is
// not there now is kept apart, so the other receivers still run.
struct FleetFile {
    std::vector<FleetEntry> entries;
    std::vector<std::string> portProblems;  // "line 4: /dev/ttyUSB7: no such device ..."
    std::string error;                      // empty when the file reads
};

// Reads the text of a fleet file: one receiver per line, `TYPE PORT RATE`, where TYPE is an id
// or a name (in double quotes when it has blanks), PORT a device, stable name, COM name or URL;
// `#` starts a comment, blank lines are skipped.
FleetFile ReadFleet(const std::string& text);
