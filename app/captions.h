// app/captions.h: the dialogs' Vietnamese captions made legible on machines
// without the TCVN3 font the templates ask for. Runs on the dialog's thread;
// a dialog it changes owns one font object, freed when the dialog is destroyed.
#pragma once
#include <windows.h>

// The Unicode character of one TCVN3 code; codes the chart leaves to ASCII
// or to control characters, and anything above 0xFF, come back unchanged.
wchar_t TcvnToUnicode(unsigned code);

// True when the font "ABC Sans Serif" is really installed, not substituted.
bool TcvnFontPresent();

// When the TCVN3 font is missing, shows the title and the captions of
// `dialog` as Unicode text in the system's dialog font, or in another face
// where that lacks a letter of them; with the font present, changes nothing.
// The folder list keeps the template's font.
void ApplyLegibleCaptions(HWND dialog);
