#pragma once
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "time/KGPSTime.h"

struct KPortInfo;

// Every --json document goes through here, so that all of them share one frame: a single JSON
// object on standard output, indented by two spaces and ended by a newline, whose first key is
// "version", the version of the documents' shape. Fields are only ever added while it stays 1;
// a field that changes meaning or goes away takes a new version. docs/json.md lists the fields.
using JsonValue = nlohmann::ordered_json;  // keys stay in the order they were added

inline constexpr int kJsonVersion = 1;

// Prints `document` (an object; a nlohmann::json converts) with "version" put first, in ASCII:
// control characters and everything past ASCII as \u escapes, so that a name from outside cannot
// reach a terminal as a control sequence (C1 controls are valid UTF-8). Texts that are not UTF-8
// (a device or file name is only bytes) read as U+FFFD in place of the bad bytes rather than
// ending the program.
void PrintJson(const JsonValue& document);

// What a command that failed puts under "error": {"kind": kind, "message": message}. `kind` is
// a fixed word scripts can test; `message` is the text the command prints without --json.
JsonValue JsonError(const std::string& kind, const std::string& message);

// An outcome that is no answer, printed the way the command was asked for: with --json,
// `document` with "error" set to JsonError(kind, message); without, `message` on standard output,
// or, for a port or file error (kExitPortError), on standard error after "velinor COMMAND: ".
// Answers `exitCode`, which the command exits with either way.
int PrintFailure(bool json, JsonValue document, const std::string& command, const std::string& kind,
                 const std::string& message, int exitCode);

// The text, or null when it is empty (a name the system does not know).
JsonValue JsonTextOrNull(const std::string& text);

// A catalogue type: "id", "name", "family" and "protocol" (null for a type no family of this
// build serves), "supported", "queriesTime" (`velinor time` can ask it), "scansTime"
// (`velinor scan` reads its recordings). Null for an id outside the catalogue.
JsonValue JsonReceiverType(int32_t typeId);

// A port as `velinor ports` lists it: "slot" ("COM3", null for ports past the slots), "device",
// "stableName" and "adapter" (an object of "maker", "model", "serial", "usbId", "driver", each
// null when the system does not report it).
JsonValue JsonPort(const std::string& slot, const KPortInfo& info);

// A moment as held, ISO-8601 to the millisecond without a zone letter ("2007-05-14T09:13:20.120"):
// the caller says which time scale it is on. Null when the time cannot be broken down.
JsonValue JsonCalendar(const KGPSTime& time);

// A UTC moment, as JsonCalendar with "Z" after it.
JsonValue JsonUtc(const KGPSTime& time);

// A time on the GPS scale: "week", "secondsOfWeek" (to the millisecond, as the text shows it),
// "gps" (JsonCalendar) and "utc" (ISO-8601 with "Z"). Without a known week only "secondsOfWeek"
// means anything: the other three are null.
JsonValue JsonGpsTime(const KGPSTime& time, bool weekKnown = true);
