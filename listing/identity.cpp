// Folder identity: the volume a folder lies on.
//
// On Windows the volume serial number tells volumes apart. Under Wine it
// does not: Wine's mount manager knows no serial for a file system without
// a block device (tmpfs: every one reads 0), and the query can come back
// empty when the manager is busy. There the Linux device number of the
// mount that holds the folder is used instead, read from the kernel's
// mount table, whose mount points are matched against the folder's final
// path in the same DOS form that Wine gives both.
#include "identity.h"

#include <stdlib.h>

#include "names.h"

// Undoes the octal escapes of the mount table (space, tab, newline, backslash).
static std::string UnescapeMountPath(const std::string &field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3') {
            int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            out += static_cast<char>(value);
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

// Reads a whole file of the Linux side; /proc files report no size, so it
// reads to the end.
static std::string ReadLinuxFile(VolumeLookup::DosNameFunction DosName, const char *unixPath) {
    std::string text;
    WCHAR *dos = DosName(unixPath);
    if (!dos) return text;
    HANDLE file = CreateFileW(dos, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    HeapFree(GetProcessHeap(), 0, dos);
    if (file == INVALID_HANDLE_VALUE) return text;
    char piece[16384];
    DWORD got = 0;
    while (ReadFile(file, piece, sizeof piece, &got, nullptr) && got > 0) text.append(piece, got);
    CloseHandle(file);
    return text;
}

// Reads the kernel's mount table and gives every mount point its DOS form.
void VolumeLookup::ReadMounts() {
    mountsRead_ = true;
    std::string table = ReadLinuxFile(dosName_, mountTable_);
    size_t start = 0;
    while (start < table.size()) {
        size_t end = table.find('\n', start);
        if (end == std::string::npos) end = table.size();
        std::string line = table.substr(start, end - start);
        start = end + 1;
        // Fields: mount id, parent id, major:minor, root, mount point, ...
        std::vector<std::string> fields;
        size_t at = 0;
        while (fields.size() < 5 && at < line.size()) {
            size_t space = line.find(' ', at);
            if (space == std::string::npos) space = line.size();
            fields.push_back(line.substr(at, space - at));
            at = space + 1;
        }
        if (fields.size() < 5) continue;
        unsigned long major = 0, minor = 0;
        size_t colon = fields[2].find(':');
        if (colon == std::string::npos) continue;
        major = strtoul(fields[2].c_str(), nullptr, 10);
        minor = strtoul(fields[2].c_str() + colon + 1, nullptr, 10);
        Mount mount;
        mount.unixPath = UnescapeMountPath(fields[4]);
        mount.device = (static_cast<unsigned long long>(major) << 32) | minor;
        WCHAR *dos = dosName_(mount.unixPath.c_str());
        if (!dos) continue;
        mount.dosPath = PlainPath(std::wstring(dos));
        HeapFree(GetProcessHeap(), 0, dos);
        if (mount.dosPath.size() > 3 && mount.dosPath.back() == L'\\') mount.dosPath.pop_back();
        mounts_.push_back(mount);
    }
}

VolumeLookup::VolumeLookup(const char *mountTable) : mountTable_(mountTable) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return;
    unixName_ = reinterpret_cast<UnixNameFunction>(
        reinterpret_cast<void *>(GetProcAddress(kernel, "wine_get_unix_file_name")));
    dosName_ = reinterpret_cast<DosNameFunction>(
        reinterpret_cast<void *>(GetProcAddress(kernel, "wine_get_dos_file_name")));
    underWine_ = unixName_ && dosName_;
}

// True when `prefix` begins `path` up to a component boundary, ignoring case.
static bool BeginsPath(const std::wstring &path, const std::wstring &prefix) {
    if (prefix.empty() || prefix.size() > path.size()) return false;
    if (CompareStringOrdinal(path.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                             static_cast<int>(prefix.size()), TRUE) != CSTR_EQUAL)
        return false;
    return path.size() == prefix.size() || prefix.back() == L'\\' || path[prefix.size()] == L'\\';
}

// True when `prefix` begins the Linux path `path` up to a component boundary.
static bool BeginsUnixPath(const std::string &path, const std::string &prefix) {
    if (prefix.size() > path.size() || path.compare(0, prefix.size(), prefix) != 0) return false;
    return path.size() == prefix.size() || prefix == "/" || path[prefix.size()] == '/';
}

// The device of the mount holding a folder, found by its final DOS path;
// failing that, by the Linux path of its drive's root.
bool VolumeLookup::WineDeviceOf(HANDLE folder, unsigned long long *device) {
    if (!mountsRead_) ReadMounts();
    if (mounts_.empty()) return false;
    std::vector<wchar_t> buffer(1024);
    DWORD length = GetFinalPathNameByHandleW(folder, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    if (length >= buffer.size()) {
        buffer.resize(length + 1);
        length = GetFinalPathNameByHandleW(folder, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    }
    if (length == 0 || length >= buffer.size()) return false;
    std::wstring path = PlainPath(std::wstring(buffer.data()));
    const Mount *best = nullptr;
    // Later lines of the table mount over earlier ones at the same place.
    for (const Mount &mount : mounts_)
        if (BeginsPath(path, mount.dosPath) && (!best || mount.dosPath.size() >= best->dosPath.size()))
            best = &mount;
    if (!best && path.size() >= 3 && path[1] == L':') {
        // No mount point lies on the drive: the drive's root is inside a
        // mount that Wine names through another drive.
        std::wstring root = path.substr(0, 3);
        char *unix = unixName_(root.c_str());
        if (unix) {
            std::string unixRoot = unix;
            HeapFree(GetProcessHeap(), 0, unix);
            for (const Mount &mount : mounts_)
                if (BeginsUnixPath(unixRoot, mount.unixPath) &&
                    (!best || mount.unixPath.size() >= best->unixPath.size()))
                    best = &mount;
        }
    }
    if (!best) return false;
    *device = best->device;
    return true;
}

unsigned long long VolumeLookup::KeyOf(HANDLE folder, bool *known) {
    unsigned long long device = 0;
    if (underWine_ && WineDeviceOf(folder, &device)) {
        *known = true;
        return device;
    }
    BY_HANDLE_FILE_INFORMATION info;
    *known = !underWine_ && GetFileInformationByHandle(folder, &info) != 0;
    return *known ? info.dwVolumeSerialNumber : 0;
}

bool FileIdOf(HANDLE folder, unsigned long long *id) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(folder, &info)) return false;
    *id = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}
