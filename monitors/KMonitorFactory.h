#pragma once
#include <memory>
#include <string>
#include <vector>

#include "monitors/KStreamMonitor.h"

// The framers by their short protocol names: ashtech, lb2, navcom, nmea, novatel, sbf, sirf, topcon, trimble, ubx.
std::unique_ptr<KStreamMonitor> CreateStreamMonitor(const std::string& protocol);
const std::vector<std::string>& StreamMonitorNames();
