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
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
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

bool FileExists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
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
    for (DWORD waited = 0; Seen().size() < count; waited += 10) {
        if (waited >= ms) return false;
        Sleep(10);
    }
    return true;
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

// Stops at the first visible message box of the process not yet answered.
BOOL CALLBACK FindBox(HWND window, LPARAM data) {
    BoxSearch *search = reinterpret_cast<BoxSearch *>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    if (owner != search->processId || !IsWindowVisible(window) ||
        std::string(className) != "#32770" || !GetDlgItem(window, 0xFFFF))
        return TRUE;
    for (HWND done : *search->answered)
        if (done == window) return TRUE;
    search->found = window;
    return FALSE;
}
}  // namespace

void BoxAnswerer::Run() {
    while (!stop_) {
        BoxSearch search = {processId_, &answered_, nullptr};  // answered_ is this thread's own
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        if (!search.found) {
            Sleep(10);
            continue;
        }
        HWND box = search.found;
        Sleep(20);  // let the box finish its own initialisation
        SeenBox seen = {WindowText(box), WindowText(GetDlgItem(box, 0xFFFF)), IDOK};
        std::unique_lock<std::mutex> lock(mutex_);
        size_t index = seen_.size();
        if (!answers_.empty()) seen.answer = answers_[index < answers_.size() ? index : answers_.size() - 1];
        void (*before)(const SeenBox &, void *) = before_;
        void *context = context_;
        lock.unlock();
        if (before) before(seen, context);
        lock.lock();
        seen_.push_back(seen);
        answered_.push_back(box);
        lock.unlock();
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(seen.answer, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, seen.answer)));
    }
}
