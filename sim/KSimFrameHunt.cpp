#include "sim/KSimFrameHunt.h"

#include <algorithm>

void KSimFrameHunt::Feed(uint8_t byte) {
    buffer.push_back(byte);
    const size_t size = buffer.size();
    const size_t syncLength = syncBytes.size();
    if (size >= syncLength && std::equal(syncBytes.begin(), syncBytes.end(), buffer.end() - static_cast<std::ptrdiff_t>(syncLength)))
        starts.push_back(size - syncLength);

    // Each candidate either completes exactly here, stays pending, or is dropped.
    for (size_t i = 0; i < starts.size();) {
        const size_t start = starts[i];
        const uint8_t* frame = buffer.data() + start;
        const size_t held = size - start;
        const size_t length = FrameLength(frame, held);
        if (length == kNeedMore || (length != kNoFrame && held < length)) {
            ++i;
            continue;
        }
        if (length == held && Intact(frame, length)) {
            ready.push_back(Deliver(frame, length));
            ++frames;
            buffer.clear();
            starts.clear();
            return;
        }
        if (length == held) ++rejected;
        starts.erase(starts.begin() + static_cast<std::ptrdiff_t>(i));
    }

    // Bytes before the oldest candidate can never be part of a frame; the last few may begin a
    // sync.
    const size_t keep = syncLength > 0 ? syncLength - 1 : 0;
    const size_t keepFrom = !starts.empty() ? starts.front() : (size > keep ? size - keep : 0);
    if (keepFrom > 0) {
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(keepFrom));
        for (size_t& s : starts) s -= keepFrom;
    }
}

bool KSimFrameHunt::Next(std::vector<uint8_t>& frame) {
    if (ready.empty()) return false;
    frame = std::move(ready.front());
    ready.pop_front();
    return true;
}

void KSimFrameHunt::Clear() {
    buffer.clear();
    starts.clear();
    ready.clear();
}
