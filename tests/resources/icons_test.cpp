// Checks the icons as they are compiled into the program against the text
// grids they are drawn in: image format, palette, every pixel and mask bit,
// the icon groups, and the icons as the system paints them.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bitmap_file.h"
#include "resource.h"
#include "support.h"

namespace {

const WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// The platform's standard 16-colour palette, in index order (0x00RRGGBB).
const DWORD kStandardColours[16] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};

struct ImageRow {
    WORD imageId;  // RT_ICON id
    WORD groupId;  // RT_GROUP_ICON id
    int size;
    const char *grid;
    const char *why;
};

// The four images in the order the group icons number them.
const ImageRow kImages[] = {
    {1, IDI_APP, 32, "app32.txt", "application icon, large image first"},
    {2, IDI_APP, 16, "app16.txt", "application icon, small image"},
    {3, IDI_SUBFOLDER, 16, "subfolder.txt", "closed folder of subfolder rows"},
    {4, IDI_PATH_FOLDER, 16, "pathfolder.txt", "open folder of path rows"},
};

// The Windows path of the folder holding the grids, found from this file's
// own source path (the build compiles it by its absolute Linux path).
std::string GridFolder() {
    std::string source = __FILE__;
    std::string folder = source.substr(0, source.find_last_of("/\\") + 1);
    return UnixToWindows(folder + "../../res/icons/");
}

// The non-comment, non-empty lines of a grid or legend file.
std::vector<std::string> DataLines(const std::string &name) {
    bool exists = false;
    std::string text = ReadWholeFile(GridFolder() + name, &exists);
    EXPECT_TRUE(exists) << GridFolder() + name;
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty() && line[0] != '#') {
            lines.push_back(line);
        }
    }
    return lines;
}

// Character to palette index, as legend.txt defines it; checks that the
// legend's colours are the standard ones at the indices it gives them.
std::map<char, int> ReadLegend() {
    std::map<char, int> indexOf;
    for (const std::string &line : DataLines("legend.txt")) {
        std::istringstream fields(line);
        std::string character, rgb;
        int index = -1;
        fields >> character >> index >> rgb;
        SCOPED_TRACE("legend line: " + line);
        EXPECT_EQ(character.size(), 1u);
        if (index < 0 || index > 15 || character.size() != 1) {
            ADD_FAILURE() << "bad legend line";
            continue;
        }
        EXPECT_EQ(std::stoul(rgb, nullptr, 16), kStandardColours[index]);
        indexOf[character[0]] = index;
    }
    EXPECT_EQ(indexOf.size(), 16u);
    EXPECT_EQ(indexOf.count('.'), 0u) << "'.' means transparent";
    return indexOf;
}

// The bytes of one of the program's resources in US English.
std::vector<BYTE> ResourceBytes(LPCSTR type, WORD id) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceExA(module, type, MAKEINTRESOURCEA(id), kEnglishUs);
    if (found == nullptr) {
        return {};
    }
    const BYTE *data = static_cast<const BYTE *>(LockResource(LoadResource(module, found)));
    return data == nullptr ? std::vector<BYTE>() : std::vector<BYTE>(data, data + SizeofResource(module, found));
}

TEST(IconImages, FormatPaletteAndEveryPixelMatchTheGrids) {
    const std::map<char, int> indexOf = ReadLegend();
    for (const ImageRow &row : kImages) {
        SCOPED_TRACE(std::string(row.grid) + ": " + row.why);
        std::vector<std::string> grid = DataLines(row.grid);
        ASSERT_EQ(grid.size(), static_cast<size_t>(row.size));

        std::vector<BYTE> bytes = ResourceBytes(RT_ICON, row.imageId);
        ASSERT_GE(bytes.size(), sizeof(BITMAPINFOHEADER) + 16 * sizeof(RGBQUAD));
        BITMAPINFOHEADER header;
        std::memcpy(&header, bytes.data(), sizeof header);
        EXPECT_EQ(header.biSize, sizeof header);
        EXPECT_EQ(header.biWidth, row.size);
        EXPECT_EQ(header.biHeight, 2 * row.size) << "colour bitmap and mask";
        EXPECT_EQ(header.biPlanes, 1);
        EXPECT_EQ(header.biBitCount, 4);
        EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
        EXPECT_TRUE(header.biClrUsed == 0 || header.biClrUsed == 16);

        const size_t xorStride = static_cast<size_t>((row.size * 4 + 31) / 32 * 4);
        const size_t andStride = static_cast<size_t>((row.size + 31) / 32 * 4);
        const size_t paletteAt = sizeof header;
        const size_t xorAt = paletteAt + 16 * sizeof(RGBQUAD);
        const size_t andAt = xorAt + xorStride * static_cast<size_t>(row.size);
        ASSERT_EQ(bytes.size(), andAt + andStride * static_cast<size_t>(row.size));

        for (int i = 0; i < 16; ++i) {
            const BYTE *quad = &bytes[paletteAt + 4 * static_cast<size_t>(i)];
            DWORD colour = (static_cast<DWORD>(quad[2]) << 16) | (static_cast<DWORD>(quad[1]) << 8) | quad[0];
            EXPECT_EQ(colour, kStandardColours[i]) << "palette entry " << i;
        }

        int mismatches = 0;
        for (int y = 0; y < row.size; ++y) {
            ASSERT_EQ(grid[static_cast<size_t>(y)].size(), static_cast<size_t>(row.size)) << "grid row " << y;
            // Bitmaps are stored bottom-up.
            const size_t stored = static_cast<size_t>(row.size - 1 - y);
            for (int x = 0; x < row.size; ++x) {
                const size_t ux = static_cast<size_t>(x);
                BYTE packed = bytes[xorAt + stored * xorStride + ux / 2];
                int colour = (x % 2 == 0) ? packed >> 4 : packed & 0x0F;
                bool transparent = (bytes[andAt + stored * andStride + ux / 8] >> (7 - x % 8)) & 1;
                char cell = grid[static_cast<size_t>(y)][ux];
                // A transparent pixel needs colour 0 too, or it would invert the background.
                int wantColour = cell == '.' ? 0 : (indexOf.count(cell) ? indexOf.at(cell) : -1);
                if (transparent != (cell == '.') || colour != wantColour) {
                    if (++mismatches <= 5) {
                        ADD_FAILURE() << "pixel (" << x << ", " << y << ") grid '" << cell << "' but colour "
                                      << colour << (transparent ? " transparent" : " opaque");
                    }
                }
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
}

TEST(IconGroups, EachGroupListsItsImagesInOrder) {
    struct GroupRow {
        WORD groupId;
        std::vector<WORD> imageIds;
        const char *why;
    };
    const GroupRow groups[] = {
        {IDI_APP, {1, 2}, "large then small image"},
        {IDI_SUBFOLDER, {3}, "one small image"},
        {IDI_PATH_FOLDER, {4}, "one small image"},
    };
    for (const GroupRow &group : groups) {
        SCOPED_TRACE(std::string("group ") + std::to_string(group.groupId) + ": " + group.why);
        std::vector<BYTE> bytes = ResourceBytes(RT_GROUP_ICON, group.groupId);
        ASSERT_EQ(bytes.size(), 6 + 14 * group.imageIds.size());
        auto word = [&](size_t at) { return static_cast<WORD>(bytes[at] | (bytes[at + 1] << 8)); };
        EXPECT_EQ(word(0), 0);
        EXPECT_EQ(word(2), 1) << "icon, not cursor";
        ASSERT_EQ(word(4), group.imageIds.size());
        for (size_t i = 0; i < group.imageIds.size(); ++i) {
            const size_t at = 6 + 14 * i;
            const WORD imageId = word(at + 12);
            EXPECT_EQ(imageId, group.imageIds[i]);
            int size = 0;
            for (const ImageRow &image : kImages) {
                if (image.imageId == imageId && image.groupId == group.groupId) {
                    size = image.size;
                }
            }
            EXPECT_EQ(bytes[at], size) << "width";
            EXPECT_EQ(bytes[at + 1], size) << "height";
            EXPECT_EQ(bytes[at + 2], 16) << "colours";
            EXPECT_EQ(word(at + 4), 1) << "planes";
            EXPECT_EQ(word(at + 6), 4) << "bits per pixel";
            const DWORD inResource = bytes[at + 8] | (bytes[at + 9] << 8) | (bytes[at + 10] << 16) |
                                     (static_cast<DWORD>(bytes[at + 11]) << 24);
            EXPECT_EQ(inResource, ResourceBytes(RT_ICON, imageId).size());
        }
    }
}

TEST(IconPainting, DrawnIconsShowTheGridOverTheBackground) {
    const std::map<char, int> indexOf = ReadLegend();
    HMODULE module = GetModuleHandleA(nullptr);

    // LoadIconA gives the large image of IDI_APP, as the main dialog uses it.
    HICON large = LoadIconA(module, MAKEINTRESOURCEA(IDI_APP));
    ASSERT_NE(large, nullptr);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(large, &info));
    BITMAP mask = {};
    GetObjectA(info.hbmMask, sizeof mask, &mask);
    EXPECT_EQ(mask.bmWidth, 32);
    DeleteObject(info.hbmMask);
    if (info.hbmColor != nullptr) {
        DeleteObject(info.hbmColor);
    }

    // All four images side by side, each on its own slot of background.
    const DWORD background = 0x123456;
    const int slot = 40, width = slot * 4, height = slot;
    BITMAPINFO bitmapInfo = {};
    bitmapInfo.bmiHeader.biSize = sizeof bitmapInfo.bmiHeader;
    bitmapInfo.bmiHeader.biWidth = width;
    bitmapInfo.bmiHeader.biHeight = -height;
    bitmapInfo.bmiHeader.biPlanes = 1;
    bitmapInfo.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &bitmapInfo, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bitmap, nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    DWORD *pixels = static_cast<DWORD *>(bits);
    for (int i = 0; i < width * height; ++i) {
        pixels[i] = background;
    }

    for (size_t n = 0; n < sizeof kImages / sizeof kImages[0]; ++n) {
        const ImageRow &row = kImages[n];
        SCOPED_TRACE(std::string(row.grid) + ": " + row.why);
        HICON icon = static_cast<HICON>(
            LoadImageA(module, MAKEINTRESOURCEA(row.groupId), IMAGE_ICON, row.size, row.size, 0));
        ASSERT_NE(icon, nullptr);
        const int left = static_cast<int>(n) * slot + 4, top = 4;
        ASSERT_TRUE(DrawIconEx(dc, left, top, icon, row.size, row.size, 0, nullptr, DI_NORMAL));
        DestroyIcon(icon);
        GdiFlush();

        std::vector<std::string> grid = DataLines(row.grid);
        ASSERT_EQ(grid.size(), static_cast<size_t>(row.size));
        int mismatches = 0;
        for (int y = 0; y < row.size; ++y) {
            for (int x = 0; x < row.size; ++x) {
                char cell = grid[static_cast<size_t>(y)][static_cast<size_t>(x)];
                DWORD want = cell == '.' ? background
                                         : (indexOf.count(cell) ? kStandardColours[indexOf.at(cell)] : 0xFFFFFFFF);
                DWORD got = pixels[(top + y) * width + left + x] & 0xFFFFFF;
                if (got != want && ++mismatches <= 5) {
                    ADD_FAILURE() << "painted (" << x << ", " << y << ") is " << std::hex << got << ", grid '"
                                  << cell << "' wants " << want;
                }
            }
        }
        EXPECT_EQ(mismatches, 0);
    }

    std::vector<DWORD> copy(pixels, pixels + width * height);
    SaveBitmapFile("resources-icons.bmp", copy, width, height);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

}  // namespace
