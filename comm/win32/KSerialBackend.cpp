#include "comm/KSerialBackend.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "comm/KOutputDrain.h"
#include "time/KClock.h"

namespace {

constexpr const char* kBusyText = "COM Port Busy Or Not Installed";
constexpr const char* kSettingsText = "Unable to initialize COM Port to requested settings";
// As long as a write may take: what has not left by then is not going to.
constexpr int32_t kDrainBoundMs = 1000;

// Start bit, data bits, parity bit and stop bits of one character as the port frames it.
int32_t BitsPerCharacter(const DCB& dcb) {
    return 1 + dcb.ByteSize + (dcb.Parity != NOPARITY ? 1 : 0) + (dcb.StopBits == ONESTOPBIT ? 1 : 2);
}

// Bytes still to be sent: the driver's output queue, or one while the time that what was
// written needs on the line has not yet passed.
int64_t OutputPending(KSerialPort& port) {
    DWORD errors = 0;
    COMSTAT status{};
    if (ClearCommError(port.handle, &errors, &status) && status.cbOutQue > 0)
        return static_cast<int64_t>(status.cbOutQue);
    return KClock::Current().NowMs() < port.sendingUntilMs ? 1 : 0;
}

// The system's own words for an error code, without the trailing line break.
std::string SystemMessage(DWORD code) {
    char buffer[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, buffer, sizeof buffer, nullptr);
    while (length > 0 && std::isspace(static_cast<unsigned char>(buffer[length - 1]))) --length;
    if (length == 0) return "error " + std::to_string(static_cast<unsigned long>(code));
    return std::string(buffer, length);
}

std::string RemedyFor(KOpenError::Kind kind, DWORD code) {
    if (kind == KOpenError::Settings)
        return "The port's driver refused the line settings; choose another baud rate.";
    switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return "Another program holds the port; close it and try again.";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "No such port; check the cable or USB adapter and the port number in Device Manager.";
    default: return std::string();
    }
}

// The errors a serial call gets once the device behind an open handle has gone: a USB adapter
// pulled out, or its driver stopped.
bool IsGoneError(DWORD code) {
    switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_OPERATION_ABORTED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED: return true;
    default: return false;
    }
}

void NoteFailure(KSerialPort& port) {
    if (IsGoneError(GetLastError())) port.gone.store(true);
}

void Fail(KOpenError& error, KOpenError::Kind kind, const std::string& device, DWORD code) {
    error.kind = kind;
    error.text = kind == KOpenError::Settings ? kSettingsText : kBusyText;
    error.device = device;
    error.osError = static_cast<int>(code);
    error.reason = SystemMessage(code);
    error.remedy = RemedyFor(kind, code);
}

// "COM12" (or "com12:") as a person writes it becomes "\\.\COM12": CreateFileA finds ports past
// COM9 only through the device namespace. Anything else is opened as given.
std::string DeviceNamespacePath(const std::string& device) {
    std::string name = device;
    if (!name.empty() && name.back() == ':') name.pop_back();
    if (name.size() < 4) return device;
    for (size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return device;
    for (size_t i = 3; i < name.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return device;
    return "\\\\.\\" + name;
}

} // namespace

namespace KSerialBackend {

bool Open(KSerialPort& port, const std::string& device, KOpenError& error) {
    const std::string path = DeviceNamespacePath(device);
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        Fail(error, KOpenError::Busy, path, GetLastError());
        return false;
    }
    if (!SetCommState(handle, &port.dcb)) {
        const DWORD code = GetLastError();
        CloseHandle(handle);
        port.handle = INVALID_HANDLE_VALUE;
        Fail(error, KOpenError::Settings, path, code);
        return false;
    }
    // Reads return at once with whatever has arrived; a write gives up after a second.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 1000;
    SetCommTimeouts(handle, &timeouts);
    // Bytes left over from an earlier rate would only read as garbage.
    PurgeComm(handle, PURGE_TXCLEAR | PURGE_RXCLEAR);
    port.handle = handle;
    port.gone.store(false);
    return true;
}

void Close(KSerialPort& port) {
    if (IsValid(port)) {
        // What was written leaves at the rate it was written at before the handle goes: the
        // next open purges both queues and may set another rate, and a rate change command must
        // reach the receiver whole. What a stuck line still holds after the bound is dropped, so
        // that the close itself does not wait for it.
        if (!KOutputDrain::WaitUntilSent([&port] { return OutputPending(port); }, kDrainBoundMs))
            PurgeComm(port.handle, PURGE_TXABORT | PURGE_TXCLEAR);
        CloseHandle(port.handle);
    }
    port.handle = INVALID_HANDLE_VALUE;
    port.sendingUntilMs = 0;
}

bool IsValid(const KSerialPort& port) {
    return port.handle != INVALID_HANDLE_VALUE && port.handle != nullptr;
}

bool Write(KSerialPort& port, const void* data, uint32_t length) {
    const int64_t startMs = KClock::Current().NowMs();
    DWORD written = 0;
    const bool ok = WriteFile(port.handle, data, length, &written, nullptr) != FALSE;
    // The bytes cannot start leaving before the call, nor before those written earlier.
    port.sendingUntilMs = std::max(port.sendingUntilMs, startMs) +
                          KOutputDrain::WireMs(written, port.dcb.BaudRate, BitsPerCharacter(port.dcb));
    if (!ok) {
        NoteFailure(port);
        return false;
    }
    return written == length;
}

int64_t InputQueued(KSerialPort& port) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port.handle, &errors, &status)) {
        NoteFailure(port);
        return -1;
    }
    return static_cast<int64_t>(status.cbInQue);
}

int32_t Read(KSerialPort& port, void* buffer, uint32_t length) {
    DWORD got = 0;
    if (!ReadFile(port.handle, buffer, length, &got, nullptr)) {
        NoteFailure(port);
        return 0;
    }
    return static_cast<int32_t>(got);
}

void ShowOpenFailure(const KOpenError& error) {
    // An absent port fails silently; only a port that exists but cannot be used is reported.
    if (error.kind != KOpenError::Busy && error.kind != KOpenError::Settings) return;
    MessageBoxA(nullptr, error.text.c_str(), "", MB_ICONERROR | MB_OK);
}

} // namespace KSerialBackend
