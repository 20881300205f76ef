#pragma once

#include <string>
#include <string_view>

// The characters that end a folder's name in a path on this system: "/",
// and on Windows "\" as well.
std::string_view PathSeparators();

// A path's last part, the chosen file's name without its folder: what the
// loader reads a model and a date from when the file holds no info record.
std::string FileNameOf(std::string_view path);
