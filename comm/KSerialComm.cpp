#include "comm/KSerialComm.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "comm/KPortRegistry.h"
#include "comm/KSerialBackend.h"
#include "comm/KSettingsStore.h"

namespace {
std::atomic<KSerialComm::OpenFailureHandler> failureHandler{nullptr};
std::atomic<KSerialComm::DeviceGoneHandler> goneHandler{nullptr};
constexpr const char* kSection = "SerialCommLink";

uint8_t ParityCode(char parity) {
    switch (parity) {
    case 'E': return 2;  // EVENPARITY
    case 'M': return 3;  // MARKPARITY
    case 'O': return 1;  // ODDPARITY
    case 'S': return 4;  // SPACEPARITY
    default: return 0;   // NOPARITY, for 'N' and anything else (lower case included)
    }
}
} // namespace

KSerialComm::KSerialComm() {
    linkType = 100;
    linkName = "RS-232";
}

KSerialComm::~KSerialComm() {
    // Owners close before deleting; this only makes sure the device itself is not leaked.
    if (KSerialBackend::IsValid(port)) KSerialBackend::Close(port);
}

void KSerialComm::SetOpenFailureHandler(OpenFailureHandler handler) { failureHandler = handler; }

void KSerialComm::SetDeviceGoneHandler(DeviceGoneHandler handler) { goneHandler = handler; }

void KSerialComm::NoteGone() {
    if (!port.gone.load() || goneReported.exchange(true)) return;
    if (DeviceGoneHandler handler = goneHandler.load()) handler(openedDevice);
}

void KSerialComm::SaveSettings(int32_t context, KSettingsStore& store) {
    KComm::SaveSettings(context, store);
    store.WriteInt(context, kSection, "BaudRate", BaudRate);
    store.WriteInt(context, kSection, "MSPerChar", MSPerChar);
    store.WriteInt(context, kSection, "Parity", static_cast<int32_t>(static_cast<signed char>(Parity)));
    store.WriteInt(context, kSection, "PortNumber", PortNumber);
    store.WriteInt(context, kSection, "StopBits", StopBits);
    store.WriteInt(context, kSection, "RTSCTSFlag", RTSCTSFlag);
    store.WriteInt(context, kSection, "WordLength", WordLength);
}

void KSerialComm::LoadSettings(int32_t context, KSettingsStore& store) {
    // Loading marks the link closed; an open one is really closed first so that its device and
    // port lock are not left behind.
    if (isOpen) Close();
    KComm::LoadSettings(context, store);
    int32_t parity = 'N';
    store.ReadInt(context, kSection, "BaudRate", BaudRate, 9600);
    store.ReadInt(context, kSection, "MSPerChar", MSPerChar, 50);
    store.ReadInt(context, kSection, "Parity", parity, 78);
    store.ReadInt(context, kSection, "PortNumber", PortNumber, 0);
    store.ReadInt(context, kSection, "StopBits", StopBits, 1);
    store.ReadInt(context, kSection, "RTSCTSFlag", RTSCTSFlag, 0);
    store.ReadInt(context, kSection, "WordLength", WordLength, 8);
    Parity = static_cast<char>(parity & 0xFF);
}

bool KSerialComm::Open(int32_t /*mode*/) {
    if (isOpen) return true;
    if (!OpenSequence()) return false;
    isOpen = true;
    return true;
}

bool KSerialComm::OpenSequence() {
    lastOpenError = KOpenError{};
    KPortRegistry& registry = KPortRegistry::Instance();

    std::string device = DevicePath;
    std::shared_ptr<KPortLock> lock;
    if (device.empty()) {
        lock = registry.HoldPort(PortNumber);
        if (!lock) {
            // An absent port fails silently; the reason is kept for front ends that ask.
            lastOpenError.kind = KOpenError::NotPresent;
            lastOpenError.text = "COM Port Busy Or Not Installed";
            lastOpenError.device = "COM" + std::to_string(static_cast<int64_t>(PortNumber) + 1);
            lastOpenError.reason = "no such port";
            return false;
        }
        device = registry.DevicePath(PortNumber);
    } else {
        lock = registry.HoldPort(registry.FindPort(device));
    }

    port.portNumber = PortNumber;
    TakeLineSettings();

    if (!KSerialBackend::Open(port, device, lastOpenError)) {
        if (lastOpenError.device.empty()) lastOpenError.device = device;
        // The device this link had open until its last close is missing now: it went between
        // that close and this open (detection reopens every second), which is an unplug.
        if (lastOpenError.kind == KOpenError::NotPresent && device == openedDevice) {
            port.gone.store(true);
            NoteGone();
        } else {
            ReportFailure();
        }
        if (lock) lock->Unlock();  // the lock is held exactly while open
        return false;
    }
    heldLock = std::move(lock);
    openedDevice = device;
    goneReported.store(false);
    return true;
}

void KSerialComm::TakeLineSettings() {
    port.dcb.BaudRate = static_cast<uint32_t>(BaudRate);
    port.dcb.Parity = ParityCode(Parity);
    port.dcb.ByteSize = static_cast<uint8_t>(WordLength & 0xFF);
    port.dcb.StopBits = StopBits == 2 ? 2 : 0;  // TWOSTOPBITS or ONESTOPBIT; never 1.5
}

bool KSerialComm::Reopen(int32_t baud) {
#if !defined(_WIN32)
    // Closing would let another program take the port in between. (On Windows the claim is
    // the handle's and the link is closed and opened as before.)
    if (isOpen && KSerialBackend::IsValid(port) && !DeviceGone()) {
        BaudRate = baud;
        TakeLineSettings();
        lastOpenError = KOpenError{};
        if (KSerialBackend::ChangeLine(port, openedDevice, lastOpenError)) return true;
        if (DeviceGone()) {
            // Gone since the last call: told like any loss, then opened again by name below.
            NoteGone();
        } else {
            if (lastOpenError.device.empty()) lastOpenError.device = openedDevice;
            ReportFailure();
            Close();  // as a refused open leaves it
            return false;
        }
    }
#endif
    Close();
    BaudRate = baud;
    return Open(0);
}

void KSerialComm::ReportFailure() {
    if (openFailureHook) {
        openFailureHook(lastOpenError);
        return;
    }
    OpenFailureHandler handler = failureHandler.load();
    if (handler)
        handler(lastOpenError);
    else
        KSerialBackend::ShowOpenFailure(lastOpenError);
}

bool KSerialComm::Close() {
    if (!isOpen) return true;
    if (KSerialBackend::IsValid(port)) KSerialBackend::Close(port);
    NoteGone();
    if (heldLock) heldLock->Unlock();
    heldLock.reset();
    isOpen = false;
    return true;
}

// A device found gone stays gone for this open: no more system calls on it.
bool KSerialComm::Write(const void* data, uint32_t length) {
    if (length == 0 || !KSerialBackend::IsValid(port) || DeviceGone()) return false;
    const bool written = KSerialBackend::Write(port, data, length);
    if (!written) NoteGone();
    return written;
}

bool KSerialComm::ReadExact(void* buffer, uint32_t length) {
    if (length == 0 || !KSerialBackend::IsValid(port) || DeviceGone()) return false;
    const int64_t queued = KSerialBackend::InputQueued(port);
    if (queued < 0 || queued < static_cast<int64_t>(length)) {
        NoteGone();
        return false;
    }
    const bool read = KSerialBackend::Read(port, buffer, length) == static_cast<int32_t>(length);
    if (!read) NoteGone();
    return read;
}

int32_t KSerialComm::ReadAvailable(void* buffer, uint32_t length) {
    if (length == 0 || !KSerialBackend::IsValid(port) || DeviceGone()) return 0;
    const int32_t got = KSerialBackend::Read(port, buffer, length);
    if (got == 0) NoteGone();
    return got;
}

void KSerialComm::GetPortName(char* text, uint32_t size) {
    // Size 0 gives no room at all: nothing is written (a buffer of unknown size is not guessed at).
    if (size == 0 || size == 1) return;
    std::string name = DevicePath.empty()
                           ? "COM" + std::to_string(static_cast<int64_t>(PortNumber) + 1)
                           : DevicePath;
    if (size < 7 || name.size() + 1 > size) {
        std::memcpy(text, "?", 2);
        return;
    }
    std::memcpy(text, name.c_str(), name.size() + 1);
}
