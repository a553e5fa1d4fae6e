// tests/listing/listing_support.h: scratch trees on drive D: for the engine tests.
#pragma once
#include <string>
#include <vector>

#include "listing.h"
#include "scan.h"

// Empties D:\<name> (creating it) and returns its Windows path.
std::string FreshTree(const std::string &name);

// The Linux path of a Windows path on D:.
std::string OnLinux(const std::string &windowsPath);

// Makes a file of `size` bytes written at the given UTC time.
void MakeFile(const std::string &path, size_t size, int year = 2001, int month = 3, int day = 7,
              int hour = 14, int minute = 30, int second = 15);

// Makes a folder; give its time after filling it, since filling changes it.
void MakeFolder(const std::string &path);

// Lines joined, each ended by CR LF.
std::string Lines(const std::vector<std::string> &lines);

// The options of one run, in the order of ListingOptions.
ListingOptions Options(bool subfolders, bool files, int sortKey, bool pathOnEachLine,
                       bool fullPathInHeading, bool details);

// Runs WriteListing into a file outside drive D: and returns its bytes.
std::string ListTree(const std::string &start, const char *filter, const ListingOptions &options);

// A hand-built entry (released with FreeEntryList); `time` is a FILETIME value.
FolderEntry *NewEntry(bool folder, const std::string &name, unsigned long long size,
                      unsigned long long time);
