// cli/catalogue_reader.h: reads a catalogue written by the console
// program's JSON Lines or CSV form back into memory. The form is told by
// the content, never the name. Every row is checked: a file that is not a
// catalogue, or one that is damaged or cut short, gives a reason naming the
// line, never a partial catalogue. Reads only the file it is given.
#pragma once
#include <string>

#include "catalogue.h"

enum class CatalogueRead {
    Read,         // complete, finished
    CannotOpen,   // the file could not be opened or read
    Foreign,      // not a catalogue of either form
    Damaged,      // a catalogue, but a line is wrong or it is cut short
};

// Reads only the description that opens a JSON Lines catalogue into
// `making`; false for any other file (a CSV catalogue tells how it was made
// only through its rows). ReadCatalogue still checks the whole file.
bool ReadCatalogueMaking(const std::wstring &path, CatalogueMaking &making);

// Reads the catalogue at `path` into `catalogue` (empty, made for this) and
// finishes it; otherwise `reason` says what is wrong, in one line.
CatalogueRead ReadCatalogue(const std::wstring &path, Catalogue &catalogue, std::wstring &reason);
