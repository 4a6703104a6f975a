// The commands' parse steps, in-process: argument vectors in, plain options or the usage error out.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CommandOptions.h"
#include "cli/Commands.h"
#include "cli/ReceiverChoice.h"
#include "families/KReceiverFamily.h"

namespace {

Words Split(const std::string& line) {
    std::istringstream in(line);
    Words words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

const CommandEntry& Command(const std::string& name) {
    for (const CommandEntry& entry : CommandTable())
        if (name == entry.name) return entry;
    throw std::runtime_error("no command " + name);
}

const KReceiverFamily* Family(const std::string& name) {
    for (const KReceiverFamily& family : ReceiverFamilies())
        if (name == family.name) return &family;
    return nullptr;
}

// One parse: the words, and either the usage error expected or (when that is empty) the options.
template <class Options>
struct Row {
    std::string words;
    std::string error;
    Options expected{};
};

template <class Options>
void ExpectRows(Parsed<Options> (*parse)(const Words&), const std::vector<Row<Options>>& rows,
                const std::function<bool(const Options&, const Options&)>& same = std::equal_to<Options>()) {
    for (const Row<Options>& row : rows) {
        SCOPED_TRACE("words: " + row.words);
        const Parsed<Options> parsed = parse(Split(row.words));
        EXPECT_FALSE(parsed.help);
        EXPECT_EQ(parsed.error, row.error);
        if (row.error.empty()) {
            EXPECT_TRUE(same(parsed.options, row.expected));
        }
    }
}

} // namespace

// What every command refuses alike, read by the commands' own definitions.
TEST(CommandLine, EveryCommandRefusesTheSameMistakesInTheSameWords) {
    struct Case {
        const char* command;
        const char* words;
        const char* error;
    };
    const std::vector<Case> cases = {
        {"set", "--port --baud 9600", "--port needs a value (--baud is an option)"},
        {"time", "--port=--json", "--port needs a value (--json is an option)"},
        {"scan", "--receiver", "--receiver needs a value"},
        {"set", "--port COM3 --port COM4", "--port is given more than once"},
        {"identify", "--json --port COM1 --json", "--json is given more than once"},
        {"set", "--prot COM3", "unknown option --prot; did you mean --port?"},
        {"set", "--recevier 5", "unknown option --recevier; did you mean --receiver?"},
        {"identify", "--listen", "unknown option --listen; did you mean --listen-only?"},
        {"demo", "--quiet", "unknown option --quiet; did you mean --quiet-output?"},
        {"frame", "--protcol lb2 x.bin", "unknown option --protcol; did you mean --protocol?"},
        {"receivers", "--xyzzy", "unknown option --xyzzy"},
        {"ports", "-j", "unknown option -j"},
        {"set", "--verbose=yes", "--verbose takes no value"},
        {"receivers", "x", "unexpected argument 'x'"},
        {"doctor", "COM1 COM2", "unexpected argument 'COM2'"},
        {"frame", "--protocol lb2 -- --odd-name", ""},
        {"doctor", "--json", ""},
    };
    for (const Case& c : cases) {
        const ParsedWords parsed = Command(c.command).line().Parse(Split(c.words));
        EXPECT_EQ(parsed.error, c.error) << c.command << " " << c.words;
    }
    const ParsedWords dashes = FrameCommandLine().Parse(Split("--protocol lb2 -- --odd-name"));
    EXPECT_EQ(dashes.Positionals(), Words{"--odd-name"});
    EXPECT_TRUE(SetCommandLine().Parse(Split("--bogus --port --help")).help);
    EXPECT_FALSE(FrameCommandLine().Parse(Split("--protocol lb2 -- --help")).help);
}

// Not one option of any command takes another option as its value, or is taken twice.
TEST(CommandLine, EveryOptionOfEveryCommandIsGivenOnceWithAValueThatIsNoOption) {
    for (const CommandEntry& command : CommandTable()) {
        const CommandLine line = command.line();
        for (const std::string& name : line.OptionNames()) {
            if (name == "--help") continue;
            const bool valued = line.TakesValue(name);
            const Words twice = valued ? Words{name, "1", name, "1"} : Words{name, name};
            EXPECT_EQ(line.Parse(twice).error, name + " is given more than once") << command.name;
            if (valued) {
                EXPECT_EQ(line.Parse({name, "--other"}).error, name + " needs a value (--other is an option)")
                    << command.name;
            }
        }
    }
}

TEST(CommandParse, Set) {
    using O = SetOptions;
    ExpectRows<O>(ParseSet, {
        {"", "", O{}},
        {"--receiver gmx900 --port COM3 --baud 115200 --until-confirmed --timeout 30", "",
         O{5, "COM3", 115200, std::nullopt, 30, true, false, false, false, false}},
        {"--receiver=5 --port=/dev/ttyUSB0 --last-baud 0 --verbose --stream-errors", "",
         O{5, "/dev/ttyUSB0", std::nullopt, 0, std::nullopt, false, false, false, true, true}},
        {"--until-confirmed --save --restore-output", "",
         O{0, "", std::nullopt, std::nullopt, std::nullopt, true, true, true, false, false}},
        // A time limit is one without --until-confirmed too.
        {"--timeout 5", "", O{0, "", std::nullopt, std::nullopt, 5, false, false, false, false, false}},
        {"--baud 12abc", "--baud takes a rate in bits per second", {}},
        {"--last-baud -1", "--last-baud takes a rate in bits per second, or 0 (unknown)", {}},
        {"--timeout 0", "--timeout takes whole seconds", {}},
        {"--timeout 1.5", "--timeout takes whole seconds", {}},
        {"--receiver garmin", "no receiver type matches 'garmin' (see 'velinor receivers')", {}},
        {"--port=", "--port needs a value", {}},
        {"extra", "unexpected argument 'extra'", {}},
    });
}

TEST(CommandParse, FrameTakesProtocolAndFamilyNamesInAnyCase) {
    using O = FrameOptions;
    const KReceiverFamily* leica = Family("Leica");
    const KReceiverFamily* ublox = Family("u-blox");
    ASSERT_NE(leica, nullptr);
    ASSERT_NE(ublox, nullptr);
    const std::string names = ProtocolNamesText(", ");
    ExpectRows<O>(ParseFrame, {
        {"--protocol lb2 x.bin", "", O{leica, "x.bin", false, FrameFormat::Named}},
        {"--protocol LB2 --hex x.bin", "", O{leica, "x.bin", false, FrameFormat::Hex}},
        {"--protocol leica --json -", "", O{leica, "-", false, FrameFormat::Json}},
        {"--protocol LEICA --stream-errors x.bin", "", O{leica, "x.bin", true, FrameFormat::Named}},
        {"--protocol U-Blox x.bin", "", O{ublox, "x.bin", false, FrameFormat::Named}},
        {"--protocol UBX x.bin", "", O{ublox, "x.bin", false, FrameFormat::Named}},
        {"--protocol lb2 --hex --json x.bin", "--hex and --json exclude each other", {}},
        {"--protocol garmin x.bin", "unknown protocol 'garmin' (" + names + ")", {}},
        {"x.bin", "needs --protocol NAME and one FILE", {}},
        {"--protocol lb2", "needs --protocol NAME and one FILE", {}},
        {"--protocol lb2 a b", "unexpected argument 'b'", {}},
    });
}

TEST(CommandParse, TimeScanIdentifyWatchDoctorAndTheLists) {
    ExpectRows<TimeOptions>(ParseTime, {
        {"--receiver 5 --port COM3 --baud 9600 --json", "", {5, "COM3", 9600, false, true}},
        {"--receiver navcom --port /dev/ttyS0 --baud 57600 --verbose", "", {8, "/dev/ttyS0", 57600, true, false}},
        {"--receiver u-blox --port COM1 --baud 9600 --restore-output", "", {15, "COM1", 9600, false, false, true}},
        {"--receiver 5 --port COM3 --baud 300", "--baud must be one of " + TypeRatesText(5), {}},
        {"--receiver 5 --port COM3", "needs --receiver NAME|ID, --port PORT and --baud RATE", {}},
    });
    ExpectRows<ScanOptions>(ParseScan, {
        {"--receiver 9 capture.bin", "", {9, "capture.bin", false}},
        {"--json --receiver novatel -", "", {9, "-", true}},
        {"--receiver 8", "needs --receiver NAME|ID and one FILE", {}},
        {"x.bin", "needs --receiver NAME|ID and one FILE", {}},
    });
    ExpectRows<IdentifyOptions>(ParseIdentify, {
        {"--port COM2 --listen-only --verbose", "", {"COM2", true, false, true}},
        {"--json --port /dev/ttyUSB0", "", {"/dev/ttyUSB0", false, true, false}},
        {"--listen-only", "needs --port PORT", {}},
    });
    const std::string unsettable = "--baud must be a rate this system can set a port to, such as 9600 or 115200";
    std::vector<Row<WatchOptions>> watchRows = {
        {"--port COM2", "", {"COM2", 0, 0, false}},
        {"--port /dev/ttyUSB0 --baud 115200 --seconds 10 --json", "", {"/dev/ttyUSB0", 115200, 10, true}},
        {"--port COM2 --baud 20000000", unsettable, {}},
        {"--seconds 5", "needs --port PORT", {}},
    };
#ifdef _WIN32
    // A DCB takes any rate and leaves the judgement to the driver.
    watchRows.push_back({"--port COM2 --baud 1234", "", {"COM2", 1234, 0, false}});
#else
    watchRows.push_back({"--port COM2 --baud 1234", unsettable, {}});
#endif
    ExpectRows<WatchOptions>(ParseWatch, watchRows);
    ExpectRows<DoctorOptions>(ParseDoctor, {{"", "", {"", false}}, {"COM3 --json", "", {"COM3", true}}});
    ExpectRows<ListOptions>(ParseReceivers, {{"", "", {false}}, {"--json", "", {true}}});
    ExpectRows<ListOptions>(ParsePorts, {{"--json", "", {true}}, {"--all", "unknown option --all", {}}});
}

TEST(CommandParse, DemoAndSimReadTheFaultOptions) {
    auto demoSame = [](const DemoOptions& a, const DemoOptions& b) {
        return a.type == b.type && a.baud == b.baud && a.startBaud == b.startBaud && a.timeout == b.timeout &&
               a.seeded == b.seeded && a.device.silent == b.device.silent &&
               a.device.replyDelayMs == b.device.replyDelayMs && a.device.streaming == b.device.streaming &&
               a.line.bitFlipProbability == b.line.bitFlipProbability && a.line.seed == b.line.seed;
    };
    DemoOptions faulty;
    faulty.type = 5;
    faulty.baud = 9600;
    faulty.device.silent = true;
    faulty.device.replyDelayMs = 200;
    faulty.device.streaming = false;
    faulty.line.bitFlipProbability = 0.001;
    faulty.line.seed = 7;
    faulty.seeded = true;
    DemoOptions timed;
    timed.startBaud = 4800;
    timed.timeout = 60;
    ExpectRows<DemoOptions>(ParseDemo, {
        {"", "", DemoOptions{}},
        {"--receiver 5 --baud 9600 --silent --slow 200 --quiet-output --noise 0.001 --seed 7", "", faulty},
        {"--start-baud 4800 --timeout 60", "", timed},
        {"--noise 0.9", "--noise takes a probability from 0 to 0.5", {}},
        {"--slow soon", "--slow takes milliseconds (0 to 600000)", {}},
        {"--timeout 90000", "--timeout takes whole seconds", {}},
    }, demoSame);

    auto simSame = [](const SimOptions& a, const SimOptions& b) {
        return a.type == b.type && a.replay == b.replay && a.baud == b.baud &&
               a.device.neverSwitches == b.device.neverSwitches && a.device.receiverPort == b.device.receiverPort;
    };
    SimOptions receiver;
    receiver.type = 15;
    receiver.baud = 38400;
    receiver.device.neverSwitches = true;
    receiver.device.receiverPort = "8:2";
    SimOptions replay;
    replay.replay = "day.bin";
    replay.baud = 9600;
    ExpectRows<SimOptions>(ParseSim, {
        {"--receiver u-blox --baud 38400 --never-switches --receiver-port 8:2", "", receiver},
        {"--replay day.bin --baud 9600", "", replay},
        {"--receiver 5 --replay day.bin --baud 9600", "needs --receiver NAME|ID or --replay FILE, and --baud RATE", {}},
        {"--receiver 5", "needs --receiver NAME|ID or --replay FILE, and --baud RATE", {}},
        {"--receiver 5 --baud fast", "--baud takes a rate in bits per second", {}},
    }, simSame);
}
