#pragma once
#include <string>

// The lock file that serial programs on Unix agree on (minicom, picocom, cu, ser2net...):
// <folder>/LCK..<device's base name>, holding the owner's pid as "%10d\n" (old programs write it
// as four binary bytes). A lock whose owner is alive is respected; one whose owner is gone is
// taken over. Most users may not write the system's lock folder: then no lock is taken and the
// open goes on, guarded by the device's own exclusive claim and advisory lock.
class KUucpLock {
public:
    KUucpLock() = default;
    ~KUucpLock();
    KUucpLock(KUucpLock&& other) noexcept;
    KUucpLock& operator=(KUucpLock&& other) noexcept;
    KUucpLock(const KUucpLock&) = delete;
    KUucpLock& operator=(const KUucpLock&) = delete;

    // Takes the lock of `device` in `folder`. False when a live process other than this one holds
    // it (its pid in `ownerPid`); true otherwise, also when the folder cannot be written (then
    // Held() is false).
    bool Acquire(const std::string& device, int& ownerPid, const std::string& folder = Folder());
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

private:
    std::string path; // the lock file we hold, empty when none
};
