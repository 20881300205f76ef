#include "firmware/PrintableText.h"

namespace {

unsigned char ByteAt(std::string_view text, std::size_t index)
{
    return index < text.size() ? static_cast<unsigned char>(text[index]) : 0;
}

// The length of the UTF-8 character that starts at index, 0 when the bytes
// there are none (a stray continuation byte, an overlong form, a surrogate,
// a sequence cut short).
std::size_t Utf8Length(std::string_view text, std::size_t index)
{
    const unsigned char lead = ByteAt(text, index);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80; // the second byte's range, narrower after some leads
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char byte = ByteAt(text, index + k);
        if (byte < (k == 1 ? low : 0x80) || byte > (k == 1 ? high : 0xBF))
            return 0;
    }
    return length;
}

} // namespace

std::string PrintableText(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    std::size_t index = 0;
    while (index < text.size()) {
        const std::size_t length = Utf8Length(text, index);
        const unsigned char lead = ByteAt(text, index);
        // U+0080 to U+009F are the C1 controls, CSI and OSC among them.
        const bool control = length == 1 ? lead < 0x20 || lead == 0x7F
                                         : length == 0 || (lead == 0xC2 && ByteAt(text, index + 1) < 0xA0);
        const std::size_t taken = length == 0 ? 1 : length;
        if (!control) {
            shown.append(text.substr(index, taken));
        } else {
            for (std::size_t k = 0; k < taken; ++k) {
                const unsigned char byte = ByteAt(text, index + k);
                shown += "\\x";
                shown += kHex[byte >> 4];
                shown += kHex[byte & 0x0F];
            }
        }
        index += taken;
    }
    return shown;
}
