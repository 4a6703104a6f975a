#include "support/FuzzSeeds.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "support/LeicaFrames.h"
#include "support/NavComFrames.h"
#include "support/NovatelFrames.h"
#include "support/SiRFFrames.h"
#include "support/TrimbleFrames.h"

std::vector<ProtocolFuzzSeeds> FramerFuzzSeeds() {
    return {
        {"lb2", leica::FuzzSeeds()},
        {"navcom", navcom::FuzzSeeds()},
        {"novatel", NovatelFuzzSeeds()},
        {"sirf", sirf::FuzzSeeds()},
        {"trimble", TrimbleFuzzSeeds()},
    };
}

void WriteFuzzSeeds(const std::string& folder, const std::vector<FuzzSeed>& seeds) {
    std::filesystem::create_directories(folder);
    for (const FuzzSeed& seed : seeds) {
        std::ofstream out(std::filesystem::path(folder) / seed.name, std::ios::binary | std::ios::trunc);
        const uint8_t driver[2] = {seed.chunkSeed, static_cast<uint8_t>(seed.bounded ? 1 : 0)};
        out.write(reinterpret_cast<const char*>(driver), 2);
        out.write(reinterpret_cast<const char*>(seed.stream.data()), static_cast<std::streamsize>(seed.stream.size()));
        if (!out) throw std::runtime_error("cannot write fuzz seed " + seed.name);
    }
}
