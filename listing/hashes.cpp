// File fingerprints through CNG: every algorithm of a run fed from one read
// of the file, 1 MiB at a time.
#include "hashes.h"

#include <bcrypt.h>

#include "names.h"

// CNG's calls, found in bcrypt.dll when the first fingerprint is asked
// for: a run without fingerprints never loads it (loading costs a listing
// about 2 MB). Found once, then never changed.
struct CngCalls {
    decltype(&BCryptOpenAlgorithmProvider) open = nullptr;
    decltype(&BCryptGetProperty) getProperty = nullptr;
    decltype(&BCryptCreateHash) createHash = nullptr;
    decltype(&BCryptHashData) hashData = nullptr;
    decltype(&BCryptFinishHash) finishHash = nullptr;
    decltype(&BCryptDestroyHash) destroyHash = nullptr;
    decltype(&BCryptCloseAlgorithmProvider) close = nullptr;
    DWORD error = 0;  // why they could not be found
};

// Finds `name` in `library` as a call of type T; false when it is missing.
template <typename T>
static bool Find(HMODULE library, const char *name, T &call) {
    call = reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(library, name)));
    return call != nullptr;
}

static CngCalls LoadCng() {
    CngCalls calls;
    HMODULE library = LoadLibraryW(L"bcrypt.dll");
    bool found = library && Find(library, "BCryptOpenAlgorithmProvider", calls.open) &&
                 Find(library, "BCryptGetProperty", calls.getProperty) &&
                 Find(library, "BCryptCreateHash", calls.createHash) && Find(library, "BCryptHashData", calls.hashData) &&
                 Find(library, "BCryptFinishHash", calls.finishHash) &&
                 Find(library, "BCryptDestroyHash", calls.destroyHash) &&
                 Find(library, "BCryptCloseAlgorithmProvider", calls.close);
    if (!found) calls.error = library ? ERROR_PROC_NOT_FOUND : GetLastError();
    return calls;
}

static const CngCalls &Cng() {
    static const CngCalls calls = LoadCng();
    return calls;
}

// The algorithms by name, in the order of their values: the option and key
// spelling, the column heading, and CNG's identifier.
struct HashNames {
    const char *name;
    const char *heading;
    const wchar_t *cng;
};
static const HashNames Names[] = {
    {"sha256", "SHA256", BCRYPT_SHA256_ALGORITHM},
    {"sha1", "SHA1", BCRYPT_SHA1_ALGORITHM},
    {"md5", "MD5", BCRYPT_MD5_ALGORITHM},
    {"sha512", "SHA512", BCRYPT_SHA512_ALGORITHM},
};
static_assert(sizeof Names / sizeof Names[0] == static_cast<size_t>(HashAlgorithm::Sha512) + 1,
              "Names[algorithm] names each algorithm");

const char *HashName(HashAlgorithm algorithm) { return Names[static_cast<int>(algorithm)].name; }
const char *HashHeading(HashAlgorithm algorithm) { return Names[static_cast<int>(algorithm)].heading; }

// One open algorithm, and the hash object made for the file at hand.
struct FileHasher::Algorithm {
    BCRYPT_ALG_HANDLE provider = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    DWORD digestLength = 0;
};

// A CNG status as a system error code for the messages.
static DWORD ErrorOf(NTSTATUS status) {
    switch (static_cast<unsigned long>(status)) {
    case 0xC0000017UL: return ERROR_NOT_ENOUGH_MEMORY;  // STATUS_NO_MEMORY
    case 0xC00000BBUL: return ERROR_NOT_SUPPORTED;      // STATUS_NOT_SUPPORTED
    default: return ERROR_INVALID_FUNCTION;
    }
}

// The read size: large enough that a file's fingerprint costs what reading
// it costs, small enough that a stop request is seen within milliseconds.
static const size_t ReadSize = 1024 * 1024;

// Opens `path` for no access at all, which files held open with no sharing
// (the catalogue's own among them) allow.
static HANDLE OpenForIdentity(const std::wstring &path) {
    return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

FileHasher::FileHasher(const std::vector<HashAlgorithm> &algorithms, const std::atomic<bool> *cancel, HANDLE output,
                       const std::wstring &outputPath)
    : algorithms_(algorithms.size()), cancel_(cancel) {
    if (output != INVALID_HANDLE_VALUE) {
        // Standard output may be a console or a pipe: only a disk file has an identity.
        outputKnown_ = GetFileType(output) == FILE_TYPE_DISK && GetFileInformationByHandle(output, &output_);
    } else if (!outputPath.empty()) {
        HANDLE file = OpenForIdentity(LongPath(outputPath));
        if (file != INVALID_HANDLE_VALUE) {
            outputKnown_ = GetFileInformationByHandle(file, &output_) != 0;
            CloseHandle(file);
        }
    }
    error_ = algorithms.empty() ? 0 : Cng().error;
    for (size_t i = 0; i < algorithms.size() && error_ == 0; ++i) {
        Algorithm &algorithm = algorithms_[i];
        NTSTATUS status = Cng().open(&algorithm.provider, Names[static_cast<int>(algorithms[i])].cng,
                                                      nullptr, 0);
        ULONG got = 0;
        if (BCRYPT_SUCCESS(status))
            status = Cng().getProperty(algorithm.provider, BCRYPT_HASH_LENGTH,
                                       reinterpret_cast<PUCHAR>(&algorithm.digestLength), sizeof algorithm.digestLength,
                                       &got, 0);
        if (!BCRYPT_SUCCESS(status)) error_ = ErrorOf(status);
    }
}

FileHasher::~FileHasher() {
    for (Algorithm &algorithm : algorithms_) {
        if (algorithm.hash) Cng().destroyHash(algorithm.hash);
        if (algorithm.provider) Cng().close(algorithm.provider, 0);
    }
}

DWORD FileHasher::HashFile(const std::wstring &reachPath, std::vector<std::string> &hex) {
    hex.clear();
    if (error_ != 0) return error_;
    // Others may go on writing, renaming or removing the file: the
    // fingerprint is of the bytes read.
    HANDLE file = CreateFileW(reachPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        // The catalogue's own file is held with no sharing when the run created it.
        DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION || !outputKnown_) return error;
        HANDLE held = OpenForIdentity(reachPath);
        if (held == INVALID_HANDLE_VALUE) return error;
        bool own = IsOutput(held);
        CloseHandle(held);
        return own ? HashOwnOutput : error;
    }
    if (IsOutput(file)) {
        CloseHandle(file);
        return HashOwnOutput;
    }
    if (buffer_.empty()) buffer_.resize(ReadSize);
    DWORD error = 0;
    for (Algorithm &algorithm : algorithms_) {
        NTSTATUS status = Cng().createHash(algorithm.provider, &algorithm.hash, nullptr, 0, nullptr, 0, 0);
        if (!BCRYPT_SUCCESS(status)) {
            algorithm.hash = nullptr;
            error = ErrorOf(status);
            break;
        }
    }
    while (error == 0) {
        DWORD got = 0;
        if (!ReadFile(file, buffer_.data(), static_cast<DWORD>(buffer_.size()), &got, nullptr)) {
            error = GetLastError();
            break;
        }
        if (got == 0) break;
        for (Algorithm &algorithm : algorithms_) {
            NTSTATUS status = Cng().hashData(algorithm.hash, buffer_.data(), got, 0);
            if (!BCRYPT_SUCCESS(status)) error = ErrorOf(status);
        }
        if (cancel_ && cancel_->load(std::memory_order_relaxed)) error = ERROR_OPERATION_ABORTED;
    }
    CloseHandle(file);
    static const char Digits[] = "0123456789abcdef";
    unsigned char digest[64];  // the longest digest, SHA-512's
    for (Algorithm &algorithm : algorithms_) {
        if (error == 0) {
            NTSTATUS status = algorithm.digestLength <= sizeof digest
                                  ? Cng().finishHash(algorithm.hash, digest, algorithm.digestLength, 0)
                                  : static_cast<NTSTATUS>(0xC00000BBL);
            if (!BCRYPT_SUCCESS(status)) {
                error = ErrorOf(status);
            } else {
                std::string text(algorithm.digestLength * 2, '0');
                for (DWORD i = 0; i < algorithm.digestLength; ++i) {
                    text[2 * i] = Digits[digest[i] >> 4];
                    text[2 * i + 1] = Digits[digest[i] & 15];
                }
                hex.push_back(text);
            }
        }
    }
    DestroyHashes();
    if (error != 0) hex.clear();
    return error;
}

// True when `file` is the catalogue's own file.
bool FileHasher::IsOutput(HANDLE file) const {
    BY_HANDLE_FILE_INFORMATION info;
    return outputKnown_ && GetFileInformationByHandle(file, &info) &&
           info.dwVolumeSerialNumber == output_.dwVolumeSerialNumber && info.nFileIndexHigh == output_.nFileIndexHigh &&
           info.nFileIndexLow == output_.nFileIndexLow;
}

// Releases the hash objects of the file at hand.
void FileHasher::DestroyHashes() {
    for (Algorithm &algorithm : algorithms_) {
        if (algorithm.hash) Cng().destroyHash(algorithm.hash);
        algorithm.hash = nullptr;
    }
}
