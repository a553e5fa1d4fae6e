// The main dialog: its starting state, its commands and the create command.
#include "app.h"
#include "browser.h"
#include "captions.h"
#include "message.h"
#include "resource.h"

// The text of the entry appended to the system menu.
static const char AboutMenuText[] = "About...";

// The filter the dialog starts with.
static const char DefaultFilter[] = "*.*";

// The option check boxes that start checked, in the order they are set.
static const int CheckedAtStart[] = {IDC_INCLUDE_FILES, IDC_SAVE_MAIN_PATH,
                                     IDC_SAVE_FOLDER_PATH, IDC_SAVE_DETAILS, IDC_SORT_NAME};

// The sort buttons in the order they are queried, each with its key.
struct SortButton {
    int id;
    SortKey key;
};
static const SortButton SortButtons[] = {
    {IDC_SORT_NAME, SortByName},
    {IDC_SORT_EXTENSION, SortByExtension},
    {IDC_SORT_SIZE, SortBySize},
    {IDC_SORT_DATE, SortByDate},
};
static_assert(sizeof SortButtons / sizeof SortButtons[0] == SortByDate,
              "one sort button for every sort key");

// True when the check box or radio button `id` is checked (not grey).
static bool IsChecked(HWND dialog, int id) {
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

// Reads the five check boxes and the first checked sort button; with none
// checked, which the auto radio buttons never allow, files sort by name.
ListingOptions ReadListingOptions(HWND dialog) {
    ListingOptions options = {};
    options.includeSubfolders = IsChecked(dialog, IDC_INCLUDE_SUBFOLDERS);
    options.includeFiles = IsChecked(dialog, IDC_INCLUDE_FILES);
    options.pathOnEachLine = IsChecked(dialog, IDC_SAVE_MAIN_PATH);
    options.fullPathInHeading = IsChecked(dialog, IDC_SAVE_FOLDER_PATH);
    options.showDetails = IsChecked(dialog, IDC_SAVE_DETAILS);
    options.sortKey = SortByName;
    for (const SortButton &button : SortButtons) {
        if (IsChecked(dialog, button.id)) {
            options.sortKey = button.key;
            break;
        }
    }
    return options;
}

// Gathers the output path, the filter and the options and runs the listing;
// an empty output field first runs the save-file dialog, and whatever it
// leaves in OutputPath (the choice, or the proposed name when cancelled) is used.
void CreateListing(HWND dialog) {
    GetDlgItemTextA(dialog, IDC_OUTPUT_FILE, OutputPath, MAX_PATH);
    if (OutputPath[0] == '\0') BrowseOutputFile(dialog);

    char filter[256];  // at most 255 characters and the terminator
    GetDlgItemTextA(dialog, IDC_FILTER, filter, sizeof filter);
    if (filter[0] == '\0') {
        ShowMessage("Empty filter", MB_OK | MB_ICONWARNING);
        return;
    }
    ListingOptions options = ReadListingOptions(dialog);

    HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    ListingOutcome outcome = WriteListing(OutputPath, CurrentFolder, filter, options);
    SetCursor(previous);
    if (outcome == ListingNotCreated) ShowMessage("Can't create output file", MB_ICONWARNING);
    if (outcome == ListingNotWritten) ShowMessage("Can't write output file", MB_ICONWARNING);
}

// Installs the icon and the About entry, fills the drive drop-down before
// the folder list (it sets the CurrentFolder the list shows), and sets the
// default filter and options.
static void OnInitDialog(HWND dialog) {
    HICON icon = LoadIconA(ModuleInstance, MAKEINTRESOURCEA(IDI_APP));
    SetClassLongPtrA(dialog, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));

    HMENU systemMenu = GetSystemMenu(dialog, FALSE);
    AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(systemMenu, MF_STRING, IDM_ABOUT, AboutMenuText);

    BuildDriveTable();
    FillDriveCombo(GetDlgItem(dialog, IDC_DRIVE_COMBO));
    FillFolderList(GetDlgItem(dialog, IDC_FOLDER_LIST));

    SetDlgItemTextA(dialog, IDC_FILTER, DefaultFilter);
    for (int id : CheckedAtStart) CheckDlgButton(dialog, id, BST_CHECKED);
    ApplyLegibleCaptions(dialog);
}

// Moves the CurrentFolder to the double-clicked row.
static void OnFolderListCommand(HWND control, UINT code) {
    if (code == LBN_DBLCLK) OpenFolderRow(control);
}

// Changes to the chosen drive and refills the folder list, also when the
// change was refused, so that the list always shows the CurrentFolder.
static void OnDriveComboCommand(HWND dialog, HWND combo, UINT code) {
    if (code != CBN_SELCHANGE) return;
    ChangeDrive(combo);
    FillFolderList(GetDlgItem(dialog, IDC_FOLDER_LIST));
}

// Dispatches a command by control id; returns whether it was one of ours.
// IDOK and IDCANCEL are not: the dialog has no default button, and Escape
// does nothing.
static bool OnCommand(HWND dialog, int id, HWND control, UINT code) {
    switch (id) {
    case IDC_FOLDER_LIST: OnFolderListCommand(control, code); return true;
    case IDC_BROWSE: BrowseOutputFile(dialog); return true;
    case IDC_CREATE: CreateListing(dialog); return true;
    case IDC_EXIT: EndDialog(dialog, 0); return true;
    case IDC_DRIVE_COMBO: OnDriveComboCommand(dialog, control, code); return true;
    default: return false;
    }
}

// Paints a row of the folder list; no other control is owner-drawn.
static void OnDrawItem(HWND dialog, UINT_PTR id, const DRAWITEMSTRUCT *request) {
    if (id == IDC_FOLDER_LIST) DrawFolderRow(GetDlgItem(dialog, IDC_FOLDER_LIST), request);
}

// Opens the About dialog for the system menu's entry; every other system
// command is left to the platform (move, close and the rest).
static bool OnSysCommand(HWND dialog, WPARAM command) {
    if ((command & 0xFFF0) != IDM_ABOUT) return false;
    DialogBoxParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_ABOUT), dialog, AboutDialogProc, 0);
    return true;
}

// The main dialog's procedure: dispatches each message to its handler and
// returns whether it was handled.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog);
        return TRUE;  // the dialog manager focuses the folder list
    case WM_COMMAND:
        return OnCommand(dialog, LOWORD(wParam), reinterpret_cast<HWND>(lParam), HIWORD(wParam));
    case WM_DRAWITEM:
        OnDrawItem(dialog, wParam, reinterpret_cast<const DRAWITEMSTRUCT *>(lParam));
        return TRUE;
    case WM_SYSCOMMAND:
        return OnSysCommand(dialog, wParam);
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}
