// The dialog writes the web-page catalogue when the output name ends in .html or .htm, the text listing otherwise.
#include <gtest/gtest.h>

#include "app.h"
#include "program.h"
#include "resource.h"
#include "support.h"

TEST(MainDialog, TheOutputNameChoosesThePage) {
    std::string folder = DriveFolderUnix('d') + "/html-dialog";
    ResetFolderUnix(folder);
    ASSERT_EQ(0, RunUnix("cd " + ShellQuote(folder) + " && mkdir -p tree out/dir.html && echo x > tree/a.txt"));
    ASSERT_TRUE(SetCurrentDirectoryA("D:\\html-dialog\\tree"));
    const struct { const char *name; bool page; const char *why; } cases[] = {
        {"D:\\html-dialog\\out\\drive.html", true, "the ending asks for the page"},
        {"D:\\html-dialog\\out\\DRIVE.HTM", true, "in any case, and the short ending"},
        {"D:\\html-dialog\\out\\drive.html.txt", false, "only the last ending counts"},
        {"D:\\html-dialog\\out\\drive.htmlx", false, "an ending that only begins the same"},
        {"D:\\html-dialog\\out\\dir.html\\drive", false, "a folder's name is no ending"},
    };
    HWND dialog = CreateDialogParamA(ModuleInstance = GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                                     MainDialogProc, 0);
    ASSERT_TRUE(dialog);
    for (const auto &row : cases) {
        SCOPED_TRACE(row.why);
        SetDlgItemTextA(dialog, IDC_OUTPUT_FILE, row.name);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_CREATE, BN_CLICKED), 0);
        std::string written = ReadWholeFile(row.name);
        EXPECT_EQ(written.rfind("<!DOCTYPE html>", 0) == 0, row.page) << written.substr(0, 80);
        EXPECT_EQ(written.find("a.txt") != std::string::npos, true) << "the folder's file is catalogued";
    }
    DestroyWindow(dialog);
}
