// tests/browser/host.h: the real main dialog template hosting the folder
// list and the drive drop-down, and helpers shared by the browser tests.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// The IDD_MAIN dialog, created modeless, with a procedure that only paints
// the folder list's rows. Destroyed with the object.
struct MainDialog {
    MainDialog();
    ~MainDialog();
    MainDialog(const MainDialog &) = delete;
    MainDialog &operator=(const MainDialog &) = delete;
    HWND dialog;
    HWND list;
    HWND combo;
};

// One row of the folder list as the control holds it.
struct ListRow {
    std::string text;
    unsigned indent;
    unsigned offset;
};
std::vector<ListRow> ListRows(HWND list);
std::string ListText(HWND list, int index);

// Makes CurrentFolder `path` and fills the list for it.
void ShowFolder(HWND list, const std::string &path);

// Creates the folders `names` under the Windows path `parent`, in order.
void MakeFolders(const std::string &parent, const std::vector<std::string> &names);

// The subfolder names of a Windows folder in the order the enumeration
// delivers them (dot names left out).
std::vector<std::string> EnumeratedFolders(const std::string &path);

// Handles messages of this thread's windows until none is waiting.
void PumpMessages();

// Empties the test drive E: and returns its root, "E:\".
std::string ResetDriveE();
