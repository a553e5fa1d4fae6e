// browser/browser.h: the folder browser of the main dialog: the drive
// table and drop-down, the folder list and the painting of its rows.
// All of it runs on the dialog's thread. CurrentFolder, CurrentFolderWide,
// DriveTable, the subfolders' real names and the two row icons are
// process-wide; the fills and a drive change move the process's current
// directory to CurrentFolder.
#pragma once
#include <windows.h>

// The folder being browsed and listed: an absolute path of at most 259
// characters and its terminator. CurrentFolderWide names it by its real
// (UTF-16) names; CurrentFolder is that path in the ANSI code page, as
// GetCurrentDirectoryA would give it (a name outside the code page shows
// as "?" per character and reaches nothing).
extern char CurrentFolder[MAX_PATH];
extern wchar_t CurrentFolderWide[MAX_PATH];

// Makes `path` the CurrentFolderWide and its ANSI conversion the
// CurrentFolder; false, with both unchanged, when either would not fit.
bool SetCurrentFolder(const wchar_t *path);

// One drive of the drop-down.
struct DriveRecord {
    char RootPath[4];  // "C:\"
    char Label[32];    // "C:  " and the volume name (at most 27 characters)
};

// The drives present when the dialog started, in ascending letter order.
struct DriveTableData {
    DriveRecord Rows[32];
    int Count;
    int SelectedIndex;
};
extern DriveTableData DriveTable;

// Drive table and drop-down.
void BuildDriveTable();
void FillDriveCombo(HWND combo);

// Makes the root of the drive chosen in the drop-down the current directory
// and the CurrentFolder. When the drive is not ready nothing changes, and
// `root` names the drive for the caller's question.
enum class DriveChange { Changed, NotReady, NoDrive };
DriveChange ChangeDrive(HWND combo, const char **root);

// Puts the drop-down back on the drive of the CurrentFolder.
void KeepSelectedDrive(HWND combo);

// ItemTag: the row's indent (pixels) in the high 16 bits and, in the low
// 16 bits, the offset of a path row's component in CurrentFolder, or
// SubfolderOffset for a subfolder row.
const unsigned SubfolderOffset = 0xFFFF;
inline DWORD MakeItemTag(unsigned indent, unsigned pathOffset) {
    return ((indent & 0xFFFFu) << 16) | (pathOffset & 0xFFFFu);
}
inline unsigned TagIndent(DWORD tag) { return (tag >> 16) & 0xFFFFu; }
inline unsigned TagOffset(DWORD tag) { return tag & 0xFFFFu; }

// Folder list.
void FillFolderList(HWND list);
void AddFolderRow(HWND list, const char *text, unsigned indent, unsigned pathOffset);
void OpenFolderRow(HWND list);

// Paints a row with the row icons of `resources`; false when they cannot be
// loaded (nothing is painted then).
bool DrawFolderRow(HWND list, const DRAWITEMSTRUCT *request, HINSTANCE resources);
