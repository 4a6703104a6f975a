#include "sim/KSimReceiverDevice.h"

#include <algorithm>

namespace {
constexpr int64_t kNsPerMs = 1000000;
} // namespace

KSimReceiverDevice::KSimReceiverDevice(uint32_t initialBaud, const KSimDeviceOptions& deviceOptions)
    : baud(initialBaud == 0 ? 9600 : initialBaud), options(deviceOptions),
      streaming(deviceOptions.streaming) {}

void KSimReceiverDevice::Attach(KSimDeviceLink* deviceLink, int64_t nowNs) {
    link = deviceLink;
    link->SetReceiveBaud(baud);
    const int64_t period = std::max<int32_t>(options.outputPeriodMs, 1) * kNsPerMs;
    nextOutputNs = streaming ? nowNs + period : kNever;
}

void KSimReceiverDevice::OnByte(int64_t timeNs, uint8_t byte) {
    completed.clear();
    Read(byte, completed);
    for (Bytes& request : completed) {
        requests.push_back(request);
        if (!options.silent) Handle(timeNs, request);
    }
}

int64_t KSimReceiverDevice::NextWakeNs() const {
    const int64_t next = events.empty() ? kNever : events.begin()->first;
    return std::min(next, streaming ? nextOutputNs : kNever);
}

int64_t KSimReceiverDevice::DueNs(int64_t timeNs) const {
    return timeNs + static_cast<int64_t>(std::max(options.replyDelayMs, 0)) * kNsPerMs;
}

void KSimReceiverDevice::Reply(int64_t timeNs, Bytes bytes) {
    ReplyWith(timeNs, [bytes = std::move(bytes)](int64_t) { return bytes; });
}

void KSimReceiverDevice::ReplyWith(int64_t timeNs, Builder build) {
    events.emplace(DueNs(timeNs), Event{Kind::Send, std::move(build), 0});
}

void KSimReceiverDevice::SwitchLater(int64_t timeNs, uint32_t newBaud, int32_t extraDelayMs) {
    // Queued behind any reply due at the same time, so that reply leaves first.
    events.emplace(DueNs(timeNs) + static_cast<int64_t>(std::max(extraDelayMs, 0)) * kNsPerMs,
                   Event{Kind::Switch, {}, newBaud});
}

void KSimReceiverDevice::Transmit(int64_t timeNs, const Bytes& bytes) {
    link->Transmit(timeNs, baud, bytes);
}

bool KSimReceiverDevice::LineFree(int64_t timeNs) const { return link->TransmitFreeNs() <= timeNs; }

void KSimReceiverDevice::SetBaud(uint32_t newBaud) {
    baud = newBaud;
    link->SetReceiveBaud(baud);
    ++rateSwitches;
}

void KSimReceiverDevice::SwitchTo(int64_t timeNs, uint32_t newBaud) {
    if (options.neverSwitches || newBaud == baud) return;
    const uint32_t oldBaud = baud;
    SetBaud(newBaud);
    if (options.revertAfterMs > 0 && !(options.revertsOnce && revertsQueued > 0)) {
        ++revertsQueued;
        events.emplace(timeNs + static_cast<int64_t>(options.revertAfterMs) * kNsPerMs, Event{Kind::Revert, {}, oldBaud});
    }
}

void KSimReceiverDevice::Wake(int64_t timeNs) {
    while (!events.empty() && events.begin()->first <= timeNs) {
        auto node = events.extract(events.begin());
        Event& event = node.mapped();
        switch (event.kind) {
        case Kind::Send:
            Transmit(timeNs, event.build(timeNs));
            break;
        case Kind::Switch:
            if (!LineFree(timeNs)) {
                // Bytes still on the wire go out at the old rate; switch when they have left.
                events.emplace(link->TransmitFreeNs(), std::move(event));
                break;
            }
            SwitchTo(timeNs, event.baud);
            break;
        case Kind::Revert:
            if (event.baud != baud) SetBaud(event.baud);
            break;
        }
    }
    if (streaming && nextOutputNs <= timeNs) {
        // Output that cannot keep up with its rate is skipped rather than queued without bound.
        if (LineFree(timeNs)) SendOutput(timeNs);
        const int64_t period = std::max<int32_t>(options.outputPeriodMs, 1) * kNsPerMs;
        while (nextOutputNs <= timeNs) nextOutputNs += period;
    }
}
