#include "monitors/KStreamMonitor.h"

#include <chrono>
#include <system_error>

#include "log/Logs.h"
#include "time/KClock.h"

KStreamMonitor::~KStreamMonitor() {
    // The framer part is already gone here (its destructor stopped us); this only keeps a
    // forgotten thread from outliving the object.
    if (readerThread.joinable()) {
        stopEvent.store(true);
        readerThread.join();
    }
}

void KStreamMonitor::Start(KComm* newLink, bool runReaderThread, const char* name) {
    if (started || readerThread.joinable()) return;
    if (!newLink || !newLink->IsOpen() || !name) return;
    boundedScan = false;
    ResetFramer();
    framed.store(0, std::memory_order_relaxed);
    started = true;
    link = newLink;
    clientName = name;
    stopEvent.store(false);
    if (runReaderThread) {
        {
            std::lock_guard<std::mutex> guard(exitLock);
            readerEnded = false;
        }
        try {
            readerThread = std::thread(&KStreamMonitor::ReaderMain, this);
        } catch (const std::system_error&) {
            // No thread to be had: stay stopped, as with a link that is not open.
            started = false;
            link = nullptr;
            clientName.clear();
        }
    }
}

void KStreamMonitor::ReaderMain() {
    while (!stopEvent.load()) {
        // A dead device has nothing to frame: idle until the owner stops us, whatever a step
        // would make of it.
        if (link->DeviceGone() || !ReadStep()) KClock::Current().Sleep(kIdleSleepMs);
    }
    std::lock_guard<std::mutex> guard(exitLock);
    readerEnded = true;
    exitSignal.notify_all();
}

void KStreamMonitor::Stop() {
    if (!started) return;
    if (readerThread.joinable()) {
        stopEvent.store(true);
        // The wait is counted on the process clock; a reader still busy when it runs out is
        // reported, and then waited for all the same: the link is closed after we return, so
        // no step may still be reading it.
        KClock& clock = KClock::Current();
        const int64_t begun = clock.NowMs();
        bool reported = false;
        std::unique_lock<std::mutex> lock(exitLock);
        while (!readerEnded) {
            exitSignal.wait_for(lock, std::chrono::milliseconds(kIdleSleepMs),
                                [this] { return readerEnded; });
            if (!readerEnded && !reported && clock.NowMs() - begun >= kStopWaitMs) {
                reported = true;
                lock.unlock();
                SixSigmaLog("KStreamMonitor::Stop, reader thread of %s still running after %d ms",
                            clientName.c_str(), kStopWaitMs);
                lock.lock();
            }
        }
        lock.unlock();
        readerThread.join();
    }
    FlushMessages();
    clientName.clear();
    started = false;
    link = nullptr;
}

void KStreamMonitor::PushMessage(std::unique_ptr<StreamMessage> message) {
    if (!message) return;  // a queued null would read as an empty queue to the receiver
    std::unique_ptr<StreamMessage> dropped;  // freed outside the lock
    framed.fetch_add(1, std::memory_order_relaxed);
    std::lock_guard<std::mutex> guard(queueLock);
    queue.push_back(std::move(message));
    while (queue.size() > kQueueCapacity) {
        dropped = std::move(queue.front());
        queue.pop_front();
    }
}

std::unique_ptr<StreamMessage> KStreamMonitor::PopMessage() {
    std::lock_guard<std::mutex> guard(queueLock);
    if (queue.empty()) return nullptr;
    std::unique_ptr<StreamMessage> message = std::move(queue.front());
    queue.pop_front();
    return message;
}

int32_t KStreamMonitor::MessageCount() {
    std::lock_guard<std::mutex> guard(queueLock);
    return static_cast<int32_t>(queue.size());
}

void KStreamMonitor::FlushMessages() {
    std::deque<std::unique_ptr<StreamMessage>> old;
    {
        std::lock_guard<std::mutex> guard(queueLock);
        old.swap(queue);
    }
}
