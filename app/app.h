// app/app.h: the main dialog and the About dialog.
// Everything here runs on the dialog's thread. OutputPath is process-wide
// and written only by BrowseOutputFile and CreateListing. A create command
// runs the listing on a worker thread while the dialog's messages keep
// flowing, and returns only when the run has ended; Escape stops the run,
// the close box stops it and ends the dialog. The run leaves the process's
// current directory wherever it ended (see listing.h).
#pragma once
#include <windows.h>

#include "listing.h"

// The listing file's path: at most 259 characters and the terminator.
extern char OutputPath[MAX_PATH];

// The main dialog (IDD_MAIN): initialisation, commands, row painting,
// the system menu's About entry and the close box.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The About dialog (IDD_ABOUT): its button and close box end it; Escape does not.
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Writes into `proposal` (MAX_PATH bytes) the output name offered for
// `folder`: "\" and its last component and ".txt", or "" when the folder
// has no backslash or the name would not fit.
void ProposeOutputName(const char *folder, char *proposal);

// Whether an output name asks for the web-page catalogue: it ends in
// ".html" or ".htm", in any case.
bool IsHtmlName(const char *path);

// Runs the save-file dialog over OutputPath, starting from the proposed
// name; a confirmed choice goes into the output field.
void BrowseOutputFile(HWND dialog);

// Sets the choices of `request` that the dialog's check boxes and sort
// buttons make, as they stand.
void ReadListingChoices(HWND dialog, ListingRequest &request);

// The create command: output path, filter and options from the dialog,
// then the listing run under the wait cursor; once the run has lasted the
// progress delay the title shows the counts and the controls are disabled
// until the run ends.
void CreateListing(HWND dialog);
