#include "monitors/KStreamMonitor.h"

#include <chrono>

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
    started = true;
    link = newLink;
    clientName = name;
    stopEvent.store(false);
    if (runReaderThread) {
        {
            std::lock_guard<std::mutex> guard(exitLock);
            readerEnded = false;
        }
        readerThread = std::thread(&KStreamMonitor::ReaderMain, this);
    }
}

void KStreamMonitor::ReaderMain() {
    while (!stopEvent.load()) {
        if (!ReadStep()) KClock::Current().Sleep(kIdleSleepMs);
    }
    std::lock_guard<std::mutex> guard(exitLock);
    readerEnded = true;
    exitSignal.notify_all();
}

void KStreamMonitor::Stop() {
    if (!started) return;
    if (readerThread.joinable()) {
        stopEvent.store(true);
        std::unique_lock<std::mutex> lock(exitLock);
        if (!exitSignal.wait_for(lock, std::chrono::milliseconds(kStopWaitMs),
                                 [this] { return readerEnded; })) {
            SixSigmaLog("KStreamMonitor::Stop, reader thread of %s still running after %d ms",
                        clientName.c_str(), kStopWaitMs);
        }
        lock.unlock();
        // The link is closed after we return, so the thread must have ended: wait it out.
        readerThread.join();
    }
    FlushMessages();
    OnStop();
    clientName.clear();
    started = false;
    link = nullptr;
}

void KStreamMonitor::PushMessage(std::unique_ptr<StreamMessage> message) {
    std::unique_ptr<StreamMessage> dropped;  // freed outside the lock
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
