#pragma once
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "comm/KComm.h"
#include "monitors/StreamMessage.h"

// In fuzzing builds, keeps a helper out of the coverage tracing (and out of line, or its caller's
// tracing would take it in again): the framers call these for every byte, and tracing their null
// tests and the link's indirect call told the fuzzer nothing while costing calls each time.
#if defined(VELINOR_FUZZING) && defined(__clang__)
#define VELINOR_UNTRACED __attribute__((no_sanitize("coverage"), noinline))
#else
#define VELINOR_UNTRACED
#endif

// The byte search limit of a bounded scan, shared with the receivers' ScanTimeSpan.
constexpr int32_t kScanLimit = 8192;

// Cuts a link's byte stream into checked messages of one protocol. The base owns the reader
// thread, the stop signal and the locked message queue; a framer supplies ReadStep.
class KStreamMonitor {
public:
    static constexpr size_t kQueueCapacity = 50000;
    static constexpr int32_t kIdleSleepMs = 20;
    static constexpr int32_t kStopWaitMs = 10000;

    KStreamMonitor() = default;
    // Every framer's destructor calls Stop() first, while its ReadStep can still run safely.
    virtual ~KStreamMonitor();
    KStreamMonitor(const KStreamMonitor&) = delete;
    KStreamMonitor& operator=(const KStreamMonitor&) = delete;

    // Attaches to an open link and, when asked, starts the reader thread. Does nothing when
    // already started, when the link is not open or when there is no client name.
    void Start(KComm* link, bool runReaderThread, const char* clientName);
    // Ends the reader thread (it never outlives the call), empties the queue, forgets the link.
    void Stop();

    void PushMessage(std::unique_ptr<StreamMessage> message);
    std::unique_ptr<StreamMessage> PopMessage();
    int32_t MessageCount();
    void FlushMessages();

    // One step of reading and framing: true when it made progress and should run again at once.
    virtual bool ReadStep() = 0;
    virtual void ResetFramer() = 0;
    // Whether a message this framer delivered proves its protocol is spoken: its check held, or
    // it begins with a marker that noise cannot forge. Framers that pass some messages on
    // unchecked, or messages that any device may send, say which.
    virtual bool ProvesProtocol(const StreamMessage&) const { return true; }

    bool IsStarted() const { return started; }
    // The zero-time look at the stop signal that the framers' byte loops make.
    VELINOR_UNTRACED bool StopSignalled() const { return stopEvent.load(std::memory_order_relaxed); }
    // Messages framed and queued since the last Start.
    uint64_t MessagesFramed() const { return framed.load(std::memory_order_relaxed); }
    // Bytes read from links, ever (a reply wait tells silence from bytes no message came of).
    uint64_t BytesRead() const { return bytesRead.load(std::memory_order_relaxed); }
    const char* ClientName() const { return started ? clientName.c_str() : nullptr; }

    // While set, a hunt gives up after kScanLimit bytes (its counter is the framer's own).
    bool boundedScan = false;

protected:
    VELINOR_UNTRACED bool Read(uint8_t* destination, uint32_t count) {
        if (link == nullptr || !link->ReadExact(destination, count)) return false;
        // Only the reading thread writes the count: a plain add, no locked instruction per byte.
        bytesRead.store(bytesRead.load(std::memory_order_relaxed) + count, std::memory_order_relaxed);
        return true;
    }

    // The hunt of the framers whose message start is recognised in a window of their first
    // `windowSize` held bytes (the text protocols): within one step, bytes are read one at a time and
    // the window slides by one byte while `classify(window)` answers 0; the step gives up on a
    // stop or once a bounded scan has read more than the scan limit. When `classify` answers a
    // kind, the held bytes are settled at the front of `buffer` (`count` set) and the step answers
    // `found(kind)`. Rather than moving the held bytes down after every byte, the window's start
    // walks along the buffer and they are moved to the front only when the step ends (or the
    // buffer's end is reached): between steps the held bytes are always at the front.
    template <typename Classify, typename Found>
    bool HuntInWindow(uint8_t* buffer, uint32_t bufferSize, uint32_t& count, uint32_t windowSize,
                      Classify classify, Found found) {
        uint32_t start = 0;
        uint32_t held = count;
        auto settle = [&] {
            if (start != 0) std::memmove(buffer, buffer + start, held);
            count = held;
        };
        const bool bounded = boundedScan;
        uint32_t scanned = 0;
        uint8_t byte = 0;
        if (!Read(&byte, 1)) return false;
        for (;;) {
            if (start + held == bufferSize) {
                std::memmove(buffer, buffer + start, held);
                start = 0;
            }
            buffer[start + held] = byte;
            ++held;
            ++scanned;
            if (StopSignalled() || (bounded && scanned > static_cast<uint32_t>(kScanLimit))) {
                settle();
                return false;
            }
            // Normally the window is exactly full here. A bounded scan that gave up left its last
            // byte unexamined, so the next step may hold one more: every window is still looked at
            // and every held byte slides along.
            while (held >= windowSize) {
                if (const int kind = classify(buffer + start)) {
                    settle();
                    return found(kind);
                }
                ++start;
                --held;
            }
            if (!Read(&byte, 1)) {
                settle();
                return false;
            }
        }
    }

    KComm* link = nullptr;
    int32_t state = 0;

private:
    void ReaderMain();

    std::string clientName;
    std::thread readerThread;
    std::atomic<bool> stopEvent{false};
    bool started = false;
    std::atomic<uint64_t> framed{0};
    std::atomic<uint64_t> bytesRead{0};

    std::mutex queueLock;
    std::deque<std::unique_ptr<StreamMessage>> queue;

    std::mutex exitLock;
    std::condition_variable exitSignal;
    bool readerEnded = false;
};
