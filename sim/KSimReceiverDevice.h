#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/KSimDevice.h"

// What every simulated receiver shares, whatever its protocol: its port's rate, the queue of
// timed events (replies after the reply delay, rate switches once the line is free, the revert
// of a receiver that falls back), periodic output until silenced, and the fault options, so that
// "silent", "slow", "never switches" and "reverts after N ms" mean the same in every family.
// A family supplies its reader (which cuts received bytes into requests), what it does with a
// request, and one round of its periodic output.
class KSimReceiverDevice : public KSimDevice {
public:
    void Attach(KSimDeviceLink* link, int64_t nowNs) final;
    void OnByte(int64_t timeNs, uint8_t byte) final;
    int64_t NextWakeNs() const final;
    void Wake(int64_t timeNs) final;
    uint32_t Baud() const final { return baud; }

    // Whether periodic output still goes out.
    bool Streaming() const { return streaming; }
    // Every intact request received, oldest first, as the family's reader cut it out (silent
    // devices record them too).
    const std::vector<std::vector<uint8_t>>& Requests() const { return requests; }
    uint32_t RateSwitches() const { return rateSwitches; }
    const KSimDeviceOptions& Options() const { return options; }

protected:
    using Bytes = std::vector<uint8_t>;
    // Builds an answer at the moment it goes out (answers that tell the time).
    using Builder = std::function<Bytes(int64_t sendNs)>;

    KSimReceiverDevice(uint32_t baud, const KSimDeviceOptions& options);

    // The family's reader: takes one byte received correctly and appends every request it
    // completes to `out`.
    virtual void Read(uint8_t byte, std::vector<Bytes>& out) = 0;
    // What the receiver does with one request received at `timeNs` (never called when silent).
    virtual void Handle(int64_t timeNs, const Bytes& request) = 0;
    // One round of periodic output at `timeNs`, with the line free.
    virtual void SendOutput(int64_t timeNs) = 0;

    // Sends `bytes` (or what `build` makes then) after the reply delay.
    void Reply(int64_t timeNs, Bytes bytes);
    void ReplyWith(int64_t timeNs, Builder build);
    // Switches the port to `newBaud` `extraDelayMs` after the reply delay, but never while bytes
    // queued before are still on the wire: they leave at the old rate first.
    void SwitchLater(int64_t timeNs, uint32_t newBaud, int32_t extraDelayMs = 0);
    // Sends bytes at once at the port's rate (after what is already on the wire).
    void Transmit(int64_t timeNs, const Bytes& bytes);
    void StopOutput() { streaming = false; }
    bool LineFree(int64_t timeNs) const;

private:
    enum class Kind { Send, Switch, Revert };
    struct Event {
        Kind kind;
        Builder build;      // Send
        uint32_t baud = 0;  // Switch, Revert
    };

    int64_t DueNs(int64_t timeNs) const;
    void SwitchTo(int64_t timeNs, uint32_t newBaud);
    void SetBaud(uint32_t newBaud);

    uint32_t baud;
    const KSimDeviceOptions options;
    KSimDeviceLink* link = nullptr;
    bool streaming;
    int64_t nextOutputNs = kNever;
    std::multimap<int64_t, Event> events;  // FIFO among equal times
    std::vector<Bytes> requests;
    std::vector<Bytes> completed;  // scratch for the reader
    uint32_t rateSwitches = 0;
    uint32_t revertsQueued = 0;
};
