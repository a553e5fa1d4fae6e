// One side of a comparison in memory: building it row by row, ordering it,
// and filling it from a scan made now.
#include "catalogue.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "names.h"
#include "walk.h"

// The most folders a path can go down: a path of 32,767 units holds at most
// this many names of one unit each.
static const unsigned MaxDepth = 16384;
// The digest to put in a file's `detail` when it has none.
static const unsigned NoDigest = 0xFFFFFFFFu;

Catalogue::Catalogue() {
    CatalogueFolder start = {0, 0, 0, 0, FolderState::Read, 0, 0, 0, 0, 0};
    folders_.push_back(start);
}

unsigned Catalogue::Store(const void *bytes, size_t length) {
    const size_t blockSize = size_t(1) << BlockBits;
    if (blocks_.empty() || used_ + length > blockSize) {
        blocks_.emplace_back(new char[blockSize]);
        used_ = 0;
    }
    unsigned id = static_cast<unsigned>(((blocks_.size() - 1) << BlockBits) | used_);
    if (length > 0) std::memcpy(blocks_.back().get() + used_, bytes, length);
    used_ += length;
    return id;
}

unsigned Catalogue::ReasonIndex(const std::string &reason) {
    for (size_t i = 0; i < reasons_.size(); ++i)
        if (reasons_[i] == reason) return static_cast<unsigned>(i);
    reasons_.push_back(reason);
    return static_cast<unsigned>(reasons_.size() - 1);
}

size_t Catalogue::DigestBytes() const {
    size_t bytes = 0;
    for (HashAlgorithm algorithm : making.hashes) bytes += DigestLength(algorithm);
    return bytes;
}

// A path the catalogue can hold: names that are not empty, each short
// enough for its 16-bit length, and no deeper than a real path can go.
static bool SoundPath(const std::string &path) {
    size_t depth = 0, nameLength = 0;
    for (char c : path) {
        if (c != '\\') {
            ++nameLength;
            continue;
        }
        if (nameLength == 0 || nameLength > 0xFFFF) return false;
        nameLength = 0;
        ++depth;
    }
    return path.empty() || (nameLength > 0 && nameLength <= 0xFFFF && depth < MaxDepth);
}

// The folder of `path`, made (with every folder above it that is missing)
// when the catalogue has not seen it yet; without recursion, as a path can
// be thousands of names deep.
unsigned Catalogue::FolderAt(const std::string &path) {
    if (path.empty()) return 0;
    if (path == lastPath_) return lastFolder_;
    std::vector<size_t> missing;  // the ends of the paths to make, deepest first
    unsigned parent = 0;
    for (size_t end = path.size();;) {
        auto found = folderIndex_.find(path.substr(0, end));
        if (found != folderIndex_.end()) {
            parent = found->second;
            break;
        }
        missing.push_back(end);
        size_t slash = path.rfind('\\', end - 1);
        if (slash == std::string::npos) break;
        end = slash;
    }
    for (auto end = missing.rbegin(); end != missing.rend(); ++end) {
        size_t slash = path.rfind('\\', *end - 1);
        size_t from = slash == std::string::npos ? 0 : slash + 1;
        CatalogueFolder folder = {parent, Store(path.data() + from, *end - from),
                                  static_cast<unsigned short>(*end - from),
                                  static_cast<unsigned short>(folders_[parent].depth + 1), FolderState::Read, 0, 0, 0, 0, 0};
        folders_.push_back(folder);
        parent = static_cast<unsigned>(folders_.size() - 1);
        folderIndex_.emplace(path.substr(0, *end), parent);
    }
    lastPath_ = path;
    lastFolder_ = parent;
    return parent;
}

bool Catalogue::AddFolder(const std::string &path, FolderState state, const std::string &reason) {
    if (!SoundPath(path)) return false;
    CatalogueFolder &folder = folders_[FolderAt(path)];
    // A folder listed in its parent and then given its own row keeps what
    // its own row says.
    if (state != FolderState::Read) folder.state = state;
    if (state == FolderState::NotRead) folder.reason = ReasonIndex(reason);
    return true;
}

bool Catalogue::AddFile(const std::string &path, unsigned long long size, long long modified,
                        unsigned char attributes, const unsigned char *digests, const std::string &reason) {
    size_t slash = path.rfind('\\');
    if (path.empty() || !SoundPath(path)) return false;
    size_t from = slash == std::string::npos ? 0 : slash + 1;
    // Files come folder by folder: most are in the folder found last.
    unsigned folder = slash == std::string::npos ? 0
                      : slash == lastPath_.size() && path.compare(0, slash, lastPath_) == 0 ? lastFolder_
                                                                                            : FolderAt(path.substr(0, slash));
    CatalogueFile file = {size, modified, folder, Store(path.data() + from, path.size() - from), NoDigest,
                          static_cast<unsigned short>(path.size() - from), 0, attributes};
    if (digests && DigestBytes() > 0) {
        file.detail = Store(digests, DigestBytes());
    } else if (!reason.empty()) {
        file.unread = 1;
        file.detail = ReasonIndex(reason);
    }
    files_.push_back(file);
    return true;
}

void Catalogue::Finish() {
    auto byName = [this](unsigned aName, unsigned aLength, unsigned bName, unsigned bLength) {
        int order = CompareNamesIgnoringCase(Text(aName), aLength, Text(bName), bLength);
        if (order != 0) return order < 0;
        // Names that differ only in case keep one order, whatever the input's.
        order = std::memcmp(Text(aName), Text(bName), std::min(aLength, bLength));
        return order != 0 ? order < 0 : aLength < bLength;
    };
    // Files come folder by folder, each folder's nearly in this order
    // already: grouped by folder (kept in order), then each folder's sorted
    // only when it is not.
    auto byFolder = [](const CatalogueFile &a, const CatalogueFile &b) { return a.folder < b.folder; };
    if (!std::is_sorted(files_.begin(), files_.end(), byFolder)) std::stable_sort(files_.begin(), files_.end(), byFolder);
    auto fileByName = [&](const CatalogueFile &a, const CatalogueFile &b) {
        return byName(a.name, a.nameLength, b.name, b.nameLength);
    };
    for (auto first = files_.begin(); first != files_.end();) {
        auto last = std::upper_bound(first, files_.end(), *first, byFolder);
        if (!std::is_sorted(first, last, fileByName)) std::sort(first, last, fileByName);
        first = last;
    }
    for (size_t i = files_.size(); i-- > 0;) {
        CatalogueFolder &folder = folders_[files_[i].folder];
        folder.firstFile = static_cast<unsigned>(i);
        ++folder.fileCount;
    }
    children_.clear();
    for (unsigned i = 1; i < folders_.size(); ++i) children_.push_back(i);
    std::sort(children_.begin(), children_.end(), [&](unsigned a, unsigned b) {
        const CatalogueFolder &x = folders_[a], &y = folders_[b];
        if (x.parent != y.parent) return x.parent < y.parent;
        return byName(x.name, x.nameLength, y.name, y.nameLength);
    });
    for (size_t i = children_.size(); i-- > 0;) {
        CatalogueFolder &parent = folders_[folders_[children_[i]].parent];
        parent.firstChild = static_cast<unsigned>(i);
        ++parent.childCount;
    }
    std::unordered_map<std::string, unsigned>().swap(folderIndex_);
    std::string().swap(lastPath_);
}

bool Catalogue::Entered(unsigned folder) const {
    const CatalogueFolder &f = folders_[folder];
    if (f.state != FolderState::Read) return false;
    return f.depth == 0 ||
           (making.subfolders && (making.maxDepth < 0 || f.depth <= static_cast<unsigned>(making.maxDepth)));
}

std::string Catalogue::FolderPath(unsigned folder) const {
    std::vector<unsigned> chain;
    for (unsigned at = folder; at != 0; at = folders_[at].parent) chain.push_back(at);
    std::string path;
    for (auto at = chain.rbegin(); at != chain.rend(); ++at) {
        if (!path.empty()) path += '\\';
        path.append(Text(folders_[*at].name), folders_[*at].nameLength);
    }
    return path;
}

std::string Catalogue::FilePath(unsigned file) const {
    std::string path = FolderPath(files_[file].folder);
    if (!path.empty()) path += '\\';
    path.append(Text(files_[file].name), files_[file].nameLength);
    return path;
}

// ASCII needs no call to the system: A-Z and a-z compare as the upper case
// letters, as the system's table raises them. Anything else goes through
// the file system's own comparison.
int CompareNamesIgnoringCase(const char *first, size_t firstLength, const char *second, size_t secondLength) {
    size_t common = std::min(firstLength, secondLength);
    for (size_t i = 0;; ++i) {
        if (i == common) return firstLength < secondLength ? -1 : firstLength > secondLength ? 1 : 0;
        unsigned char a = static_cast<unsigned char>(first[i]), b = static_cast<unsigned char>(second[i]);
        if (a >= 0x80 || b >= 0x80) break;
        if (a >= 'a' && a <= 'z') a = static_cast<unsigned char>(a - 0x20);
        if (b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 0x20);
        if (a != b) return a < b ? -1 : 1;
    }
    std::wstring a = WidenText(std::string(first, firstLength), CP_UTF8);
    std::wstring b = WidenText(std::string(second, secondLength), CP_UTF8);
    return CompareRealNamesNoCase(a.data(), a.size(), b.data(), b.size());
}

size_t DigestLength(HashAlgorithm algorithm) {
    static const unsigned char Lengths[] = {32, 20, 16, 64};
    static_assert(sizeof Lengths == static_cast<size_t>(HashAlgorithm::Sha512) + 1, "Lengths[algorithm]");
    return Lengths[static_cast<int>(algorithm)];
}

bool DecodeHex(const char *hex, size_t hexLength, unsigned char *out, size_t length) {
    if (hexLength != 2 * length) return false;
    for (size_t i = 0; i < hexLength; ++i) {
        char c = hex[i];
        int value = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (value < 0) return false;
        if (i % 2 == 0) out[i / 2] = static_cast<unsigned char>(value << 4);
        else out[i / 2] = static_cast<unsigned char>(out[i / 2] | value);
    }
    return true;
}

long long CatalogueSeconds(const FILETIME &time) {
    unsigned long long count = (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<long long>(count / 10000000u);
}

unsigned char CatalogueAttributes(DWORD attributes) {
    return static_cast<unsigned char>(((attributes & FILE_ATTRIBUTE_READONLY) ? AttrReadOnly : 0) |
                                      ((attributes & FILE_ATTRIBUTE_HIDDEN) ? AttrHidden : 0) |
                                      ((attributes & FILE_ATTRIBUTE_SYSTEM) ? AttrSystem : 0) |
                                      ((attributes & FILE_ATTRIBUTE_ARCHIVE) ? AttrArchive : 0));
}

// Takes the walk's records into a catalogue, as the catalogue writers
// would have written them, without a file between.
class CatalogueCollector : public ListingWriter {
public:
    explicit CatalogueCollector(Catalogue &catalogue) : catalogue_(catalogue) {}

    bool Folder(const FolderRecord &record) override {
        size_t from = record.startLength;
        while (from < record.path.size() && record.path[from] == L'\\') ++from;
        NarrowText(record.path.data() + from, record.path.size() - from, CP_UTF8, folder_);
        if (record.status == FolderStatus::LeadsBack) catalogue_.AddFolder(folder_, FolderState::LeadsBack, "");
        else if (record.status != FolderStatus::Read) catalogue_.AddFolder(folder_, FolderState::NotRead, Reason(record.error));
        else catalogue_.AddFolder(folder_, FolderState::Read, "");
        std::vector<unsigned char> digests(catalogue_.DigestBytes());
        for (size_t i = 0; i < record.entries.size(); ++i) {
            const EntryRecord &entry = *record.entries[i];
            NarrowText(entry.Name(), entry.nameLength, CP_UTF8, name_);
            path_ = folder_;
            if (!path_.empty()) path_ += '\\';
            path_ += name_;
            if (entry.IsFolder()) {
                catalogue_.AddFolder(path_, FolderState::Read, "");
                continue;
            }
            const EntryDigests *hashed = i < record.digests.size() ? &record.digests[i] : nullptr;
            bool complete = hashed && hashed->error == 0 && hashed->hex.size() == catalogue_.making.hashes.size();
            for (size_t h = 0, at = 0; complete && h < hashed->hex.size(); at += DigestLength(catalogue_.making.hashes[h]), ++h)
                complete = DecodeHex(hashed->hex[h].data(), hashed->hex[h].size(), &digests[at],
                                     DigestLength(catalogue_.making.hashes[h]));
            catalogue_.AddFile(path_, entry.size, CatalogueSeconds(entry.modified), CatalogueAttributes(entry.attributes),
                               complete && !digests.empty() ? digests.data() : nullptr,
                               hashed && hashed->error != 0 ? Reason(hashed->error) : std::string());
        }
        return true;
    }
    void Finish(const ListingTotals &) override {}

private:
    std::string Reason(DWORD error) {
        std::wstring message = SystemMessage(error);
        std::string text;
        NarrowText(message.data(), message.size(), CP_UTF8, text);
        return text;
    }

    Catalogue &catalogue_;
    std::string folder_, name_, path_;
};

ScanEnd ScanIntoCatalogue(const CatalogueMaking &making, const std::atomic<bool> *cancel, Catalogue &catalogue) {
    ListingRequest request;
    request.startFolders.push_back(making.startFolder);
    request.filter = making.filter;
    request.excludes = making.excludes;
    request.includeSubfolders = making.subfolders;
    request.maxDepth = making.maxDepth;
    request.hashes = making.hashes;
    request.format = OutputFormat::Jsonl;
    request.cancel = cancel;
    catalogue.making = making;
    try {
        CatalogueCollector collector(catalogue);
        WalkResult walked = WalkTree(request, making.startFolder, collector);
        if (walked.end == WalkEnd::Stopped) return ScanEnd::Stopped;
        if (walked.end == WalkEnd::OutOfMemory) return ScanEnd::OutOfMemory;
        catalogue.Finish();
    } catch (const std::bad_alloc &) {
        return ScanEnd::OutOfMemory;
    }
    return ScanEnd::Complete;
}
