// Driving dirtally.exe from outside its process.
#include "program.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "resource.h"
#include "support.h"

// The save-file dialog's file name box (cmb13).
static const int FileNameBoxId = 0x47C;

HWND WaitForDialog(DWORD pid, int childId, DWORD ms) {
    for (DWORD waited = 0; waited <= ms; waited += 10, Sleep(10))
        for (HWND w = FindWindowExA(nullptr, nullptr, nullptr, nullptr); w;
             w = FindWindowExA(nullptr, w, nullptr, nullptr)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if (owner == pid && IsWindowVisible(w) && GetDlgItem(w, childId)) return w;
        }
    return nullptr;
}

bool WaitUntilClosed(HWND window, DWORD ms) {
    for (DWORD waited = 0; waited <= ms; waited += 10, Sleep(10))
        if (!IsWindowVisible(window)) return true;
    return false;
}

Program::Program(const std::string &workingDirectory) {
    const char *exe = std::getenv("DIRTALLY_EXE");
    std::string path = UnixToWindows(exe ? exe : "");
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                       workingDirectory.c_str(), &startup, &process))
        dialog = WaitForDialog(process.dwProcessId, IDC_CREATE, 15000);
    EXPECT_TRUE(dialog) << "the main dialog of " << path << " in " << workingDirectory;
}

Program::~Program() {
    TerminateProcess(process.hProcess, 1);  // fails harmlessly once it has ended
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

bool Program::Send(int id, UINT message, WPARAM wParam, LPARAM lParam) const {
    DWORD_PTR result = 0;
    HWND window = id ? GetDlgItem(dialog, id) : dialog;
    return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, 30000, &result) != 0;
}

void Program::Choose(int id, const std::string &text, WORD notification) {
    HWND control = GetDlgItem(dialog, id);
    UINT select = id == IDC_DRIVE_COMBO ? CB_SELECTSTRING : LB_SELECTSTRING;
    EXPECT_GE(SendMessageA(control, select, ~WPARAM(0), reinterpret_cast<LPARAM>(text.c_str())), 0)
        << "no item " << text << " in control " << id;
    EXPECT_TRUE(Send(0, WM_COMMAND, MAKEWPARAM(id, notification),
                     reinterpret_cast<LPARAM>(control)));
}

DWORD Program::WaitForExit(DWORD ms) {
    DWORD code = STILL_ACTIVE;
    if (process.hProcess && WaitForSingleObject(process.hProcess, ms) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    return code;
}

bool AnswerSaveDialog(DWORD pid, std::string fileName) {
    HWND dialog = WaitForDialog(pid, FileNameBoxId, 15000);
    if (!dialog) return false;
    int button = fileName.empty() ? IDCANCEL : IDOK;
    SetDlgItemTextA(dialog, FileNameBoxId, fileName.c_str());
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
    return WaitUntilClosed(dialog, 15000);
}
