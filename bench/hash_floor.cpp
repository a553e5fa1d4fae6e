// bench/hash_floor.cpp: the cost of fingerprinting files on this platform,
// which no listing with hashes can undercut. Reads every file of one folder
// (not its subfolders) once, in 1 MiB blocks, on one thread, and feeds each
// block to one CNG hash object per file: the algorithm opened once, a hash
// object made and finished per file, as a listing run asks of the system.
//
//   bench_hash_floor sha256|sha1|md5|sha512 <folder> <digestsPath>
//
// Writes "<hex>  <name>" per file, LF ends, to <digestsPath> (what
// sha256sum -c reads in <folder>), so that the digests can be checked, and
// prints one line: "<wallSeconds> <cpuSeconds> <peakWorkingSetKiB> <files>
// <bytes>", timed inside the process around the reading and hashing only.
#include <windows.h>

#include <bcrypt.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "measure.h"

// The read size of a listing run's hashing.
static const DWORD ReadSize = 1024 * 1024;

// The algorithms by the names the console program takes.
struct AlgorithmName {
    const wchar_t *option;
    const wchar_t *cng;
};
static const AlgorithmName Algorithms[] = {
    {L"sha256", BCRYPT_SHA256_ALGORITHM},
    {L"sha1", BCRYPT_SHA1_ALGORITHM},
    {L"md5", BCRYPT_MD5_ALGORITHM},
    {L"sha512", BCRYPT_SHA512_ALGORITHM},
};

// One file's digest as lowercase hex into `hex`; false when it could not be
// read or hashed.
static bool HashOneFile(BCRYPT_ALG_HANDLE provider, DWORD digestLength, const std::wstring &path,
                        std::vector<unsigned char> &buffer, unsigned long long &bytes, std::string &hex) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = BCRYPT_SUCCESS(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0));
    while (ok) {
        DWORD got = 0;
        if (!ReadFile(file, buffer.data(), ReadSize, &got, nullptr)) ok = false;
        if (!ok || got == 0) break;
        bytes += got;
        ok = BCRYPT_SUCCESS(BCryptHashData(hash, buffer.data(), got, 0));
    }
    CloseHandle(file);
    unsigned char digest[64];  // the longest digest, SHA-512's
    if (ok) ok = digestLength <= sizeof digest && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, digestLength, 0));
    if (hash) BCryptDestroyHash(hash);
    static const char Digits[] = "0123456789abcdef";
    hex.clear();
    for (DWORD i = 0; ok && i < digestLength; ++i) {
        hex += Digits[digest[i] >> 4];
        hex += Digits[digest[i] & 15];
    }
    return ok;
}

// Hashes every file of `folder` and reports it.
static int HashFolder(const wchar_t *cngName, const std::wstring &folder, const wchar_t *digestsPath) {
    BCRYPT_ALG_HANDLE provider = nullptr;
    DWORD digestLength = 0;
    ULONG got = 0;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&provider, cngName, nullptr, 0)) ||
        !BCRYPT_SUCCESS(BCryptGetProperty(provider, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&digestLength),
                                          sizeof digestLength, &got, 0))) {
        std::fprintf(stderr, "bench_hash_floor: the algorithm cannot be opened\n");
        return 1;
    }
    FILE *digests = _wfopen(digestsPath, L"wb");
    if (!digests) {
        std::fprintf(stderr, "bench_hash_floor: cannot create the digests file\n");
        return 1;
    }
    std::vector<unsigned char> buffer(ReadSize);
    std::string hex;
    unsigned long long bytes = 0;
    long files = 0;
    int status = 0;
    Moment start = Now();
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            if (!HashOneFile(provider, digestLength, folder + L"\\" + found.cFileName, buffer, bytes, hex)) {
                std::fprintf(stderr, "bench_hash_floor: a file could not be hashed (error %lu)\n", GetLastError());
                status = 1;
                continue;
            }
            ++files;
            // The names of the benchmark's files are ASCII.
            std::string name(found.cFileName, found.cFileName + std::wcslen(found.cFileName));
            std::fprintf(digests, "%s  %s\n", hex.c_str(), name.c_str());
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    Moment end = Now();
    std::fclose(digests);
    BCryptCloseAlgorithmProvider(provider, 0);
    PrintMeasure(start, end);
    std::printf(" %ld %llu\n", files, bytes);
    return status;
}

int main(int argc, char **) {
    int count = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argv && argc == 4 && count == 4) {
        std::wstring folder = argv[2];
        while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
        for (const AlgorithmName &algorithm : Algorithms)
            if (std::wcscmp(argv[1], algorithm.option) == 0)
                return HashFolder(algorithm.cng, L"\\\\?\\" + folder, argv[3]);
    }
    std::fprintf(stderr, "usage: bench_hash_floor sha256|sha1|md5|sha512 <folder> <digestsPath>\n");
    return 2;
}
