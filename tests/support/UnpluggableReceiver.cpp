#ifndef _WIN32
#include "support/UnpluggableReceiver.h"

#include <algorithm>
#include <filesystem>
#include <thread>

#include "families/KSimFactory.h"
#include "sim/KSimDeviceLink.h"
#include "sim/KSimReceiverDevice.h"

namespace {

// A receiver whose output is lost until it has taken more than `missed` requests: it hears and
// obeys them, but the host hears nothing back.
class MissesFirstRequests : public KSimDevice, private KSimDeviceLink {
public:
    MissesFirstRequests(std::unique_ptr<KSimDevice> device, size_t missedRequests)
        : inner(std::move(device)), receiver(dynamic_cast<KSimReceiverDevice*>(inner.get())), missed(missedRequests) {
        SetName(inner->Name());
    }

    void Attach(KSimDeviceLink* link, int64_t nowNs) override {
        outer = link;
        inner->Attach(this, nowNs);
    }
    void OnByte(int64_t timeNs, uint8_t byte) override { inner->OnByte(timeNs, byte); }
    int64_t NextWakeNs() const override { return inner->NextWakeNs(); }
    void Wake(int64_t timeNs) override { inner->Wake(timeNs); }
    uint32_t Baud() const override { return inner->Baud(); }

private:
    int64_t Transmit(int64_t atNs, uint32_t baud, const std::vector<uint8_t>& bytes) override {
        if (receiver && receiver->Requests().size() <= missed) return std::max(atNs, outer->TransmitFreeNs());
        return outer->Transmit(atNs, baud, bytes);
    }
    int64_t TransmitFreeNs() const override { return outer->TransmitFreeNs(); }
    void SetReceiveBaud(uint32_t baud) override { outer->SetReceiveBaud(baud); }

    std::unique_ptr<KSimDevice> inner;
    KSimReceiverDevice* receiver;
    size_t missed;
    KSimDeviceLink* outer = nullptr;
};

} // namespace

bool UnpluggableReceiver::Serve(int32_t type, uint32_t baud, bool silent, std::string& error, size_t missed) {
    simulator.reset();
    KSimDeviceOptions options;
    options.silent = silent;
    std::unique_ptr<KSimDevice> device = KSimFactory::CreateDevice(type, baud, options, error);
    if (!device) return false;
    if (missed > 0) device = std::make_unique<MissesFirstRequests>(std::move(device), missed);
    simulator = std::make_unique<KPtySimulator>(std::move(device));
    if (!simulator->Start(error)) return false;
    // Replaced in one rename, so the name never points nowhere while the receiver is there.
    const std::string fresh = link + ".new";
    std::error_code ignored;
    std::filesystem::remove(fresh, ignored);
    std::filesystem::create_symlink(simulator->SlavePath(), fresh);
    std::filesystem::rename(fresh, link);
    return true;
}

bool UnpluggableReceiver::UnplugOnceWrittenTo(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (simulator && simulator->BytesFromHost() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const bool written = simulator && simulator->BytesFromHost() > 0;
    Unplug();
    return written;
}

bool UnpluggableReceiver::UnplugOnceAnsweredAt(uint32_t baud, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    auto requestsAt = [this, baud]() -> long {
        return simulator->World().WithDevice([baud](KSimDevice& d) -> long {
            auto* receiver = dynamic_cast<KSimReceiverDevice*>(&d);
            return receiver && d.Baud() == baud ? static_cast<long>(receiver->Requests().size()) : -1;
        });
    };
    long first = -1;
    bool answered = false;
    while (simulator && std::chrono::steady_clock::now() < deadline) {
        const long now = requestsAt();
        if (first < 0) first = now;
        if (first >= 0 && now >= first + 2) {
            answered = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Unplug();
    return answered;
}

void UnpluggableReceiver::Unplug() {
    // The name goes first, as udev removes an adapter's: a pseudo-terminal's number is free for
    // the next one made (another test's, another user's) once its last holder closes it, and a
    // name left pointing at the number would lead there.
    std::error_code ignored;
    std::filesystem::remove(link, ignored);
    simulator.reset();
}
#endif
