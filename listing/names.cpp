// Names and paths: the one comparison, the conversions, the long-path form.
#include "names.h"

// Folds A-Z to a-z and leaves every other byte, 0x80 and up included, alone.
static unsigned FoldByte(unsigned char value) {
    return (value >= 'A' && value <= 'Z') ? static_cast<unsigned>(value) + 0x20u : value;
}

// Compares folded bytes as unsigned values; the terminator (0) makes a
// string that begins the other come first.
int CompareNamesNoCase(const char *first, const char *second) {
    const unsigned char *a = reinterpret_cast<const unsigned char *>(first);
    const unsigned char *b = reinterpret_cast<const unsigned char *>(second);
    for (;; ++a, ++b) {
        unsigned x = FoldByte(*a);
        unsigned y = FoldByte(*b);
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}

int CompareRealNamesNoCase(const wchar_t *first, size_t firstLength, const wchar_t *second, size_t secondLength) {
    return CompareStringOrdinal(first, static_cast<int>(firstLength), second, static_cast<int>(secondLength), TRUE) -
           CSTR_EQUAL;
}

UINT FileApiCodePage() {
    return AreFileApisANSI() ? CP_ACP : CP_OEMCP;
}

void NarrowText(const wchar_t *text, size_t length, UINT codePage, std::string &out) {
    out.clear();
    if (length == 0) return;
    // Every ANSI and OEM code page, and UTF-8, keeps the ASCII characters as
    // they are: most names need no call to the system at all.
    size_t ascii = 0;
    while (ascii < length && text[ascii] < 0x80) ++ascii;
    if (ascii == length) {
        out.resize(length);
        for (size_t i = 0; i < length; ++i) out[i] = static_cast<char>(text[i]);
        return;
    }
    // One pass into room that any code page suffices for (at most 4 bytes a unit).
    out.resize(length * 4);
    int bytes = WideCharToMultiByte(codePage, 0, text, static_cast<int>(length), &out[0],
                                    static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(bytes > 0 ? static_cast<size_t>(bytes) : 0);
}

std::wstring WidenText(const std::string &text, UINT codePage) {
    if (text.empty()) return std::wstring();
    int bytes = static_cast<int>(text.size());
    int units = MultiByteToWideChar(codePage, 0, text.data(), bytes, nullptr, 0);
    if (units <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), bytes, &wide[0], units);
    return wide;
}

std::wstring LongPath(const std::wstring &path) {
    std::wstring full(MAX_PATH, L'\0');
    DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
    if (length >= full.size()) {
        full.resize(length + 1);
        length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
    }
    full.resize(length < full.size() ? length : 0);
    if (full.empty()) return path;
    if (full.compare(0, 4, L"\\\\?\\") == 0 || full.compare(0, 4, L"\\\\.\\") == 0) return full;
    if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::wstring PlainPath(const std::wstring &path) {
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
    // Only a drive path loses the prefix: "\\?\unix\..." (Wine's name for a
    // Linux path outside every drive) has no ordinary form.
    if (path.compare(0, 4, L"\\\\?\\") == 0 && path.size() >= 6 && path[5] == L':') return path.substr(4);
    return path;
}
