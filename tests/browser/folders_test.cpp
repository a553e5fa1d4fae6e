// Folder list: path rows, sorted subfolder rows, double clicks, limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "browser.h"
#include "host.h"
#include "names.h"
#include "support.h"

namespace {

std::vector<std::string> Texts(const std::vector<ListRow> &rows, size_t from = 0) {
    std::vector<std::string> texts;
    for (size_t i = from; i < rows.size(); ++i) texts.push_back(rows[i].text);
    return texts;
}

int IndexOf(HWND list, const std::string &text) {
    std::vector<ListRow> rows = ListRows(list);
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].text == text) return static_cast<int>(i);
    return -1;
}

// Selects the row with `text` and opens it as a double click does.
void DoubleClick(HWND list, const std::string &text) {
    int index = IndexOf(list, text);
    ASSERT_GE(index, 0) << "no row " << text;
    SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    OpenFolderRow(list);
}

int Selected(HWND list) { return static_cast<int>(SendMessageA(list, LB_GETCURSEL, 0, 0)); }

class FolderList : public ::testing::Test {
protected:
    void SetUp() override { ResetDriveE(); }
    MainDialog host;
};

TEST_F(FolderList, WorkedExampleRowsTagsAndDoubleClicks) {
    MakeFolders("E:", {"Program Files"});
    MakeFolders("E:\\Program Files", {"Common", "Other"});
    MakeFolders("E:\\Program Files\\Common", {"System", "Shared", "microsoft"});
    ShowFolder(host.list, "E:\\Program Files\\Common");

    std::vector<ListRow> rows = ListRows(host.list);
    ASSERT_EQ(rows.size(), 6u);
    struct Expected { const char *text; unsigned indent, offset; };
    const Expected expected[] = {
        {"E:", 0, 0}, {"Program Files", 4, 3}, {"Common", 8, 17},
        {"microsoft", 12, 0xFFFF}, {"Shared", 12, 0xFFFF}, {"System", 12, 0xFFFF},
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(expected[i].text);
        EXPECT_EQ(rows[i].text, expected[i].text);
        EXPECT_EQ(rows[i].indent, expected[i].indent);
        EXPECT_EQ(rows[i].offset, expected[i].offset);
    }
    EXPECT_EQ(Selected(host.list), -1) << "a fill leaves no row selected";
    EXPECT_EQ(CurrentDirectory(), "E:\\Program Files\\Common");

    struct Click { const char *row, *folder, *selected; size_t count; const char *why; };
    const Click clicks[] = {
        {"Common", "E:\\Program Files\\Common", "Common", 6, "the last path row keeps the folder"},
        {"Program Files", "E:\\Program Files", "Program Files", 4, "a middle row cuts after it"},
        {"Common", "E:\\Program Files\\Common", "Common", 6, "a subfolder row descends"},
        {"E:", "E:\\", "E:", 2, "the drive row gives the root"},
    };
    for (const Click &click : clicks) {
        SCOPED_TRACE(click.why);
        DoubleClick(host.list, click.row);
        EXPECT_STREQ(CurrentFolder, click.folder);
        EXPECT_EQ(CurrentDirectory(), click.folder);
        EXPECT_EQ(ListRows(host.list).size(), click.count);
        EXPECT_EQ(ListText(host.list, Selected(host.list)), click.selected);
    }
    rows = ListRows(host.list);
    ASSERT_EQ(rows.size(), 2u) << "a drive root has one path row";
    EXPECT_EQ(rows[1].indent, 4u);
    EXPECT_EQ(rows[1].offset, 0xFFFFu);

    ShowFolder(host.list, "E:\\Program Files\\Common");
    DoubleClick(host.list, "Shared");
    EXPECT_STREQ(CurrentFolder, "E:\\Program Files\\Common\\Shared");
    rows = ListRows(host.list);
    ASSERT_EQ(rows.size(), 4u) << "an empty folder shows its path rows only";
    EXPECT_EQ(rows[3].offset, 24u);
    EXPECT_EQ(rows[3].indent, 12u);
    EXPECT_EQ(Selected(host.list), 3) << "with no subfolders the last row is selected";
}

TEST_F(FolderList, SubfoldersSortByFoldedName) {
    struct SortCase {
        std::vector<std::string> created;
        std::vector<std::string> listed;
        const char *why;
    };
    const SortCase cases[] = {
        {{"b", "B2", "a1"}, {"a1", "b", "B2"}, "letters compare as small letters"},
        {{"Zeta", "_tmp"}, {"_tmp", "Zeta"}, "'_' comes before every letter"},
        {{"[x]", "a", "Z"}, {"[x]", "a", "Z"}, "0x5B..0x60 sort before letters"},
        {{"caf\xE9", "cafz", "CAFE"}, {"CAFE", "cafz", "caf\xE9"}, "bytes from 0x80 sort last"},
        {{"ab", "abc", "AB-"}, {"ab", "AB-", "abc"}, "a prefix comes first"},
    };
    for (const SortCase &c : cases) {
        SCOPED_TRACE(c.why);
        ResetDriveE();
        MakeFolders("E:", {"t"});
        MakeFolders("E:\\t", c.created);
        ShowFolder(host.list, "E:\\t");
        std::vector<ListRow> rows = ListRows(host.list);
        ASSERT_EQ(rows.size(), c.listed.size() + 2);
        EXPECT_EQ(Texts(rows, 2), c.listed);
    }
}

TEST_F(FolderList, NamesDifferingOnlyInCaseKeepEnumerationOrder) {
    // 32 spellings of one name, mixed with others, so that an unstable
    // sort would show.
    std::vector<std::string> names;
    for (int bits = 0; bits < 32; ++bits) {
        std::string name = "abcde";
        for (size_t i = 0; i < name.size(); ++i)
            if (bits & (1 << i)) name[i] = static_cast<char>(name[i] - 'a' + 'A');
        names.push_back(name);
        names.push_back("zz" + std::to_string(bits));
        names.push_back("_" + std::to_string(bits));
    }
    // Through Wine the spellings would name one folder: make them on Linux.
    std::string script = "mkdir -p " + ShellQuote(DriveFolderUnix('e') + "/t") + " && cd " +
                         ShellQuote(DriveFolderUnix('e') + "/t") + " && mkdir";
    for (const std::string &name : names) script += " " + name;
    ASSERT_EQ(RunUnix(script), 0);
    std::vector<std::string> tied;
    for (const std::string &name : EnumeratedFolders("E:\\t"))
        if (CompareNamesNoCase(name.c_str(), "abcde") == 0) tied.push_back(name);
    ASSERT_EQ(tied.size(), 32u);

    ShowFolder(host.list, "E:\\t");
    std::vector<std::string> listed = Texts(ListRows(host.list), 2);
    ASSERT_EQ(listed.size(), names.size());
    auto first = std::find(listed.begin(), listed.end(), tied.front());
    ASSERT_NE(first, listed.end());
    std::vector<std::string> run(first, first + std::min<std::ptrdiff_t>(32, listed.end() - first));
    EXPECT_EQ(run, tied) << "the spellings stay together, in the order found";
}

TEST_F(FolderList, DotFoldersAndFilesAreLeftOutHiddenFoldersAreNot) {
    MakeFolders("E:", {"t"});
    MakeFolders("E:\\t", {".config", "..x", "Secret", "plain", "a.b"});
    WriteWholeFile("E:\\t\\notes.txt", "not a folder");
    ASSERT_TRUE(SetFileAttributesA("E:\\t\\Secret", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(GetFileAttributesA("E:\\t\\Secret") & FILE_ATTRIBUTE_HIDDEN);
    ASSERT_EQ(RunUnix("ln -s plain " + ShellQuote(DriveFolderUnix('e') + "/t/linked")), 0);
    ShowFolder(host.list, "E:\\t");
    EXPECT_EQ(Texts(ListRows(host.list), 2),
              (std::vector<std::string>{"a.b", "linked", "plain", "Secret"}));
}

TEST_F(FolderList, FolderThatCannotBeEnteredLeavesTheListAlone) {
    MakeFolders("E:", {"t"});
    MakeFolders("E:\\t", {"one", "two"});
    ShowFolder(host.list, "E:\\t");
    SendMessageA(host.list, LB_SETCURSEL, 3, 0);
    struct Case { const char *folder, *why; };
    const Case cases[] = {
        {"E:\\t\\missing", "a folder that does not exist"},
        {"", "an empty path"},
        {"N:\\", "a drive that is not ready"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        ShowFolder(host.list, c.folder);
        EXPECT_STREQ(CurrentFolder, c.folder);
        EXPECT_EQ(Texts(ListRows(host.list)), (std::vector<std::string>{"E:", "t", "one", "two"}));
        EXPECT_EQ(Selected(host.list), 3);
        EXPECT_EQ(CurrentDirectory(), "E:\\t");
    }
}

TEST_F(FolderList, RemovedSubfolderKeepsOldRowsUntilAPathRowIsOpened) {
    MakeFolders("E:", {"t"});
    MakeFolders("E:\\t", {"Gone", "Stays"});
    ShowFolder(host.list, "E:\\t");
    ASSERT_TRUE(RemoveDirectoryA("E:\\t\\Gone"));
    DoubleClick(host.list, "Gone");
    EXPECT_STREQ(CurrentFolder, "E:\\t\\Gone");
    EXPECT_EQ(Texts(ListRows(host.list)), (std::vector<std::string>{"E:", "t", "Gone", "Stays"}));
    EXPECT_EQ(Selected(host.list), 1) << "the old rows' last path row";
    OpenFolderRow(host.list);
    EXPECT_STREQ(CurrentFolder, "E:\\t");
    EXPECT_EQ(Texts(ListRows(host.list)), (std::vector<std::string>{"E:", "t", "Stays"}));
}

TEST_F(FolderList, DoubleClickWithoutSelectionDoesNothing) {
    MakeFolders("E:", {"t"});
    MakeFolders("E:\\t", {"one"});
    ShowFolder(host.list, "E:\\t");
    MakeFolders("E:\\t", {"late"});  // would show if the list were refilled
    SendMessageA(host.list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    OpenFolderRow(host.list);
    EXPECT_STREQ(CurrentFolder, "E:\\t");
    EXPECT_EQ(Texts(ListRows(host.list)), (std::vector<std::string>{"E:", "t", "one"}));
    EXPECT_EQ(Selected(host.list), -1);
}

TEST_F(FolderList, DescentBeyondTheLengthLimitIsRefused) {
    // A chain of folders whose path is 200 characters, then children whose
    // full paths are 259 (the longest that fits) and 260 characters.
    std::string unixPath = DriveFolderUnix('e');
    std::string path = "E:";
    while (path.size() + 1 + 40 <= 200) {
        std::string part(40, static_cast<char>('a' + path.size() % 26));
        path += "\\" + part;
        unixPath += "/" + part;
    }
    std::string part(200 - path.size() - 1, 'p');
    path += "\\" + part;
    unixPath += "/" + part;
    ASSERT_EQ(path.size(), 200u);
    std::string fits(259 - 201, 'f'), tooLong(260 - 201, 'g');
    ASSERT_EQ(RunUnix("mkdir -p " + ShellQuote(unixPath + "/" + fits) + " " +
                      ShellQuote(unixPath + "/" + tooLong)), 0);
    ShowFolder(host.list, path);
    std::vector<std::string> before = Texts(ListRows(host.list));
    ASSERT_EQ(before.back(), tooLong);

    DoubleClick(host.list, tooLong);
    EXPECT_STREQ(CurrentFolder, path.c_str()) << "260 characters do not fit";
    EXPECT_EQ(Texts(ListRows(host.list)), before);
    EXPECT_EQ(ListText(host.list, Selected(host.list)), tooLong) << "the selection stays too";

    DoubleClick(host.list, fits);
    EXPECT_EQ(std::string(CurrentFolder), path + "\\" + fits) << "259 characters fit";
}

// Folder names whose listed order differs from the enumeration's: "_" sorts
// before letters here, after them when upper-cased.
std::string ManyName(int i) {
    char name[16];
    std::snprintf(name, sizeof name, "k%05d%s", i / 2, (i % 2) ? "B" : "_");
    return name;
}

void MakeManyFolders(int count) {
    std::string folder = ShellQuote(DriveFolderUnix('e') + "/many");
    std::string last = std::to_string(count / 2 - 1);
    ASSERT_EQ(RunUnix("mkdir -p " + folder + " && cd " + folder + " && seq -f 'k%05g_' 0 " +
                      last + " | xargs mkdir && seq -f 'k%05gB' 0 " + last + " | xargs mkdir"),
              0);
    ASSERT_TRUE(FileExists("E:\\many\\" + ManyName(count - 1)));
}

TEST_F(FolderList, TwentyThousandSubfoldersAllListedInOrderWellUnderASecond) {
    const int count = 20000;
    MakeManyFolders(count);
    ShowWindow(host.dialog, SW_SHOW);
    PumpMessages();
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    ShowFolder(host.list, "E:\\many");
    UpdateWindow(host.list);
    QueryPerformanceCounter(&end);
    double seconds = static_cast<double>(end.QuadPart - start.QuadPart) /
                     static_cast<double>(frequency.QuadPart);
    std::printf("filled %d subfolders in %.3f s\n", count, seconds);
    EXPECT_LT(seconds, 1.0);
    std::vector<ListRow> rows = ListRows(host.list);
    ASSERT_EQ(rows.size(), static_cast<size_t>(count) + 2) << "far more than 1,024 names";
    for (int i = 0; i < count; ++i) {
        if (rows[static_cast<size_t>(i) + 2].text != ManyName(i)) {
            ADD_FAILURE() << "row " << i << " is " << rows[static_cast<size_t>(i) + 2].text
                          << ", expected " << ManyName(i);
            break;
        }
    }
}

}  // namespace
