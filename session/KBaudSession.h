#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class KSerialComm;
class KReceiver;
enum class SaveOutcome : int32_t;  // receivers/KReceiver.h

#include "families/KReceiverFamily.h"

// What a status report says.
enum KStatusKind : int32_t {
    kStatusPinging = 0,     // checking the receiver at the current rate (value 0)
    kStatusMonitoring = 1,  // the receiver answered at the current rate; checking it again (value 1)
    kStatusDetecting = 2,   // trying one rate of the detection table (value 0)
};

// Progress of a session: a KStatusKind, the rate it concerns and its value. Called on the
// session's worker thread.
using StatusCallback = void (*)(void* user, int32_t kind, int32_t baud, int32_t value);

// What the line carried when a whole detection pass went unanswered: the session then listens,
// once per run, at each of the type's rates and frames what arrives with every framer, so that a
// receiver of another type (or one that talks but does not answer) can be named.
struct KLineHint {
    const KReceiverFamily* family = nullptr;  // the protocol heard; nullptr when none was
    int32_t baud = 0;                         // the rate it was heard at
    uint64_t bytes = 0;                       // bytes heard at all the rates listened at
    int32_t listenedMs = 0;                   // how long the listening took
};

// Finds the rate a receiver talks at, commands it to the wanted rate, and keeps checking it
// there, on a worker thread, until stopped.
class KBaudSession {
public:
    using LinkFactory = std::function<std::unique_ptr<KSerialComm>()>;
    using ReceiverFactory = std::function<std::unique_ptr<KReceiver>(int32_t receiverType)>;
    using HintHandler = std::function<void(const KLineHint& hint)>;

    // Listening for the hint is bounded: at most this long per rate, and less when nothing at
    // all arrives or a protocol is heard sooner.
    static constexpr int32_t kHintListenMs = 2000;
    static constexpr int32_t kHintQuietMs = 1000;

    static constexpr const char* kClientName = "Trevask";

    KBaudSession();
    ~KBaudSession();
    KBaudSession(const KBaudSession&) = delete;
    KBaudSession& operator=(const KBaudSession&) = delete;

    bool Start(int32_t portNumber, int32_t targetBaud, int32_t lastKnownBaud, int32_t receiverType);
    // Ends the worker and answers whether the receiver was last seen answering at the target rate.
    bool Stop();
    void Release();
    // Asks the worker to end after the call in progress, without waiting (Stop does this first).
    // Safe from any thread, including the status callback.
    void RequestStop() { stopRequested.store(true); }

    // Where links and receivers come from: a serial port and the catalogue unless replaced
    // (a named device, a simulated line, receivers without reader threads in tests).
    void SetLinkFactory(LinkFactory factory) { linkFactory = std::move(factory); }
    void SetReceiverFactory(ReceiverFactory factory) { receiverFactory = std::move(factory); }
    // Who hears what the line carried after the first whole unanswered detection pass (called on
    // the worker thread, once per run). Without one the session does not listen. Set it before Start.
    void SetHintHandler(HintHandler handler) { hintHandler = std::move(handler); }

    // Whether the next sessions ask the receiver to keep the target rate over a power cycle,
    // once, right after they first confirm it there. Set before Start.
    void SetSaveRate(bool save) { saveRate = save; }
    // What that came to; none until it was done (never, unless asked).
    std::optional<SaveOutcome> SaveResult() const;

    bool IsRunning() const { return running; }
    // What Stop would answer now: monitoring at the target rate with at most one ping missed.
    bool IsConfirmed() const { return baudConfirmed.load(); }
    // True once the worker has returned (after Prepare failed, or after a stop).
    bool WorkerEnded();

    StatusCallback statusCallback = nullptr;
    void* statusUser = nullptr;

private:
    void WorkerMain();
    bool Prepare();
    void Step();
    int32_t Detect();
    bool Reopen(int32_t baud);
    void ListenForHint();
    void Report(int32_t kind, int32_t baud, int32_t value);
    void Teardown();

    std::unique_ptr<KSerialComm> link;
    std::unique_ptr<KReceiver> receiver;
    std::thread workerThread;
    bool running = false;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> baudConfirmed{false};
    int32_t receiverType = 0;
    KCatalogueType catalogueType;  // its rates (tried by detection in this order) and timings
    int32_t portNumber = 0;
    int32_t targetBaud = 0;
    int32_t lastKnownBaud = 0;
    int32_t currentBaud = 0;
    uint32_t failedPings = 0;
    int32_t state = 0;
    bool saveRate = false;
    bool saveDone = false;                  // the worker's own
    std::atomic<int32_t> saveResult{-1};    // a SaveOutcome, or -1 before the save

    LinkFactory linkFactory;
    ReceiverFactory receiverFactory;
    HintHandler hintHandler;
    bool hintGiven = false;

    std::mutex endLock;
    std::condition_variable endSignal;
    bool workerEnded = false;
};
