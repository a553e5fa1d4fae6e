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

// What HashFile returns for the file the catalogue is being written to: it
// gets no fingerprint (its bytes are not final), and nothing is wrong.
const DWORD HashOwnOutput = 0x20000001;  // bit 29: a code of the program's own

class FileHasher {
public:
    // Opens the algorithms; a failure shows in Ready(). `output` is the
    // catalogue's own file, or INVALID_HANDLE_VALUE and `outputPath` names
    // it (nothing when empty): a catalogue written into the tree it lists
    // is not fingerprinted.
    FileHasher(const std::vector<HashAlgorithm> &algorithms, const std::atomic<bool> *cancel, HANDLE output,
               const std::wstring &outputPath);
    ~FileHasher();
    FileHasher(const FileHasher &) = delete;
    FileHasher &operator=(const FileHasher &) = delete;

    // 0 when every algorithm is open, else the system's code.
    DWORD Ready() const { return error_; }

    // Reads the whole file at `reachPath` (the "\\?\" form) once and sets
    // `hex` to one lowercase digest per algorithm, in the constructor's
    // order. Returns 0, or the system's code when the file could not be read
    // (then `hex` is empty); ERROR_OPERATION_ABORTED when the stop request
    // was seen; HashOwnOutput for the catalogue's own file. Files of any
    // size; others may be writing them meanwhile.
    DWORD HashFile(const std::wstring &reachPath, std::vector<std::string> &hex);

private:
    struct Algorithm;
    void DestroyHashes();
    bool IsOutput(HANDLE file) const;
    std::vector<Algorithm> algorithms_;
    const std::atomic<bool> *cancel_;
    std::vector<unsigned char> buffer_;
    DWORD error_ = 0;
    // The catalogue's own file: its volume and its index there.
    bool outputKnown_ = false;
    BY_HANDLE_FILE_INFORMATION output_ = {};
};
