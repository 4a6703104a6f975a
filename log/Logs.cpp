#include "log/Logs.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
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

// Observers run under this lock, so that removing one waits until no call to it is in flight
// (an observer's captured state may die right after its removal). Recursive: an observer may
// itself log.
std::recursive_mutex& ObserverLock() {
    static std::recursive_mutex lock;
    return lock;
}
KLogObserver& StreamObserver() {
    static KLogObserver observer;
    return observer;
}
KLogObserver& TextObserver() {
    static KLogObserver observer;
    return observer;
}

// One lock for every append, so lines written from several threads never interleave, even
// where appending is not atomic.
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
    char text[80];
    std::snprintf(text, sizeof text, "%02d/%02d/%d %02d:%02d:%02d", t.month, t.day, t.year,
                  t.hour, t.minute, t.second);
    return text;
}

// Shortens `text` to at most `limit` bytes without leaving half of a UTF-8 sequence at the end.
void CutTo(std::string& text, size_t limit) {
    if (text.size() <= limit) return;
    size_t end = limit;
    // Step back over continuation bytes to the lead byte of the last sequence.
    size_t lead = end;
    while (lead > 0 && (static_cast<unsigned char>(text[lead - 1]) & 0xC0) == 0x80) --lead;
    if (lead > 0) {
        const auto first = static_cast<unsigned char>(text[lead - 1]);
        const size_t need = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
        if (first >= 0xC0 && (end - (lead - 1)) < need) end = lead - 1;
    }
    text.resize(end);
}

VELINOR_PRINTF(1, 0) std::string FormatMessage(const char* format, va_list args) {
    va_list again;
    va_copy(again, args);
    char text[kMessageMax + 1];
    text[0] = '\0';
    const int length = std::vsnprintf(text, sizeof text, format, args);
    std::string message;
    if (length < 0) {
        // The arguments could not be formatted: the bare format still says where it came from.
        message = format;
    } else if (static_cast<size_t>(length) <= kMessageMax) {
        message.assign(text, static_cast<size_t>(length));
    } else {
        // Format the whole text once more so that the cut can respect character boundaries.
        message.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(message.data(), message.size(), format, again);
        message.resize(static_cast<size_t>(length));
    }
    va_end(again);
    CutTo(message, kMessageMax);
    return message;
}

#if defined(_WIN32)
std::FILE* OpenForAppend(const std::string& path) { return std::fopen(path.c_str(), "a"); }

// Why appending to `path` would fail, or empty; a missing file is not created.
std::string AppendProblem(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return std::string();
    if (!std::filesystem::is_regular_file(path, ec)) return "not a regular file";
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (!file) return std::strerror(errno);
    std::fclose(file);
    return std::string();
}

void MakeWritable(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) return;
    if ((status.permissions() & std::filesystem::perms::owner_write) == std::filesystem::perms::none)
        std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ec);
}
#else
// Log names are predictable and their folder may be shared: a symbolic link planted under the
// name must not make us append to (or unprotect) whatever file it points at, a FIFO must not
// block us, and programs we start must not inherit the file. O_NONBLOCK only matters for the
// open of a FIFO; on a regular file it changes nothing.
int OpenRegular(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::FILE* OpenForAppend(const std::string& path) {
    const int fd = OpenRegular(path, O_WRONLY | O_APPEND | O_CREAT);
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, "a");
    if (!file) ::close(fd);
    return file;
}

// Why appending to `path` would fail, or empty. A missing file is not created: its folder is
// asked instead.
std::string AppendProblem(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno != ENOENT) return std::strerror(errno);
        const std::filesystem::path folder = std::filesystem::path(path).parent_path();
        const std::string where = folder.empty() ? "." : folder.string();
        struct stat place {};
        if (::stat(where.c_str(), &place) != 0) return "its folder: " + std::string(std::strerror(errno));
        if (!S_ISDIR(place.st_mode)) return "its folder is not a folder";
        if (::faccessat(AT_FDCWD, where.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
            return "its folder may not be written (" + std::string(std::strerror(errno)) + ")";
        return std::string();
    }
    if (S_ISLNK(info.st_mode)) return "a symbolic link, which the log does not follow";
    if (!S_ISREG(info.st_mode)) return "not a regular file";
    // A read-only log is made writable before each line: only one that is not ours stays shut.
    const int fd = OpenRegular(path, O_WRONLY | O_APPEND);
    if (fd >= 0) {
        ::close(fd);
        return std::string();
    }
    if (errno == EACCES && info.st_uid == ::geteuid()) return std::string();
    return std::strerror(errno);
}

// Gives a read-only log its owner's write permission back, on the file itself only.
void MakeWritable(const std::string& path) {
    const int fd = OpenRegular(path, O_RDONLY);
    if (fd < 0) return;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && (info.st_mode & S_IWUSR) == 0) ::fchmod(fd, (info.st_mode & 07777) | S_IWUSR);
    ::close(fd);
}
#endif

// Appends one whole line with a single write; a file that cannot be opened loses the line
// (false).
bool AppendLine(const std::string& path, const std::string& line) {
    std::lock_guard<std::mutex> guard(WriteLock());
    std::FILE* file = OpenForAppend(path);
    if (!file) return false;
    // Fully buffered and large enough for a whole line (even with Windows' CR LF expansion), so
    // the line leaves in one write.
    char buffer[2 * (kMessageMax + 128)];
    std::setvbuf(file, buffer, _IOFBF, sizeof buffer);
    std::fwrite(line.data(), 1, line.size(), file);
    const bool flushed = std::fflush(file) == 0;
    return std::fclose(file) == 0 && flushed;
}

bool IsReadOnly(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) return false;
    return (status.permissions() & std::filesystem::perms::owner_write) == std::filesystem::perms::none;
}

KLogLosses& Losses() {
    static KLogLosses losses;
    return losses;
}

std::string StreamErrorLogPath(const std::string& client, int32_t year, int32_t month) {
    char name[64];
    std::snprintf(name, sizeof name, "_%04d_%02d.log", year, month);
    return LogDirectory() + "QuorvexStreamErrors_" + client + name;
}

void Notify(KLogObserver& which, const std::string& client, const std::string& message) {
    std::lock_guard<std::recursive_mutex> guard(ObserverLock());
    if (which) which(client, message);
}

} // namespace

std::string StreamErrorLogProblem(const std::string& clientName) {
    const KGPSTime now;
    const std::string path = StreamErrorLogPath(clientName, now.GetYear(), now.GetMonth());
    const std::string problem = AppendProblem(path);
    return problem.empty() ? problem : path + ": " + problem;
}

KLogLosses StreamErrorLogLosses() {
    std::lock_guard<std::mutex> guard(StateLock());
    return Losses();
}

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
    std::lock_guard<std::recursive_mutex> guard(ObserverLock());
    StreamObserver() = std::move(observer);
}

void SetSixSigmaObserver(KLogObserver observer) {
    std::lock_guard<std::recursive_mutex> guard(ObserverLock());
    TextObserver() = std::move(observer);
}

void SixSigmaLog(const char* format, ...) {
    const LocalTime month = BreakDownLocal(KClock::Current().WallSeconds());
    char name[64];
    std::snprintf(name, sizeof name, "QvxSixSigma_%04d_%02d.txt", month.year, month.month);
    const std::string path = LogDirectory() + name;

    va_list args;
    va_start(args, format);
    const std::string message = FormatMessage(format, args);
    va_end(args);

    // A read-only text log is left alone: its lines are dropped (the same for every user,
    // including one whom the file system would let write anyway).
    if (!IsReadOnly(path)) {
        const std::string stamp = LocalStamp(BreakDownLocal(KClock::Current().WallSeconds()));
        AppendLine(path, stamp + " :: " + message + "\n");
    }
    Notify(TextObserver(), std::string(), message);
}

void StreamErrorLog(const KStreamMonitor* monitor, const char* format, ...) {
    const KGPSTime now;  // before the switch: a clock before 1980 is logged even while off
    const bool enabled = StreamErrorLogEnabled();
    bool observed;
    {
        std::lock_guard<std::recursive_mutex> guard(ObserverLock());
        observed = static_cast<bool>(StreamObserver());
    }
    if (!enabled && !observed) return;

    const std::string client = monitor && monitor->ClientName() ? monitor->ClientName() : "?";
    va_list args;
    va_start(args, format);
    const std::string message = FormatMessage(format, args);
    va_end(args);
    // An observer counts errors even while no file is written (the command line's summary).
    if (!enabled) {
        Notify(StreamObserver(), client, message);
        return;
    }

    const std::string stamp = LocalStamp(BreakDownLocal(KClock::Current().WallSeconds()));
    const int32_t month = now.GetMonth();
    const int32_t year = now.GetYear();

    const std::string path = StreamErrorLogPath(client, year, month);

    // A read-only log is made writable again; its other permissions stay.
    MakeWritable(path);

    std::string line = stamp + " (GPS " + now.Format() + ") +> " + client + " +> " + message;
    CutTo(line, kLineMax - 1);
    line += '\n';
    if (!AppendLine(path, line)) {
        std::lock_guard<std::mutex> guard(StateLock());
        ++Losses().lines;
        Losses().path = path;
    }
    Notify(StreamObserver(), client, message);
}
