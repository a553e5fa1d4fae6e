// listing/names.h: names and paths. The one case-insensitive name
// comparison (shared by the entry ordering and the folder list), the
// conversions between UTF-16 and the 8-bit forms a listing shows, and the
// long-path form by which folders of any depth are reached. No state.
#pragma once
#include <windows.h>

#include <string>

// Compares two 8-bit strings byte by byte after folding A-Z to a-z (no
// other byte is folded); the first differing pair decides as unsigned
// values, and a string that begins the other comes first. Returns <0, 0, >0.
int CompareNamesNoCase(const char *first, const char *second);

// Compares UTF-16 names as the file system does when it ignores case: each
// unit raised by the system's table, then by value. <0, 0 or >0.
int CompareRealNamesNoCase(const wchar_t *first, size_t firstLength, const wchar_t *second, size_t secondLength);

// The code page the ANSI file calls convert names with (ANSI, or OEM after
// SetFileApisToOEM).
UINT FileApiCodePage();

// Converts `length` UTF-16 units to `codePage` (CP_UTF8 for UTF-8) into
// `out`, with the system's best-fit and default characters, exactly as the
// ANSI file calls convert names.
void NarrowText(const wchar_t *text, size_t length, UINT codePage, std::string &out);

// 8-bit text in `codePage` (CP_UTF8 for UTF-8) in UTF-16.
std::wstring WidenText(const std::string &text, UINT codePage);

// ANSI text in UTF-16, converted as the ANSI file calls convert it.
inline std::wstring WidenAnsi(const char *text) { return WidenText(text, FileApiCodePage()); }

// The absolute form of `path` that reaches it at any length: "\\?\X:\...",
// or "\\?\UNC\server\share\..." for a network path. A path already in a
// long or device form ("\\?\", "\\.\") is only made absolute.
std::wstring LongPath(const std::wstring &path);

// The ordinary form of a long path: "\\?\X:\..." loses its prefix and
// "\\?\UNC\..." becomes "\\..."; any other path is returned as it is.
std::wstring PlainPath(const std::wstring &path);

// Appends "\" and `name` to `path`, with no second "\" after a root's own.
template <typename Text, typename Char>
void JoinName(Text &path, const Char *name) {
    if (!path.empty() && path.back() != Char('\\')) path += Char('\\');
    path += name;
}
