#include "session/KLineWatch.h"

#include <algorithm>

#include "families/KReceiverFamily.h"
#include "monitors/KStreamMonitor.h"
#include "receivers/KMessageReader.h"

namespace {
constexpr const char* kClientName = "Watch";
}

KLineWatch::KLineWatch() {
    for (const KReceiverFamily& family : ReceiverFamilies()) {
        if (!family.protocol.createMonitor) continue;
        Framer framer;
        framer.protocol.family = &family;
        framer.line = std::make_unique<KMemoryComm>();
        framer.line->Open(0);
        framer.monitor = family.protocol.createMonitor();
        framer.monitor->Start(framer.line.get(), false, kClientName);
        if (family.protocol.createReader) framer.reader = family.protocol.createReader();
        framers.push_back(std::move(framer));
    }
}

KLineWatch::~KLineWatch() {
    for (Framer& framer : framers) framer.monitor->Stop();
}

void KLineWatch::Feed(const uint8_t* data, size_t length, int64_t nowMs) {
    bytes += length;
    for (Framer& framer : framers) {
        framer.line->Feed(data, length);
        for (;;) {
            const bool progressed = framer.monitor->ReadStep();
            while (const std::unique_ptr<StreamMessage> message = framer.monitor->PopMessage())
                Count(framer, *message, nowMs);
            if (!progressed) break;
        }
    }
}

void KLineWatch::Count(Framer& framer, const StreamMessage& message, int64_t nowMs) {
    Protocol& protocol = framer.protocol;
    const auto length = static_cast<uint64_t>(message.length);
    ++protocol.messages;
    if (framer.monitor->ProvesProtocol(message)) ++protocol.proving;
    protocol.bytes += length;
    const std::string id = framer.reader ? framer.reader->Read(message).name : std::string();
    auto kind = std::find_if(protocol.kinds.begin(), protocol.kinds.end(), [&](const Kind& k) { return k.id == id; });
    if (kind == protocol.kinds.end()) {
        protocol.kinds.push_back({id, 0, 0, nowMs, nowMs});
        kind = protocol.kinds.end() - 1;
    }
    ++kind->messages;
    kind->bytes += length;
    kind->lastMs = nowMs;
}

std::vector<const KLineWatch::Protocol*> KLineWatch::Heard() const {
    std::vector<const Protocol*> heard;
    for (const Framer& framer : framers) {
        const Protocol& protocol = framer.protocol;
        // A protocol that many makers' receivers share names no family, but it is on the line.
        const uint64_t claiming = protocol.family->protocol.listeningProves ? protocol.proving : protocol.messages;
        if (claiming >= kMessagesToClaim) heard.push_back(&protocol);
    }
    return heard;
}
