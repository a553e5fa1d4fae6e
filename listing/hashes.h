// listing/hashes.h: content fingerprints of files, computed with the
// platform's cryptography (CNG). One FileHasher per run (or per thread): it
// owns the algorithm handles and a read buffer, and is used by one thread
// at a time.
#pragma once
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "listing.h"

// The algorithm's name as options and JSON keys spell it ("sha256"), and as
// column headings do ("SHA256").
const char *HashName(HashAlgorithm algorithm);
const char *HashHeading(HashAlgorithm algorithm);

class FileHasher {
public:
    // Opens the algorithms; a failure shows in Ready().
    FileHasher(const std::vector<HashAlgorithm> &algorithms, const std::atomic<bool> *cancel);
    ~FileHasher();
    FileHasher(const FileHasher &) = delete;
    FileHasher &operator=(const FileHasher &) = delete;

    // 0 when every algorithm is open, else the system's code.
    DWORD Ready() const { return error_; }

    // Reads the whole file at `reachPath` (the "\\?\" form) once and sets
    // `hex` to one lowercase digest per algorithm, in the constructor's
    // order. Returns 0, or the system's code when the file could not be read
    // (then `hex` is empty); ERROR_OPERATION_ABORTED when the stop request
    // was seen. Files of any size; others may be writing them meanwhile.
    DWORD HashFile(const std::wstring &reachPath, std::vector<std::string> &hex);

private:
    struct Algorithm;
    void DestroyHashes();
    std::vector<Algorithm> algorithms_;
    const std::atomic<bool> *cancel_;
    std::vector<unsigned char> buffer_;
    DWORD error_ = 0;
};
