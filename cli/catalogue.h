// cli/catalogue.h: one side of a comparison held in memory: every folder
// and file of a catalogue by its path below the start folder, built from a
// catalogue file (catalogue_reader.h) or from a scan made now
// (ScanIntoCatalogue). Names live in blocks that never move; a file takes
// 32 bytes besides its name and digests, so that a catalogue of a million
// files fits in a 32-bit process. Owns everything it holds; no state
// outside it.
#pragma once
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "listing.h"

// What made the catalogue: its start folder and the choices that decide
// what it holds, so that a scan made now can hold the same.
struct CatalogueMaking {
    std::wstring startFolder;
    std::wstring filter = L"*.*";
    std::vector<std::wstring> excludes;
    bool subfolders = true;
    int maxDepth = -1;                  // -1: none
    std::vector<HashAlgorithm> hashes;  // the digests each file carries, in this order
};

// Seconds since 1601 (UTC), the resolution catalogues keep; NoTime when unknown.
const long long NoTime = -1;

// Attribute bits as catalogues keep them: the letters R, H, S, A.
enum AttributeBits : unsigned char { AttrReadOnly = 1, AttrHidden = 2, AttrSystem = 4, AttrArchive = 8 };

// How far a folder was read.
enum class FolderState : unsigned char {
    Read,       // entered and read in full (or, below the depth limit, listed only)
    NotRead,    // not opened, or read only in part: `reason` says why
    LeadsBack,  // a link back to a folder above it: never entered
};

struct CatalogueFolder {
    unsigned parent;            // index of the parent; the start folder (index 0) is its own
    unsigned name;              // in the name blocks
    unsigned short nameLength;  // bytes
    unsigned short depth;       // 0 for the start folder
    FolderState state;
    unsigned reason;            // with NotRead: index of the reason
    // Set by Finish: the folder's files (a range of Files()) and its
    // subfolders (a range of Subfolders()), each ordered by name.
    unsigned firstFile, fileCount, firstChild, childCount;
};

struct CatalogueFile {
    unsigned long long size;
    long long modified;         // seconds since 1601, or NoTime
    unsigned folder;            // index of its folder
    unsigned name;              // in the name blocks
    unsigned detail;            // the digests in the name blocks (0xFFFFFFFF: none); with `unread`, the reason's index
    unsigned short nameLength;  // bytes
    unsigned char unread;       // 1: its content could not be read (no digests)
    unsigned char attributes;   // AttributeBits
};

class Catalogue {
public:
    Catalogue();
    Catalogue(const Catalogue &) = delete;
    Catalogue &operator=(const Catalogue &) = delete;

    CatalogueMaking making;

    // Building. Paths are UTF-8 below the start folder, names joined by
    // "\"; "" is the start folder. Folders above a path are made as needed.
    // Reserves room for `files` files, so that a large catalogue grows once.
    void ReserveFiles(size_t files) { files_.reserve(files); }
    // A folder's row; `reason` (UTF-8) only with NotRead. Both give false,
    // and add nothing, for a path no file system has: an empty name, a name
    // of more than 65,535 bytes, more than 16,384 names.
    bool AddFolder(const std::string &path, FolderState state, const std::string &reason);
    // A file's row: `digests` holds one digest per algorithm of `making`, in
    // its order (DigestBytes() in all), or is null with the `reason` the
    // file could not be read.
    bool AddFile(const std::string &path, unsigned long long size, long long modified, unsigned char attributes,
                 const unsigned char *digests, const std::string &reason);
    // Orders every folder's files and subfolders by name and marks the
    // folders the catalogue lists but did not enter; call once, after the last row.
    void Finish();

    // Reading, after Finish.
    const std::vector<CatalogueFolder> &Folders() const { return folders_; }
    const std::vector<CatalogueFile> &Files() const { return files_; }
    const std::vector<unsigned> &Subfolders() const { return children_; }
    const char *Text(unsigned id) const { return blocks_[id >> BlockBits].get() + (id & BlockMask); }
    const std::string &Reason(unsigned index) const { return reasons_[index]; }
    // Whether the folder's entries were read: entered, within the depth
    // limit, and neither unreadable nor leading back.
    bool Entered(unsigned folder) const;
    // The bytes of all digests of one file.
    size_t DigestBytes() const;
    // The path of a folder ("" for the start folder) or of a file, below the start folder.
    std::string FolderPath(unsigned folder) const;
    std::string FilePath(unsigned file) const;

private:
    static const unsigned BlockBits = 20;
    static const unsigned BlockMask = (1u << BlockBits) - 1;
    unsigned Store(const void *bytes, size_t length);
    unsigned FolderAt(const std::string &path);
    unsigned ReasonIndex(const std::string &reason);

    std::vector<CatalogueFolder> folders_;
    std::vector<CatalogueFile> files_;
    std::vector<unsigned> children_;
    std::vector<std::unique_ptr<char[]>> blocks_;  // 1 MiB each
    size_t used_ = 0;                              // bytes taken of the last block
    std::unordered_map<std::string, unsigned> folderIndex_;  // path -> folder, while building
    std::string lastPath_;                                   // the folder found last, and its index
    unsigned lastFolder_ = 0;
    std::vector<std::string> reasons_;
};

// Compares two UTF-8 names as the file system does when it ignores case;
// <0, 0 or >0.
int CompareNamesIgnoringCase(const char *first, size_t firstLength, const char *second, size_t secondLength);

// The bytes of one digest of `algorithm`.
size_t DigestLength(HashAlgorithm algorithm);
// Lowercase or uppercase hex into `length` bytes; false unless it is exactly that.
bool DecodeHex(const char *hex, size_t hexLength, unsigned char *out, size_t length);

// Seconds since 1601 for a FILETIME; a FILETIME's 100 ns are dropped, as catalogues drop them.
long long CatalogueSeconds(const FILETIME &time);
// The letters' bits for a FILE_ATTRIBUTE_* value.
unsigned char CatalogueAttributes(DWORD attributes);

// How a scan into a catalogue ended.
enum class ScanEnd { Complete, Stopped, OutOfMemory };

// Walks `making.startFolder` with its choices into `catalogue` (making
// included) and finishes it; watches `cancel` (may be null).
ScanEnd ScanIntoCatalogue(const CatalogueMaking &making, const std::atomic<bool> *cancel, Catalogue &catalogue);
