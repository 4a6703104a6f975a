#pragma once
// Checks shared by the framer tests: run a stream through a fresh framer in every chunking and
// compare, or step an attached framer by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "monitors/KStreamMonitor.h"
#include "support/FramerHarness.h"

inline const char* ChunkingName(Chunking chunking) {
    switch (chunking) {
    case Chunking::OneByte: return "one byte";
    case Chunking::Random: return "random";
    case Chunking::AllAtOnce: return "all at once";
    }
    return "?";
}

// Runs `stream` through a new `Monitor` one byte at a time, in random chunks (three seeds) and
// all at once, and expects exactly `messages` and `errors` every time.
template <typename Monitor>
void ExpectFramed(const Bytes& stream, const std::vector<Bytes>& messages,
                  const std::vector<std::string>& errors) {
    for (Chunking chunking : {Chunking::OneByte, Chunking::Random, Chunking::AllAtOnce}) {
        for (uint32_t seed = 1; seed <= (chunking == Chunking::Random ? 3u : 1u); ++seed) {
            SCOPED_TRACE(std::string(ChunkingName(chunking)) + ", seed " + std::to_string(seed));
            Monitor monitor;
            const FramedRun run = RunFramer(monitor, stream, chunking, seed);
            ASSERT_EQ(run.messages.size(), messages.size());
            for (size_t i = 0; i < messages.size(); ++i)
                EXPECT_EQ(ToHex(run.messages[i]), ToHex(messages[i])) << "message " << i;
            EXPECT_EQ(run.errors, errors);
        }
    }
}

// Runs `stream` through a new `Monitor` in each chunking and expects exactly `messages` every time
// and the same stream errors whatever the chunking (when the errors themselves are not known).
template <typename Monitor>
void ExpectSameInEveryChunking(const Bytes& stream, const std::vector<Bytes>& messages, uint32_t seed) {
    std::vector<std::string> errors;
    for (Chunking chunking : {Chunking::OneByte, Chunking::Random, Chunking::AllAtOnce}) {
        SCOPED_TRACE(std::string(ChunkingName(chunking)) + ", seed " + std::to_string(seed));
        Monitor monitor;
        const FramedRun run = RunFramer(monitor, stream, chunking, seed);
        EXPECT_EQ(run.messages, messages);
        if (chunking == Chunking::OneByte) errors = run.errors;
        else EXPECT_EQ(run.errors, errors);
    }
}

// Steps an attached monitor until it makes no progress; hands back what it queued.
inline std::vector<Bytes> DrainFramer(KStreamMonitor& monitor) {
    while (monitor.ReadStep()) {}
    std::vector<Bytes> out;
    while (auto message = monitor.PopMessage())
        out.emplace_back(message->data.get(), message->data.get() + message->length);
    return out;
}

inline Bytes Slice(const Bytes& bytes, size_t from, size_t to) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(to));
}
