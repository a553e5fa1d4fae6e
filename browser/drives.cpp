// The drive table, the drive drop-down and the change of drive.
#include "browser.h"

#include <cstring>
#include <cwchar>

char CurrentFolder[MAX_PATH];
wchar_t CurrentFolderWide[MAX_PATH];
DriveTableData DriveTable;

// Converts with the system's own replacement characters, so that the
// result is byte for byte what the ANSI interfaces give for the same path.
bool SetCurrentFolder(const wchar_t *path) {
    size_t length = std::wcslen(path);
    if (length >= MAX_PATH) return false;
    char converted[MAX_PATH];
    int bytes = WideCharToMultiByte(CP_ACP, 0, path, static_cast<int>(length), converted,
                                    sizeof converted - 1, nullptr, nullptr);
    if (bytes == 0 && length > 0) return false;  // also a conversion longer than the buffer
    converted[bytes] = '\0';
    std::memcpy(CurrentFolder, converted, static_cast<size_t>(bytes) + 1);
    std::memcpy(CurrentFolderWide, path, (length + 1) * sizeof(wchar_t));
    return true;
}

// Fills the table with one row per drive of the logical drive mask, in
// ascending letter order; removable drives are not asked for a volume name
// so that an empty floppy drive is not spun up.
void BuildDriveTable() {
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    DriveTable.Count = 0;
    DWORD mask = GetLogicalDrives();
    for (int n = 0; n < 32; ++n) {
        if (!(mask & (1u << n))) continue;
        DriveRecord &row = DriveTable.Rows[DriveTable.Count];
        char letter = static_cast<char>('A' + n);
        std::memcpy(row.RootPath, "*:\\", sizeof row.RootPath);
        row.RootPath[0] = letter;
        std::memset(row.Label, 0, sizeof row.Label);
        std::memcpy(row.Label, "*:  ", 4);
        row.Label[0] = letter;
        // The volume name goes straight after "C:  "; a failed query leaves
        // the terminator at byte 4 and the label is just the letter.
        if (GetDriveTypeA(row.RootPath) != DRIVE_REMOVABLE)
            GetVolumeInformationA(row.RootPath, row.Label + 4, sizeof row.Label - 4, nullptr,
                                  nullptr, nullptr, nullptr, 0);
        ++DriveTable.Count;
    }
    SetCursor(previous);
}

// Lists the drive labels in the drop-down, takes the process's current
// directory as the starting folder and selects the drive it lies on (row 0
// when it lies on none).
void FillDriveCombo(HWND combo) {
    for (int i = 0; i < DriveTable.Count; ++i)
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(DriveTable.Rows[i].Label));
    wchar_t start[MAX_PATH];
    DWORD length = GetCurrentDirectoryW(MAX_PATH, start);
    // A directory too long for the buffer is not read at all.
    if (length == 0 || length >= MAX_PATH || !SetCurrentFolder(start)) SetCurrentFolder(L"");
    int chosen = 0;
    for (int i = 0; i < DriveTable.Count; ++i) {
        if (DriveTable.Rows[i].RootPath[0] == CurrentFolder[0]) {
            chosen = i;
            break;
        }
    }
    DriveTable.SelectedIndex = chosen;
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(chosen), 0);
}

// Finds the table row whose label is the drop-down's chosen text; -1 when
// none is.
static int ChosenDriveRow(HWND combo, int *comboIndex) {
    *comboIndex = static_cast<int>(SendMessageA(combo, CB_GETCURSEL, 0, 0));
    char text[MAX_PATH] = "";
    LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(*comboIndex), 0);
    if (length == CB_ERR || length >= static_cast<LRESULT>(sizeof text)) return -1;
    SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(*comboIndex),
                 reinterpret_cast<LPARAM>(text));
    for (int i = 0; i < DriveTable.Count; ++i)
        if (std::strcmp(DriveTable.Rows[i].Label, text) == 0) return i;
    return -1;
}

DriveChange ChangeDrive(HWND combo, const char **root) {
    int comboIndex = 0;
    int row = ChosenDriveRow(combo, &comboIndex);
    if (row < 0) return DriveChange::NoDrive;
    *root = DriveTable.Rows[row].RootPath;
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    bool ready = SetCurrentDirectoryA(*root) != 0;
    if (ready) {
        // Always the root, whatever the drive's own current directory was.
        wchar_t rootWide[sizeof DriveTable.Rows[row].RootPath];
        for (size_t i = 0; i < sizeof rootWide / sizeof rootWide[0]; ++i)
            rootWide[i] = static_cast<unsigned char>((*root)[i]);  // a letter, ":" and "\"
        SetCurrentFolder(rootWide);
        DriveTable.SelectedIndex = comboIndex;
    }
    SetCursor(previous);
    return ready ? DriveChange::Changed : DriveChange::NotReady;
}

void KeepSelectedDrive(HWND combo) {
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(DriveTable.SelectedIndex), 0);
}
