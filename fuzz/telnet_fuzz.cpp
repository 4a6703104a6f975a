// The Telnet layer of network ports under arbitrary bytes from a server, in arbitrary cuts. The
// line bytes it hands on never outnumber what came in; it only ever answers with a refusal (so
// no exchange can loop); the cut does not change what it makes of the bytes; and any line bytes
// it escapes come back from it as they were.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "comm/KTelnetCodec.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "telnet layer: %s\n", what);
    std::abort();
}

struct Result {
    std::vector<uint8_t> data;
    std::vector<uint8_t> reply;
    size_t answers = 0;
};

Result Decode(const uint8_t* bytes, size_t size, uint8_t cut) {
    telnet::Codec codec;
    Result result;
    const size_t piece = cut == 0 ? size : cut % 17 + 1;
    for (size_t at = 0; at < size; at += piece)
        codec.Receive(bytes + at, piece < size - at ? piece : size - at, result.data, result.reply);
    result.answers = codec.TakeAnswers().size();
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t cut = data[0];
    ++data;
    --size;
    const Result whole = Decode(data, size, 0);
    if (whole.data.size() > size) Fail("more line bytes than bytes in");
    if (whole.reply.size() % 3 != 0) Fail("a reply that is not whole option answers");
    for (size_t i = 0; i < whole.reply.size(); i += 3)
        if (whole.reply[i] != telnet::kIac || (whole.reply[i + 1] != telnet::kDont && whole.reply[i + 1] != telnet::kWont))
            Fail("a reply that is not a refusal");
    const Result cutUp = Decode(data, size, cut);
    if (cutUp.data != whole.data || cutUp.reply != whole.reply || cutUp.answers != whole.answers)
        Fail("the cut changed what was made of the bytes");

    std::vector<uint8_t> escaped;
    telnet::Codec::Escape(data, size, escaped);
    const Result back = Decode(escaped.data(), escaped.size(), cut);
    if (back.data != std::vector<uint8_t>(data, data + size) || !back.reply.empty() || back.answers != 0)
        Fail("escaped line bytes did not come back as they were");
    return 0;
}
