#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "comm/KComm.h"

// A link over a recorded receiver stream (a capture file, a pipe, or bytes in memory).
// Everything recorded counts as already arrived. A file is read through a window of fixed size,
// so memory stays flat whatever the recording's size (a day at 115200 baud is about 1 GB), and
// can seek anywhere. A stream (standard input) is read once, front to back: it keeps only the
// last `keepBytes` behind the read position, and can seek only within those (from the end too:
// the end is read first, keeping its last `keepBytes`). Single-threaded: one reader at a time.
class KRecordedComm : public KComm {
public:
    static constexpr size_t kWindowBytes = 256 * 1024;

    explicit KRecordedComm(std::vector<uint8_t> bytes, std::string name = "recording");
    // Opens a recording file; on failure the link has no bytes and `error` says why. Only a
    // regular file is a recording: a device (/dev/zero, a serial port), a FIFO or a folder is
    // refused unopened-for-reading, so that it is neither read forever nor taken for empty.
    static KRecordedComm FromFile(const std::string& path, std::string& error);
    // Reads `stream` (not closed by the link) from where it stands to its end.
    static KRecordedComm FromStream(std::FILE* stream, std::string name, size_t keepBytes);

    bool Open(int32_t mode) override;
    bool Close() override;
    bool Write(const void* data, uint32_t length) override;
    bool ReadExact(void* buffer, uint32_t length) override;
    int32_t ReadAvailable(void* buffer, uint32_t length) override;
    void GetPortName(char* text, uint32_t size) override;
    bool Seek(int32_t offset, int32_t origin) override;

    uint64_t Position() const { return position; }
    // The recording's size; for a stream, what has been read of it so far (its size once AtEnd).
    uint64_t Size() const { return size; }
    uint64_t Remaining() const { return size - position; }
    // Whether nothing is left to read; a stream is asked for more first.
    bool AtEnd();
    // Bytes held in memory for the recording (the window of a file or stream).
    size_t BytesHeld() const { return window.capacity(); }

    // Moves the recording and its read position (KComm itself cannot be copied or moved).
    KRecordedComm(KRecordedComm&& other) noexcept;
    ~KRecordedComm() override;

private:
    KRecordedComm(std::FILE* file, bool ownsFile, uint64_t size, std::string name);
    // Makes the `length` bytes at the read position available in the window; false when the
    // recording ends (or the file fails) before them.
    bool Load(uint64_t length);
    // Reads the stream on until the window reaches `end` or the stream ends, first dropping
    // what lies before `keepFrom`.
    void Fill(uint64_t end, uint64_t keepFrom);

    std::FILE* file = nullptr;  // none for a recording held in memory
    bool ownsFile = false;
    bool streamed = false;      // read once, front to back
    bool ended = false;         // the stream has no more
    size_t keep = 0;            // a stream's bytes kept behind the read position
    std::vector<uint8_t> window;  // a memory recording whole, or a slice of the file or stream
    uint64_t windowStart = 0;     // the recording's offset of window[0]
    uint64_t size = 0;
    uint64_t position = 0;
    std::string name;
};
