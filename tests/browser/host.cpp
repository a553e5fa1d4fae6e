// The browser tests' dialog host and shared helpers.
#include "host.h"

#include <gtest/gtest.h>

#include "browser.h"
#include "resource.h"
#include "support.h"

// Forwards the folder list's paint requests, as the program's own dialog does.
static INT_PTR CALLBACK HostProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_DRAWITEM && wParam == IDC_FOLDER_LIST) {
        DrawFolderRow(GetDlgItem(dialog, IDC_FOLDER_LIST),
                      reinterpret_cast<const DRAWITEMSTRUCT *>(lParam));
        return TRUE;
    }
    return FALSE;
}

MainDialog::MainDialog() {
    ModuleInstance = GetModuleHandleA(nullptr);
    dialog = CreateDialogParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, HostProc, 0);
    list = GetDlgItem(dialog, IDC_FOLDER_LIST);
    combo = GetDlgItem(dialog, IDC_DRIVE_COMBO);
    EXPECT_TRUE(dialog && list && combo) << "IDD_MAIN with its list and drop-down";
}

MainDialog::~MainDialog() {
    if (dialog) DestroyWindow(dialog);
}

std::string ListText(HWND list, int index) {
    char text[1024] = "";
    LRESULT length = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR || length >= static_cast<LRESULT>(sizeof text)) return "<bad row>";
    SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
    return text;
}

std::vector<ListRow> ListRows(HWND list) {
    std::vector<ListRow> rows;
    int count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        DWORD tag = static_cast<DWORD>(SendMessageA(list, LB_GETITEMDATA, static_cast<WPARAM>(i), 0));
        rows.push_back({ListText(list, i), TagIndent(tag), TagOffset(tag)});
    }
    return rows;
}

void ShowFolder(HWND list, const std::string &path) {
    lstrcpynA(CurrentFolder, path.c_str(), sizeof CurrentFolder);
    FillFolderList(list);
}

void MakeFolders(const std::string &parent, const std::vector<std::string> &names) {
    for (const std::string &name : names) {
        std::string path = parent + "\\" + name;
        ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path;
    }
}

std::vector<std::string> EnumeratedFolders(const std::string &path) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && found.cFileName[0] != '.')
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

std::string ResetDriveE() {
    // Leave the drive first: a folder that is some process's current
    // directory cannot always be removed.
    SetCurrentDirectoryA("C:\\");
    std::string root = DriveFolderUnix('e');
    RunUnix("chmod -R u+rwx " + ShellQuote(root) + "/* 2>/dev/null; find " + ShellQuote(root) +
            " -mindepth 1 -maxdepth 1 ! -name .windows-label -exec rm -rf {} +");
    return "E:\\";
}
