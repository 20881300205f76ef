#include "serial/SettingsFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

namespace {

// An editor on Windows (Notepad, until 2019) starts UTF-8 with it.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// A key quoted in an error: enough to recognise it, never a screenful.
constexpr std::size_t kQuotedKeyMax = 40;

// "permission denied", as the rest of the program words the system's errors.
std::string Reason(const std::error_code& ec)
{
    std::string reason = ec.message();
    if (!reason.empty())
        reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
    return reason;
}

} // namespace

std::string_view SettingsFile::Trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool SettingsFile::Read(const std::string& path, std::string& error)
{
    namespace fs = std::filesystem;
    m_settings.clear();
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    // A folder on the way that this user may not search hides whether the
    // file is there at all. Taken as none: the common case is HOME left at
    // /root by su or setpriv, where this user keeps no settings.
    if (status.type() == fs::file_type::not_found || ec == std::errc::permission_denied)
        return true;
    if (ec) {
        error = path + ": cannot be read: " + Reason(ec);
        return false;
    }
    if (fs::is_directory(status)) {
        error = path + ": is a directory, not a settings file";
        return false;
    }
    if (!fs::is_regular_file(status)) {
        error = path + ": is not a regular file, so not a settings file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read: " + Reason(std::error_code(errno, std::generic_category()));
        return false;
    }
    // One byte past the limit tells a file at the limit from a larger one,
    // even one that grows while it is read.
    std::string text(kMaxBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        error = path + ": cannot be read";
        return false;
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxBytes) {
        error = path + ": larger than " + std::to_string(kMaxBytes) + " bytes, so not a settings file";
        return false;
    }
    return Parse(text, path, error);
}

bool SettingsFile::Parse(const std::string& text, const std::string& path, std::string& error)
{
    std::string_view rest(text);
    if (rest.substr(0, kByteOrderMark.size()) == kByteOrderMark)
        rest.remove_prefix(kByteOrderMark.size());
    for (int number = 1; !rest.empty(); ++number) {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::string at = path + ":" + std::to_string(number) + ": ";
        for (const char c : line) {
            const auto byte = static_cast<unsigned char>(c);
            if ((byte < 0x20 && c != '\t') || byte == 0x7F) {
                static constexpr char kHex[] = "0123456789abcdef";
                error = at + "holds the control byte 0x" + kHex[byte >> 4] + kHex[byte & 0x0F]
                    + ": not a settings file";
                return false;
            }
        }
        line = Trimmed(line);
        if (line.empty() || line.front() == '#')
            continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            error = at + "expected \"port = COMn\" or \"map = COMn=DEVICE\"";
            return false;
        }
        const std::string_view key = Trimmed(line.substr(0, eq));
        if (key != "port" && key != "map") {
            const bool cut = key.size() > kQuotedKeyMax;
            error = at + "unknown setting \"" + std::string(key.substr(0, kQuotedKeyMax)) + (cut ? "..." : "")
                + "\" (the settings are port and map)";
            return false;
        }
        m_settings.push_back({number, std::string(key), std::string(Trimmed(line.substr(eq + 1)))});
    }
    return true;
}
