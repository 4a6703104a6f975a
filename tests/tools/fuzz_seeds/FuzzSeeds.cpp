// Writes the hand-made fuzz seeds of the framers under FOLDER, one folder per protocol, with the
// frame builders the tests use. Each file: one chunking byte, one bounded-scan byte, the stream.
//   velinor-fuzz-seeds FOLDER        (FOLDER is usually fuzz/corpus)
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/AshtechFrames.h"
#include "support/FramerHarness.h"
#include "support/FuzzSeeds.h"
#include "support/TopconFrames.h"

namespace {

Bytes Str(const std::string& text) { return Bytes(text.begin(), text.end()); }

class SeedFolder {
public:
    SeedFolder(const std::filesystem::path& root, const char* protocol) : dir(root / protocol) {
        std::filesystem::create_directories(dir);
    }
    void Write(const std::string& name, uint8_t chunkSeed, bool bounded, const Bytes& stream) const {
        std::ofstream out(dir / name, std::ios::binary);
        const Bytes prefix = {chunkSeed, static_cast<uint8_t>(bounded ? 1 : 0)};
        out.write(reinterpret_cast<const char*>(prefix.data()), 2);
        out.write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
    }

private:
    std::filesystem::path dir;
};

void WriteAshtech(const SeedFolder& seeds) {
    const Bytes fixed = Concat({AshtechFixed("MPC", 1), AshtechFixed("PBN", 2), AshtechFixed("GBN", 3),
                                AshtechFixed("SNV", 4), AshtechFixed("MCA", 5)});
    seeds.Write("fixed-whole", 0, false, fixed);
    seeds.Write("fixed-chunks", 9, false, fixed);
    seeds.Write("text", 4, false,
                Concat({Text("$GPGGA,1,2,3*00\r\n"), PashrLine("PRT,A,9600"), PashrLine("ACK"),
                        Text("$PASHR,AB\r\n"), GpxdrSentence("C,20.5,C,AIRTEMP"), GpxdrWithCheck("A,1", "ZZ"),
                        GpxdrSentence("C,20.5,C,AIRTEMP", true)}));
    seeds.Write("bad-fixed", 13, false,
                Concat({FlipByte(AshtechFixed("MPC", 6), 50), SetByte(AshtechFixed("MCA", 7), 48, ' '),
                        PashrLine("ACK")}));
    seeds.Write("long-line", 63, false, Concat({Text("$GPXDR,"), Repeat('b', 4200), PashrLine("ACK")}));
    seeds.Write("bounded", 30, true, Concat({Repeat('$', 300), PashrLine("ACK")}));
}

void WriteTopcon(const SeedFolder& seeds) {
    const Bytes mixed = Concat({WithCrLf(TopconChecked("~~", Str("\x10\x20\x30\x40"))),
                                WithCrLf(TopconChecked("rM", PseudoRandomBytes(30, 1))),
                                WithCrLf(TopconChecked("GE", PseudoRandomBytes(20, 2))),
                                WithCrLf(TopconChecked(">>", Str("reply"))),
                                TopconChecked("NE", Str("no line end")), TopconChecked("PO", Str("po")),
                                Str("\r\r\n"), WithCrLf(TopconMessage("==", Str("x")))});
    seeds.Write("mixed-whole", 0, false, mixed);
    seeds.Write("mixed-chunks", 7, false, mixed);
    seeds.Write("comments", 3, false,
                Concat({Str("# a comment RE005hello\n# \n"), WithCrLf(TopconMessage("RE", Str("%reset%"))),
                        Str("# x\n"), WithCrLf(TopconMessage("GT", Str("time")))}));
    Bytes outer = TopconMessage("~~", Concat({Str("a."), TopconMessage("RE", Str("hello")),
                                              Str("\r\nqrstuvwxyzqrstuvwx")}));
    outer.back() ^= 0x5A;
    seeds.Write("rewind", 11, false, Concat({WithCrLf(outer), Str("~~00Ax.RE00Ehello world 12\r\n")}));
    seeds.Write("bad-checks", 5, false,
                Concat({WithCrLf(SwapLastTwo(TopconChecked("rM", Str("raw data")))),
                        WithCrLf(LowerCaseCheckDigits(TopconChecked(">>", Str("reply text")))),
                        WithCrLf(TopconMessage("RE", Str("after")))}));
    seeds.Write("full-buffer", 40, false,
                Concat({TopconMessage("RE", PseudoRandomBytes(0xFFF, 3)), Repeat(0x0D, 96), Str("x"),
                        WithCrLf(TopconMessage("GT", Str("time")))}));
    seeds.Write("identifiers", 2, true, Str("12005abcde\r\nA=005abcde\r\n==005abcde\r\nRE000\r\n1A002ab\r\n"));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: velinor-fuzz-seeds FOLDER\n");
        return 2;
    }
    WriteAshtech(SeedFolder(argv[1], "ashtech"));
    WriteTopcon(SeedFolder(argv[1], "topcon"));
    for (const ProtocolFuzzSeeds& protocol : FramerFuzzSeeds())
        WriteFuzzSeeds((std::filesystem::path(argv[1]) / protocol.protocol).string(), protocol.seeds);
    return 0;
}
