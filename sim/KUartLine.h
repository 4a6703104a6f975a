#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

// One direction of a serial line, from a transmitting UART to a receiving one, in integer
// nanoseconds. Frames are 8N1 (start bit low, eight data bits LSB first, stop bit high; the
// line idles high), each at the rate its transmitter used. The receiving UART works as real
// ones do: it waits for a falling edge, samples the middle of each bit at ITS OWN rate, drops a
// start bit that is high again at mid-bit (false start), and reports a low stop bit as a framing
// error. After a frame it hunts again from the middle of the stop bit, so a line held low
// yields nothing more until it has gone high and fallen again. Same rate on both ends gives the
// bytes back exactly; other rates give the garbage a real port would, deterministically.
//
// Usage: Transmit (and SendBreak) append to the line; Receive decodes what has completed.
// A transmission never starts before the end of the previous one, nor at or before the last
// time the receiver has sampled (the past cannot change): callers that decode up to a time T
// write from T on, and the world does. Not thread-safe.
class KUartLine {
public:
    // What the receiving UART delivers for a frame with a framing error.
    enum class FramingErrorPolicy {
        DeliverSampled,  // the byte as sampled (a Windows driver without error-char replacement)
        DeliverNul,      // a 0x00 (Linux in raw mode)
        Drop,            // nothing
    };

    struct Options {
        FramingErrorPolicy framingErrors = FramingErrorPolicy::DeliverSampled;
        // Probability with which each transmitted bit (start, data and stop) is inverted.
        double bitFlipProbability = 0.0;
        uint64_t seed = 1;
    };

    struct Received {
        int64_t timeNs = 0;  // when the stop bit was sampled
        uint8_t byte = 0;    // as delivered (0 for a framing error under DeliverNul)
        bool framingError = false;
    };

    // The receiving UART's first rate; the default options (exact line, sampled bytes kept).
    explicit KUartLine(uint32_t receiverBaud = 9600);
    KUartLine(uint32_t receiverBaud, Options options);

    // Queues `length` bytes back to back at `baud`, from `startNs` or from when the line is free
    // (whichever is later). Returns the time at which the last stop bit ends (the line is free).
    int64_t Transmit(int64_t startNs, uint32_t baud, const uint8_t* data, size_t length);
    int64_t Transmit(int64_t startNs, uint32_t baud, const std::vector<uint8_t>& bytes) {
        return Transmit(startNs, baud, bytes.data(), bytes.size());
    }
    // Holds the line low for `durationNs` from `startNs` (or from when the line is free).
    int64_t SendBreak(int64_t startNs, int64_t durationNs);
    // When the last queued frame or break ends.
    int64_t FreeAtNs() const { return freeAtNs; }

    // Decodes the next frame whose stop bit is sampled at or before `untilNs`: true and `out`
    // filled, or false when none completes by then (the receiver's state is then unchanged
    // except for false starts and framing-error drops already behind `untilNs`).
    bool ReceiveNext(int64_t untilNs, Received& out);
    // Every frame completed by `untilNs`, as delivered under the framing-error policy.
    std::vector<Received> Receive(int64_t untilNs);

    // The receiving UART's rate; frames not yet decoded are sampled at the new rate.
    void SetReceiverBaud(uint32_t baud);
    uint32_t ReceiverBaud() const { return receiverBaud; }
    // Makes the receiver forget everything before `timeNs` (a port just opened) and sample at
    // `baud`: it hunts for the next falling edge after that time.
    void ResetReceiver(int64_t timeNs, uint32_t baud);

    // Statistics, for tests and diagnostics.
    uint64_t FramingErrors() const { return framingErrorCount; }
    uint64_t FalseStarts() const { return falseStartCount; }
    uint64_t BitsFlipped() const { return bitsFlipped; }

    // Nanoseconds from a frame's start to the start of bit `bit` at `baud` (exact, floored).
    static int64_t BitOffsetNs(uint32_t baud, int64_t bit);
    // The same for half bits: to the middle of bit `bit` is HalfBitOffsetNs(baud, 2 * bit + 1).
    static int64_t HalfBitOffsetNs(uint32_t baud, int64_t halfBits);

private:
    struct Edge {
        int64_t timeNs;
        uint8_t level;  // the level from this time on
    };

    void AddEdge(int64_t timeNs, uint8_t level);
    uint8_t LevelAt(int64_t timeNs) const;
    // The first falling edge strictly after `afterNs`, or -1 when the line holds none yet.
    int64_t NextFallingEdge(int64_t afterNs) const;
    bool Flip();
    void Prune();

    Options options;
    uint32_t receiverBaud;
    std::deque<Edge> edges;   // alternating levels; the line is high before the first
    uint8_t baseLevel = 1;    // the level before the first edge kept
    uint8_t lastLevel = 1;    // the level after the last edge
    int64_t freeAtNs = 0;
    int64_t huntFromNs = -1;  // the receiver looks for a falling edge after this time
    int64_t decodedToNs = -1;  // the last time sampled: the line may change only after it
    uint64_t rngState;
    uint64_t flipThreshold = 0;
    bool flipAlways = false;
    uint64_t framingErrorCount = 0;
    uint64_t falseStartCount = 0;
    uint64_t bitsFlipped = 0;
};
