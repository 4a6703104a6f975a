#pragma once
#include <string>

#include "comm/KPortAdapter.h"

namespace KSerialBackend {

// What sysfs under `sysRoot` tells of the hardware behind tty `name` (tests use fake trees): the
// driver bound to its device, and the maker, model, serial number and vendor:product id of the
// nearest USB device above it. Texts come from the device itself, so control characters are
// replaced before anyone prints them.
KPortAdapter ReadAdapterIn(const std::string& sysRoot, const std::string& name);

} // namespace KSerialBackend
