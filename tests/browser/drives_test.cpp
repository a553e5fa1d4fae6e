// Drive table, drive drop-down and drive change (with the retry prompt).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browser.h"
#include "host.h"
#include "support.h"

namespace {

int RowOf(char letter) {
    for (int i = 0; i < DriveTable.Count; ++i)
        if (DriveTable.Rows[i].RootPath[0] == letter) return i;
    return -1;
}

std::string ComboText(HWND combo, int index) {
    char text[260] = "";
    SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
    return text;
}

int ComboSelection(HWND combo) { return static_cast<int>(SendMessageA(combo, CB_GETCURSEL, 0, 0)); }

// Picks the drive's row in the drop-down as the user would, then changes to it.
void ChooseDrive(HWND combo, char letter) {
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(RowOf(letter)), 0);
    ChangeDrive(combo);
}

class DriveTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetDriveE();
        MakeFolders("E:", {"work"});
        BuildDriveTable();
    }
    // Starts the browser in `folder`, as the dialog does at start.
    void StartIn(const std::string &folder) {
        SendMessageA(host.combo, CB_RESETCONTENT, 0, 0);
        ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str())) << folder;
        FillDriveCombo(host.combo);
    }
    MainDialog host;
};

TEST_F(DriveTableTest, OneRowPerDriveInLetterOrder) {
    DWORD mask = GetLogicalDrives();
    std::string expected;
    for (int n = 0; n < 26; ++n)
        if (mask & (1u << n)) expected += static_cast<char>('A' + n);
    std::string letters;
    for (int i = 0; i < DriveTable.Count; ++i) {
        const DriveRecord &row = DriveTable.Rows[i];
        SCOPED_TRACE(row.RootPath);
        letters += row.RootPath[0];
        EXPECT_EQ(std::string(row.RootPath), std::string(1, row.RootPath[0]) + ":\\");
        EXPECT_EQ(std::string(row.Label, 4), std::string(1, row.RootPath[0]) + ":  ");
    }
    EXPECT_EQ(letters, expected);

    struct LabelCase { char letter; const char *label, *why; };
    const LabelCase labels[] = {
        {'E', "E:  TESTVOL", "letter, colon, two spaces, volume name"},
        {'N', "N:  ", "a drive that is not ready has no volume name"},
    };
    for (const LabelCase &c : labels) {
        SCOPED_TRACE(c.why);
        ASSERT_GE(RowOf(c.letter), 0);
        EXPECT_STREQ(DriveTable.Rows[RowOf(c.letter)].Label, c.label);
    }
}

TEST_F(DriveTableTest, StartingDirectorySelectsItsDrive) {
    struct StartCase { const char *folder; char letter; const char *why; };
    const StartCase cases[] = {
        {"E:\\work", 'E', "the folder itself is kept, not the drive root"},
        {"G:\\", 'G', "a drive root"},
        {"Z:\\tmp", 'Z', "the last drive"},
        {"e:\\work", 0, "a small letter matches no row: row 0, the folder kept as read"},
    };
    for (const StartCase &c : cases) {
        SCOPED_TRACE(c.why);
        StartIn(c.folder);
        int expected = c.letter ? RowOf(c.letter) : 0;
        EXPECT_STREQ(CurrentFolder, c.folder);
        EXPECT_EQ(DriveTable.SelectedIndex, expected);
        EXPECT_EQ(ComboSelection(host.combo), expected);
        EXPECT_EQ(ComboText(host.combo, ComboSelection(host.combo)), DriveTable.Rows[expected].Label);
    }
    ASSERT_EQ(SendMessageA(host.combo, CB_GETCOUNT, 0, 0), DriveTable.Count);
    for (int i = 0; i < DriveTable.Count; ++i)
        EXPECT_EQ(ComboText(host.combo, i), DriveTable.Rows[i].Label) << "sorted rows keep table order";
}

TEST_F(DriveTableTest, ChangeAlwaysGoesToTheRoot) {
    BoxAnswerer boxes({IDCANCEL});
    StartIn("E:\\work");
    ChooseDrive(host.combo, 'G');
    EXPECT_STREQ(CurrentFolder, "G:\\");
    EXPECT_EQ(CurrentDirectory(), "G:\\");
    EXPECT_EQ(DriveTable.SelectedIndex, RowOf('G'));
    ChooseDrive(host.combo, 'E');
    EXPECT_STREQ(CurrentFolder, "E:\\") << "not E:\\work, where the browser started";
    EXPECT_EQ(CurrentDirectory(), "E:\\");
    EXPECT_EQ(DriveTable.SelectedIndex, RowOf('E'));
    EXPECT_EQ(ComboSelection(host.combo), RowOf('E'));
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(DriveTableTest, NotReadyDriveCancelledPutsTheDropDownBack) {
    struct CancelCase { std::vector<int> answers; size_t boxes; const char *why; };
    const CancelCase cases[] = {
        {{IDCANCEL}, 1, "cancel at once"},
        {{IDRETRY, IDRETRY, IDCANCEL}, 3, "the prompt comes back while the drive stays away"},
    };
    for (const CancelCase &c : cases) {
        SCOPED_TRACE(c.why);
        StartIn("E:\\work");
        BoxAnswerer boxes(c.answers);
        ChooseDrive(host.combo, 'N');
        std::vector<SeenBox> seen = boxes.Seen();
        ASSERT_EQ(seen.size(), c.boxes);
        for (const SeenBox &box : seen) {
            EXPECT_EQ(box.text, "Drive N:\\ is not ready");
            EXPECT_EQ(box.caption, "Dirtally 1.1");
        }
        EXPECT_EQ(ComboSelection(host.combo), RowOf('E'));
        EXPECT_EQ(DriveTable.SelectedIndex, RowOf('E'));
        EXPECT_STREQ(CurrentFolder, "E:\\work");
        EXPECT_EQ(CurrentDirectory(), "E:\\work");
    }
}

// Brings the missing drive N: into being just before the prompt is answered.
void MakeDriveN(const SeenBox &, void *) {
    RunUnix("mkdir -p " + ShellQuote(DriveFolderUnix('n') + "-missing"));
}

TEST_F(DriveTableTest, NotReadyDriveRetriedAfterItAppears) {
    StartIn("E:\\work");
    {
        BoxAnswerer boxes({IDRETRY, IDCANCEL});
        boxes.SetBeforeAnswer(MakeDriveN, nullptr);
        ChooseDrive(host.combo, 'N');
        std::vector<SeenBox> seen = boxes.Seen();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].text, "Drive N:\\ is not ready");
    }
    EXPECT_STREQ(CurrentFolder, "N:\\");
    EXPECT_EQ(CurrentDirectory(), "N:\\");
    EXPECT_EQ(DriveTable.SelectedIndex, RowOf('N'));
    EXPECT_EQ(ComboSelection(host.combo), RowOf('N'));
    SetCurrentDirectoryA("E:\\");
    RunUnix("rm -rf " + ShellQuote(DriveFolderUnix('n') + "-missing"));
}

}  // namespace
