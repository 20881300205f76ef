#pragma once

#include <filesystem>
#include <string>

// The lock file that terminal programs (minicom, cu, many others) take for a
// serial device: LCK..<name> in the system's lock folder, holding the
// holder's pid as ten ASCII digits and a line end. Neither flock nor the
// terminal's exclusive flag keeps such a program off the line; its lock file
// tells us it is there, and ours tells it we are.
class UucpLockFile {
public:
    // lockDir: where the lock files are; empty = the system's (/run/lock,
    // else /var/lock).
    explicit UucpLockFile(std::filesystem::path lockDir = {});
    ~UucpLockFile();
    UucpLockFile(const UucpLockFile&) = delete;
    UucpLockFile& operator=(const UucpLockFile&) = delete;

    // Takes the lock for device (the name of the node it resolves to, as the
    // other programs name it). False when a live process other than this one
    // holds it: holderPid says which. A stale lock, whose process is gone, is
    // taken over. Where no lock file can be made (no lock folder, no right to
    // write there) the device is not refused: the lock is only a courtesy
    // between programs.
    bool Acquire(const std::string& device, long& holderPid);
    // Removes our lock file, if it is still ours. Safe to call twice, and
    // from another thread at exit.
    void Release();

    // The lock file's path for device, in lockDir.
    std::filesystem::path PathFor(const std::string& device) const;

private:
    std::filesystem::path m_dir;
    std::string m_taken; // the lock file we made; empty when none
};
