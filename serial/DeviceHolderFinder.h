#pragma once

#include <filesystem>
#include <optional>
#include <string>

// Which process holds a terminal device open: asked at every open, since
// another program on the line (one that took no lock) must keep us off it,
// and when an open failed because the device is busy, so that the user
// learns what to stop.
// Reads /proc only (each process's descriptors, its command name, the
// advisory locks); nothing is opened or waited on, and another user's
// processes, hidden from non-root, are passed over.
class DeviceHolderFinder {
public:
    struct Holder {
        long pid = 0;
        std::string name; // /proc/PID/comm, control bytes shown as '?'
    };

    explicit DeviceHolderFinder(std::filesystem::path procDir = "/proc");

    // A process other than exclude with a descriptor on the same device as
    // device (the same device number, whatever path either was opened by).
    // Of several (a pseudo-terminal's keeper and the program that took the
    // port), the one /proc/locks names as holding the lock on the device,
    // else the one of lowest pid. None when no process can be seen holding it.
    std::optional<Holder> Find(const std::string& device, long exclude) const;

    // pid's command name, as Find gives it; empty when it cannot be seen.
    std::string CommandNameOf(long pid) const;

    // Bounds of the walk, so that a system with a great many processes or
    // descriptors costs a failed open a bounded time.
    static constexpr int kMaxProcesses = 16384;
    static constexpr int kMaxDescriptors = 65536;
    static constexpr int kMaxLocks = 65536;

private:
    long LockHolder(const std::string& device) const;
    std::string CommandName(const std::string& pidDir) const;

    std::filesystem::path m_procDir;
};
