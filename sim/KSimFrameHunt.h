#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

// How the simulated receivers find the host's requests in what arrives, whatever their protocol:
// every place where a protocol's sync bytes end is a candidate frame start. A candidate stays
// while its frame is incomplete and is dropped once it proves to be no frame; the first to be
// complete and intact is taken, and everything held with it is dropped. Garbage before, around
// or inside a frame thus never hides a frame. Written apart from the product's framers on
// purpose: the test bed must not share code with what it tests. A protocol supplies its sync,
// how long a frame is and whether it is intact.
class KSimFrameHunt {
public:
    virtual ~KSimFrameHunt() = default;

    // Takes one received byte; frames become available through Next.
    virtual void Feed(uint8_t byte);
    void Feed(const std::vector<uint8_t>& bytes) {
        for (uint8_t b : bytes) Feed(b);
    }
    // The next frame found, oldest first: what Deliver makes of it.
    bool Next(std::vector<uint8_t>& frame);
    void Clear();

    uint64_t Frames() const { return frames; }
    // Candidates that reached their stated length but were not intact.
    uint64_t Rejected() const { return rejected; }

protected:
    static constexpr size_t kNeedMore = 0;
    static constexpr size_t kNoFrame = static_cast<size_t>(-1);

    explicit KSimFrameHunt(std::vector<uint8_t> sync) : syncBytes(std::move(sync)) {}

    // The whole length of the frame that starts at `frame`, of which `held` bytes are there (the
    // sync at least): kNeedMore while that cannot be told yet, kNoFrame when no frame can start
    // there.
    virtual size_t FrameLength(const uint8_t* frame, size_t held) const = 0;
    virtual bool Intact(const uint8_t* frame, size_t length) const = 0;
    // What Next hands out of an intact frame: the whole frame unless a protocol says otherwise.
    virtual std::vector<uint8_t> Deliver(const uint8_t* frame, size_t length) const {
        return {frame, frame + length};
    }

    // For protocols with requests outside frames: whether a frame is under way, and handing out
    // such a request.
    bool Pending() const { return !starts.empty(); }
    void Emit(std::vector<uint8_t> request) { ready.push_back(std::move(request)); }

private:
    const std::vector<uint8_t> syncBytes;
    std::vector<uint8_t> buffer;
    std::vector<size_t> starts;  // positions in `buffer` where a frame may start
    std::deque<std::vector<uint8_t>> ready;
    uint64_t frames = 0;
    uint64_t rejected = 0;
};
