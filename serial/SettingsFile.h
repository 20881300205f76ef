#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One file of kept port settings, as people write them by hand:
//
//   # the upgrade cable
//   map  = COM1=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0
//   port = COM1
//
// One "key = value" a line; blank lines and lines that start with # are
// skipped, and the blanks around the key and the value are not part of
// them. Only the keys port and map exist; what their values mean is
// PortSettings' business.
class SettingsFile {
public:
    struct Setting {
        int line = 0;
        std::string key;   // "port" or "map"
        std::string value; // as written, blanks around it removed
    };

    // Far more than anyone writes by hand; a larger file is something else.
    static constexpr std::uintmax_t kMaxBytes = 65536;

    // Reads path. A file that does not exist, or that this user cannot
    // know of, is no error and holds nothing.
    // False, with error naming the file (and the line), for one that exists
    // but cannot be read, is no regular file (a FIFO would wait for a
    // writer), is larger than kMaxBytes, or holds a line that is not text
    // or not a setting.
    bool Read(const std::string& path, std::string& error);

    const std::vector<Setting>& Settings() const { return m_settings; }

    // Without the blanks (spaces, tabs) around it: what a value is, here and
    // in KVM_UPGRADE_MAP's entries.
    static std::string_view Trimmed(std::string_view text);

private:
    bool Parse(const std::string& text, const std::string& path, std::string& error);

    std::vector<Setting> m_settings;
};
