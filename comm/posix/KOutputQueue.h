#pragma once
#include <cstdint>

#include "comm/KOutputDrain.h"

namespace KOutputDrain {

// What `fd` still has to send: its output queue, and a byte for a transmitter that has not
// finished shifting out the last ones where the driver can tell (a UART's own FIFO is not in the
// queue).
int64_t Pending(int fd);

} // namespace KOutputDrain
