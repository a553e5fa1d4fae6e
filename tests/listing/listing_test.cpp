// The listing engine on real trees under D:, whole files compared byte for byte (the longer ones
// with golden files beside this one); the walk's records are the machine formats' test's business.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <map>
#include <new>

#include "identity.h"
#include "names.h"
#include "scan.h"
#include "support.h"
#include "text_writer.h"
#include "walk.h"
#include "worker.h"

// Memory that runs out on demand, in this program alone: allocations of `failFrom` bytes or more
// throw, once `failWhenListed` (when set) has counted a folder. `liveBytes` is what is held.
static std::atomic<size_t> failFrom{SIZE_MAX};
static const ListingProgress *failWhenListed = nullptr;
static std::atomic<int> failures{0};
static std::atomic<long long> liveBytes{0};
void *operator new(size_t bytes) {
    if (bytes >= failFrom && (!failWhenListed || failWhenListed->folders > 0)) {
        ++failures;
        throw std::bad_alloc();
    }
    void *room = HeapAlloc(GetProcessHeap(), 0, bytes ? bytes : 1);
    if (!room) throw std::bad_alloc();
    liveBytes += static_cast<long long>(HeapSize(GetProcessHeap(), 0, room));
    return room;
}
void *operator new[](size_t bytes) { return operator new(bytes); }
void operator delete(void *room) noexcept {
    if (room) liveBytes -= static_cast<long long>(HeapSize(GetProcessHeap(), 0, room));
    HeapFree(GetProcessHeap(), 0, room);
}
void operator delete[](void *room) noexcept { operator delete(room); }
void operator delete(void *room, size_t) noexcept { operator delete(room); }
void operator delete[](void *room, size_t) noexcept { operator delete(room); }

// Empties D:\<name>, runs `commands` there in Linux; `f SIZE 'TIME' NAME` makes a file written at a UTC TIME.
static std::string Tree(const std::string &name, const std::string &commands) {
    std::string folder = DriveFolderUnix('d') + "/" + name;
    ResetFolderUnix(folder);
    EXPECT_EQ(0, RunUnix("cd " + ShellQuote(folder) + " && f() { truncate -s \"$1\" \"$3\" && "
                         "TZ=UTC touch -d \"$2\" \"$3\"; } && " + commands));
    return "D:\\" + name;
}

// One folder block: heading, underline as long as the full path, blank, entries, two blanks; CR LF each.
static std::string Block(const std::string &heading, size_t pathLength, const std::vector<std::string> &entries) {
    std::string out = heading + "\r\n" + std::string(pathLength, '=') + "\r\n\r\n";
    for (const std::string &entry : entries) out += entry + "\r\n";
    return out + "\r\n\r\n";
}

// A listing of tests/listing/golden, kept there with LF line ends.
static std::string Golden(const std::string &name) {
    std::string text;
    for (char c : ReadWholeFile(UnixToWindows(DIRTALLY_LISTING_GOLDEN "/" + name))) text += c == '\n' ? "\r\n" : std::string(1, c);
    EXPECT_FALSE(text.empty()) << "no golden file " << name;
    return text;
}

// Equal texts; otherwise the first differing line of each, numbered.
static testing::AssertionResult SameText(const std::string &expected, const std::string &got) {
    if (expected == got) return testing::AssertionSuccess();
    size_t at = 0, line = 1;
    for (; at < expected.size() && at < got.size() && expected[at] == got[at]; ++at) line += expected[at] == '\n';
    size_t start = at == 0 ? 0 : expected.rfind('\n', at - 1) + 1;  // npos + 1 is 0
    auto Line = [start](const std::string &text) { return testing::PrintToString(text.substr(start, text.find('\n', start) - start + 1)); };
    return testing::AssertionFailure() << "line " << line << " differs:\n  expected " << Line(expected) << "\n  got      " << Line(got);
}

// The dialog's choices as letters: s subfolders, f files, p path on each line, h full paths in
// headings, d details, t totals, u UTF-8, a dot-folders too, n links not followed; E, S or D sorts by
// extension, size or date instead of name.
static ListingRequest Choose(const std::string &letters, const wchar_t *filter = L"*.*", const std::vector<std::wstring> &excludes = {}) {
    auto has = [&letters](char c) { return letters.find(c) != std::string::npos; };
    ListingRequest request;
    request.includeSubfolders = has('s'), request.includeFiles = has('f'), request.pathOnEachLine = has('p');
    request.fullPathInHeading = has('h'), request.showDetails = has('d'), request.totals = has('t');
    request.dotFolders = has('a'), request.followLinks = !has('n');
    request.sortKey = has('E') ? SortKey::Extension : has('S') ? SortKey::Size : has('D') ? SortKey::Date : SortKey::Name;
    request.encoding = has('u') ? TextEncoding::Utf8 : TextEncoding::Ansi;
    request.filter = filter, request.excludes = excludes;
    return request;
}

// The listings' file, off drive D:.
static std::string ListingFile() { return UnixToWindows(DriveFolderUnix('d') + "-listing.txt"); }

// Runs WriteListing into the listings' file and returns its bytes.
static std::string List(const std::string &start, const ListingRequest &request) {
    DeleteFileA(ListingFile().c_str());
    WriteListing(ListingFile(), start, request);
    return ReadWholeFile(ListingFile());
}

// A shell word for a UTF-8 name: bytes from 0x80 up cannot cross the ANSI command line, so printf makes them.
static std::string Word(const std::string &utf8) {
    std::string out = "\"$(printf '";
    for (unsigned char c : utf8) out += c < 0x80 ? std::string(1, static_cast<char>(c)) : "\\" + std::to_string(c >> 6) +
                                                   std::to_string((c >> 3) & 7) + std::to_string(c & 7);
    return out + "')\"";
}

struct GoldenCase { const char *tree, *letters, *golden, *why; const wchar_t *filter = L"*.*"; std::vector<std::wstring> excludes = {}; };

TEST(WriteListing, TreesAndChoicesGiveTheirGoldenFiles) {
    ASSERT_EQ(1252u, GetACP()) << "the test run sets LANG=C.UTF-8, which Wine reads as code page 1252";
    std::string symbols;  // each a file: what the ANSI calls give (best fit or "?"), byte for byte
    for (const char *name : {"ĀāŁł Ǻ.txt", "Ωμέγα.doc", "Привет", "שלום.txt", "日本語.mp3", "€ ™ • … ♫", "smile 😀.png", "café naïve.txt"})
        symbols += " " + Word(name);
    // Each tree is made when a row first needs it: the drive root's tree empties the whole drive.
    const std::map<std::string, std::string> trees = {
        {"", "mkdir -p Jazz/Live Rock .git/objects sub.txt && touch .profile a.txt b.doc Jazz/x.txt"},
        {"ARCHIVE", "mkdir Docs 'Old Stuff' && f 1234 '2001-03-07 14:30:15' readme.txt && f 1048576 '2000-11-20 08:00:00' "
                    "Setup.exe && f 0 '2002-01-02 10:11:12' notes && TZ=UTC touch -d '2001-03-07 09:05:03' Docs && "
                    "TZ=UTC touch -d '1999-12-31 23:59' 'Old Stuff'"},
        {"big", "for s in 5000000000:five 3000000000:three 4294967296:four 0:empty; do f ${s%:*} '2020-01-01 00:00' ${s#*:}; done"},
        // Wine enumerates by the uppercased name (AB, A_B, BA.H, B_X.Z.H, ...); the ordering folds to lower case.
        {"keys", "mkdir zDir _dir && f 30 2001-03-05 A_B && f 20 2001-03-04 AB && f 10 2001-03-03 Zeta.c && f 10 2001-03-03 "
                 "_tmp.C && f 40 2001-03-02 notes.txt && f 40 2001-03-01 notes && f 0 2001-03-09 " + Word("été.txt") +
                 " && f 7 2001-03-06 bA.h && f 7 2001-03-06 b_x.z.h"},
        {"scripts", "touch" + symbols},
        {"intl", "mkdir -p " + Word("日本語/深い") + " " + Word("中文字") + " " + Word("Привет") + " " + Word("café") + " && touch " +
                 Word("日本語/a.txt") + " " + Word("中文字/b.txt") + " " + Word("Привет/файл.txt") + " " + Word("café/x") + " " + Word("日本語/深い/z") +
                 " && TZ=UTC find . -exec touch -d 2001-02-03 {} +"},
        {"exclude", "mkdir -p src/deep src/Build/obj docs && touch src/main.c src/main.bak src/deep/util.c src/deep/util.BAK x.bak "
                    "docs/guide.txt src/Build/obj/x.o"},
        {"closed", "mkdir \"$(printf 'bad\\377')\" end end. 'sp ' && touch \"$(printf 'bad\\377')/f\" end/plain end./dot 'sp /space'"},
        // Twenty levels of 49 letters: paths pass 1,000 characters; files at three depths.
        {"deep", "p=.; for c in a b c d e f g h i j k l m n o p q r s t; do p=$p/$(printf %49s | tr ' ' $c); mkdir $p; "
                 "case $c in e|m|t) touch $p/f;; esac; done"},
    };
    const GoldenCase cases[] = {
        {"", "sfp", "root-paths.txt", "a root gets no second backslash; dot-folders skipped, dot-files kept"},
        {"", "sfp", "root-paths.txt", "every name again, enumerated in two passes: the same bytes", L"?*"},
        {"", "sf", "root-txt.txt", "the filter applies to files only; a folder matching it is listed once", L"*.txt"},
        {"", "sfpa", "root-all.txt", "dot-folders listed and entered when asked for"},
        {"ARCHIVE", "sfd", "archive.txt", "the worked example, 20 lines"},
        {"ARCHIVE", "sfdh", "archive-full-headings.txt", "full paths in headings"},
        {"ARCHIVE", "sfdp", "archive-path-on-each-line.txt", "the path on each line widens the name column by the path alone"},
        {"ARCHIVE", "sfS", "archive-names-by-size.txt", "details off: names alone"},
        {"ARCHIVE", "fE", "archive-files-by-extension.txt", "files only, one block"},
        {"ARCHIVE", "sD", "archive-folders-by-date.txt", "folders only: a block each"},
        {"ARCHIVE", "d", "archive-neither.txt", "neither: an empty block"},
        {"ARCHIVE", "sft", "archive-totals-txt.txt", "totals per block and in all, naming the filter", L"*.txt"},
        {"big", "fSd", "big.txt", "sizes keep all 64 bits, unsigned"},
        {"big", "fSd", "big.txt", "in the filtered pass too", L"?*"},
        {"keys", "sf", "keys-by-name.txt", "A_B before AB, Zeta after bA, notes before notes.txt, 0x80 and up after ASCII"},
        {"keys", "sfu", "keys-utf8.txt", "UTF-8: by the real names raised, as the file system compares them (_ after Z; bA before Zeta, unlike byte order)"},
        {"keys", "sfE", "keys-by-extension.txt", "no extension first; the last dot starts it; equal extensions keep scan order"},
        {"keys", "sfS", "keys-by-size.txt", "by size; ties keep scan order"},
        {"keys", "sfD", "keys-by-date.txt", "by date; ties keep scan order"},
        {"scripts", "f", "scripts.txt", "Latin Extended, Greek, Cyrillic, Hebrew, CJK, symbols, a surrogate pair, Latin-1"},
        {"intl", "sfh", "intl.txt", "siblings that both become ??? keep scan order; each is entered by its real name"},
        {"intl", "sfdpu", "intl-utf8.txt", "UTF-8: names as they are, ordered by their real names; underlines and columns count characters"},
        {"exclude", "sfht", "exclude.txt", "excluded names left out in any case, such folders not entered; all counted", L"*.*", {L"*.bak", L"build"}},
        {"exclude", "sfht", "exclude-main.txt", "with a filter, only the names it takes are excluded and counted", L"main.*", {L"*.bak", L"build"}},
        {"exclude", "fht", "exclude-top.txt", "* takes every name and is named in no total; excluded files counted", L"*", {L"*.bak"}},
        {"exclude", "sfht", "exclude-paths.txt", "a pattern with a separator (either) matches the path below the start, any case: "
         "./ and a trailing one dropped, * across folders, deep\\util.c not src\\deep\\util.c", L"*.*",
         {L"src/deep/*.bak", L"./DOCS/", L"src\\*.o", L"deep\\util.c"}},
        {"closed", "sf", "closed.txt", "a name not in UTF-8 arrives mangled; names ending in a dot or a space are reached"},
        {"deep", "sfph", "deep.txt", "1,000-character paths: every block, lines uncut"},
    };
    std::string made = "none";
    for (const GoldenCase &c : cases) {
        SCOPED_TRACE(c.why);
        if (made != c.tree) Tree(made = c.tree, trees.at(c.tree));
        // Read on this thread alone, and ahead on seven more: the same bytes.
        for (int threads : {1, 8}) {
            ListingRequest request = Choose(c.letters, c.filter, c.excludes);
            request.threads = threads;
            EXPECT_TRUE(SameText(Golden(c.golden), List("D:\\" + made, request))) << threads << " threads";
        }
    }
    EXPECT_EQ(List("N:\\", Choose("sf")), Block("N:\\", 3, {"<cannot read this folder: Path not found.>"}))
        << "a start folder on a drive that is not ready: marked, never passed off as empty";
}

TEST(WriteListing, LinksBackIntoTheTreeAreNotFollowed) {
    std::string tree = Tree("loop", "mkdir -p A/B C/D && ln -s .. A/B/up && ln -s ../C A/toC");
    // UP leads back to A: listed, no block; TOC to a sibling, listed like any folder, and C entered
    // again after it (once left, TOC is off the path above). Followed, UP would repeat the tree to
    // the path limit, and with two such links the next case would never end.
    ASSERT_TRUE(SameText(Golden("loop.txt"), List(tree, Choose("sfh"))));
    ASSERT_EQ(0, RunUnix("ln -s . " + ShellQuote(DriveFolderUnix('d') + "/loop/A/B/self")));
    // Two links in B; from B, UP leads above the start: followed once, and its B is the start again.
    // A check that holds only most of the time is no check: 200 runs, not one miss.
    const std::string fromB = Golden("loop-from-b.txt");
    // Half the runs read ahead on eight threads, where a folder leading back is read before the walk gets to it.
    for (int round = 0; round < 200; ++round) {
        ListingRequest request = Choose("sfh");
        request.threads = round % 2 ? 8 : 1;
        ASSERT_TRUE(SameText(fromB, List(tree + "\\A\\B", request))) << round;
    }
    // Not following links: both listed, neither entered.
    EXPECT_TRUE(SameText(Golden("loop-from-b-no-follow.txt"), List(tree + "\\A\\B", Choose("sfhn"))));
}

TEST(WriteListing, MountsLeadingBackAreNotEnteredAndEqualIdsOnOtherVolumesAre) {
    std::string base = DriveFolderUnix('d') + "/mounts", umount = "cd " + ShellQuote(base) +
        " 2>/dev/null && for m in roots/one/two roots/one bind/A/B; do umount $m 2>/dev/null; done; true";
    RunUnix(umount);
    std::string tree = Tree("mounts", "mkdir -p bind/A/B roots/one && touch bind/A/f");
    if (RunUnix("cd " + ShellQuote(base) + " && mount --bind bind/A bind/A/B 2>/dev/null") != 0)
        GTEST_SKIP() << "mounting is refused here (needs root and a mount namespace that allows it)";
    // A folder mounted into itself is the same folder again: listed, not entered.
    EXPECT_TRUE(SameText(Golden("mount-bind.txt"), List(tree + "\\bind", Choose("sfh"))));
    // Two file systems whose roots have the same file id, one inside the other: both entered.
    ASSERT_EQ(0, RunUnix("cd " + ShellQuote(base) + "/roots && mount -t tmpfs -o size=64k tmpfs one && mkdir one/two && "
                         "mount -t tmpfs -o size=64k tmpfs one/two && touch one/x one/two/y"));
    EXPECT_TRUE(SameText(Golden("mount-roots.txt"), List(tree + "\\roots", Choose("sfh"))));
    SetCurrentDirectoryA("D:\\");
    RunUnix(umount);
}

// Mount points as the kernel's table writes them, octal escapes and all, found for the folders below them; from a
// table of the test's own (devices 0:N), so that no mounting and no root are needed.
TEST(VolumeLookup, EscapedMountPointsAreFoundForTheFoldersBelow) {
    const struct { const char *escaped, *name; unsigned device; const char *why; } cases[] = {
        {"sp\\040ace", "sp ace", 41, "a space"},
        {"two\\040\\040end\\040", "two  end ", 42, "spaces in a row and at the end"},
    };
    const std::string base = DriveFolderUnix('d') + "/mtab", table = base + "-mountinfo";
    std::ofstream lines(UnixToWindows(table), std::ios::binary);
    lines << "1 0 0:1 / / rw - ext4 root rw\n";
    for (const auto &c : cases) lines << "2 1 0:" << c.device << " / " << base << "/" << c.escaped << " rw - tmpfs tmpfs rw\n";
    lines.close();
    Tree("mtab", "mkdir 'sp ace' 'two  end '");
    VolumeLookup volumes(table.c_str());
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        HANDLE folder = CreateFileA(("\\\\?\\D:\\mtab\\" + std::string(c.name)).c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        bool known = false;
        EXPECT_EQ(volumes.KeyOf(folder, &known), c.device);
        EXPECT_TRUE(known);
        CloseHandle(folder);
    }
}

// The first progress is due half a second after the run begins: the first wait asked for is that long, less the
// moments gone since (this wait returns only at the run's end, so no clock decides the outcome).
TEST(RunWatched, FirstWaitsHalfASecondBeforeShowingProgress) {
    ListingRequest request = Choose("f");
    request.startFolders = {L"D:\\"}, request.outputPath = WidenAnsi(ListingFile().c_str());
    std::vector<DWORD> asked;
    int shown = 0;
    EXPECT_EQ(RunWatched(request, [&](HANDLE thread, DWORD ms) {
        asked.push_back(ms);
        return WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0;
    }, [&] { ++shown; }).outcome, ListingOutcome::Complete);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_TRUE(asked[0] > 250 && asked[0] <= 500 && shown == 0) << asked[0] << " ms, " << shown << " shown";
}

// A stand-in for WriteFile: takes at most 1000 bytes, or nothing (and succeeds), or fails, or asks the run to stop.
enum class Writes { Partly, Nothing, Fail, AskToStop };
static Writes writes = Writes::Partly;
static int writesSeen = 0;
static std::atomic<bool> stopRequest{false};
static BOOL WINAPI TestWrite(HANDLE file, LPCVOID data, DWORD bytes, LPDWORD written, LPOVERLAPPED overlapped) {
    ++writesSeen;
    if (writes == Writes::Nothing) return *written = 0, TRUE;
    if (writes == Writes::Fail) return SetLastError(ERROR_NETNAME_DELETED), FALSE;
    stopRequest = writes == Writes::AskToStop;
    return WriteFile(file, data, writes == Writes::Partly && bytes > 1000 ? 1000 : bytes, written, overlapped);
}

struct WriteCase { Writes writes; OutputSink::State state; DWORD error; const char *why; };
// The threads of this process.
static size_t ThreadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 thread = {};
    thread.dwSize = sizeof thread;
    size_t count = 0;
    for (BOOL more = Thread32First(snapshot, &thread); more; more = Thread32Next(snapshot, &thread))
        count += thread.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
}

enum class Cause { None, MissingFolder, DevFull, OutOfMemory, StopFirst, SmallDisk };
struct RunCase { Cause cause; ListingOutcome outcome; DWORD error; const char *lastRead, *why; };

TEST(RunListing, ShortFailedAndStoppedWritesMemoryRunningOutAndWhereTheRunEnds) {
    std::string tree = Tree("stop", "mkdir A Zed out && cd A && seq -f 'file-%05g-of-a-name-long-enough-for-pieces.txt' 3000 | xargs touch");
    std::string out = DriveFolderUnix('d') + "/stop/out";
    std::vector<std::string> names(3000);
    for (size_t i = 0; i < names.size(); ++i) names[i] = "file-" + std::to_string(100001 + i).substr(1) + "-of-a-name-long-enough-for-pieces.txt";
    // A's block outgrows a written piece twice over.
    const std::string whole = Block("stop", 7, {"A", "OUT", "ZED"}) + Block("A", 9, names) + Block("OUT", 11, {}) + Block("ZED", 11, {});
    ListingRequest request = Choose("sf");
    request.startFolders = {WidenAnsi(tree.c_str())};
    request.outputPath = WidenAnsi(ListingFile().c_str());
    request.cancel = &stopRequest;
    // The walk and the text writer by hand, writing through the stand-in.
    const WriteCase writeCases[] = {
        {Writes::Partly, OutputSink::State::Writing, 0, "every write takes part of its piece: the rest follows, the file is whole"},
        {Writes::Nothing, OutputSink::State::Failed, ERROR_DISK_FULL, "a write succeeds and takes nothing: the disk is full"},
        {Writes::Fail, OutputSink::State::Failed, ERROR_NETNAME_DELETED, "a failed write ends the writing with its error"},
        {Writes::AskToStop, OutputSink::State::Stopped, 0, "asked to stop during a write: stopped, not failed"},
    };
    for (const WriteCase &c : writeCases) {
        SCOPED_TRACE(c.why);
        HANDLE file = CreateFileW(request.outputPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        writes = c.writes, writesSeen = 0, stopRequest = false;
        OutputSink sink(file, &stopRequest, TestWrite);
        TextListingWriter writer(request, sink);
        const size_t threads = ThreadCount();
        WalkResult walked = WalkTree(request, request.startFolders[0], writer);
        EXPECT_EQ(ThreadCount(), threads) << "the readers end with the walk, however it ends";
        if (walked.end == WalkEnd::Complete) sink.Flush();
        CloseHandle(file);
        EXPECT_EQ(sink.state(), c.state);
        EXPECT_EQ(sink.error(), c.error);
        if (c.writes == Writes::Partly) EXPECT_TRUE(SameText(whole, ReadWholeFile(ListingFile())));
        else EXPECT_TRUE(walked.end == WalkEnd::WriterStopped && writesSeen == 1 && walked.lastEntered == LongPath(request.startFolders[0] + L"\\A"))
            << "the first piece of A ends the walk, and nothing more is written";
    }
    // A current directory holds MAX_PATH - 2 characters: a last folder D:\long\<name>\z of 258 becomes it, one of 259 cannot.
    for (size_t length : {258, 259}) {
        SCOPED_TRACE(std::to_string(length) + " characters");
        ASSERT_TRUE(SetCurrentDirectoryA("D:\\"));  // not the last one: programs started from it would inherit it
        std::string name(length - 10, 'n'), top = Tree("long", "mkdir -p " + name + "/z");
        List(top, Choose("s"));
        EXPECT_EQ(CurrentDirectory(), length == 258 ? top + "\\" + name + "\\z" : "D:\\");
    }
    // Whole runs, writing to out.txt in the current directory D:\stop\out: an incomplete file is
    // removed, and the current directory is left where the last folder read is.
    const RunCase runCases[] = {
        {Cause::None, ListingOutcome::Complete, 0, "\\Zed", "complete: the last folder read, entered by its real name"},
        {Cause::MissingFolder, ListingOutcome::NotCreated, ERROR_PATH_NOT_FOUND, "\\out", "no file in a missing folder: nothing read"},
        {Cause::DevFull, ListingOutcome::Failed, ERROR_DISK_FULL, "\\A", "every write fails (a link to /dev/full)"},
        {Cause::OutOfMemory, ListingOutcome::Failed, ERROR_NOT_ENOUGH_MEMORY, "\\A", "memory runs out reading A: no partial listing"},
        {Cause::StopFirst, ListingOutcome::Stopped, 0, "\\out", "asked to stop before the run: nothing read"},
        {Cause::SmallDisk, ListingOutcome::Failed, ERROR_DISK_FULL, "\\A", "a 16 KiB file system fills up part way"},
    };
    for (const RunCase &c : runCases) {
        SCOPED_TRACE(c.why);
        ResetFolderUnix(out);
        ASSERT_EQ(0, c.cause == Cause::DevFull ? RunUnix("ln -s /dev/full " + ShellQuote(out + "/out.txt")) : 0);
        if (c.cause == Cause::SmallDisk && RunUnix("mount -t tmpfs -o size=16k tmpfs " + ShellQuote(out)) != 0)
            GTEST_SKIP() << "mounting a small file system needs root";
        ASSERT_TRUE(SetCurrentDirectoryA((tree + "\\out").c_str()));
        BoxAnswerer answerer;
        ListingProgress progress;
        request.progress = &progress;
        request.outputPath = c.cause == Cause::MissingFolder ? L"missing\\out.txt" : L"out.txt";
        stopRequest = c.cause == Cause::StopFirst;
        int failed = failures;
        if (c.cause == Cause::OutOfMemory) failFrom = 16384, failWhenListed = &progress;  // only A needs that much at once
        ListingResult result = RunListing(request);
        failFrom = SIZE_MAX, failWhenListed = nullptr;
        EXPECT_TRUE(result.outcome == c.outcome && result.systemError == c.error) << static_cast<int>(result.outcome) << " " << result.systemError;
        EXPECT_EQ(c.cause == Cause::OutOfMemory, failures > failed);
        EXPECT_EQ(CurrentDirectory(), tree + c.lastRead);
        SetCurrentDirectoryA("D:\\");
        // Wine cannot remove a link to a device, so that case checks the rest.
        EXPECT_TRUE(c.cause == Cause::DevFull || (c.cause == Cause::None) == (RunUnix("test -e " + ShellQuote(out + "/out.txt")) == 0));
        EXPECT_FALSE(FileExists(tree + "\\out\\missing"));
        if (c.cause == Cause::SmallDisk) RunUnix("umount " + ShellQuote(out));
        EXPECT_TRUE(answerer.Seen().empty()) << "the engine tells its caller and shows nothing";
    }
}

// Folders read ahead are bounded: while the writer holds the first subfolder, the readers fill their window
// and stop. 1,500 folders of 20 files with long names hold about 20 MB; the window of three threads, 16 of them.
// (The writer waits until the memory held stops growing; a slow machine can only make the figure smaller.)
TEST(WalkTree, ReadsABoundedNumberOfFoldersAhead) {
    std::string tree = Tree("ahead", "for d in $(seq 1500); do mkdir d$d && (cd d$d && seq -f \"%g-$(printf %100s | tr ' ' n)\" 20 | xargs touch); done");
    struct Holder : ListingWriter {
        long long base = 0, held = 0;
        int calls = 0;
        bool Folder(const FolderRecord &) override {
            if (++calls == 1) base = liveBytes;
            if (calls != 2) return true;
            for (long long last = -1; liveBytes != last;) {
                last = liveBytes;
                Sleep(300);
            }
            held = liveBytes - base;
            return true;
        }
        void Finish(const ListingTotals &) override {}
    } holder;
    ListingRequest request = Choose("sf");
    request.threads = 3;
    EXPECT_EQ(WalkTree(request, WidenAnsi(tree.c_str()), holder).end, WalkEnd::Complete);
    EXPECT_EQ(holder.calls, 1501);
    EXPECT_LT(holder.held, 4 << 20) << "bytes held while the writer waited";
}
