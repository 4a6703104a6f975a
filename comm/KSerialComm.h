#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "comm/KComm.h"
#include "comm/KOpenError.h"
#include "comm/KPortLock.h"
#include "comm/KSerialPort.h"

// A link over a serial port: COM1..COM24 by number through the port registry, or any device
// the user names (DevicePath), such as /dev/ttyUSB0 or a pseudo-terminal.
class KSerialComm : public KComm {
public:
    KSerialComm();
    ~KSerialComm() override;

    void SaveSettings(int32_t context, KSettingsStore& store) override;
    void LoadSettings(int32_t context, KSettingsStore& store) override;
    bool Open(int32_t mode) override;
    bool Close() override;
    bool Write(const void* data, uint32_t length) override;
    bool ReadExact(void* buffer, uint32_t length) override;
    int32_t ReadAvailable(void* buffer, uint32_t length) override;
    void GetPortName(char* text, uint32_t size) override;
    bool DeviceGone() const override { return port.gone.load(); }

    // Moves the link to `baud` as closing it, setting BaudRate and opening it again would, but
    // an open port stays claimed (process lock, lock file, advisory lock, exclusive mode) where
    // the platform can change the line in place; a link whose device has gone is opened again by
    // name. A refused rate leaves the link closed and is reported as a failed open is.
    virtual bool Reopen(int32_t baud);

    // Why the last Open failed (kind None after a successful one).
    const KOpenError& LastOpenError() const { return lastOpenError; }

    // Who hears of failed opens, process-wide. The default shows the platform's message box on
    // Windows and nothing elsewhere; front ends install their own. nullptr restores the default.
    using OpenFailureHandler = void (*)(const KOpenError& error);
    static void SetOpenFailureHandler(OpenFailureHandler handler);
    // Who hears of this link's failed opens instead of the process-wide handler: a front end
    // that shows them its own way. Called on the thread that opens; set it before the first open.
    void SetOpenFailureHook(std::function<void(const KOpenError&)> hook) { openFailureHook = std::move(hook); }
    // Who hears, process-wide and once per open, that the device of an open link has gone
    // (`device` is the path that was opened). Called on whichever thread noticed: keep it short.
    using DeviceGoneHandler = void (*)(const std::string& device);
    static void SetDeviceGoneHandler(DeviceGoneHandler handler);

    // Settings (also the settings keys).
    int32_t RTSCTSFlag = 0;
    int32_t MSPerChar = 50;
    int32_t StopBits = 1;
    int32_t WordLength = 8;
    char Parity = 'N';
    int32_t BaudRate = 9600;
    int32_t PortNumber = 0;
    // When not empty, the device opened instead of the registry's port PortNumber.
    std::string DevicePath;

    KSerialPort port;

protected:
    KOpenError lastOpenError;
    // Tells the front end of lastOpenError, through the hook or the process-wide handler.
    void ReportFailure();
    // Tells the handler when the call just made found the device gone.
    void NoteGone();
    std::string openedDevice;  // what the last successful open opened
    std::atomic<bool> goneReported{false};  // NoteGone has told of this loss; cleared by an open

private:
    bool OpenSequence();
    void TakeLineSettings();
    // The registry lock this open link holds; shared, so that it outlives a registry ended meanwhile.
    std::shared_ptr<KPortLock> heldLock;
    std::function<void(const KOpenError&)> openFailureHook;
};
