// listing/identity.h: which volume an open folder lies on, so that a
// folder reached twice (through a link or a mount) is recognised. One
// VolumeLookup per run: it reads the mount table (under Wine) on first use
// and keeps it for the run alone.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

class VolumeLookup {
public:
    // `mountTable`: the Linux path of the mount table read under Wine (a
    // file in the same format can stand in for the kernel's).
    explicit VolumeLookup(const char *mountTable = "/proc/self/mountinfo");

    // A key that is equal for two folders exactly when they lie on the same
    // volume; `known` turns false when the system cannot tell.
    unsigned long long KeyOf(HANDLE folder, bool *known);

    // Wine's own exports for moving between DOS and Linux paths; absent on Windows.
    typedef char *(CDECL *UnixNameFunction)(LPCWSTR dosName);
    typedef WCHAR *(CDECL *DosNameFunction)(LPCSTR unixName);

private:
    // One mounted file system: where it is mounted, in both forms, and its device.
    struct Mount {
        std::wstring dosPath;  // without "\\?\" and without a closing "\", except a root's
        std::string unixPath;
        unsigned long long device;
    };

    void ReadMounts();
    bool WineDeviceOf(HANDLE folder, unsigned long long *device);

    const char *mountTable_;
    UnixNameFunction unixName_ = nullptr;
    DosNameFunction dosName_ = nullptr;
    bool underWine_ = false;
    bool mountsRead_ = false;
    std::vector<Mount> mounts_;
};

// The folder's own file id on its volume, asked of the open handle; for
// folders whose enumeration has no "." entry.
bool FileIdOf(HANDLE folder, unsigned long long *id);
