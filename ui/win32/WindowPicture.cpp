#include "ui/win32/WindowPicture.h"

#include <cstdio>
#include <memory>

namespace {

int RowBytes(int width)
{
    return (width * 3 + 3) & ~3;
}

void PutLittleEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

} // namespace

WindowPicture WindowPicture::Take(HWND window)
{
    WindowPicture picture;
    RECT area{};
    if (!GetWindowRect(window, &area) || area.right <= area.left || area.bottom <= area.top)
        return picture;
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height; // bottom-up, as a BMP file stores it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr && bits != nullptr) {
        const HGDIOBJ old = SelectObject(memory, bitmap);
        if (BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY)) {
            GdiFlush();
            const auto* data = static_cast<const std::uint8_t*>(bits);
            picture.m_rows.assign(data, data + static_cast<std::size_t>(RowBytes(width)) * height);
            picture.m_width = width;
            picture.m_height = height;
        }
        SelectObject(memory, old);
    }
    if (bitmap != nullptr)
        DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return picture;
}

std::uint32_t WindowPicture::Pixel(int x, int y) const
{
    const std::size_t at =
        static_cast<std::size_t>(m_height - 1 - y) * RowBytes(m_width) + static_cast<std::size_t>(x) * 3;
    return static_cast<std::uint32_t>(m_rows[at]) | static_cast<std::uint32_t>(m_rows[at + 1]) << 8 |
           static_cast<std::uint32_t>(m_rows[at + 2]) << 16;
}

bool WindowPicture::WriteBmp(const std::string& path) const
{
    if (Empty())
        return false;
    constexpr std::uint32_t kHeaders = 14 + 40;
    std::vector<std::uint8_t> file;
    file.push_back('B');
    file.push_back('M');
    PutLittleEndian(file, kHeaders + static_cast<std::uint32_t>(m_rows.size()), 4);
    PutLittleEndian(file, 0, 4);
    PutLittleEndian(file, kHeaders, 4);
    PutLittleEndian(file, 40, 4);
    PutLittleEndian(file, static_cast<std::uint32_t>(m_width), 4);
    PutLittleEndian(file, static_cast<std::uint32_t>(m_height), 4);
    PutLittleEndian(file, 1, 2);
    PutLittleEndian(file, 24, 2);
    PutLittleEndian(file, BI_RGB, 4);
    PutLittleEndian(file, static_cast<std::uint32_t>(m_rows.size()), 4);
    PutLittleEndian(file, 2835, 4); // 72 dpi
    PutLittleEndian(file, 2835, 4);
    PutLittleEndian(file, 0, 4);
    PutLittleEndian(file, 0, 4);
    file.insert(file.end(), m_rows.begin(), m_rows.end());

    const std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(path.c_str(), "wb"), std::fclose);
    return out && std::fwrite(file.data(), 1, file.size(), out.get()) == file.size();
}

bool WindowPicture::Save(HWND window, const std::string& path)
{
    return Take(window).WriteBmp(path);
}
