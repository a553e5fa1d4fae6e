// Shared helpers of the test programs.
#include "support.h"

#include <algorithm>
#include <cstdlib>

#include "names.h"

std::string DriveFolderUnix(char letter) {
    const char *drives = std::getenv("DIRTALLY_DRIVES");
    return std::string(drives ? drives : "") + "/" + letter;
}

std::string UnixToWindows(const std::string &unixPath) {
    std::string out = "Z:" + unixPath;
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
}

std::string ShellQuote(const std::string &text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Quotes one argument by the rules that split a Windows command line, as Wine does before it starts a Linux program:
// backslashes double only before a quote, which gets one of its own, or at the end.
static std::string WindowsArgQuote(const std::string &arg) {
    std::string out = "\"";
    size_t slashes = 0;
    for (char c : arg) {
        if (c == '"') out.append(slashes + 1, '\\');
        slashes = c == '\\' ? slashes + 1 : 0;
        out += c;
    }
    return out.append(slashes, '\\') + "\"";
}

// Wine starts Linux programs but cannot wait for them: the command writes its status into a marker file, polled here,
// whose name holds the time too, since the Wine of every build folder numbers its processes alike.
int RunUnix(const std::string &command) {
    static int serial = 0;
    const std::string marker = "/tmp/dirtally-unix-" + std::to_string(GetCurrentProcessId()) + "-" +
                               std::to_string(GetTickCount()) + "-" + std::to_string(++serial) + ".status";
    std::string line = "/bin/sh -c " + WindowsArgQuote("(" + command + "); echo $? > " + marker + ".tmp; mv " +
                                                        marker + ".tmp " + marker);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return -1;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    const std::string markerWin = UnixToWindows(marker);
    std::string status;  // written whole by the rename
    if (!WaitUntil([&] { return !(status = ReadWholeFile(markerWin)).empty(); }, 60000)) return -1;
    DeleteFileA(markerWin.c_str());
    return std::atoi(status.c_str());
}

void ResetFolderUnix(const std::string &unixPath) {
    const std::string path = ShellQuote(unixPath);
    RunUnix("chmod -R u+rwx " + path + " 2>/dev/null; rm -rf " + path + " && mkdir -p " + path);
}

std::string ReadWholeFile(const std::string &path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    std::string bytes;
    char chunk[65536];
    for (DWORD got = 0; ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0;) bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

bool FileExists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

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

HWND FindDialog(DWORD processId, int childId, const std::vector<HWND> &skip) {
    HWND found = nullptr;
    for (DWORD owner = 0; (found = FindWindowExA(nullptr, found, WC_DIALOG, nullptr)) != nullptr; owner = 0)
        if (GetWindowThreadProcessId(found, &owner) && owner == (processId ? processId : GetCurrentProcessId()) &&
            IsWindowVisible(found) && GetDlgItem(found, childId) && std::find(skip.begin(), skip.end(), found) == skip.end())
            return found;
    return nullptr;
}

// The icon of a dialog's first SS_ICON static; null when it has none.
static HICON IconOf(HWND dialog) {
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            return reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    return nullptr;
}

BoxAnswerer::BoxAnswerer(std::vector<int> answers, std::function<void(const SeenBox &)> before, DWORD processId,
                         int textId)
    : answers_(std::move(answers)), before_(std::move(before)), processId_(processId), textId_(textId),
      thread_([this] { Run(); }) {}

BoxAnswerer::~BoxAnswerer() { stop_ = true, thread_.join(); }

std::vector<SeenBox> BoxAnswerer::Seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

// Answers each box of the process once, from the first found.
void BoxAnswerer::Run() {
    for (; !stop_; Sleep(10)) {
        HWND box = FindDialog(processId_, textId_, answered_);
        if (!box) continue;
        Sleep(20);  // let the box finish its own initialisation
        SeenBox seen = {WindowText(box), WindowText(GetDlgItem(box, textId_)), IDOK, box, IconOf(box)};
        if (!answers_.empty()) seen.answer = answers_[std::min(seen_.size(), answers_.size() - 1)];
        if (before_) before_(seen);
        std::lock_guard<std::mutex> lock(mutex_);  // seen_ changes only here, under the lock
        seen_.push_back(seen);
        answered_.push_back(box);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(seen.answer, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, seen.answer)));
    }
}

ListingOutcome WriteListing(const std::string &outputPath, const std::string &startFolder, ListingRequest request) {
    request.outputPath = WidenAnsi(outputPath.c_str());
    request.startFolders = {WidenAnsi(startFolder.c_str())};
    return RunListing(request).outcome;
}
