// tests/support/support.h: what the test programs share.
// Scratch trees live on the Linux side of drives that the test run maps
// (build/testdrives/<letter>); Linux-only steps (symlinks, sparse files)
// go through RunUnix. Message boxes are found and answered for real.
#pragma once
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "listing.h"

// The Linux path of the folder behind test drive `letter` (d, e, f, g).
std::string DriveFolderUnix(char letter);
// "Z:\..." for a Linux path.
std::string UnixToWindows(const std::string &unixPath);
// Runs `command` through /bin/sh on the Linux side and waits for it.
// Returns its exit status, or -1 when it did not finish within 60 s.
int RunUnix(const std::string &command);
// Quotes a string for /bin/sh.
std::string ShellQuote(const std::string &text);
// Empties (or creates) a Linux folder.
void ResetFolderUnix(const std::string &unixPath);
// A whole file through the Win32 API; "" for a missing file.
std::string ReadWholeFile(const std::string &path);
bool FileExists(const std::string &path);
// The current directory of this process.
std::string CurrentDirectory();
// Text of a window of any process (WM_GETTEXT works across processes).
std::string WindowText(HWND window);

// Writes the text listing of `startFolder` to `outputPath` (both ANSI, as the dialog has them) with the choices of
// `request`, which may name neither: the dialog's bytes for the same choices. Gives the run's outcome.
ListingOutcome WriteListing(const std::string &outputPath, const std::string &startFolder,
                            ListingRequest request = ListingRequest());

// One message box seen by a BoxAnswerer.
struct SeenBox { std::string caption, text; int answer; };

// Watches for message boxes (#32770 windows with a static 0xFFFF) of one process (0: this one) and answers each
// with the next id of `answers` (the last one repeats; IDOK when empty), on its own thread while it lives.
class BoxAnswerer {
public:
    explicit BoxAnswerer(std::vector<int> answers = {}, DWORD processId = 0);
    ~BoxAnswerer();
    std::vector<SeenBox> Seen();
    // Waits up to `ms` for at least `count` boxes; true when they came.
    bool WaitFor(size_t count, DWORD ms);
    // Runs `action` for each box before it is answered (on the watcher thread).
    void SetBeforeAnswer(void (*action)(const SeenBox &box, void *context), void *context);

private:
    void Run();
    std::vector<int> answers_;
    DWORD processId_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<SeenBox> seen_;
    std::vector<HWND> answered_;  // the watcher thread's own
    void (*before_)(const SeenBox &, void *) = nullptr;
    void *context_ = nullptr;
    std::thread thread_;
};
