#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "comm/KMemoryComm.h"

class KMessageReader;
class KStreamMonitor;
struct KReceiverFamily;
struct StreamMessage;

// What a line carries, as it arrives: every family's framer is given every byte heard, and the
// checked messages each frames are counted by protocol and by message, named by its family's reader.
class KLineWatch {
public:
    struct Kind {
        std::string id;  // the message's name as its family's reader gives it ("NAV-PVT", "0x29", "RMC")
        uint64_t messages = 0;
        uint64_t bytes = 0;
        int64_t firstMs = 0;  // when the first and the last of them were framed
        int64_t lastMs = 0;
    };
    struct Protocol {
        const KReceiverFamily* family = nullptr;
        uint64_t messages = 0;
        uint64_t proving = 0;  // messages that prove the protocol is spoken
        uint64_t bytes = 0;
        std::vector<Kind> kinds;  // in the order first heard
    };

    // As a search does: one checked message can be luck, two are a protocol.
    static constexpr uint64_t kMessagesToClaim = 2;

    KLineWatch();
    ~KLineWatch();
    KLineWatch(const KLineWatch&) = delete;
    KLineWatch& operator=(const KLineWatch&) = delete;

    // Frames `length` more bytes of the line, heard at `nowMs`.
    void Feed(const uint8_t* data, size_t length, int64_t nowMs);

    uint64_t Bytes() const { return bytes; }
    // The protocols heard, in registry order: those with at least kMessagesToClaim messages that
    // prove them (any checked messages, for a protocol that proves no family).
    std::vector<const Protocol*> Heard() const;

private:
    struct Framer {
        Protocol protocol;
        std::unique_ptr<KMemoryComm> line;
        std::unique_ptr<KStreamMonitor> monitor;
        std::unique_ptr<KMessageReader> reader;  // none when the family names no messages
    };
    void Count(Framer& framer, const StreamMessage& message, int64_t nowMs);

    std::vector<Framer> framers;
    uint64_t bytes = 0;
};
