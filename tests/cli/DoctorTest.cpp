// `velinor doctor PORT --json` on findings staged on this machine, over real pseudo-terminals: a
// missing device, a device this user may not use (run as another user), a device another process
// holds open or locked, a line where nothing talks, one where bytes arrive but no protocol, and
// one where a receiver talks. The rows run side by side.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "families/KSimFactory.h"
#include "sim/KPtySimulator.h"
#include "sim/KSimReplayDevice.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace {

// A process that holds `device` open until the object goes, under `name` when one is given.
class Holder {
public:
    explicit Holder(const std::string& device, const std::string& name = "") {
        pid = ::fork();
        if (pid == 0) {
            if (!name.empty()) ::prctl(PR_SET_NAME, name.c_str());
            // Not the test's own descriptors (the simulators' ends among them): only the device.
            for (int fd = 3; fd < 1024; ++fd) ::close(fd);
            const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            if (fd < 0) ::_exit(1);
            for (;;) ::pause();
        }
        // Until it has the device open, the doctor could not see it. A busy machine may take
        // seconds to run the child at all; the wait ends as soon as it has.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!Holds(device) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ~Holder() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    pid_t Pid() const { return pid; }

private:
    bool Holds(const std::string& device) const {
        std::error_code ec;
        for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
            if (std::filesystem::read_symlink(fd.path(), ec) == device) return true;
        return false;
    }
    pid_t pid = -1;
};

std::unique_ptr<KPtySimulator> Serve(std::unique_ptr<KSimDevice> device) {
    auto simulator = std::make_unique<KPtySimulator>(std::move(device));
    std::string error;
    EXPECT_TRUE(simulator->Start(error)) << error;
    return simulator;
}

std::unique_ptr<KPtySimulator> Receiver(bool talking) {
    KSimDeviceOptions options;
    options.streaming = talking;
    options.silent = !talking;
    std::string error;
    return Serve(KSimFactory::CreateDevice(6, 38400, options, error));
}

struct Row {
    std::string name;
    std::function<std::string()> stage;  // sets the finding up, answers the port to name
    std::string launcher;
    int exitCode;
    std::string check;   // the finding to look at
    std::string status;  // its status
    std::string text;    // in its message, or remedy for "->" texts
};

struct Seen {
    ProgramRun run;
    nlohmann::json document;
};

nlohmann::json Finding(const nlohmann::json& document, const std::string& check) {
    for (const auto& f : document["findings"])
        if (f["check"] == check) return f;
    return nullptr;
}

TEST(Doctor, ReportsEachStagedFindingWithItsRemedy) {
    std::unique_ptr<KPtySimulator> talking = Receiver(true), silent = Receiver(false), held = Receiver(true),
                                   locked = Receiver(true), lockedByMinicom = Receiver(true),
                                   lockedUnknown = Receiver(true), denied = Receiver(true);
    std::mt19937 random(3);
    std::vector<uint8_t> noise(20000);
    for (uint8_t& byte : noise) byte = static_cast<uint8_t>(random());
    auto noisy = Serve(std::make_unique<KSimReplayDevice>(noise, 115200u, "noise"));
    Holder holder(held->SlavePath());
    TempDir locks("velinor-locks");
    ::setenv("VELINOR_LOCK_DIR", locks.Path().c_str(), 1);
    Holder lockOwner("/dev/null");
    // A program that probes serial devices is a note, not a problem: it must not fail a port
    // where a receiver talks.
    Holder prober("/dev/null", "gpsd");
    const std::string padded = std::string(10 - std::to_string(lockOwner.Pid()).size(), ' ') + std::to_string(lockOwner.Pid());
    // Ours, minicom's own form (its name and the user's after the pid), and one with no pid at all.
    const std::vector<std::pair<std::string, std::string>> lockFiles = {
        {locked->SlavePath(), padded + "\n"},
        {lockedByMinicom->SlavePath(), padded + " minicom someone\n"},
        {lockedUnknown->SlavePath(), "garbage"},
    };
    const auto lockFileOf = [&](const std::string& device) { return locks.File("LCK.." + device.substr(device.rfind('/') + 1)); };
    for (const auto& [device, content] : lockFiles) std::ofstream(lockFileOf(device)) << content;
    const bool root = ::geteuid() == 0;
    if (root) {
        // As a serial adapter's device is: read and write for the dialout group only.
        const group* dialout = ::getgrnam("dialout");
        ASSERT_EQ(::chown(denied->SlavePath().c_str(), 0, dialout ? dialout->gr_gid : 20), 0);
        ASSERT_EQ(::chmod(denied->SlavePath().c_str(), 0660), 0);
    }

    std::vector<Row> rows = {
        {"missing device", [] { return std::string("/dev/ttyUSB77"); }, "", 1, "device", "problem", "no such device"},
        {"a talking receiver", [&] { return talking->SlavePath(); }, "", 0, "line", "ok", "Leica receiver (protocol lb2) talks at 38400"},
        {"nothing talks", [&] { return silent->SlavePath(); }, "", 1, "line", "problem", "nothing arrives on the line at any rate"},
        {"noise only", [&] { return noisy->SlavePath(); }, "", 1, "line", "problem", "no receiver protocol was recognised"},
        {"held open", [&] { return held->SlavePath(); }, "", 1, "holders", "problem",
         "(pid " + std::to_string(holder.Pid()) + ")"},
        {"locked", [&] { return locked->SlavePath(); }, "", 1, "holders", "problem",
         "is locked by " + std::string("cli_tests (pid ") + std::to_string(lockOwner.Pid()) + ")"},
        {"locked, minicom's form", [&] { return lockedByMinicom->SlavePath(); }, "", 1, "holders", "problem",
         "is locked by " + std::string("cli_tests (pid ") + std::to_string(lockOwner.Pid()) + ")"},
        {"locked, owner unknown", [&] { return lockedUnknown->SlavePath(); }, "", 1, "holders", "problem",
         "who holds the lock cannot be told"},
    };
    if (root)
        rows.push_back({"permission denied", [&] { return denied->SlavePath(); },
                        "setpriv --reuid=65534 --regid=65534 --clear-groups", 1, "permission", "problem",
                        "-> sudo usermod -aG dialout nobody"});
    std::vector<Seen> seen(rows.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < rows.size(); ++i)
        threads.emplace_back([&, i] {
            seen[i].run = RunVelinor("doctor --json " + rows[i].stage(), "", "/", rows[i].launcher);
            seen[i].document = nlohmann::json::parse(seen[i].run.out, nullptr, false);
        });
    for (std::thread& t : threads) t.join();
    ::unsetenv("VELINOR_LOCK_DIR");
    for (const auto& [device, content] : lockFiles) EXPECT_EQ(ReadWholeFile(lockFileOf(device)), content) << "theirs stays";

    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.name + "\n" + seen[i].run.Both());
        ASSERT_FALSE(seen[i].document.is_discarded());
        EXPECT_EQ(seen[i].run.exitCode, row.exitCode);
        const nlohmann::json finding = Finding(seen[i].document, row.check);
        ASSERT_FALSE(finding.is_null());
        EXPECT_EQ(finding["status"], row.status);
        const bool remedy = row.text.rfind("-> ", 0) == 0;
        const std::string where = remedy ? finding["remedy"].get<std::string>() : finding["message"].get<std::string>();
        EXPECT_NE(where.find(remedy ? row.text.substr(3) : row.text), std::string::npos) << where;
        EXPECT_EQ(seen[i].document["problems"], row.exitCode == 0 ? 0 : seen[i].document["problems"].get<int>());
        if (row.exitCode == 0) {
            EXPECT_EQ(Finding(seen[i].document, "prober")["status"], "note");
        }
    }
    if (!root) GTEST_SKIP() << "the permission row needs root to run the program as another user";
}

} // namespace
#endif
