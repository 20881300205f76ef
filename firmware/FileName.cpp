#include "firmware/FileName.h"

std::string FileNameOf(std::string_view path)
{
    const std::size_t separator = path.find_last_of(PathSeparators());
    return std::string(separator == std::string_view::npos ? path : path.substr(separator + 1));
}
