#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Starts and stops baud sessions over and over, with the receivers' real reader threads, against
// the in-process simulator run in real time, each stopped at a random moment of its life (seeded:
// the same seed makes the same choices). Several lanes of cycles run side by side; the families
// take turns. Counts threads and descriptors before and after, and times every Stop.
class SessionSoak {
public:
    struct Options {
        int32_t cycles = 50;
        int32_t lanes = 4;
        uint64_t seed = 1;
        int32_t longestLifeMs = 3000; // a session is stopped after 0 to this long
        // Stop waits 10 s for the worker; a little more for the join and the teardown.
        double stopBoundMs = 11000;
    };
    struct Figures {
        int32_t cycles = 0;
        int32_t startsRefused = 0;
        int32_t confirmedAtStop = 0;
        int32_t stopsOverBound = 0;
        double seconds = 0;
        std::vector<double> stopMs; // every Stop's duration, in cycle order
        int32_t threadsBefore = 0, threadsAfter = 0;
        int32_t fdsBefore = 0, fdsAfter = 0;
        double StopPercentile(double p) const;
        std::string Report() const;
        // Every session started, every Stop within its bound, no thread or descriptor left.
        bool Clean() const;
    };

    static Figures Run(const Options& options);
    // Entries of a /proc folder (threads of /proc/self/task, descriptors of /proc/self/fd).
    static int32_t CountEntries(const char* folder);
};
