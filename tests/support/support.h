// tests/support/support.h: what the test programs share. Scratch trees live on the Linux side of drives that the
// test run maps (build/testdrives/<letter>); Linux-only steps (symlinks, sparse files) go through RunUnix. Message
// boxes and other dialogs are found and answered for real.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "listing.h"

std::string DriveFolderUnix(char letter);                // the Linux folder behind test drive d, e, f or g
std::string UnixToWindows(const std::string &unixPath);  // "Z:\..." for a Linux path
std::string ShellQuote(const std::string &text);         // quoted for /bin/sh
// Runs `command` through /bin/sh on the Linux side; its exit status, or -1 when it did not finish within 60 s.
int RunUnix(const std::string &command);
void ResetFolderUnix(const std::string &unixPath);       // empties (or creates) a Linux folder
std::string ReadWholeFile(const std::string &path);      // through the Win32 API; "" for a missing file
bool FileExists(const std::string &path);
std::string CurrentDirectory();
std::string WindowText(HWND window);                     // of any process (WM_GETTEXT works across processes)

// Writes the text listing of `startFolder` to `outputPath` (both ANSI, as the dialog has them) with the choices of
// `request`, which may name neither: the dialog's bytes for the same choices. Gives the run's outcome.
ListingOutcome WriteListing(const std::string &outputPath, const std::string &startFolder,
                            ListingRequest request = ListingRequest());

// Polls `done` every 10 ms for up to `ms`; whether it came true.
template <typename Done> bool WaitUntil(Done done, DWORD ms = 15000) {
    for (DWORD waited = 0; !done(); waited += 10, Sleep(10))
        if (waited >= ms) return false;
    return true;
}
// A visible dialog (#32770) of process `processId` (0: this one) with a child `childId`, none of `skip`; null if none.
HWND FindDialog(DWORD processId, int childId, const std::vector<HWND> &skip = {});

// One dialog seen by a BoxAnswerer: its title, its watched child's text, the answer, the window (open until
// answered) and the icon it shows (null: none).
struct SeenBox { std::string caption, text; int answer; HWND window; HICON icon; };

// Watches for dialogs of one process (0: this one) with a child `textId` (0xFFFF: message boxes) and answers each
// with the next id of `answers` (the last one repeats; IDOK when empty), on its own thread while it lives; `before`
// runs on that thread for each box before it is answered.
class BoxAnswerer {
public:
    explicit BoxAnswerer(std::vector<int> answers = {}, std::function<void(const SeenBox &)> before = nullptr,
                         DWORD processId = 0, int textId = 0xFFFF);
    ~BoxAnswerer();
    std::vector<SeenBox> Seen();

private:
    void Run();
    std::vector<int> answers_;
    std::function<void(const SeenBox &)> before_;
    DWORD processId_;
    int textId_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<SeenBox> seen_;
    std::vector<HWND> answered_;  // the watcher thread's own
    std::thread thread_;
};
