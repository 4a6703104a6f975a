// velinor-soak [CYCLES [LANES [SEED [LONGEST_LIFE_MS]]]]: start/stop cycles of baud sessions
// against the in-process simulator; prints the figures, exits 1 when anything leaked or a Stop
// overran its bound. Build it under the asan and tsan presets to have the sanitizers watch.
#include <cstdio>
#include <cstdlib>

#include "support/SessionSoak.h"

int main(int argc, char** argv) {
    SessionSoak::Options options;
    options.cycles = 1000;
    if (argc > 1) options.cycles = std::atoi(argv[1]);
    if (argc > 2) options.lanes = std::atoi(argv[2]);
    if (argc > 3) options.seed = std::strtoull(argv[3], nullptr, 10);
    if (argc > 4) options.longestLifeMs = std::atoi(argv[4]);
    if (options.cycles < 1 || options.lanes < 1 || options.longestLifeMs < 0) {
        std::fprintf(stderr, "usage: velinor-soak [CYCLES [LANES [SEED [LONGEST_LIFE_MS]]]]\n");
        return 2;
    }
    const SessionSoak::Figures figures = SessionSoak::Run(options);
    std::fputs(figures.Report().c_str(), stdout);
    return figures.Clean() ? 0 : 1;
}
