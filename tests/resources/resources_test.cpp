// The program's compiled resources, each in its own language: both dialog templates, and the icons against their grids.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <regex>
#include <sstream>

#include "resource.h"
#include "support.h"
#include "version.h"

// The bytes of one of the program's resources in exactly this language.
static std::vector<BYTE> ResourceBytes(LPCSTR type, WORD id, WORD language) {
    HRSRC found = FindResourceExA(nullptr, type, MAKEINTRESOURCEA(id), language);  // null, then no data
    const BYTE *data = found ? static_cast<const BYTE *>(LockResource(LoadResource(nullptr, found))) : nullptr;
    return std::vector<BYTE>(data, data + (data ? SizeofResource(nullptr, found) : 0));
}

// A Russian-tagged dialog as text, a line for its header (menu and class as its class, then its font) and one
// for each control in tab order: id, class, style, text; where and how large is the layout's business, not
// the code's. Code units as bytes, '?' if wider.
static std::string TemplateText(WORD id) {
    const std::vector<BYTE> d = ResourceBytes(RT_DIALOG, id, MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT));
    size_t at = 0;  // reads past the end leave zeros, and the check at the end notices them
    auto read = [&](auto v) { if ((at += sizeof v) <= d.size()) std::memcpy(&v, &d[at - sizeof v], sizeof v); return v; };
    auto word = [&] { return read(WORD(0)); };
    auto text = [&](WORD unit) { std::string s; for (; unit != 0; unit = word()) s += unit < 0x100 ? char(unit) : '?'; return s; };
    auto field = [&] { WORD w = word(); return w == 0xFFFF ? "#" + std::to_string(word()) : text(w); };
    const DLGTEMPLATE t = read(DLGTEMPLATE{});
    std::ostringstream out;  // C++17 evaluates << operands from left to right
    out << std::hex << id << " " << field() << field() << " " << t.style << " " << text(word()) << " font " << word()
        << " " << text(word()) << "\n";
    for (WORD i = 0; i < t.cdit && (at = (at + 3) & ~size_t(3)) <= d.size(); ++i, at += word()) {  // skips extra bytes
        const DLGITEMTEMPLATE c = read(DLGITEMTEMPLATE{});
        out << c.id << " " << field() << " " << c.style << " " << field() << "\n";
    }
    if (d.empty() || at > d.size()) out << "missing in language 1049, or ends early\n";
    return out.str();
}

// Both dialogs as dialogs.txt has them (TCVN3 captions as their bytes; a line per control in tab order: ids, classes
// and styles in hex); each icon group's images (US English) as its grids draw them in legend.txt's letters.
TEST(Resources, TemplatesAndIcons) {
    const std::string here = UnixToWindows(__FILE__ "/..");
    const std::string dialogs = ReadWholeFile(here + "\\dialogs.txt"), title = "@TITLE@";  // the title: version.h's
    EXPECT_EQ(TemplateText(IDD_MAIN) + TemplateText(IDD_ABOUT), dialogs.substr(0, dialogs.find(title)) + PROGRAM_TITLE +
              dialogs.substr(std::min(dialogs.size(), dialogs.find(title) + title.size())));
    std::string decoded, grids, letters = "KMGONPTSDRLYBFAW";  // letters: legend.txt's, by palette index
    for (const char *grid : {"app32.txt", "app16.txt", "subfolder.txt", "pathfolder.txt"})  // IDI_APP's two, then one each
        grids += ReadWholeFile(here + "\\..\\..\\res\\icons\\" + grid);
    const WORD us = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    for (int group : {IDI_APP, IDI_SUBFOLDER, IDI_PATH_FOLDER})  // a group: 6 bytes, then 14 per image, its number last
        for (auto d = ResourceBytes(RT_GROUP_ICON, WORD(group), us); d.size() >= 20; d.erase(d.begin() + 6, d.begin() + 20)) {
            const size_t n = d[6], xorAt = sizeof(BITMAPINFOHEADER) + 16 * 4, andAt = xorAt + n * n / 2;
            const std::vector<BYTE> bytes = ResourceBytes(RT_ICON, WORD(d[18] | d[19] << 8), us);
            ASSERT_EQ(bytes.size(), andAt + 4 * n) << group << ": header, 16 colours, colour bitmap, mask rows of 4 bytes";
            const DWORD *words = reinterpret_cast<const DWORD *>(bytes.data());  // 4 bits, the 16 standard colours
            EXPECT_EQ(std::vector<DWORD>(words, words + 26), std::vector<DWORD>({40, DWORD(n), DWORD(2 * n), 1 | 4 << 16,
                BI_RGB, DWORD(andAt + 4 * n - xorAt), 0, 0, 0, 0, 0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF})) << group;
            for (size_t y = n; y-- > 0; decoded += '\n')  // bottom-up; a transparent pixel not of colour 0 inverts: '!'
                for (size_t x = 0; x < n; ++x) {
                    const size_t colour = size_t(bytes[xorAt + y * n / 2 + x / 2] >> (x % 2 ? 0 : 4) & 0x0F);
                    decoded += bytes[andAt + y * 4 + x / 8] >> (7 - x % 8) & 1 ? (colour ? '!' : '.') : letters[colour];
                }
        }
    EXPECT_EQ(decoded, std::regex_replace(grids, std::regex("#[^\n]*\n|\r"), "")) << "the grids without their comments";
}
