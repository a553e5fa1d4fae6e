// The one case-insensitive name comparison.
#include "names.h"

// Folds A-Z to a-z and leaves every other byte, 0x80 and up included, alone.
static unsigned FoldByte(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned>(byte) + 0x20u : byte;
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
