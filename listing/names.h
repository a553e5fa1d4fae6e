// listing/names.h: the one case-insensitive name comparison, shared by the
// entry ordering and the folder list.
#pragma once

// Compares two 8-bit strings byte by byte after folding A-Z to a-z (no
// other byte is folded); the first differing pair decides as unsigned
// values, and a string that begins the other comes first. Returns <0, 0, >0.
int CompareNamesNoCase(const char *first, const char *second);
