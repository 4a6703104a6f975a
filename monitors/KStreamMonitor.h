#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "comm/KComm.h"
#include "monitors/StreamMessage.h"

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
    virtual void OnStop() = 0;

    bool IsStarted() const { return started; }
    const char* ClientName() const { return started ? clientName.c_str() : nullptr; }

    // While set, a hunt gives up after kScanLimit bytes (its counter is the framer's own).
    bool boundedScan = false;

protected:
    // The zero-time look at the stop signal that the framers' byte loops make.
    bool StopSignalled() const { return stopEvent.load(std::memory_order_relaxed); }
    bool Read(uint8_t* destination, uint32_t count) {
        return link != nullptr && link->ReadExact(destination, count);
    }

    KComm* link = nullptr;
    int32_t state = 0;

private:
    void ReaderMain();

    std::string clientName;
    std::thread readerThread;
    std::atomic<bool> stopEvent{false};
    bool started = false;

    std::mutex queueLock;
    std::deque<std::unique_ptr<StreamMessage>> queue;

    std::mutex exitLock;
    std::condition_variable exitSignal;
    bool readerEnded = false;
};
