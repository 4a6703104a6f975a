#pragma once
#include <cstdint>

// Whether another thread can take the registry lock of `slot` within `timeoutMs`. When it
// cannot, the lock is still held by the calling thread (a leaked lock): it is released here as
// often as it takes for the probing thread to end, and the answer is false.
bool LockableFromAnotherThread(int32_t slot, int timeoutMs = 3000);
