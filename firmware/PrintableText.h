#pragma once

#include <string>
#include <string_view>

// Text that comes from outside (a file's name, the switch's model text) shown
// as it is, except its control characters, which are written as \xNN: an
// escape sequence must not retitle the user's terminal, and a line break must
// not split the line it is shown on. Those are 0x00 to 0x1F, 0x7F and the C1
// controls U+0080 to U+009F in their UTF-8 form (a terminal takes C2 9B for
// CSI), and every byte that belongs to no UTF-8 character (a terminal in a
// Latin-1 locale takes a lone 9B for CSI). Other UTF-8 characters pass
// unchanged, so names in UTF-8 stay readable.
std::string PrintableText(std::string_view text);
