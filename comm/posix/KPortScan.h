#pragma once
#include <string>
#include <vector>

#include "comm/KPortRegistry.h"

namespace KSerialBackend {

// The scan behind ScanPorts, over any device and sysfs tree (tests use fake ones): the serial
// devices of `devRoot` that have hardware behind them (ttyS ports whose UART type under
// `sysRoot`/class/tty is not 0; ttyUSB, ttyACM, ttyAMA, ttyTHS, ttymxc and rfcomm ports that
// sysfs knows), in that order of kinds and by number within each, with their /dev/serial/by-id
// name (else by-path) as the stable name and label, and the adapter as sysfs describes it. The
// first 24 fill the slots; the rest are answered.
std::vector<KPortInfo> ScanPortsIn(const std::string& devRoot, const std::string& sysRoot,
                                   KPortRegistry::PortTable& ports);

} // namespace KSerialBackend
