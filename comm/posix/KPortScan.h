#pragma once
#include <string>

#include "comm/KPortRegistry.h"

namespace KSerialBackend {

// The scan behind ScanPorts, over any device and sysfs tree (tests use fake ones): the serial
// devices of `devRoot` that have hardware behind them (ttyS ports whose UART type under
// `sysRoot`/class/tty is not 0, ttyUSB and ttyACM), in the order ttyS, ttyUSB, ttyACM and by
// number within each, with their /dev/serial/by-id name as the label where there is one.
void ScanPortsIn(const std::string& devRoot, const std::string& sysRoot, KPortRegistry::PortTable& ports);

} // namespace KSerialBackend
