#include "comm/KPortRegistry.h"

#include <memory>
#include <mutex>
#include <utility>

namespace {
std::mutex instanceLock;
std::unique_ptr<KPortRegistry> instance;
} // namespace

KPortInfo::KPortInfo(bool isPresent, std::string devicePath, std::string labelText, std::string stable,
                     KPortAdapter hardware)
    : present(isPresent), device(std::move(devicePath)), label(std::move(labelText)), stableName(std::move(stable)),
      adapter(std::move(hardware)) {}

KPortRegistry::KPortRegistry(const PortTable& table, std::vector<KPortInfo> beyond)
    : ports(table), unslotted(std::move(beyond)) {
    for (size_t i = 0; i < locks.size(); ++i)
        if (ports[i].present) locks[i] = std::make_shared<KPortLock>();
}

KPortRegistry& KPortRegistry::Instance() {
    std::lock_guard<std::mutex> guard(instanceLock);
    if (!instance) {
        PortTable table;
        std::vector<KPortInfo> beyond = KSerialBackend::ScanPorts(table);
        instance.reset(new KPortRegistry(table, std::move(beyond)));
    }
    return *instance;
}

bool KPortRegistry::Exists() {
    std::lock_guard<std::mutex> guard(instanceLock);
    return instance != nullptr;
}

void KPortRegistry::Teardown() {
    std::lock_guard<std::mutex> guard(instanceLock);
    instance.reset();
}

void KPortRegistry::InstallForTesting(const PortTable& table, const std::vector<KPortInfo>& beyond) {
    std::lock_guard<std::mutex> guard(instanceLock);
    instance.reset(new KPortRegistry(table, beyond));
}

bool KPortRegistry::IsPresent(int32_t port) const {
    return port >= 0 && port < kPortCount && ports[static_cast<size_t>(port)].present;
}

bool KPortRegistry::LockPort(int32_t port) {
    if (!IsPresent(port)) return false;
    locks[static_cast<size_t>(port)]->Lock();
    return true;
}

bool KPortRegistry::UnlockPort(int32_t port) {
    if (!IsPresent(port)) return false;
    return locks[static_cast<size_t>(port)]->Unlock();
}

std::shared_ptr<KPortLock> KPortRegistry::HoldPort(int32_t port) {
    if (!IsPresent(port)) return nullptr;
    std::shared_ptr<KPortLock> lock = locks[static_cast<size_t>(port)];
    lock->Lock();
    return lock;
}

std::string KPortRegistry::DevicePath(int32_t port) const {
    return IsPresent(port) ? ports[static_cast<size_t>(port)].device : std::string();
}

std::string KPortRegistry::Label(int32_t port) const {
    return IsPresent(port) ? ports[static_cast<size_t>(port)].label : std::string();
}

KPortInfo KPortRegistry::Info(int32_t port) const {
    return IsPresent(port) ? ports[static_cast<size_t>(port)] : KPortInfo{};
}

int32_t KPortRegistry::FindPort(const std::string& device) const {
    if (device.empty()) return -1;
    for (int32_t i = 0; i < kPortCount; ++i) {
        const KPortInfo& info = ports[static_cast<size_t>(i)];
        if (info.present && (info.device == device || info.label == device || info.stableName == device)) return i;
    }
    return -1;
}
