#pragma once
#include <cstddef>
#include <string>

#include "comm/KRecordedComm.h"

// The recording `frame` and `scan` read: a file, or "-" for standard input (a pipe), which is
// read once as a stream holding `keepBytes` behind the read position. On failure, `error` is the
// message to print: a device (a serial port, /dev/zero), FIFO or folder is no recording, and the
// message says what to use for a live port instead.
KRecordedComm OpenRecording(const std::string& path, size_t keepBytes, std::string& error);

// Whether the stream error log of `clientName` can be written (--stream-errors): empty when it
// can, else the message to print. A log asked for and never written would pass for a clean run.
std::string StreamErrorLogRefusal(const std::string& clientName);
// After the run: the lines of the stream error log that were lost, as a message, or empty.
std::string StreamErrorLogLossText();
