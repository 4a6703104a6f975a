#pragma once
#include <cstdint>
#include <memory>
#include <random>

#include "session/KBaudSession.h"

class KSimWorld;
class KRealTimeDriver;

// The "Simulated receiver" entry of the port list (the dialog's --simulate switch): a simulated
// receiver of the chosen type on an in-process line, run in real time. Like a receiver on a
// cable it stays where the last session left it while the type stays the same; a new type
// brings a new receiver, powered up at a random rate other than the one wanted.
class KSimulatedPort {
public:
    explicit KSimulatedPort(uint32_t seed);
    ~KSimulatedPort();
    KSimulatedPort(const KSimulatedPort&) = delete;
    KSimulatedPort& operator=(const KSimulatedPort&) = delete;

    // Where a session with `receiverType` wanted at `targetBaud` gets its links. Called on the
    // interface thread while no session runs. The factory makes no link for a type that has no
    // simulated receiver, so such a session ends without a report, as on an absent port.
    KBaudSession::LinkFactory Prepare(int32_t receiverType, int32_t targetBaud);

    // The simulated receiver's rate now; 0 when there is none.
    uint32_t DeviceBaud();

private:
    std::mt19937 random;
    int32_t type = 0;
    std::unique_ptr<KSimWorld> world;
    std::unique_ptr<KRealTimeDriver> driver; // drives `world`: ends before it
};
