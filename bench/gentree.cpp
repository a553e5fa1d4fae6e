// bench/gentree.cpp: builds the benchmark's folder trees on the Linux side
// (much faster than through Wine) from a fixed seed, and writes a manifest of
// what each tree holds so that every listing can be checked before it counts.
// Host program: compiled with the host's g++ by bench/run.sh.
//
//   gentree <root> <seed>
//
// Trees under <root>: wide/ (100,000 files in 1,111 folders, 3 levels below
// the top), flat/ (20,000 files in one folder), many/ (20,000 empty
// subfolders in one folder), deep/ (chains of folders whose paths reach
// about 1,000 characters, files at every depth), intl/ (30,000 files in 259
// folders, a third of all names in Cyrillic, Greek, CJK or emoji, none of
// which code page 1252 holds). Files are sparse, 0 to 8 KiB; every file and
// folder gets a fixed last-write time. The manifest <root>/manifest has one
// line per tree: "<tree> <folders> <files> <txtFiles>", folders counting the
// tree's top folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

static const int kWideFanout = 10;        // subfolders per folder, 3 levels: 10 + 100 + 1,000
static const int kWideDepth = 3;
static const int kWideFiles = 100000;
static const int kIntlFanout = 6;         // 6 + 36 + 216 folders below the top
static const int kIntlDepth = 3;
static const int kIntlFiles = 30000;
static const int kDeepChains = 12;        // chains of folders below deep/
static const int kDeepChainFiles = 30;    // files in each folder of a chain
static const int kDeepSideFiles = 10;     // files in the one side folder at each depth
static const int kDeepNameLength = 20;    // shortest folder name of a chain
static const size_t kDeepFolderPath = 920;  // longest folder path, with "T:\"; names add up to 40
static const int kFlatFiles = 20000;
static const int kManyFolders = 20000;
static const int kMaxNameLength = 40;
static const int kMaxFileSize = 8192;
static const time_t kBaseTime = 1577934245;   // 2020-01-02 03:04:05 UTC
static const time_t kTimeSpread = 10 * 365 * 86400;

// SplitMix64: small, fast and the same on every platform, unlike the
// standard distributions.
struct Random {
    uint64_t state;
    uint64_t Next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
};

// Characters of the name bodies: mostly letters of both cases, then digits,
// spaces and a few punctuation marks that Windows allows (none of
// \ / : * ? " < > | ~). A dot is added separately.
static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
static const char kOthers[] = "0123456789  _-()!&#+,";

// One character of a name body.
static char BodyChar(Random &random) {
    if (random.Below(8) != 0) return kLetters[random.Below(sizeof kLetters - 1)];
    return kOthers[random.Below(sizeof kOthers - 1)];
}

// Extensions, in several cases; "tar.gz" adds a second dot.
static const char *const kExtensions[] = {"txt", "TXT", "Txt", "mp3", "jpg", "JPEG", "html", "c",
                                   "h",   "gz",  "tar.gz", "doc", "pdf", "md", "Ini",
                                   "log", "dat", "bak", "x",   "cfg"};

// The name with A-Z folded to a-z, the way Windows tells names apart.
static std::string Lower(const std::string &text) {
    std::string result = text;
    for (char &c : result)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return result;
}

// The part after the last dot, or "" when there is none.
static std::string LastExtension(const std::string &name) {
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

// True for a name that a Windows program sees exactly as it is on disk and
// that matches "*.txt" only when its last extension is "txt": no leading or
// trailing space or dot, no device name, and no last extension that merely
// begins with "txt" (its 8.3 alias would match "*.txt").
static bool UsableName(const std::string &name) {
    if (name.empty() || name.size() > static_cast<size_t>(kMaxNameLength)) return false;
    if (name.front() == ' ' || name.front() == '.' || name.back() == ' ' || name.back() == '.')
        return false;
    std::string base = Lower(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    static const char *const kDevices[] = {"con", "prn", "aux", "nul", "clock$"};
    for (const char *device : kDevices)
        if (base == device) return false;
    if (base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
        base[3] >= '0' && base[3] <= '9')
        return false;
    std::string extension = Lower(LastExtension(name));
    return !(extension.size() > 3 && extension.compare(0, 3, "txt") == 0);
}

// A new name, unique within its folder without regard to case; about half
// of the names get an extension, some bodies hold spaces or inner dots.
static std::string MakeName(Random &random, std::unordered_set<std::string> &taken, bool withExtension,
                            int minLength = 1) {
    for (;;) {
        std::string extension;
        if (withExtension && random.Below(2) == 0)
            extension = std::string(".") + kExtensions[random.Below(sizeof kExtensions / sizeof *kExtensions)];
        int room = kMaxNameLength - static_cast<int>(extension.size());
        int length = minLength + random.Below(room - minLength + 1);
        std::string body;
        for (int i = 0; i < length; ++i) {
            if (i > 0 && random.Below(40) == 0)
                body += '.';
            else
                body += BodyChar(random);
        }
        std::string name = body + extension;
        if (!UsableName(name) || !taken.insert(Lower(name)).second) continue;
        return name;
    }
}

// Letters outside code page 1252, one script per name: lowercase Cyrillic
// and Greek (lowercase only, so that no two names differ by case alone; no
// final sigma, which upper-cases like sigma), common CJK ideographs, and
// emoji (each a surrogate pair in UTF-16).
struct Script {
    unsigned first;
    unsigned count;
};
static const Script kScripts[] = {{0x0430, 32}, {0x03B1, 17}, {0x4E00, 2000}, {0x1F600, 80}};

// Appends one code point as UTF-8.
static void AppendUtf8(std::string &text, unsigned code) {
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xC0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        text += static_cast<char>(0xE0 | (code >> 12));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (code >> 18));
        text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// A name for the intl tree: one in three is written in one of the scripts
// above (1 to 20 letters, sometimes with a space or digits between them, and
// for files often an extension); the others are made as in the other trees.
static std::string MakeIntlName(Random &random, std::unordered_set<std::string> &taken, bool withExtension) {
    if (random.Below(3) != 0) return MakeName(random, taken, withExtension);
    for (;;) {
        const Script &script = kScripts[random.Below(sizeof kScripts / sizeof *kScripts)];
        int letters = 1 + random.Below(20);
        std::string name;
        for (int i = 0; i < letters; ++i) {
            if (i > 0 && i + 1 < letters && random.Below(8) == 0)
                name += random.Below(2) ? ' ' : static_cast<char>('0' + random.Below(10));
            else
                AppendUtf8(name, script.first + static_cast<unsigned>(random.Below(static_cast<int>(script.count))));
        }
        if (withExtension && random.Below(3) != 0)
            name += std::string(".") + kExtensions[random.Below(sizeof kExtensions / sizeof *kExtensions)];
        if (!taken.insert(Lower(name)).second) continue;
        return name;
    }
}

// The shape of a tree of the "wide" kind and how its names are made.
struct Shape {
    int fanout;
    int depth;
    bool intl;
};

// What one tree holds.
struct Tally {
    long folders = 0;
    long files = 0;
    long txtFiles = 0;
};

// Reports a failed file-system call on `what` and stops.
[[noreturn]] static void Fail(const std::string &what) {
    std::perror(what.c_str());
    std::exit(1);
}

// Sets both the access and the last-write time of `path`.
static void SetTime(const std::string &path, time_t when) {
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = when;
    times[0].tv_nsec = times[1].tv_nsec = 0;
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) Fail(path);
}

// Creates one folder and counts it.
static void MakeFolder(const std::string &path, Tally &tally) {
    if (mkdir(path.c_str(), 0755) != 0) Fail(path);
    ++tally.folders;
}

// Creates a sparse file of a random size and a fixed random time.
static void MakeFile(Random &random, const std::string &folder, const std::string &name, Tally &tally) {
    std::string path = folder + "/" + name;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0 || ftruncate(fd, random.Below(kMaxFileSize + 1)) != 0) Fail(path);
    close(fd);
    SetTime(path, kBaseTime + random.Below(static_cast<int>(kTimeSpread)));
    ++tally.files;
    if (Lower(LastExtension(name)) == "txt") ++tally.txtFiles;
}

// Fills one folder of a tree like "wide" with its share of files and its
// subfolders, depth first; the folder's own time is set last, after its contents.
static void FillWideFolder(Random &random, const std::string &path, int depth, int files, const Shape &shape,
                           Tally &tally) {
    std::unordered_set<std::string> taken;
    auto name = [&](bool withExtension) {
        return shape.intl ? MakeIntlName(random, taken, withExtension) : MakeName(random, taken, withExtension);
    };
    std::vector<std::string> subfolders;
    if (depth < shape.depth)
        for (int i = 0; i < shape.fanout; ++i) subfolders.push_back(name(false));
    int below = 0;
    for (int level = depth + 1, width = shape.fanout; level <= shape.depth; ++level, width *= shape.fanout)
        below += width;
    int folderShare = files / (below + 1);
    int own = folderShare / 2 + random.Below(folderShare + 1);
    if (subfolders.empty() || own > files) own = files;
    for (int i = 0; i < own; ++i) MakeFile(random, path, name(true), tally);
    int rest = files - own;
    for (size_t i = 0; i < subfolders.size(); ++i) {
        int share = rest / static_cast<int>(subfolders.size() - i);
        std::string child = path + "/" + subfolders[i];
        MakeFolder(child, tally);
        FillWideFolder(random, child, depth + 1, share, shape, tally);
        rest -= share;
    }
    SetTime(path, kBaseTime);
}

// Makes `count` files with new names in `folder`.
static void FillFiles(Random &random, const std::string &folder, int count, std::unordered_set<std::string> &taken,
                      Tally &tally) {
    for (int i = 0; i < count; ++i) MakeFile(random, folder, MakeName(random, taken, true), tally);
}

// Builds one chain of "deep" below `top` (the tree's top folder as Linux
// names it; `shown` is its length as the listing shows it, "T:\deep"): each
// folder holds files, one side folder with a few files, and the next folder
// of the chain, until the next folder's path would pass kDeepFolderPath.
static void MakeDeepChain(Random &random, const std::string &top, size_t shown,
                          std::unordered_set<std::string> &topNames, Tally &tally) {
    std::vector<std::string> chain;
    std::string path = top;
    std::unordered_set<std::string> taken;
    std::string next = MakeName(random, topNames, false, kDeepNameLength);
    for (;;) {
        path += "/" + next;
        shown += 1 + next.size();
        MakeFolder(path, tally);
        chain.push_back(path);
        taken.clear();
        FillFiles(random, path, kDeepChainFiles, taken, tally);
        std::string side = path + "/" + MakeName(random, taken, false);
        MakeFolder(side, tally);
        std::unordered_set<std::string> sideTaken;
        FillFiles(random, side, kDeepSideFiles, sideTaken, tally);
        SetTime(side, kBaseTime);
        next = MakeName(random, taken, false, kDeepNameLength);
        if (shown + 1 + next.size() > kDeepFolderPath) break;
    }
    for (size_t i = chain.size(); i-- > 0;) SetTime(chain[i], kBaseTime);
}

// One manifest line: "<tree> <folders> <files> <txtFiles>".
static void WriteManifestLine(FILE *manifest, const char *tree, const Tally &tally) {
    std::fprintf(manifest, "%s %ld %ld %ld\n", tree, tally.folders, tally.files, tally.txtFiles);
}

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: gentree <root> <seed>\n");
        return 2;
    }
    std::string root = argv[1];
    Random random{std::strtoull(argv[2], nullptr, 10)};
    FILE *manifest = std::fopen((root + "/manifest").c_str(), "w");
    if (!manifest) Fail(root + "/manifest");

    Tally wide;
    MakeFolder(root + "/wide", wide);
    FillWideFolder(random, root + "/wide", 0, kWideFiles, Shape{kWideFanout, kWideDepth, false}, wide);
    WriteManifestLine(manifest, "wide", wide);

    Tally flat;
    MakeFolder(root + "/flat", flat);
    std::unordered_set<std::string> flatNames;
    for (int i = 0; i < kFlatFiles; ++i)
        MakeFile(random, root + "/flat", MakeName(random, flatNames, true), flat);
    SetTime(root + "/flat", kBaseTime);
    WriteManifestLine(manifest, "flat", flat);

    Tally many;
    MakeFolder(root + "/many", many);
    std::unordered_set<std::string> manyNames;
    for (int i = 0; i < kManyFolders; ++i) {
        std::string child = root + "/many/" + MakeName(random, manyNames, false);
        MakeFolder(child, many);
        SetTime(child, kBaseTime);
    }
    SetTime(root + "/many", kBaseTime);
    WriteManifestLine(manifest, "many", many);

    Tally deep;
    MakeFolder(root + "/deep", deep);
    std::unordered_set<std::string> deepNames;
    for (int i = 0; i < kDeepChains; ++i)
        MakeDeepChain(random, root + "/deep", std::strlen("T:\\deep"), deepNames, deep);
    SetTime(root + "/deep", kBaseTime);
    WriteManifestLine(manifest, "deep", deep);

    Tally intl;
    MakeFolder(root + "/intl", intl);
    FillWideFolder(random, root + "/intl", 0, kIntlFiles, Shape{kIntlFanout, kIntlDepth, true}, intl);
    WriteManifestLine(manifest, "intl", intl);

    if (std::fclose(manifest) != 0) Fail(root + "/manifest");
    return 0;
}
