#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The largest firmware file: the switch's flash holds no more.
inline constexpr std::uint32_t kImageCapacity = 131072;

// How reading a firmware file ended.
struct FirmwareFileResult {
    enum class Error {
        None,
        NotFound,         // ENOENT, ENOTDIR
        PermissionDenied, // EACCES, EPERM
        IsDirectory,
        NotRegularFile,   // a pipe, a device, a socket: nothing that holds an image
        ReadFailed,       // opened, but a read failed part-way
        TooLarge,         // at least one byte follows the buffer's capacity
    };

    Error error = Error::None;
    int sysErrno = 0;      // errno where the failure happened, 0 when none
    std::size_t size = 0;  // bytes stored in the buffer

    bool Ok() const { return error == Error::None; }
    // Why, for a person: "is a directory", "permission denied", ...
    std::string Describe() const;
};

// Reads the regular file at path whole into buffer, which holds capacity
// bytes; never stores past it. Anything but a regular file is refused without
// reading from it (a FIFO would block the caller, /dev/zero never ends, and a
// pipe can be read only once, so what was checked could never be sent).
FirmwareFileResult ReadFirmwareFile(const std::string& path, std::uint8_t* buffer,
                                    std::size_t capacity);
