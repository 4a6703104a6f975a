#pragma once
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "comm/KComm.h"

// A link over a recorded receiver stream (a capture file, or bytes in memory) that can seek.
// Everything recorded counts as already arrived. A file is read as a stream through a window of
// fixed size, so memory stays flat whatever the recording's size (a day at 115200 baud is about
// 1 GB). Single-threaded: one reader at a time.
class KRecordedComm : public KComm {
public:
    static constexpr size_t kWindowBytes = 256 * 1024;

    explicit KRecordedComm(std::vector<uint8_t> bytes, std::string name = "recording");
    // Opens a recording file; on failure the link has no bytes and `error` says why.
    static KRecordedComm FromFile(const std::string& path, std::string& error);

    bool Open(int32_t mode) override;
    bool Close() override;
    bool Write(const void* data, uint32_t length) override;
    bool ReadExact(void* buffer, uint32_t length) override;
    int32_t ReadAvailable(void* buffer, uint32_t length) override;
    void GetPortName(char* text, uint32_t size) override;
    bool Seek(int32_t offset, int32_t origin) override;

    uint64_t Position() const { return position; }
    uint64_t Size() const { return size; }
    uint64_t Remaining() const { return size - position; }
    // Bytes held in memory for the recording (the window of a file).
    size_t BytesHeld() const { return window.capacity(); }

    // Moves the recording and its read position (KComm itself cannot be copied or moved).
    KRecordedComm(KRecordedComm&& other) noexcept;

private:
    KRecordedComm(std::unique_ptr<std::ifstream> file, uint64_t size, std::string name);
    // Makes the `length` bytes at the read position available in the window; false when the
    // recording ends (or the file fails) before them.
    bool Load(uint64_t length);

    std::unique_ptr<std::ifstream> file;  // none for a recording held in memory
    std::vector<uint8_t> window;          // a memory recording whole, or a slice of the file
    uint64_t windowStart = 0;             // the recording's offset of window[0]
    uint64_t size = 0;
    uint64_t position = 0;
    std::string name;
};
