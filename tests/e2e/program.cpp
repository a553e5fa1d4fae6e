// Driving dirtally.exe from outside its process.
#include "program.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "resource.h"
#include "support.h"

// The save-file dialog's file name box (cmb13).
static const int FileNameBoxId = 0x47C;

// The window EnumWindows looks for: a process's dialog holding a child id.
struct DialogSearch { DWORD pid; int childId; HWND found; };

// Stops the enumeration at the first visible window that matches `data`.
static BOOL CALLBACK FindDialog(HWND window, LPARAM data) {
    DialogSearch *search = reinterpret_cast<DialogSearch *>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->pid || !IsWindowVisible(window) || !GetDlgItem(window, search->childId))
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND WaitForDialog(DWORD pid, int childId, DWORD ms) {
    DialogSearch search = {pid, childId, nullptr};
    for (DWORD waited = 0; !search.found && waited <= ms; waited += 10, Sleep(10))
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
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
                       workingDirectory.c_str(), &startup, &process_))
        dialog_ = WaitForDialog(process_.dwProcessId, IDC_CREATE, 15000);
    EXPECT_TRUE(dialog_) << "the main dialog of " << path << " in " << workingDirectory;
}

Program::~Program() {
    if (!process_.hProcess) return;
    TerminateProcess(process_.hProcess, 1);  // fails harmlessly once it has ended
    WaitForSingleObject(process_.hProcess, 5000);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
}

bool Program::Send(int id, UINT message, WPARAM wParam, LPARAM lParam) const {
    DWORD_PTR result = 0;
    HWND window = id ? GetDlgItem(dialog_, id) : dialog_;
    return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, 30000, &result) != 0;
}

void Program::Choose(int id, const std::string &text, WORD notification) {
    HWND control = GetDlgItem(dialog_, id);
    UINT select = id == IDC_DRIVE_COMBO ? CB_SELECTSTRING : LB_SELECTSTRING;
    EXPECT_GE(SendMessageA(control, select, ~WPARAM(0), reinterpret_cast<LPARAM>(text.c_str())), 0)
        << "no item " << text << " in control " << id;
    EXPECT_TRUE(Send(0, WM_COMMAND, MAKEWPARAM(id, notification),
                     reinterpret_cast<LPARAM>(control)));
}

DWORD Program::WaitForExit(DWORD ms) {
    DWORD code = STILL_ACTIVE;
    if (process_.hProcess && WaitForSingleObject(process_.hProcess, ms) == WAIT_OBJECT_0)
        GetExitCodeProcess(process_.hProcess, &code);
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
