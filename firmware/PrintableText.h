#pragma once

#include <string>
#include <string_view>

// Text that comes from outside (a file's name, the switch's model text) shown
// as it is, except its control bytes (0x00 to 0x1F and 0x7F), which are
// written as \xNN: an escape sequence must not retitle the user's terminal,
// and a line break must not split the line it is shown on. Bytes from 0x80 up
// pass unchanged, so names in UTF-8 stay readable.
std::string PrintableText(std::string_view text);
