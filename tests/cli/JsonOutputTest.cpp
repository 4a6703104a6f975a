// `--json`: each command's document parses, starts with "version": 1, holds the fields
// docs/json.md promises, and says what the same command's text says for the same input.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "families/KReceiverFamily.h"
#include "families/KSimFactory.h"
#include "sim/KPtySimulator.h"
#include "support/FakePortTree.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace {

using nlohmann::json;

const std::string kCaptures = VELINOR_CAPTURES;

// The document printed: one JSON object whose first key is "version", 1, holding every field
// named (JSON pointers).
json Document(const std::string& out, const std::vector<std::string>& fields) {
    EXPECT_EQ(out.rfind("{\n  \"version\": 1,\n", 0), 0u) << out;
    const json document = json::parse(out, nullptr, false);
    EXPECT_TRUE(document.is_object()) << out;
    if (!document.is_object()) return json::object();
    EXPECT_EQ(document.value("version", 0), 1);
    for (const std::string& field : fields) EXPECT_TRUE(document.contains(json::json_pointer(field))) << field << "\n" << out;
    return document;
}

std::string After(const std::string& text, const std::string& label) {
    const size_t at = text.find(label);
    return at == std::string::npos ? "" : text.substr(at + label.size(), text.find('\n', at) - at - label.size());
}

// "2007/01/15 10:20:24.000" as ISO-8601: "2007-01-15T10:20:24.000".
std::string Iso(int y, int mo, int d, int h, int mi, int s, int ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", y, mo, d, h, mi, s, ms);
    return text;
}

// A "first: " / "last:  " line of the text as the JSON time it stands for.
json TimeOfLine(const std::string& line) {
    unsigned week = 0;
    double sow = 0;
    int g[7], u[7];
    if (std::sscanf(line.c_str(), "%lf s of an unknown GPS week", &sow) == 1 && line.find("unknown") != std::string::npos)
        return {{"found", true}, {"week", nullptr}, {"secondsOfWeek", sow}, {"gps", nullptr}, {"utc", nullptr}};
    if (std::sscanf(line.c_str(), "GPS week %u, %lf s of week, %d/%d/%d %d:%d:%d.%d GPS = %d/%d/%d %d:%d:%d.%d UTC", &week,
                    &sow, &g[0], &g[1], &g[2], &g[3], &g[4], &g[5], &g[6], &u[0], &u[1], &u[2], &u[3], &u[4], &u[5],
                    &u[6]) == 16)
        return {{"found", true},
                {"week", week},
                {"secondsOfWeek", sow},
                {"gps", Iso(g[0], g[1], g[2], g[3], g[4], g[5], g[6])},
                {"utc", Iso(u[0], u[1], u[2], u[3], u[4], u[5], u[6]) + "Z"}};
    return {{"found", false}, {"week", nullptr}, {"secondsOfWeek", nullptr}, {"gps", nullptr}, {"utc", nullptr}};
}

TEST(JsonOutput, ReceiversListsTheCatalogueAsTheTextDoes) {
    const ProgramRun text = RunVelinor("receivers"), run = RunVelinor("receivers --json");
    ASSERT_EQ(run.exitCode, 0) << run.Both();
    const json document = Document(run.out, {"/receivers"});
    std::istringstream lines(text.out);
    std::string line;
    size_t row = 0;
    for (; std::getline(lines, line); ++row) {
        ASSERT_LT(row, document["receivers"].size()) << line;
        const json& type = document["receivers"][row];
        SCOPED_TRACE(line);
        EXPECT_EQ(type["id"], std::stoi(line.substr(0, 3)));
        EXPECT_EQ(type["name"].get<std::string>(), line.substr(5, line.find("  ", 5) - 5));
        const KReceiverFamily* family = FamilyOfType(type["id"]);
        ASSERT_NE(family, nullptr);  // every type is served by this build
        EXPECT_EQ(type["family"], line.substr(27));
        EXPECT_EQ(type["protocol"], family->protocol.name);
        EXPECT_EQ(type["supported"], true);
        EXPECT_EQ(type["queriesTime"], family->queriesTime);
        EXPECT_EQ(type["scansTime"], family->protocol.createReader != nullptr);
    }
    EXPECT_EQ(row, CatalogueTypes().size());
    EXPECT_EQ(document["receivers"].size(), row);
}

TEST(JsonOutput, PortsListsEverySlotAndTheUnslottedOnesWithTheirAdapters) {
    FakePortTree tree;
    for (int i = 0; i < 25; ++i) tree.Device("ttyUSB" + std::to_string(i));
    tree.Hardware("ttyUSB0", "1-1",
                  {{"manufacturer", "FTDI"}, {"product", "FT232R USB UART"}, {"serial", "A50285BI"},
                   {"idVendor", "0403"}, {"idProduct", "6001"}},
                  "ftdi_sio", true);
    tree.ById("usb-last", "../../ttyUSB24");
    tree.Install();
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunPorts({"--json"}), kExitConfirmed);
    const json document = Document(testing::internal::GetCapturedStdout(), {"/ports"});
    testing::internal::CaptureStdout();
    RunPorts({});
    const std::string text = testing::internal::GetCapturedStdout(), dev = tree.Dev();
    KPortRegistry::Teardown();

    ASSERT_EQ(document["ports"].size(), 25u);
    const json& first = document["ports"][0];
    EXPECT_EQ(first["slot"], "COM1");
    EXPECT_EQ(first["device"], dev + "/ttyUSB0");
    EXPECT_EQ(first["stableName"], nullptr);
    EXPECT_EQ(first["adapter"], json({{"maker", "FTDI"},
                                      {"model", "FT232R USB UART"},
                                      {"serial", "A50285BI"},
                                      {"usbId", "0403:6001"},
                                      {"driver", "ftdi_sio"}}));
    // The text names the same hardware below the port.
    EXPECT_NE(text.find("COM1   " + dev + "/ttyUSB0\n       FTDI FT232R USB UART, serial A50285BI, USB 0403:6001, "
                                           "driver ftdi_sio\n"),
              std::string::npos)
        << text;
    const json& last = document["ports"][24];
    EXPECT_EQ(last["slot"], nullptr);
    EXPECT_EQ(last["stableName"], dev + "/serial/by-id/usb-last");
    EXPECT_NE(text.find("\n-      " + last["device"].get<std::string>() + "  " + dev + "/serial/by-id/usb-last\n"),
              std::string::npos)
        << text;
    for (const json& port : document["ports"])
        for (const char* field : {"maker", "model", "serial", "usbId", "driver"})
            EXPECT_TRUE(port["adapter"].contains(field)) << port;
}

// A recording scanned twice, as text and as JSON: the same outcome, said the same way.
struct ScanCase {
    int32_t type;
    std::string file;  // under the captures, or (from "/") under the test's folder
    int exitCode;
    const char* error;  // the error's kind, or nullptr for a scan
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << "type " << c.type << " on " << c.file; }

// What a document shows of a name that is no UTF-8: each bad byte as U+FFFD.
std::string AsShown(std::string text) {
    for (size_t at; (at = text.find_first_of("\xff\xfe")) != std::string::npos;) text.replace(at, 1, "\xef\xbf\xbd");
    return text;
}

// The same for the text, which shows those bytes escaped ("\xff").
std::string EscapedAsShown(std::string text) {
    for (const char* escaped : {"\\xff", "\\xfe"})
        for (size_t at; (at = text.find(escaped)) != std::string::npos;) text.replace(at, 4, "\xef\xbf\xbd");
    return text;
}

class JsonScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(JsonScan, SaysWhatTheTextSays) {
    const ScanCase c = GetParam();
    TempDir dir;
    std::ofstream(dir.File("noise.bin"), std::ios::binary) << std::string(20000, 'x');
    const std::string path = c.file[0] == '/' ? dir.Path() + c.file : kCaptures + "/" + c.file;
    if (c.file[0] != '/' && !std::ifstream(path).good()) GTEST_SKIP() << "no capture at " << path;
    const std::string args = "scan --receiver " + std::to_string(c.type) + " '" + path + "'";
    const ProgramRun text = RunVelinor(args), run = RunVelinor(args + " --json");
    EXPECT_EQ(run.exitCode, c.exitCode) << run.Both();
    EXPECT_EQ(text.exitCode, c.exitCode) << text.Both();
    std::vector<std::string> fields = {"/file", "/receiver/id", "/receiver/family", "/receiver/protocol"};
    if (c.error)
        fields.insert(fields.end(), {"/error/kind", "/error/message"});
    else
        fields.insert(fields.end(), {"/bytes", "/messagesFramed", "/first/found", "/last/found", "/weekUnknown"});
    const json document = Document(run.out, fields);
    EXPECT_EQ(document["file"], AsShown(path));
    EXPECT_EQ(document["receiver"]["id"], c.type);
    if (c.error) {
        EXPECT_EQ(document["error"]["kind"], c.error);
        EXPECT_NE(EscapedAsShown(text.Both()).find(document["error"]["message"].get<std::string>()), std::string::npos)
            << text.Both();
        return;
    }
    EXPECT_FALSE(document.contains("error"));
    EXPECT_NE(text.out.find(": " + std::to_string(document["bytes"].get<long long>()) + " bytes, read as "),
              std::string::npos);
    EXPECT_EQ(document["messagesFramed"], std::stoll(After(text.out, "messages framed: ")));
    EXPECT_EQ(document["first"], TimeOfLine(After(text.out, "first: ")));
    EXPECT_EQ(document["last"], TimeOfLine(After(text.out, "last:  ")));
    EXPECT_EQ(document["weekUnknown"], text.out.find("\nGPS week: unknown") != std::string::npos);
    // The messages the times came from, first the first of them.
    ASSERT_FALSE(document["timeMessages"].empty()) << run.out;
    EXPECT_EQ(After(text.out, "time messages: ").rfind(document["timeMessages"][0]["name"].get<std::string>() + " (", 0), 0u);
    EXPECT_FALSE(document["lookedFor"].empty());
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, JsonScan,
    ::testing::Values(ScanCase{1, "ashtech/gpsd_ac12_binary.bin", 0, nullptr},  // no week
                      ScanCase{8, "navcom/gpsd_navcom.bin", 0, nullptr},
                      ScanCase{9, "novatel/rtklib_oemv_200911218.gps", 0, nullptr},
                      ScanCase{11, "topcon/gpsd_greis-raw-2m.bin", 0, nullptr},  // no week
                      ScanCase{10, "sirf/gpsd_sirf2.bin", 0, nullptr},
                      ScanCase{10, "sirf/gpsd_bu303b-nofix.bin", 1, "no-time"},
                      ScanCase{8, "/noise.bin", 1, "nothing-framed"}, ScanCase{8, "/none.bin", 3, "file"},
                      ScanCase{5, "/noise.bin", 1, "nothing-framed"},
                      ScanCase{8, "/\xff\xfe.bin", 3, "file"}),  // a name that is no UTF-8
    [](const ::testing::TestParamInfo<ScanCase>& param) { return "case" + std::to_string(param.index); });

// `velinor time` on a simulated receiver behind a pseudo-terminal, as a user runs it.
struct TimeCase {
    int32_t type;
    const char* port;  // nullptr: the simulator's
    int exitCode;
    const char* error;
};

void PrintTo(const TimeCase& c, std::ostream* os) { *os << "type " << c.type << " on " << (c.port ? c.port : "its pty"); }

class JsonTime : public ::testing::TestWithParam<TimeCase> {};

TEST_P(JsonTime, AnswersOrSaysWhyNot) {
    const TimeCase c = GetParam();
    if (!KSimFactory::IsSimulated(c.type)) GTEST_SKIP() << "type " << c.type << " is not simulated in this build";
    std::string error;
    KPtySimulator simulator(KSimFactory::CreateDevice(c.type, 19200, {}, error));
    ASSERT_TRUE(simulator.Start(error)) << error;
    const std::string port = c.port ? c.port : simulator.SlavePath();
    const std::string args = "time --receiver " + std::to_string(c.type) + " --port " + port + " --baud 19200";
    const ProgramRun text = RunVelinor(args), run = RunVelinor(args + " --json");
    simulator.Stop();
    EXPECT_EQ(run.exitCode, c.exitCode) << run.Both();
    EXPECT_EQ(text.exitCode, c.exitCode) << text.Both();
    std::vector<std::string> fields = {"/receiver/id", "/port", "/baud"};
    if (c.error)
        fields.insert(fields.end(), {"/error/kind", "/error/message"});
    else
        fields.insert(fields.end(), {"/receiverTime/time", "/receiverTime/week", "/receiverTime/secondsOfWeek",
                                     "/receiverTime/scale", "/pcTime/utc", "/receiverMinusPcSeconds", "/gpsMinusUtcSeconds",
                                     "/receiverClockErrorSeconds", "/output/stopped", "/output/note"});
    const json document = Document(run.out, fields);
    EXPECT_EQ(document["receiver"]["id"], c.type);
    EXPECT_EQ(document["baud"], 19200);
    if (c.error) {
        EXPECT_EQ(document["error"]["kind"], c.error);
        EXPECT_NE(text.Both().find(document["error"]["message"].get<std::string>()), std::string::npos) << text.Both();
        return;
    }
    // The two runs asked a second or so apart: about the same clock error. The simulated
    // receivers keep the computer's clock on the scale their family answers in, so the error,
    // with the leap seconds taken care of, is small.
    const double clockError = document["receiverClockErrorSeconds"];
    EXPECT_NEAR(clockError, std::stod(After(text.out, "receiver clock error: ")), 3.0) << text.out;
    EXPECT_LT(std::abs(clockError), 3.0) << run.out;
    const int leap = document["gpsMinusUtcSeconds"];
    const double difference = document["receiverMinusPcSeconds"];
    EXPECT_NEAR(difference - clockError, document["receiverTime"]["scale"] == "GPS" ? leap : 0, 0.002) << run.out;
    // The receiver's time in its three forms says one moment: week and seconds of week, and the
    // calendar (the simulated receivers keep the computer's clock, in GPS time or UTC).
    const json& answer = document["receiverTime"];
    std::tm calendar{};
    int ms = 0;
    ASSERT_EQ(std::sscanf(answer["time"].get<std::string>().c_str(), "%d-%d-%dT%d:%d:%d.%d", &calendar.tm_year,
                          &calendar.tm_mon, &calendar.tm_mday, &calendar.tm_hour, &calendar.tm_min, &calendar.tm_sec, &ms),
              7);
    calendar.tm_year -= 1900;
    calendar.tm_mon -= 1;
    const double sinceGpsEpoch = static_cast<double>(timegm(&calendar) - 315964800) + ms / 1000.0;
    EXPECT_NEAR(answer["week"].get<double>() * 604800 + answer["secondsOfWeek"].get<double>(), sinceGpsEpoch, 0.0015);
}

INSTANTIATE_TEST_SUITE_P(Simulated, JsonTime,
                         ::testing::Values(TimeCase{8, nullptr, 0, nullptr}, TimeCase{6, nullptr, 0, nullptr},
                                           TimeCase{1, nullptr, 1, "no-time-query"},
                                           TimeCase{8, "/dev/null", 3, "port-open"},
                                           TimeCase{8, "/nonexistent/ttyX", 3, "port"}),
                         [](const ::testing::TestParamInfo<TimeCase>& param) {
                             return "case" + std::to_string(param.index);
                         });

} // namespace
#endif
