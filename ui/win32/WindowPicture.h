#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// What the screen shows of a window, as the window system has drawn it
// (frame and controls included), not what the window would draw now: a
// window that has stopped painting shows as such.
class WindowPicture {
public:
    // Copies the window's rectangle from the screen. Empty when it cannot.
    static WindowPicture Take(HWND window);

    bool Empty() const { return m_width == 0 || m_height == 0; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // The pixel at x, y as 0x00RRGGBB.
    std::uint32_t Pixel(int x, int y) const;
    // As a 24-bit BMP file. False when it cannot be written.
    bool WriteBmp(const std::string& path) const;

    // Take and WriteBmp in one.
    static bool Save(HWND window, const std::string& path);

private:
    int m_width = 0;
    int m_height = 0;
    std::vector<std::uint8_t> m_rows; // bottom-up BGR rows, each padded to 4 bytes
};
