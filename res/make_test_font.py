#!/usr/bin/env python3
"""Writes a copy of a TrueType font whose family is named "ABC Sans Serif".

The tests use it to stand for the TCVN3 font the dialogs ask for:
    make_test_font.py <source.ttf> <output.ttf>
"""
import sys

from fontTools.ttLib import TTFont

FAMILY = "ABC Sans Serif"


def main():
    source, output = sys.argv[1], sys.argv[2]
    font = TTFont(source)
    names = font["name"]
    # Family, full name and the typographic family; the style stays "Book"/"Regular".
    replacements = {1: FAMILY, 3: FAMILY + " test copy", 4: FAMILY, 6: "ABCSansSerif", 16: FAMILY}
    for record in names.names:
        if record.nameID in replacements:
            record.string = replacements[record.nameID]
    font.save(output)


if __name__ == "__main__":
    main()
