// tests/e2e/program.h: drives a dirtally.exe started by the test, from the
// outside, through its real windows: the main dialog's controls, the save-
// file dialog and the About dialog. Message boxes are answered by the
// tests' BoxAnswerer, given this program's process id.
#pragma once
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

// A running dirtally.exe (env DIRTALLY_EXE) and its main dialog.
class Program {
public:
    // Starts the program in `workingDirectory` and waits for its dialog.
    explicit Program(const std::string &workingDirectory);
    // Ends the program if the test left it running.
    ~Program();
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    DWORD ProcessId() const { return process_.dwProcessId; }
    HWND Dialog() const { return dialog_; }
    HWND Item(int id) const { return GetDlgItem(dialog_, id); }

    void SetText(int id, const std::string &text);
    std::string Text(int id) const;
    void SetCheck(int id, bool checked);
    // Clicks a button and waits until the program has done all the click
    // does, message boxes and save-file dialogs included (answer those from
    // other threads). False when it took longer than `ms`.
    bool Click(int id, DWORD ms = 30000);
    // Chooses the drive whose label begins with `letter` in the drop-down,
    // as a user's selection does, and waits until the change is handled.
    void ChooseDrive(char letter);
    // The label of the drive the drop-down shows.
    std::string SelectedDrive() const;
    // The texts of the folder list's rows.
    std::vector<std::string> Rows() const;
    // Single-clicks (selects) or double-clicks (opens) the folder list's
    // row `text`, the first one that has it.
    void SelectRow(const std::string &text) { ClickRow(text, LBN_SELCHANGE); }
    void OpenRow(const std::string &text) { ClickRow(text, LBN_DBLCLK); }
    // Waits for the program to end; its exit code, or STILL_ACTIVE.
    DWORD WaitForExit(DWORD ms);

private:
    void ClickRow(const std::string &text, WORD notification);
    bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD ms) const;
    PROCESS_INFORMATION process_ = {};
    HWND dialog_ = nullptr;
};

// Waits up to `ms` for a visible top-level #32770 window of process `pid`
// that has a child with id `childId`; null when none came.
HWND WaitForDialog(DWORD pid, int childId, DWORD ms);

// Waits up to `ms` for `window` to be gone or hidden.
bool WaitUntilClosed(HWND window, DWORD ms);

// Answers the program's save-file dialog from its own thread: types
// `fileName` and presses Save, or presses Cancel when `fileName` is empty.
class SaveDialogAnswerer {
public:
    SaveDialogAnswerer(DWORD pid, std::string fileName);
    ~SaveDialogAnswerer();
    SaveDialogAnswerer(const SaveDialogAnswerer &) = delete;
    SaveDialogAnswerer &operator=(const SaveDialogAnswerer &) = delete;
    // Waits for the answerer to finish; whether the dialog came, was
    // answered and closed.
    bool Answered();
    // Waits likewise; the file name the dialog offered before it was answered.
    std::string Offered();

private:
    void Run();
    DWORD pid_;
    std::string fileName_;
    std::string offered_;
    std::atomic<bool> answered_{false};
    std::thread thread_;
};
