#include "log/Logs.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "monitors/KStreamMonitor.h"
#include "time/KClock.h"
#include "time/KGPSTime.h"

namespace {

constexpr size_t kMessageMax = 2047;  // characters of a formatted message
constexpr size_t kLineMax = 2047;     // characters of a stream error line, newline included

std::atomic<bool> streamErrorsOn{false};

std::mutex& StateLock() {
    static std::mutex lock;
    return lock;
}
std::string& Directory() {
#if defined(_WIN32)
    static std::string dir = ".\\";
#else
    static std::string dir = "./";
#endif
    return dir;
}
KLogObserver& StreamObserver() {
    static KLogObserver observer;
    return observer;
}
KLogObserver& TextObserver() {
    static KLogObserver observer;
    return observer;
}

// One lock for every append, so lines written from several threads never interleave.
std::mutex& WriteLock() {
    static std::mutex lock;
    return lock;
}

struct LocalTime {
    int year, month, day, hour, minute, second;
};

LocalTime BreakDownLocal(int64_t seconds) {
    static std::mutex lock;  // localtime() shares one buffer
    const auto t = static_cast<std::time_t>(seconds);
    std::lock_guard<std::mutex> guard(lock);
    const std::tm* tm = std::localtime(&t);
    if (!tm) return {1980, 1, 6, 0, 0, 0};
    return {tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday, tm->tm_hour, tm->tm_min, tm->tm_sec};
}

std::string LocalStamp(const LocalTime& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%02d/%02d/%d %02d:%02d:%02d", t.month, t.day, t.year,
                  t.hour, t.minute, t.second);
    return text;
}

VELINOR_PRINTF(1, 0) std::string FormatMessage(const char* format, va_list args) {
    char text[kMessageMax + 1];
    std::vsnprintf(text, sizeof text, format, args);  // longer messages are cut at 2047
    return text;
}

// Appends one whole line with a single write; a file that cannot be opened loses the line.
void AppendLine(const std::string& path, const std::string& line) {
    std::lock_guard<std::mutex> guard(WriteLock());
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (!file) return;
    char buffer[4096];
    std::setvbuf(file, buffer, _IOFBF, sizeof buffer);
    std::fwrite(line.data(), 1, line.size(), file);
    std::fflush(file);
    std::fclose(file);
}

void Notify(KLogObserver& which, const std::string& client, const std::string& message) {
    KLogObserver observer;
    {
        std::lock_guard<std::mutex> guard(StateLock());
        observer = which;
    }
    if (observer) observer(client, message);
}

} // namespace

void SetStreamErrorLogEnabled(bool enabled) { streamErrorsOn.store(enabled); }
bool StreamErrorLogEnabled() { return streamErrorsOn.load(); }

std::string LogDirectory() {
    std::lock_guard<std::mutex> guard(StateLock());
    return Directory();
}

void SetLogDirectory(const std::string& prefix) {
    std::lock_guard<std::mutex> guard(StateLock());
    Directory() = prefix;
}

void SetStreamErrorObserver(KLogObserver observer) {
    std::lock_guard<std::mutex> guard(StateLock());
    StreamObserver() = std::move(observer);
}

void SetSixSigmaObserver(KLogObserver observer) {
    std::lock_guard<std::mutex> guard(StateLock());
    TextObserver() = std::move(observer);
}

void SixSigmaLog(const char* format, ...) {
    const LocalTime month = BreakDownLocal(KClock::Current().WallSeconds());
    char name[132];
    std::snprintf(name, sizeof name, "%sQvxSixSigma_%04d_%02d.txt", LogDirectory().c_str(),
                  month.year, month.month);

    va_list args;
    va_start(args, format);
    const std::string message = FormatMessage(format, args);
    va_end(args);

    const std::string stamp = LocalStamp(BreakDownLocal(KClock::Current().WallSeconds()));
    AppendLine(name, stamp + " :: " + message + "\n");
    Notify(TextObserver(), std::string(), message);
}

void StreamErrorLog(const KStreamMonitor* monitor, const char* format, ...) {
    const KGPSTime now;  // before the switch: a clock before 1980 is logged even while off
    if (!StreamErrorLogEnabled()) return;

    const std::string client = monitor && monitor->ClientName() ? monitor->ClientName() : "?";
    va_list args;
    va_start(args, format);
    const std::string message = FormatMessage(format, args);
    va_end(args);

    const std::string stamp = LocalStamp(BreakDownLocal(KClock::Current().WallSeconds()));
    const int32_t month = now.GetMonth();
    const int32_t year = now.GetYear();

    char name[260];
    std::snprintf(name, sizeof name, "%sQuorvexStreamErrors_%s_%04d_%02d.log",
                  LogDirectory().c_str(), client.c_str(), year, month);

    // A read-only log is made writable again; its other attributes stay.
    std::error_code ec;
    const auto status = std::filesystem::status(name, ec);
    if (!ec && std::filesystem::exists(status) &&
        (status.permissions() & std::filesystem::perms::owner_write) ==
            std::filesystem::perms::none) {
        std::filesystem::permissions(name, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ec);
    }

    std::string line = stamp + " (GPS " + now.Format() + ") +> " + client + " +> " + message;
    if (line.size() > kLineMax - 1) line.resize(kLineMax - 1);
    line += '\n';
    AppendLine(name, line);
    Notify(StreamObserver(), client, message);
}
