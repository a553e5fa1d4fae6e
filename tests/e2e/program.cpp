// Driving dirtally.exe from outside its process.
#include "program.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "resource.h"
#include "support.h"

// The id of the save-file dialog's file name box (cmb13): a combo box whose
// edit field carries the same id.
static const int FileNameBoxId = 0x47C;

// How long a message sent to the program may take; a listing of the small
// test trees takes a fraction of this.
static const DWORD SendTimeout = 30000;

namespace {
struct DialogSearch {
    DWORD pid;
    int childId;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM data) {
    DialogSearch *search = reinterpret_cast<DialogSearch *>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->pid || !IsWindowVisible(window)) return TRUE;
    char className[32] = "";
    GetClassNameA(window, className, sizeof className);
    if (std::string(className) != "#32770" || !GetDlgItem(window, search->childId)) return TRUE;
    search->found = window;
    return FALSE;
}

BOOL CALLBACK FindFileNameEdit(HWND window, LPARAM data) {
    char className[32] = "";
    GetClassNameA(window, className, sizeof className);
    if (std::string(className) != "Edit" || GetDlgCtrlID(window) != FileNameBoxId) return TRUE;
    *reinterpret_cast<HWND *>(data) = window;
    return FALSE;
}

// A text that came back through a wide message, in the ANSI code page.
std::string Narrow(const wchar_t *text) {
    char narrow[1024] = "";
    WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
    return narrow;
}
}  // namespace

HWND WaitForDialog(DWORD pid, int childId, DWORD ms) {
    for (DWORD waited = 0;; waited += 10) {
        DialogSearch search = {pid, childId, nullptr};
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found || waited >= ms) return search.found;
        Sleep(10);
    }
}

bool WaitUntilClosed(HWND window, DWORD ms) {
    for (DWORD waited = 0;; waited += 10) {
        if (!IsWindow(window) || !IsWindowVisible(window)) return true;
        if (waited >= ms) return false;
        Sleep(10);
    }
}

Program::Program(const std::string &workingDirectory) {
    const char *exe = std::getenv("DIRTALLY_EXE");
    EXPECT_TRUE(exe) << "DIRTALLY_EXE names the program under test";
    if (!exe) return;
    std::string path = UnixToWindows(exe);
    std::string line = "\"" + path + "\"";
    std::vector<char> commandLine(line.begin(), line.end());
    commandLine.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    BOOL started = CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                  nullptr, workingDirectory.c_str(), &startup, &process_);
    EXPECT_TRUE(started) << "starting " << path << " in " << workingDirectory;
    if (!started) return;
    dialog_ = WaitForDialog(process_.dwProcessId, IDC_CREATE, 15000);
    EXPECT_TRUE(dialog_) << "the main dialog appears";
}

Program::~Program() {
    if (!process_.hProcess) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.hProcess, 1);
        WaitForSingleObject(process_.hProcess, 5000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
}

bool Program::Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD ms) const {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, ms, &result) != 0;
}

void Program::SetText(int id, const std::string &text) {
    EXPECT_TRUE(Send(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SendTimeout));
}

std::string Program::Text(int id) const { return WindowText(Item(id)); }

void Program::SetCheck(int id, bool checked) {
    EXPECT_TRUE(Send(Item(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0, SendTimeout));
}

bool Program::Click(int id, DWORD ms) { return Send(Item(id), BM_CLICK, 0, 0, ms); }

void Program::ChooseDrive(char letter) {
    HWND combo = Item(IDC_DRIVE_COMBO);
    int count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t label[64] = L"";
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(label));
        if (label[0] != static_cast<wchar_t>(letter) || label[1] != L':') continue;
        SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
        EXPECT_TRUE(Send(dialog_, WM_COMMAND, MAKEWPARAM(IDC_DRIVE_COMBO, CBN_SELCHANGE),
                         reinterpret_cast<LPARAM>(combo), SendTimeout));
        return;
    }
    ADD_FAILURE() << "no drive " << letter << ": in the drop-down";
}

std::string Program::SelectedDrive() const {
    HWND combo = Item(IDC_DRIVE_COMBO);
    LRESULT index = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    wchar_t label[64] = L"";
    SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(label));
    return Narrow(label);
}

std::vector<std::string> Program::Rows() const {
    HWND list = Item(IDC_FOLDER_LIST);
    std::vector<std::string> rows;
    int count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t text[MAX_PATH] = L"";
        SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        rows.push_back(Narrow(text));
    }
    return rows;
}

void Program::ClickRow(const std::string &text, WORD notification) {
    std::vector<std::string> rows = Rows();
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i] != text) continue;
        HWND list = Item(IDC_FOLDER_LIST);
        SendMessageA(list, LB_SETCURSEL, i, 0);
        EXPECT_TRUE(Send(dialog_, WM_COMMAND, MAKEWPARAM(IDC_FOLDER_LIST, notification),
                         reinterpret_cast<LPARAM>(list), SendTimeout));
        return;
    }
    ADD_FAILURE() << "no row " << text << " in the folder list";
}

DWORD Program::WaitForExit(DWORD ms) {
    DWORD code = STILL_ACTIVE;
    if (process_.hProcess && WaitForSingleObject(process_.hProcess, ms) == WAIT_OBJECT_0)
        GetExitCodeProcess(process_.hProcess, &code);
    return code;
}

SaveDialogAnswerer::SaveDialogAnswerer(DWORD pid, std::string fileName)
    : pid_(pid), fileName_(std::move(fileName)), thread_([this] { Run(); }) {}

SaveDialogAnswerer::~SaveDialogAnswerer() {
    if (thread_.joinable()) thread_.join();
}

bool SaveDialogAnswerer::Answered() {
    if (thread_.joinable()) thread_.join();
    return answered_;
}

std::string SaveDialogAnswerer::Offered() {
    if (thread_.joinable()) thread_.join();
    return offered_;
}

void SaveDialogAnswerer::Run() {
    HWND dialog = WaitForDialog(pid_, FileNameBoxId, 15000);
    if (!dialog) return;
    HWND edit = nullptr;
    EnumChildWindows(dialog, FindFileNameEdit, reinterpret_cast<LPARAM>(&edit));
    if (edit) offered_ = WindowText(edit);
    int button = IDCANCEL;
    if (!fileName_.empty() && edit) {
        DWORD_PTR result = 0;
        SendMessageTimeoutA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(fileName_.c_str()),
                            SMTO_NORMAL, SendTimeout, &result);
        button = IDOK;
    }
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
    answered_ = WaitUntilClosed(dialog, 15000);
}
