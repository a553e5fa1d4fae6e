// Drives a dirtally.exe started by the test through its real windows.
#pragma once
#include <windows.h>

#include <string>

// A dirtally.exe (env DIRTALLY_EXE) started in a folder, and its main dialog.
struct Program {
    explicit Program(const std::string &workingDirectory);
    ~Program();
    DWORD Id() const { return process.dwProcessId; }
    // Sends `message` to control `id` (0: the dialog) and waits for it; false on a timeout.
    bool Send(int id, UINT message, WPARAM wParam, LPARAM lParam) const;
    // Selects the item beginning with `text` in the drop-down or folder list
    // and sends the notification a user's choice sends.
    void Choose(int id, const std::string &text, WORD notification);
    // Waits for the program to end; its exit code, or STILL_ACTIVE.
    DWORD WaitForExit(DWORD ms);

    PROCESS_INFORMATION process = {};
    HWND dialog = nullptr;
};

// Waits up to `ms` for a visible window of `pid` with a child `childId`.
HWND WaitForDialog(DWORD pid, int childId, DWORD ms);
// Waits up to `ms` for `window` to be gone or hidden.
bool WaitUntilClosed(HWND window, DWORD ms);
// Answers the save-file dialog of `pid` with `fileName`, or Cancel when it is
// empty; true when the dialog came and closed.
bool AnswerSaveDialog(DWORD pid, std::string fileName);
