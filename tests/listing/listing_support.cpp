// Scratch trees on drive D: for the engine tests.
#include "listing_support.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "support.h"

std::string FreshTree(const std::string &name) {
    ResetFolderUnix(DriveFolderUnix('d') + "/" + name);
    return "D:\\" + name;
}

std::string OnLinux(const std::string &windowsPath) {
    std::string out = DriveFolderUnix('d');
    for (size_t i = 2; i < windowsPath.size(); ++i) out += windowsPath[i] == '\\' ? '/' : windowsPath[i];
    return out;
}

void MakeFile(const std::string &path, size_t size, int year, int month, int day, int hour,
              int minute, int second) {
    WriteWholeFile(path, std::string(size, 'x'));
    SetWriteTimeUtc(path, year, month, day, hour, minute, second);
}

void MakeFolder(const std::string &path) {
    CreateDirectoryA(path.c_str(), nullptr);
}

std::string Lines(const std::vector<std::string> &lines) {
    std::string out;
    for (const std::string &line : lines) out += line + "\r\n";
    return out;
}

ListingOptions Options(bool subfolders, bool files, int sortKey, bool pathOnEachLine,
                       bool fullPathInHeading, bool details) {
    return ListingOptions{subfolders, files, sortKey, pathOnEachLine, fullPathInHeading, details};
}

std::string ListTree(const std::string &start, const char *filter, const ListingOptions &options) {
    std::string output = UnixToWindows(DriveFolderUnix('d') + "-listing.txt");
    DeleteFileA(output.c_str());
    WriteListing(output.c_str(), start.c_str(), filter, options);
    return ReadWholeFile(output);
}

FolderEntry *NewEntry(bool folder, const std::string &name, unsigned long long size,
                      unsigned long long time) {
    FolderEntry *e = static_cast<FolderEntry *>(calloc(1, EntryBytes(folder, name.size())));
    e->isFolder = folder ? 1 : 0;
    e->nameLength = static_cast<int>(name.size());
    memcpy(e->name, name.c_str(), name.size() + 1);
    size_t dot = name.rfind('.');
    e->extensionOffset = folder ? 0 : static_cast<int>(dot == std::string::npos ? name.size() : dot + 1);
    e->size = size;
    e->lastWriteTime.dwLowDateTime = static_cast<DWORD>(time);
    e->lastWriteTime.dwHighDateTime = static_cast<DWORD>(time >> 32);
    return e;
}
