// dirtally-cli: one listing run from command-line options. The outcome is
// the exit code; standard error carries only a failure's reason and, on a
// console, a progress line while a long run goes on. Never a message box.
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "compare.h"
#include "listing.h"
#include "names.h"
#include "options.h"
#include "version.h"
#include "worker.h"

// The exit codes, as --help states them.
enum ExitCode {
    ExitComplete = 0,
    ExitOutputFailed = 1,
    ExitUsage = 2,
    ExitUnreadable = 4,  // written, but something could not be read
    ExitInterrupted = 130,  // 128 + SIGINT, as shells report an interrupted command
};

static const char Version[] = PROGRAM_TITLE "\r\n";

// Shared with the console control handler, which runs on a thread of its
// own: the stop request, and an event set once the run has ended (its
// incomplete file removed).
static std::atomic<bool> StopRequest{false};
static HANDLE RunEnded = nullptr;

// True when `handle` is a console (under Wine also a Linux terminal).
static bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

// Writes text to standard error: as wide text on a console, else as UTF-8
// so that no name is lost to the code page.
static void WriteError(const std::wstring &text) {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (!error || error == INVALID_HANDLE_VALUE || text.empty()) return;
    DWORD done = 0;
    if (IsConsole(error)) {
        WriteConsoleW(error, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
        return;
    }
    std::string utf8;
    NarrowText(text.data(), text.size(), CP_UTF8, utf8);
    WriteFile(error, utf8.data(), static_cast<DWORD>(utf8.size()), &done, nullptr);
}

// One failure line on standard error.
static void Complain(const std::wstring &message) { WriteError(L"dirtally-cli: " + message + L"\r\n"); }

// A usage error: the reason and where to read the usage; gives the exit code.
static int UsageError(const std::wstring &message) {
    Complain(message);
    WriteError(L"Try 'dirtally-cli --help' for more information.\r\n");
    return ExitUsage;
}

// Names each folder or file the catalogue marks as not read, as the run
// comes to it, unless told to be quiet.
class ProblemLines : public ListingProblems {
public:
    explicit ProblemLines(bool quiet) : quiet_(quiet) {}
    void Unreadable(const std::wstring &path, bool isFolder, DWORD error) override {
        if (quiet_) return;
        Complain(std::wstring(isFolder ? L"can't read folder " : L"can't read file ") + path + L": " +
                 SystemMessage(error));
    }

private:
    bool quiet_;
};

// Writes narrow text (the help, the version) to standard output; false when
// the write failed.
static bool WriteOutput(const char *text) {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD length = static_cast<DWORD>(std::strlen(text)), done = 0;
    return output && output != INVALID_HANDLE_VALUE &&
           WriteFile(output, text, length, &done, nullptr) && done == length;
}

// The absolute form of `path`, its trailing backslashes dropped except a
// root's own, so that "D:\Music\" lists as the dialog's "D:\Music" does.
static std::wstring AbsolutePath(const std::wstring &path) {
    DWORD units = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (units == 0) return path;
    std::wstring full(units, L'\0');
    units = GetFullPathNameW(path.c_str(), units, &full[0], nullptr);
    full.resize(units);
    while (full.size() > 1 && full.back() == L'\\' && full[full.size() - 2] != L':' &&
           full[full.size() - 2] != L'\\')
        full.pop_back();
    return full;
}

// The attributes of an absolute path of any length.
static DWORD PathAttributes(const std::wstring &path) {
    return GetFileAttributesW(path.size() < MAX_PATH ? path.c_str() : LongPath(path).c_str());
}

// The current folder.
static std::wstring CurrentFolder() {
    DWORD units = GetCurrentDirectoryW(0, nullptr);
    std::wstring folder(units, L'\0');
    units = GetCurrentDirectoryW(units, &folder[0]);
    folder.resize(units);
    return folder;
}

// Ctrl+C and Ctrl+Break ask the run to stop; closing the console window
// does too, and waits (the system allows a few seconds) for the run to
// remove its incomplete file.
static BOOL WINAPI OnConsoleControl(DWORD event) {
    StopRequest = true;
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && RunEnded) WaitForSingleObject(RunEnded, 4000);
    return TRUE;
}

// Runs the listing on a worker thread and, while it goes on, keeps the
// progress line up to date when `showProgress`; the line is cleared at the end.
static ListingResult RunShowingProgress(const ListingRequest &request, const ListingProgress &progress,
                                        bool showProgress) {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    size_t shown = 0;  // the length of the line on the screen
    DWORD done = 0;
    ListingResult result = RunWatched(
        request, [](HANDLE thread, DWORD ms) { return WaitForSingleObject(thread, ms) == WAIT_OBJECT_0; },
        [&] {
            if (!showProgress) return;
            std::string text = ProgressText(progress);
            std::wstring line = L"\r" + std::wstring(text.begin(), text.end());
            size_t length = text.size();
            if (length < shown) line.append(shown - length, L' ');
            WriteConsoleW(error, line.data(), static_cast<DWORD>(line.size()), &done, nullptr);
            shown = length > shown ? length : shown;
        });
    if (shown > 0) {
        std::wstring blank = L"\r" + std::wstring(shown, L' ') + L"\r";
        WriteConsoleW(error, blank.data(), static_cast<DWORD>(blank.size()), &done, nullptr);
    }
    return result;
}

// The arguments after the program's name, as UTF-16 from the command line.
static std::vector<std::wstring> Arguments() {
    int count = 0;
    wchar_t **list = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> arguments;
    for (int i = 1; list && i < count; ++i) arguments.push_back(list[i]);
    if (list) LocalFree(list);
    return arguments;
}

int main() {
    // A drive that is not ready gives an error code, not a system box.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    std::vector<std::wstring> arguments = Arguments();
    if (IsCompareCommand(arguments)) return RunCompare(arguments);
    CommandLine line;
    std::wstring reason;
    if (!ReadCommandLine(arguments, &line, &reason)) return UsageError(reason);
    if (line.help || line.version) {
        if (WriteOutput(line.help ? HelpText() : Version)) return ExitComplete;
        Complain(L"can't write standard output: " + SystemMessage(GetLastError()));
        return ExitOutputFailed;
    }

    ListingRequest &request = line.request;
    if (line.folders.empty()) line.folders.push_back(CurrentFolder());
    for (const std::wstring &folder : line.folders) {
        std::wstring start = AbsolutePath(folder);
        DWORD attributes = PathAttributes(start);
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return UsageError(L"start folder not found: " + start + L" (" + SystemMessage(GetLastError()) + L")");
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return UsageError(L"not a folder: " + start);
        request.startFolders.push_back(start);
    }
    std::wstring output = line.output.empty() ? L"" : AbsolutePath(line.output);

    ListingProgress progress;
    ProblemLines problems(line.quiet);
    request.problems = &problems;
    if (output.empty()) request.outputHandle = GetStdHandle(STD_OUTPUT_HANDLE);
    else request.outputPath = output;
    request.cancel = &StopRequest;
    request.progress = &progress;
    // A progress line on the console the listing itself goes to would break
    // into it, so it shows only when the listing goes elsewhere.
    bool showProgress = !line.quiet && IsConsole(GetStdHandle(STD_ERROR_HANDLE)) &&
                        !(output.empty() && IsConsole(request.outputHandle));

    RunEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    ListingResult result = RunShowingProgress(request, progress, showProgress);
    if (RunEnded) SetEvent(RunEnded);
    std::wstring target = output.empty() ? L"standard output" : L"output file " + output;
    switch (result.outcome) {
    case ListingOutcome::Complete:
        return result.unreadFolders + result.unreadFiles > 0 ? ExitUnreadable : ExitComplete;
    case ListingOutcome::Stopped:
        return ExitInterrupted;
    case ListingOutcome::NotCreated:
        Complain(L"can't create " + target + L": " + SystemMessage(result.systemError));
        return ExitOutputFailed;
    case ListingOutcome::Failed:
        Complain(L"can't write " + target + L": " + SystemMessage(result.systemError));
        return ExitOutputFailed;
    }
    return ExitOutputFailed;
}
