#pragma once
#include <cstdint>
#include <functional>

// Waits, within a bound, for what was written to a serial device to leave it.
namespace KOutputDrain {

// Asks `pending` (bytes still to be sent; 0 or less when none or unknown) every few milliseconds
// of the process clock until nothing is pending or `boundMs` has passed. False when the bound ran
// out with bytes still pending.
bool WaitUntilSent(const std::function<int64_t()>& pending, int32_t boundMs);

// What `fd` still has to send: its output queue, and a byte for a transmitter that has not
// finished shifting out the last ones where the driver can tell (a UART's own FIFO is not in the
// queue).
int64_t Pending(int fd);

} // namespace KOutputDrain
