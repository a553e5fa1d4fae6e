// Shared helpers of the test programs.
#include "support.h"

#include <cstdio>
#include <cstdlib>

std::string DriveFolderUnix(char letter) {
    const char *drives = std::getenv("DIRTALLY_DRIVES");
    std::string root = drives ? drives : "";
    return root + "/" + letter;
}

std::string UnixToWindows(const std::string &unixPath) {
    std::string out = "Z:";
    for (char c : unixPath) out += (c == '/') ? '\\' : c;
    return out;
}

std::string ShellQuote(const std::string &text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

// Quotes one argument by the rules that split a Windows command line (Wine
// splits the line that way before it starts a Linux program).
static std::string WindowsArgQuote(const std::string &arg) {
    std::string out = "\"";
    size_t slashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        if (c == '"') out.append(slashes * 2 + 1, '\\');
        else out.append(slashes, '\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, '\\');
    return out + "\"";
}

// Wine starts Linux programs but cannot wait for them: the command writes
// its status into a marker file, which is polled.
int RunUnix(const std::string &command) {
    static int serial = 0;
    char marker[160];
    std::snprintf(marker, sizeof marker, "/tmp/dirtally-unix-%lu-%d.status",
                  static_cast<unsigned long>(GetCurrentProcessId()), ++serial);
    std::string script = "(" + command + "); echo $? > " + std::string(marker) + ".tmp; mv " +
                         marker + ".tmp " + marker;
    std::string line = "/bin/sh -c " + WindowsArgQuote(script);
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    if (process.hProcess) CloseHandle(process.hProcess);
    if (process.hThread) CloseHandle(process.hThread);
    std::string markerWin = UnixToWindows(marker);
    for (int waited = 0; waited < 60000; waited += 5) {
        bool exists = false;
        std::string status = ReadWholeFile(markerWin, &exists);
        if (exists && !status.empty()) {
            DeleteFileA(markerWin.c_str());
            return std::atoi(status.c_str());
        }
        Sleep(5);
    }
    return -1;
}

void ResetFolderUnix(const std::string &unixPath) {
    RunUnix("chmod -R u+rwx " + ShellQuote(unixPath) + " 2>/dev/null; rm -rf " +
            ShellQuote(unixPath) + " && mkdir -p " + ShellQuote(unixPath));
}

std::string ReadWholeFile(const std::string &path, bool *exists) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (exists) *exists = file != INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) return "";
    std::string bytes;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

void WriteWholeFile(const std::string &path, const std::string &bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    if (!bytes.empty())
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

bool FileExists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void SetWriteTimeUtc(const std::string &path, int year, int month, int day, int hour,
                     int minute, int second) {
    SYSTEMTIME calendar = {};
    calendar.wYear = static_cast<WORD>(year);
    calendar.wMonth = static_cast<WORD>(month);
    calendar.wDay = static_cast<WORD>(day);
    calendar.wHour = static_cast<WORD>(hour);
    calendar.wMinute = static_cast<WORD>(minute);
    calendar.wSecond = static_cast<WORD>(second);
    FILETIME time;
    SystemTimeToFileTime(&calendar, &time);
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
}

std::string CurrentDirectory() {
    char path[MAX_PATH + 1] = "";
    GetCurrentDirectoryA(sizeof path, path);
    return path;
}

std::string WindowText(HWND window) {
    char text[1024] = "";
    SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

BoxAnswerer::BoxAnswerer(std::vector<int> answers, DWORD processId)
    : answers_(std::move(answers)),
      processId_(processId ? processId : GetCurrentProcessId()),
      thread_([this] { Run(); }) {}

BoxAnswerer::~BoxAnswerer() {
    stop_ = true;
    thread_.join();
}

std::vector<SeenBox> BoxAnswerer::Seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

bool BoxAnswerer::WaitFor(size_t count, DWORD ms) {
    for (DWORD waited = 0;; waited += 10) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (seen_.size() >= count) return true;
        }
        if (waited >= ms) return false;
        Sleep(10);
    }
}

void BoxAnswerer::SetBeforeAnswer(void (*action)(const SeenBox &, void *), void *context) {
    std::lock_guard<std::mutex> lock(mutex_);
    before_ = action;
    context_ = context;
}

namespace {
struct BoxSearch {
    DWORD processId;
    const std::vector<HWND> *answered;
    HWND found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM data) {
    BoxSearch *search = reinterpret_cast<BoxSearch *>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    if (std::string(className) != "#32770" || !GetDlgItem(window, 0xFFFF)) return TRUE;
    for (HWND done : *search->answered)
        if (done == window) return TRUE;
    search->found = window;
    return FALSE;
}
}  // namespace

void BoxAnswerer::Run() {
    while (!stop_) {
        std::vector<HWND> answered;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            answered = answered_;
        }
        BoxSearch search = {processId_, &answered, nullptr};
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        if (!search.found) {
            Sleep(10);
            continue;
        }
        HWND box = search.found;
        Sleep(20);  // let the box finish its own initialisation
        SeenBox seen;
        seen.caption = WindowText(box);
        seen.text = WindowText(GetDlgItem(box, 0xFFFF));
        void (*before)(const SeenBox &, void *);
        void *context;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            size_t index = seen_.size();
            seen.answer = answers_.empty() ? IDOK
                          : index < answers_.size() ? answers_[index]
                                                    : answers_.back();
            before = before_;
            context = context_;
        }
        if (before) before(seen, context);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            seen_.push_back(seen);
            answered_.push_back(box);
        }
        HWND button = GetDlgItem(box, seen.answer);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(seen.answer, BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
    }
}
