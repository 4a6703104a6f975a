#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "comm/KComm.h"

// A link over a recorded receiver stream (a capture file, or bytes in memory) that can seek.
// Everything recorded counts as already arrived. Single-threaded: one reader at a time.
class KRecordedComm : public KComm {
public:
    explicit KRecordedComm(std::vector<uint8_t> bytes, std::string name = "recording");
    // Reads the whole file; on failure the link has no bytes and `error` says why.
    static KRecordedComm FromFile(const std::string& path, std::string& error);

    bool Open(int32_t mode) override;
    bool Close() override;
    bool Write(const void* data, uint32_t length) override;
    bool ReadExact(void* buffer, uint32_t length) override;
    int32_t ReadAvailable(void* buffer, uint32_t length) override;
    void GetPortName(char* text, uint32_t size) override;
    bool Seek(int32_t offset, int32_t origin) override;

    size_t Position() const { return position; }
    size_t Size() const { return bytes.size(); }
    size_t Remaining() const { return bytes.size() - position; }

    // The link base cannot be copied or moved, so the move is spelled out.
    KRecordedComm(KRecordedComm&& other) noexcept;

private:
    std::vector<uint8_t> bytes;
    std::string name;
    size_t position = 0;
};
