#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "comm/KMemoryComm.h"
#include "log/Logs.h"
#include "monitors/KStreamMonitor.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "time/KClock.h"
#include "time/KGPSTime.h"

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

void SetTimeZone(const char* zone) {
#if defined(_WIN32)
    _putenv_s("TZ", zone);
    _tzset();
#else
    setenv("TZ", zone, 1);
    tzset();
#endif
}

class WallClock : public KClock {
public:
    void Sleep(int32_t) override {}
    int64_t NowMs() override { return 0; }
    int64_t WallSeconds() override { return now.load(); }
    std::atomic<int64_t> now{0};
};

// A monitor that frames nothing: only its client name matters to the log.
class NamedMonitor : public KStreamMonitor {
public:
    explicit NamedMonitor(const char* name) {
        link.Open(0);
        Start(&link, false, name);
    }
    ~NamedMonitor() override { Stop(); }
    bool ReadStep() override { return false; }
    void ResetFramer() override {}

private:
    KMemoryComm link;
};

std::string ReadText(const std::string& path) {
    std::ifstream in(path);  // text mode: CR LF reads as LF where the platform writes it
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

std::set<std::string> FilesIn(const std::string& directory) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(directory, ec)) names.insert(entry.path().filename().string());
    return names;
}

int64_t Utc(int32_t y, int32_t m, int32_t d, int32_t hh, int32_t mm, int32_t ss) {
    return KGPSTime::UTCFromYMDHMS(y, m, d, hh, mm, ss);
}

class Logs : public ::testing::Test {
protected:
    Logs() : scope(clock) {
        SetTimeZone("UTC0");
        clock.now = Utc(2007, 1, 6, 14, 5, 9);
    }
    ~Logs() override { SetTimeZone("UTC0"); }

    std::string File(const std::string& name) const { return (fs::path(capture.Directory()) / name).string(); }
    std::string TextLogFile(int year, int month) const {
        char name[64];
        std::snprintf(name, sizeof name, "QvxSixSigma_%04d_%02d.txt", year, month);
        return File(name);
    }
    std::string StreamFile(const std::string& client, int year, int month) const {
        char name[64];
        std::snprintf(name, sizeof name, "_%04d_%02d.log", year, month);
        return File("QuorvexStreamErrors_" + client + name);
    }

    WallClock clock;
    KScopedClock scope;
    LogCapture capture;  // a fresh folder for both logs, the stream error switch on
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Names and lines

TEST_F(Logs, TextLogLineAndFileName) {
    SixSigmaLog("KGPSTime::ValidateUTC, time_t = %d", 0);
    SixSigmaLog("second %s", "line");
    EXPECT_EQ(ReadText(TextLogFile(2007, 1)),
              "01/06/2007 14:05:09 :: KGPSTime::ValidateUTC, time_t = 0\n"
              "01/06/2007 14:05:09 :: second line\n");
    EXPECT_THAT(FilesIn(capture.Directory()), ElementsAre("QvxSixSigma_2007_01.txt"));
    EXPECT_THAT(capture.TextLog(), ElementsAre("KGPSTime::ValidateUTC, time_t = 0", "second line"));
}

TEST_F(Logs, StreamErrorLineAndFileName) {
    NamedMonitor monitor("Trevask");
    StreamErrorLog(&monitor, "LB2 - invalid CRC");
    StreamErrorLog(&monitor, "Navcom - Invalid Checksum %d", 7);
    EXPECT_EQ(ReadText(StreamFile("Trevask", 2007, 1)),
              "01/06/2007 14:05:09 (GPS 2007/01/06 14:05:09) +> Trevask +> LB2 - invalid CRC\n"
              "01/06/2007 14:05:09 (GPS 2007/01/06 14:05:09) +> Trevask +> Navcom - Invalid Checksum 7\n");
    EXPECT_THAT(FilesIn(capture.Directory()), ElementsAre("QuorvexStreamErrors_Trevask_2007_01.log"));
    EXPECT_THAT(capture.StreamErrors(), ElementsAre("LB2 - invalid CRC", "Navcom - Invalid Checksum 7"));
}

TEST_F(Logs, EachClientHasItsOwnStreamErrorFile) {
    NamedMonitor a("Trevask");
    NamedMonitor b("Other");
    StreamErrorLog(&a, "one");
    StreamErrorLog(&b, "two");
    EXPECT_THAT(Lines(ReadText(StreamFile("Trevask", 2007, 1))),
                ElementsAre("01/06/2007 14:05:09 (GPS 2007/01/06 14:05:09) +> Trevask +> one"));
    EXPECT_THAT(Lines(ReadText(StreamFile("Other", 2007, 1))),
                ElementsAre("01/06/2007 14:05:09 (GPS 2007/01/06 14:05:09) +> Other +> two"));
}

TEST_F(Logs, TextLogTakesTheLocalMonthAndStreamErrorsTheUTCMonth) {
    SetTimeZone("EST5");  // five hours behind UTC, no summer time
    clock.now = Utc(2007, 2, 1, 3, 0, 0);  // still January 31st at 22:00 locally
    NamedMonitor monitor("Trevask");
    SixSigmaLog("text");
    StreamErrorLog(&monitor, "stream");
    EXPECT_EQ(ReadText(TextLogFile(2007, 1)), "01/31/2007 22:00:00 :: text\n");
    EXPECT_EQ(ReadText(StreamFile("Trevask", 2007, 2)),
              "01/31/2007 22:00:00 (GPS 2007/02/01 03:00:00) +> Trevask +> stream\n");
    EXPECT_EQ(FilesIn(capture.Directory()).size(), 2u);
}

TEST_F(Logs, APercentInAnArgumentIsWrittenUnchanged) {
    NamedMonitor monitor("Trevask");
    SixSigmaLog("%s", "100% sure %d %s %n");
    StreamErrorLog(&monitor, "Ashtech - %s", "50%% %x");
    EXPECT_EQ(ReadText(TextLogFile(2007, 1)), "01/06/2007 14:05:09 :: 100% sure %d %s %n\n");
    EXPECT_EQ(ReadText(StreamFile("Trevask", 2007, 1)),
              "01/06/2007 14:05:09 (GPS 2007/01/06 14:05:09) +> Trevask +> Ashtech - 50%% %x\n");
}

// ---------------------------------------------------------------------------------------------
// Months and files

TEST_F(Logs, TheFirstLineOfANewMonthStartsANewFile) {
    NamedMonitor monitor("Trevask");
    clock.now = Utc(2007, 1, 31, 23, 59, 59);
    SixSigmaLog("last of January");
    StreamErrorLog(&monitor, "last of January");
    const std::string january = ReadText(TextLogFile(2007, 1));
    const std::string januaryStream = ReadText(StreamFile("Trevask", 2007, 1));

    clock.now = Utc(2007, 2, 1, 0, 0, 0);
    SixSigmaLog("first of February");
    StreamErrorLog(&monitor, "first of February");

    EXPECT_EQ(ReadText(TextLogFile(2007, 1)), january);
    EXPECT_EQ(january, "01/31/2007 23:59:59 :: last of January\n");
    EXPECT_EQ(ReadText(TextLogFile(2007, 2)), "02/01/2007 00:00:00 :: first of February\n");
    EXPECT_EQ(ReadText(StreamFile("Trevask", 2007, 1)), januaryStream);
    EXPECT_EQ(ReadText(StreamFile("Trevask", 2007, 2)),
              "02/01/2007 00:00:00 (GPS 2007/02/01 00:00:00) +> Trevask +> first of February\n");
    EXPECT_EQ(FilesIn(capture.Directory()).size(), 4u);
}

TEST_F(Logs, NoFileStaysOpenBetweenLines) {
    NamedMonitor monitor("Trevask");
    SixSigmaLog("one");
    StreamErrorLog(&monitor, "one");
    // Moving or deleting the files while the program runs works, and the next line recreates them.
    fs::rename(TextLogFile(2007, 1), File("moved.txt"));
    fs::remove(StreamFile("Trevask", 2007, 1));
    SixSigmaLog("two");
    StreamErrorLog(&monitor, "two");
    EXPECT_EQ(ReadText(File("moved.txt")), "01/06/2007 14:05:09 :: one\n");
    EXPECT_EQ(ReadText(TextLogFile(2007, 1)), "01/06/2007 14:05:09 :: two\n");
    EXPECT_THAT(Lines(ReadText(StreamFile("Trevask", 2007, 1))),
                ElementsAre("01/06/2007 14:05:09 (GPS 2007/01/06 14:05:09) +> Trevask +> two"));
}

// ---------------------------------------------------------------------------------------------
// Lengths

TEST_F(Logs, AMessageOf2047CharactersIsWrittenWhole) {
    const std::string message(2047, 'm');
    SixSigmaLog("%s", message.c_str());
    EXPECT_EQ(ReadText(TextLogFile(2007, 1)), "01/06/2007 14:05:09 :: " + message + "\n");
    EXPECT_THAT(capture.TextLog(), ElementsAre(message));
}

TEST_F(Logs, LongerMessagesAreCutAt2047Characters) {
    const std::string message = std::string(2047, 'a') + "bcdef";
    SixSigmaLog("%s", message.c_str());
    SixSigmaLog("%s-%d", std::string(5000, 'z').c_str(), 12);
    const auto lines = Lines(ReadText(TextLogFile(2007, 1)));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "01/06/2007 14:05:09 :: " + std::string(2047, 'a'));
    EXPECT_EQ(lines[1], "01/06/2007 14:05:09 :: " + std::string(2047, 'z'));
}

TEST_F(Logs, ACutNeverSplitsACharacter) {
    // "é" is two bytes in UTF-8; its second byte would be the 2048th.
    const std::string message = std::string(2046, 'a') + "\xC3\xA9" + "tail";
    SixSigmaLog("%s", message.c_str());
    EXPECT_EQ(ReadText(TextLogFile(2007, 1)), "01/06/2007 14:05:09 :: " + std::string(2046, 'a') + "\n");
    // A character that fits whole stays.
    const std::string fits = std::string(2045, 'a') + "\xC3\xA9" + "tail";
    capture.Clear();
    SixSigmaLog("%s", fits.c_str());
    EXPECT_THAT(capture.TextLog(), ElementsAre(std::string(2045, 'a') + "\xC3\xA9"));
}

TEST_F(Logs, AStreamErrorLineHoldsAtMost2047CharactersWithItsNewline) {
    NamedMonitor monitor("Trevask");
    const std::string prefix = "01/06/2007 14:05:09 (GPS 2007/01/06 14:05:09) +> Trevask +> ";
    // Exactly at the limit: written whole.
    const std::string fits(2046 - prefix.size(), 'f');
    StreamErrorLog(&monitor, "%s", fits.c_str());
    // Longer: cut, and the newline kept.
    StreamErrorLog(&monitor, "%s", std::string(2047, 'x').c_str());
    StreamErrorLog(&monitor, "after");
    const std::string text = ReadText(StreamFile("Trevask", 2007, 1));
    const auto lines = Lines(text);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], prefix + fits);
    EXPECT_EQ(lines[0].size() + 1, 2047u);
    EXPECT_EQ(lines[1], prefix + std::string(2046 - prefix.size(), 'x'));
    EXPECT_EQ(lines[2], prefix + "after");
}

// ---------------------------------------------------------------------------------------------
// The switch, read-only files and unusable folders

TEST_F(Logs, WithTheSwitchOffNoStreamErrorFileIsCreated) {
    NamedMonitor monitor("Trevask");
    SetStreamErrorLogEnabled(false);
    EXPECT_FALSE(StreamErrorLogEnabled());
    StreamErrorLog(&monitor, "LB2 - invalid CRC");
    StreamErrorLog(&monitor, "%s", std::string(5000, 'x').c_str());
    StreamErrorLog(nullptr, "no monitor");
    EXPECT_THAT(FilesIn(capture.Directory()), IsEmpty());
    // An observer still hears of them (the frame command counts errors without writing files).
    EXPECT_EQ(capture.StreamErrors().size(), 3u);
    EXPECT_THAT(capture.TextLog(), IsEmpty());
}

TEST_F(Logs, TheSwitchIsReadOnEveryCall) {
    NamedMonitor monitor("Trevask");
    SetStreamErrorLogEnabled(false);
    StreamErrorLog(&monitor, "off");
    SetStreamErrorLogEnabled(true);
    StreamErrorLog(&monitor, "on");
    SetStreamErrorLogEnabled(false);
    StreamErrorLog(&monitor, "off again");
    EXPECT_THAT(capture.StreamErrors(), ElementsAre("off", "on", "off again"));
    EXPECT_THAT(Lines(ReadText(StreamFile("Trevask", 2007, 1))), ElementsAre(::testing::EndsWith("+> on")));
}

TEST_F(Logs, AClockBefore1980LeavesAValidateLineEvenWhileTheSwitchIsOff) {
    NamedMonitor monitor("Trevask");
    clock.now = 100;  // 1970-01-01 00:01:40
    SetStreamErrorLogEnabled(false);
    StreamErrorLog(&monitor, "LB2 - invalid CRC");
    EXPECT_THAT(FilesIn(capture.Directory()), ElementsAre("QvxSixSigma_1970_01.txt"));
    EXPECT_EQ(ReadText(TextLogFile(1970, 1)), "01/01/1970 00:01:40 :: KGPSTime::ValidateUTC, time_t = 100\n");

    // With the switch on, the line is filed under the epoch's month.
    SetStreamErrorLogEnabled(true);
    StreamErrorLog(&monitor, "LB2 - invalid CRC");
    EXPECT_EQ(ReadText(StreamFile("Trevask", 1980, 1)),
              "01/01/1970 00:01:40 (GPS 1980/01/06 00:00:00) +> Trevask +> LB2 - invalid CRC\n");
    EXPECT_EQ(Lines(ReadText(TextLogFile(1970, 1))).size(), 2u);
}

TEST_F(Logs, AReadOnlyStreamErrorFileIsMadeWritableAndGainsTheLine) {
    NamedMonitor monitor("Trevask");
    const std::string path = StreamFile("Trevask", 2007, 1);
    std::ofstream(path) << "earlier line\n";
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read, fs::perm_options::replace);
    ASSERT_EQ(fs::status(path).permissions() & fs::perms::owner_write, fs::perms::none);

    StreamErrorLog(&monitor, "LB2 - invalid CRC");

    const fs::perms after = fs::status(path).permissions();
    EXPECT_NE(after & fs::perms::owner_write, fs::perms::none);
    EXPECT_NE(after & fs::perms::owner_read, fs::perms::none);
#if !defined(_WIN32)
    EXPECT_NE(after & fs::perms::group_read, fs::perms::none);  // the other permissions stay
    EXPECT_EQ(after & fs::perms::others_all, fs::perms::none);
#endif
    EXPECT_EQ(ReadText(path),
              "earlier line\n"
              "01/06/2007 14:05:09 (GPS 2007/01/06 14:05:09) +> Trevask +> LB2 - invalid CRC\n");
}

TEST_F(Logs, AReadOnlyTextLogKeepsItsContentAndLosesTheLine) {
    const std::string path = TextLogFile(2007, 1);
    std::ofstream(path) << "frozen\n";
    fs::permissions(path, fs::perms::owner_read, fs::perm_options::replace);
    SixSigmaLog("dropped");
    EXPECT_EQ(ReadText(path), "frozen\n");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::owner_write, fs::perms::none);
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::replace);
}

TEST_F(Logs, AFolderThatCannotBeWrittenDropsTheLines) {
    NamedMonitor monitor("Trevask");
    // Permission bits would not stop the superuser: a folder under a regular file, and a
    // folder that does not exist, cannot be written by anyone.
    const std::string regular = File("plain-file");
    std::ofstream(regular) << "x";
    for (const std::string& folder : {(fs::path(regular) / "").string(), (fs::path(File("missing")) / "").string()}) {
        SetLogDirectory(folder);
        SixSigmaLog("lost %d", 1);
        StreamErrorLog(&monitor, "lost %d", 2);
    }
    EXPECT_THAT(FilesIn(capture.Directory()), ElementsAre("plain-file"));
    EXPECT_EQ(ReadText(regular), "x");
    // The lines were still offered to the observers.
    EXPECT_THAT(capture.TextLog(), ElementsAre("lost 1", "lost 1"));
    EXPECT_THAT(capture.StreamErrors(), ElementsAre("lost 2", "lost 2"));
}

#if !defined(_WIN32)
TEST_F(Logs, NothingButARegularFileUnderALogsNameIsWritten) {
    // Whatever is planted under a log's name, the line is dropped as for a file that cannot be
    // opened (the observers still hear of it); the file behind a link is neither written nor
    // made writable, and a FIFO does not block.
    NamedMonitor monitor("Trevask");
    const std::string victim = File("victim.txt");
    const std::string logs[] = {TextLogFile(2007, 1), StreamFile("Trevask", 2007, 1)};
    enum Plant { LinkToWritable, LinkToReadOnly, LinkToNowhere, Fifo };
    for (const Plant plant : {LinkToWritable, LinkToReadOnly, LinkToNowhere, Fifo}) {
        SCOPED_TRACE(plant);
        const fs::perms perms = plant == LinkToWritable ? fs::perms::owner_read | fs::perms::owner_write : fs::perms::owner_read;
        std::ofstream(victim) << "victim\n";
        fs::permissions(victim, perms, fs::perm_options::replace);
        if (plant == LinkToNowhere) fs::remove(victim);
        for (const std::string& log : logs) {
            fs::remove(log);
            if (plant == Fifo) {
                ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
            } else {
                fs::create_symlink(victim, log);
            }
        }
        capture.Clear();
        SixSigmaLog("planted");
        StreamErrorLog(&monitor, "planted");

        EXPECT_THAT(capture.TextLog(), ElementsAre("planted"));
        EXPECT_THAT(capture.StreamErrors(), ElementsAre("planted"));
        ASSERT_EQ(fs::exists(victim), plant != LinkToNowhere);
        if (plant != LinkToNowhere) {
            EXPECT_EQ(ReadText(victim), "victim\n");
            EXPECT_EQ(fs::status(victim).permissions() & fs::perms::all, perms);
        }
    }
}
#endif

TEST(LogDirectory, DefaultsToTheCurrentDirectory) {
#if defined(_WIN32)
    EXPECT_EQ(LogDirectory(), ".\\");
#else
    EXPECT_EQ(LogDirectory(), "./");
#endif
    EXPECT_FALSE(StreamErrorLogEnabled());
}

// ---------------------------------------------------------------------------------------------
// Threads

TEST_F(Logs, LinesFromManyThreadsNeverInterleave) {
    constexpr int kThreads = 8;
    constexpr int kLines = 150;
    NamedMonitor monitor("Trevask");
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &monitor] {
            // Long lines, so that a line torn by another thread's write would show.
            const std::string body(900 + 97 * t, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) {
                SixSigmaLog("T%d L%d %s", t, i, body.c_str());
                StreamErrorLog(&monitor, "T%d L%d %s", t, i, body.c_str());
            }
        });
    }
    for (auto& thread : threads) thread.join();

    auto check = [&](const std::string& path, const std::string& prefix) {
        std::set<std::string> seen;
        for (const std::string& line : Lines(ReadText(path))) {
            ASSERT_EQ(line.rfind(prefix, 0), 0u) << line.substr(0, 80);
            int t = -1, i = -1;
            ASSERT_EQ(std::sscanf(line.c_str() + prefix.size(), "T%d L%d ", &t, &i), 2) << line.substr(0, 80);
            ASSERT_TRUE(t >= 0 && t < kThreads);
            const std::string head = "T" + std::to_string(t) + " L" + std::to_string(i) + " ";
            ASSERT_EQ(line.substr(prefix.size()),
                      head + std::string(900 + 97 * static_cast<size_t>(t), static_cast<char>('a' + t)));
            EXPECT_TRUE(seen.insert(head).second) << "twice: " << head;
        }
        EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLines));
    };
    check(TextLogFile(2007, 1), "01/06/2007 14:05:09 :: ");
    check(StreamFile("Trevask", 2007, 1), "01/06/2007 14:05:09 (GPS 2007/01/06 14:05:09) +> Trevask +> ");
}

TEST(LogObservers, RemovingAnObserverWaitsForACallInFlight) {
    LogCapture capture;  // restores the observers it replaces below
    std::atomic<bool> entered{false}, release{false}, finished{false}, removed{false};
    SetSixSigmaObserver([&](const std::string&, const std::string&) {
        entered = true;
        while (!release) std::this_thread::yield();
        finished = true;
    });
    std::thread writer([] { SixSigmaLog("in flight"); });
    while (!entered) std::this_thread::yield();
    std::thread remover([&] {
        SetSixSigmaObserver(nullptr);
        removed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(removed.load());
    release = true;
    writer.join();
    remover.join();
    EXPECT_TRUE(finished.load());
    EXPECT_TRUE(removed.load());
}

TEST(LogObservers, AnObserverMayItselfLog) {
    LogCapture capture;
    std::vector<std::string> seen;
    SetSixSigmaObserver([&](const std::string&, const std::string& message) {
        seen.push_back(message);
        if (message == "outer") SixSigmaLog("inner");
    });
    SixSigmaLog("outer");
    SetSixSigmaObserver(nullptr);
    EXPECT_THAT(seen, ElementsAre("outer", "inner"));
}
