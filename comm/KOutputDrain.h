#pragma once
#include <cstdint>
#include <functional>

// Waits, within a bound, for what was written to a serial device to leave it, so that a close
// or a change of rate does not cut off the end of a command (both platforms' links).
namespace KOutputDrain {

// Asks `pending` (bytes still to be sent; 0 or less when none or unknown) every few milliseconds
// of the process clock until nothing is pending or `boundMs` has passed. False when the bound ran
// out with bytes still pending.
bool WaitUntilSent(const std::function<int64_t()>& pending, int32_t boundMs);

// How long `bytes` characters take on the line at `baud` with `bitsPerCharacter` (start, data,
// parity and stop bits), in whole milliseconds rounded up; 0 for no bytes or no rate.
int64_t WireMs(int64_t bytes, int64_t baud, int32_t bitsPerCharacter);

} // namespace KOutputDrain
