// dirtally-cli: one listing run from command-line options. The outcome is
// the exit code; standard error carries a failure's reason, each folder or
// file not read, a note on a listing that can only be empty and, on a
// console, a progress line while a long run goes on. Never a message box.
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstring>
#include <mutex>
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
    ExitReaderGone = 141,  // 128 + SIGPIPE, as shells report a Unix tool whose reader left
};

static const char Version[] = PROGRAM_TITLE "\r\n";

// Shared with the console control handler, which runs on a thread of its
// own: the stop request, an event set once the run has ended (its
// incomplete file removed), and the exit code decided by then.
static std::atomic<bool> StopRequest{false};
static HANDLE RunEnded = nullptr;
static std::atomic<int> FinalCode{ExitInterrupted};

// The code page of the listing's bytes, for the console's conversion: one
// run per process, set before it starts.
static UINT ListingCodePage = CP_UTF8;

// True when `handle` is a console (under Wine also a Linux terminal).
static bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

// True when a write failed because the pipe's reader has gone (Windows
// says the pipe is being closed, Wine that it is not connected).
static bool ReaderGone(HANDLE handle, DWORD error) {
    return GetFileType(handle) == FILE_TYPE_PIPE &&
           (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED);
}

// Writes a piece of the listing to a console as UTF-16, so that the
// console shows every character whatever its own code page. The sink
// writes whole lines, so no character is split between two pieces.
static BOOL WINAPI WriteToConsole(HANDLE console, LPCVOID data, DWORD bytes, LPDWORD written, LPOVERLAPPED) {
    std::wstring text = WidenText(std::string(static_cast<const char *>(data), bytes), ListingCodePage);
    DWORD units = 0;
    if (!WriteConsoleW(console, text.data(), static_cast<DWORD>(text.size()), &units, nullptr)) return FALSE;
    *written = bytes;
    return TRUE;
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

// Standard error during a run: the progress line, rewritten in place from
// the watching thread, and the problem lines from the run's thread. A
// problem line first clears the progress line, so that the two never share
// a line; the next progress starts a line of its own.
class ErrorLines : public ListingProblems {
public:
    explicit ErrorLines(bool quiet) : quiet_(quiet) {}

    // Shows `text` as the progress line.
    void Progress(const std::string &text) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::wstring line = L"\r" + std::wstring(text.begin(), text.end());
        if (text.size() < shown_) line.append(shown_ - text.size(), L' ');
        Write(line);
        shown_ = text.size() > shown_ ? text.size() : shown_;
    }
    // Blanks the progress line, leaving the cursor at its start.
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        ClearLocked();
    }
    // Names a folder or file the catalogue marks as not read, unless quiet.
    void Unreadable(const std::wstring &path, bool isFolder, DWORD error) override {
        if (quiet_) return;
        // A line end or tab in a name (possible on other systems) would split
        // the line: such characters show as "?", as in the text listing.
        std::wstring shown = path;
        for (wchar_t &c : shown)
            if (c < 0x20) c = L'?';
        std::lock_guard<std::mutex> lock(mutex_);
        ClearLocked();
        Complain(std::wstring(isFolder ? L"can't read folder " : L"can't read file ") + shown + L": " +
                 SystemMessage(error));
    }

private:
    void ClearLocked() {
        if (shown_ == 0) return;
        Write(L"\r" + std::wstring(shown_, L' ') + L"\r");
        shown_ = 0;
    }
    static void Write(const std::wstring &text) {
        DWORD done = 0;
        WriteConsoleW(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
    }

    bool quiet_;
    std::mutex mutex_;
    size_t shown_ = 0;  // the length of the progress line on the screen
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

// Ctrl+C and Ctrl+Break ask the run to stop. Closing the console window,
// logging off and shutting down do too, but the system ends the process
// once this returns: it waits (the system allows a few seconds) for the
// run to end and remove its incomplete file, then ends the process with
// the run's exit code, as after Ctrl+C.
static BOOL WINAPI OnConsoleControl(DWORD event) {
    StopRequest = true;
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
    if (RunEnded && WaitForSingleObject(RunEnded, 4000) == WAIT_OBJECT_0) ExitProcess(static_cast<UINT>(FinalCode.load()));
    return TRUE;
}

// Runs the listing on a worker thread and, while it goes on, keeps the
// progress line up to date when `showProgress`; the line is cleared at the end.
static ListingResult RunShowingProgress(const ListingRequest &request, const ListingProgress &progress,
                                        ErrorLines &lines, bool showProgress) {
    ListingResult result = RunWatched(
        request, [](HANDLE thread, DWORD ms) { return WaitForSingleObject(thread, ms) == WAIT_OBJECT_0; },
        [&] {
            if (showProgress) lines.Progress(ProgressText(progress));
        });
    lines.Clear();
    return result;
}

// Opens the listing's file (absolute), created or replaced; `reach` is the
// name it is reached by, for its removal. Refuses a folder and a device (a
// write to NUL or /dev/null would report a listing written that is
// nowhere), with the reason in `reason`.
static HANDLE OpenOutput(const std::wstring &path, std::wstring &reach, std::wstring &reason) {
    reach = path.size() < MAX_PATH ? path : LongPath(path);
    DWORD attributes = GetFileAttributesW(reach.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        reason = L"it is a folder";
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = CreateFileW(reach.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = SystemMessage(GetLastError());
        return file;
    }
    DWORD type = GetFileType(file);
    if (type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE) {
        CloseHandle(file);
        reason = L"it is a device, not a file (for standard output use -o -)";
        return INVALID_HANDLE_VALUE;
    }
    return file;
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
        HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
        if (WriteOutput(line.help ? HelpText() : Version)) return ExitComplete;
        DWORD error = GetLastError();
        if (ReaderGone(output, error)) return ExitReaderGone;
        Complain(L"can't write standard output: " + SystemMessage(error));
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
    if (!request.includeFiles && !request.includeSubfolders && !line.quiet)
        Complain(L"note: --no-files without -s lists no entries, only each start folder's heading");

    // The listing goes to a file this program opens, or to a standard stream.
    std::wstring output = line.output.empty() ? L"" : AbsolutePath(line.output), reach;
    std::wstring target = !output.empty() ? L"output file " + output
                          : line.toStandardError ? L"standard error" : L"standard output";
    HANDLE file = GetStdHandle(line.toStandardError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (!output.empty()) {
        file = OpenOutput(output, reach, reason);
        if (file == INVALID_HANDLE_VALUE) {
            Complain(L"can't create " + target + L": " + reason);
            return ExitOutputFailed;
        }
    }
    request.outputHandle = file;
    // A console shows the listing's characters only when given them as UTF-16.
    if (IsConsole(file)) {
        bool ansi = request.format == OutputFormat::Text && request.encoding == TextEncoding::Ansi;
        ListingCodePage = ansi ? FileApiCodePage() : CP_UTF8;
        request.writeCall = WriteToConsole;
    }

    ListingProgress progress;
    ErrorLines errorLines(line.quiet);
    request.problems = &errorLines;
    request.cancel = &StopRequest;
    request.progress = &progress;
    // A progress line on the console the listing itself goes to would break
    // into it, so it shows only when the listing goes elsewhere.
    HANDLE errors = GetStdHandle(STD_ERROR_HANDLE);
    bool showProgress = !line.quiet && IsConsole(errors) && !(output.empty() && IsConsole(file));

    RunEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    ListingResult result = RunShowingProgress(request, progress, errorLines, showProgress);
    int code = ExitOutputFailed;
    switch (result.outcome) {
    case ListingOutcome::Complete:
        code = result.unreadFolders + result.unreadFiles > 0 ? ExitUnreadable : ExitComplete;
        break;
    case ListingOutcome::Stopped:
        code = ExitInterrupted;
        break;
    case ListingOutcome::NotCreated:
    case ListingOutcome::Failed:
        if (ReaderGone(file, result.systemError)) {
            code = ExitReaderGone;
            break;
        }
        Complain(std::wstring(result.outcome == ListingOutcome::NotCreated ? L"can't create " : L"can't write ") + target +
                 L": " + SystemMessage(result.systemError));
        break;
    }
    if (!output.empty()) {
        CloseHandle(file);
        // Nothing incomplete is left behind.
        if (code != ExitComplete && code != ExitUnreadable) DeleteFileW(reach.c_str());
    }
    FinalCode = code;
    if (RunEnded) SetEvent(RunEnded);
    return code;
}
