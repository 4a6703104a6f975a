#pragma once
#include <cstdint>

class KSettingsStore;

// The link to a receiver: open, close, write, read what has arrived. Reads never wait.
class KComm {
public:
    KComm() = default;
    virtual ~KComm() = default;
    KComm(const KComm&) = delete;
    KComm& operator=(const KComm&) = delete;

    virtual void SaveSettings(int32_t context, KSettingsStore& store);
    virtual void LoadSettings(int32_t context, KSettingsStore& store);
    virtual bool Open(int32_t mode) = 0;
    virtual bool Close() = 0;
    virtual bool Write(const void* data, uint32_t length) = 0;
    // All or nothing: reads exactly `length` bytes when that many are waiting, else consumes
    // nothing and answers false. A request for 0 bytes answers false.
    virtual bool ReadExact(void* buffer, uint32_t length) = 0;
    // Up to `length` bytes of what is waiting; the count read (0 when nothing or on failure).
    virtual int32_t ReadAvailable(void* buffer, uint32_t length) = 0;
    virtual void GetPortName(char* text, uint32_t size) = 0;
    // Moves the read position of a recorded stream (origin 0 start, 1 current, 2 end), never
    // before the start; false for links that cannot seek.
    virtual bool Seek(int32_t offset, int32_t origin);
    // True once the device behind the link hung up or failed with an I/O error (an unplugged
    // adapter): reads answer nothing and writes fail until a new open succeeds.
    virtual bool DeviceGone() const { return false; }

    bool IsOpen() const { return isOpen; }

    int32_t linkType = 0;
    const char* linkName = "?";

protected:
    bool isOpen = false;
};
