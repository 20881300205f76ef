#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes data as the whole of the file at path, retrying a write cut short by
// a signal. False when the file could not be written or closed whole.
bool WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& data);
