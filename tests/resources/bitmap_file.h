// tests/resources/bitmap_file.h: writes what the tests painted or captured
// to a .bmp file in the build folder, so that a person can look at it.
#pragma once
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

// Writes top-down 32-bit pixels (0x00RRGGBB) as a bottom-up 24-bit .bmp in
// DIRTALLY_BUILD_DIR (or the current folder); returns the Windows path.
inline std::string SaveBitmapFile(const char *name, const std::vector<DWORD> &pixels, int width, int height) {
    const char *buildDir = std::getenv("DIRTALLY_BUILD_DIR");
    std::string path = buildDir != nullptr ? "Z:" + std::string(buildDir) + "/" + name : std::string(name);
    const int rowBytes = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(rowBytes * height);
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    std::string bytes(reinterpret_cast<const char *>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char *>(&info), sizeof info);
    for (int y = height - 1; y >= 0; --y) {
        std::string row(static_cast<size_t>(rowBytes), '\0');
        for (int x = 0; x < width; ++x) {
            DWORD pixel = pixels[static_cast<size_t>(y * width + x)];
            row[static_cast<size_t>(x * 3)] = static_cast<char>(pixel & 0xFF);
            row[static_cast<size_t>(x * 3 + 1)] = static_cast<char>((pixel >> 8) & 0xFF);
            row[static_cast<size_t>(x * 3 + 2)] = static_cast<char>((pixel >> 16) & 0xFF);
        }
        bytes += row;
    }
    HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(out);
    }
    return path;
}
