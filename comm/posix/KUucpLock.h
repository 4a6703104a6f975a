#pragma once
#include <string>

// Who a lock file says holds the device, as far as can be told.
struct KLockOwner {
    enum State {
        None,      // no lock file
        Gone,      // its pid is certainly not running: the lock is stale
        Live,      // its pid runs (maybe as another user's program)
        Unknown,   // no pid can be read from it (unreadable, empty, not a number): not stale
        Stuck,     // stale, but this user may not remove it (another user's, in a sticky folder)
    };
    State state = None;
    int pid = 0;  // the pid read, when there is one
};

// The lock file that serial programs on Unix agree on (minicom, picocom, cu, ser2net...):
// <folder>/LCK..<device's base name>, holding the owner's pid in decimal, after blanks and
// followed by anything (ours "%10d\n", minicom's "%10ld minicom user\n", some end in "\r\n"); old
// programs write it as four binary bytes. A lock is stale only when its pid is certainly not
// running; any other lock is respected. Most users may not write the system's lock folder: then
// no lock is taken and the open goes on, guarded by the device's own exclusive claim and
// advisory lock.
class KUucpLock {
public:
    KUucpLock() = default;
    ~KUucpLock();
    KUucpLock(KUucpLock&& other) noexcept;
    KUucpLock& operator=(KUucpLock&& other) noexcept;
    KUucpLock(const KUucpLock&) = delete;
    KUucpLock& operator=(const KUucpLock&) = delete;

    // Takes the lock of `device` in `folder`. False when it is not ours to take (`owner` says
    // whose it is and why); true otherwise, also when the folder cannot be written (then Held()
    // is false).
    bool Acquire(const std::string& device, KLockOwner& owner, const std::string& folder = Folder());
    // Removes the lock file, if it is still ours.
    void Release();
    bool Held() const { return !path.empty(); }
    const std::string& Path() const { return path; }

    // $VELINOR_LOCK_DIR when set (tests), else the system's lock folder.
    static std::string Folder();
    // "LCK..ttyUSB0" for /dev/ttyUSB0 and for any link to it (such as its /dev/serial/by-id name).
    static std::string FileName(const std::string& device);
    // The pid in a lock file, 0 when there is none or it cannot be read.
    static int ReadOwner(const std::string& lockFile);
    // What the lock file says: no file, a stale one, a live owner, or one that cannot be told
    // (never Stuck: only taking the lock over finds that out).
    static KLockOwner Inspect(const std::string& lockFile);

private:
    std::string path; // the lock file we hold, empty when none
};
