// Folder scan and entry ordering: the name comparison, the stable ordering
// against a plain exchange sort, and what one scan collects.
#include <gtest/gtest.h>

#include <random>
#include <string.h>

#include "listing_support.h"
#include "names.h"
#include "scan.h"
#include "support.h"

struct FoldCase { const char *a, *b; int sign; const char *why; };
static const FoldCase kFold[] = {
    {"A_B", "AB", -1, "0x5B..0x60 fold before letters"},
    {"Zeta", "alpha", 1, "letters compare without case"},
    {"readme.txt", "README.TXT", 0, "only case differs"},
    {"notes", "notes.txt", -1, "a prefix comes first"},
    {"\xE9t\xE9", "~zz", 1, "bytes from 0x80 sort after ASCII, unsigned"},
    {"\xC9", "\xE9", -1, "bytes from 0x80 are not folded"},
    {"[", "a", -1, "bracket lies between Z and a"},
};

TEST(Names, FoldsOnlyAsciiLetters) {
    for (const FoldCase &c : kFold) {
        SCOPED_TRACE(c.why);
        int forward = CompareNamesNoCase(c.a, c.b), backward = CompareNamesNoCase(c.b, c.a);
        EXPECT_EQ((forward > 0) - (forward < 0), c.sign);
        EXPECT_EQ((backward > 0) - (backward < 0), -c.sign);
    }
}

// The exchange sort the ordering must match: swap neighbours while one must
// follow the next, pass after pass, the keys written out independently.
static bool Follows(const FolderEntry *a, const FolderEntry *b, int key) {
    if (a->isFolder != b->isFolder) return b->isFolder;
    if (a->isFolder || key == 1) return CompareNamesNoCase(a->name, b->name) > 0;
    if (key == 2) return CompareNamesNoCase(a->name + a->extensionOffset, b->name + b->extensionOffset) > 0;
    if (key == 3) return a->size > b->size;
    if (key == 4) return CompareFileTime(&a->lastWriteTime, &b->lastWriteTime) > 0;
    return false;
}

static std::vector<FolderEntry *> ExchangeSort(std::vector<FolderEntry *> v, int key) {
    for (bool swapped = true; swapped;) {
        swapped = false;
        for (size_t i = 0; i + 1 < v.size(); ++i)
            if (Follows(v[i], v[i + 1], key)) std::swap(v[i], v[i + 1]), swapped = true;
    }
    return v;
}

static void *NoMemory(size_t) { return nullptr; }

TEST(OrderEntries, MatchesExchangeSortOnRandomLists) {
    std::mt19937 random(20261206);
    const char *pieces[] = {"a", "B", "_", "b.", ".x", "\xE9", "Z", "txt", "."};
    for (int round = 0; round < 300; ++round) {
        int key = static_cast<int>(random() % 7) - 1;  // -1..5: the four keys and three others
        bool starved = round % 5 == 0;                  // every fifth without scratch memory
        SCOPED_TRACE("round " + std::to_string(round) + " key " + std::to_string(key));
        std::vector<FolderEntry *> scanned;
        size_t count = random() % 40;
        for (size_t i = 0; i < count; ++i) {
            std::string name;
            for (size_t n = 1 + random() % 4; n > 0; --n) name += pieces[random() % 9];
            // Few distinct sizes and times, so that ties are common; sizes span 32 bits.
            scanned.push_back(NewEntry(random() % 3 == 0, name, (random() % 4) * 1500000000ull,
                                       (random() % 3) * 0x90000000ull));
        }
        for (size_t i = 0; i + 1 < scanned.size(); ++i) scanned[i]->next = scanned[i + 1];
        std::vector<FolderEntry *> expected = ExchangeSort(scanned, key);
        if (starved) SetEntryAllocator(NoMemory);
        FolderEntry *head = OrderEntries(scanned.empty() ? nullptr : scanned[0], key);
        SetEntryAllocator(nullptr);
        std::vector<FolderEntry *> got;
        for (FolderEntry *e = head; e; e = e->next) got.push_back(e);
        EXPECT_EQ(got, expected);
        FreeEntryList(head);
    }
}

TEST(ScanFolder, CollectsFoldersThenFilesInScanOrder) {
    std::string tree = FreshTree("scan");
    std::string linux = OnLinux(tree);
    ASSERT_EQ(0, RunUnix("cd " + ShellQuote(linux) + " && mkdir mixedCase .hidden sub.txt && "
                         "touch readme song.mp3 backup.tar.gz .profile && truncate -s 5000000000 big.iso"));
    bool complete = false;
    FolderEntry *head = ScanFolder(tree.c_str(), "*.*", true, true, &complete);
    EXPECT_TRUE(complete);
    EXPECT_EQ(tree, CurrentDirectory());
    struct Row { const char *name, *found; int extension; unsigned long long size; };
    // Wine enumerates by the uppercased name: folders, then files, in that order.
    const Row rows[] = {{"MIXEDCASE", "mixedCase", 0, 0}, {"SUB.TXT", "sub.txt", 0, 0},
                        {".profile", nullptr, 1, 0},     {"backup.tar.gz", nullptr, 11, 0},
                        {"big.iso", nullptr, 4, 5000000000ull}, {"readme", nullptr, 6, 0},
                        {"song.mp3", nullptr, 5, 0}};
    FolderEntry *e = head;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NE(e, nullptr);
        EXPECT_STREQ(e->name, row.name);
        EXPECT_EQ(e->isFolder, row.found ? 1 : 0);
        if (row.found) {
            EXPECT_STREQ(FoundName(e), row.found);
        }
        EXPECT_EQ(e->extensionOffset, row.extension);
        EXPECT_EQ(e->size, row.size);
        e = e->next;
    }
    EXPECT_EQ(e, nullptr);
    FreeEntryList(head);

    // A folder that cannot be entered: nothing, and the current directory stays.
    head = ScanFolder("N:\\", "*.*", true, true, &complete);
    EXPECT_EQ(head, nullptr);
    EXPECT_EQ(tree, CurrentDirectory());
}
