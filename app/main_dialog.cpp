// The main dialog: its starting state, its commands and the create command.
#include <atomic>
#include <string>
#include <vector>

#include "app.h"
#include "browser.h"
#include "captions.h"
#include "names.h"
#include "program.h"
#include "resource.h"
#include "worker.h"

// The text of the entry appended to the system menu.
static const char AboutMenuText[] = "About...";

// The sort buttons in the order they are queried, each with its key.
struct SortButton {
    int id;
    SortKey key;
};
static const SortButton SortButtons[] = {
    {IDC_SORT_NAME, SortKey::Name},
    {IDC_SORT_EXTENSION, SortKey::Extension},
    {IDC_SORT_SIZE, SortKey::Size},
    {IDC_SORT_DATE, SortKey::Date},
};
static_assert(sizeof SortButtons / sizeof SortButtons[0] == static_cast<size_t>(SortKey::Date) + 1,
              "one sort button for every sort key");

// The option check boxes, each with the request's choice it stands for.
struct OptionBox {
    int id;
    bool ListingRequest::*choice;
};
static const OptionBox OptionBoxes[] = {
    {IDC_INCLUDE_SUBFOLDERS, &ListingRequest::includeSubfolders},
    {IDC_INCLUDE_FILES, &ListingRequest::includeFiles},
    {IDC_SAVE_MAIN_PATH, &ListingRequest::pathOnEachLine},
    {IDC_SAVE_FOLDER_PATH, &ListingRequest::fullPathInHeading},
    {IDC_SAVE_DETAILS, &ListingRequest::showDetails},
};

// True when the check box or radio button `id` is checked (not grey).
static bool IsChecked(HWND dialog, int id) {
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

// Sets the filter, the check boxes and the sort buttons as `request` has them.
static void ShowListingChoices(HWND dialog, const ListingRequest &request) {
    std::string filter;
    NarrowText(request.filter.data(), request.filter.size(), FileApiCodePage(), filter);
    SetDlgItemTextA(dialog, IDC_FILTER, filter.c_str());
    for (const OptionBox &box : OptionBoxes)
        CheckDlgButton(dialog, box.id, request.*box.choice ? BST_CHECKED : BST_UNCHECKED);
    for (const SortButton &button : SortButtons)
        CheckDlgButton(dialog, button.id, button.key == request.sortKey ? BST_CHECKED : BST_UNCHECKED);
}

// Reads the five check boxes and the first checked sort button; with none
// checked, which the auto radio buttons never allow, files sort by name.
void ReadListingChoices(HWND dialog, ListingRequest &request) {
    for (const OptionBox &box : OptionBoxes) request.*box.choice = IsChecked(dialog, box.id);
    request.sortKey = SortKey::Name;
    for (const SortButton &button : SortButtons) {
        if (IsChecked(dialog, button.id)) {
            request.sortKey = button.key;
            break;
        }
    }
}

// The run in progress, owned by the dialog's thread; `cancel` is null
// outside a run, so at most one run exists at a time.
struct ActiveRun {
    std::atomic<bool> *cancel;
    const ListingProgress *progress;
    bool closeRequested;         // the close box, Alt+F4 or exit came during the run
    bool showingProgress;        // the title shows the counts and the controls are disabled
    char title[128];             // the title to put back
    HWND focus;                  // the control that had the focus
    std::vector<HWND> disabled;  // the controls the run disabled, to enable again
};
static ActiveRun CurrentRun;

// Once a run has gone on for the delay: disables every enabled control,
// remembering which, so that nothing can be started or changed; each time,
// shows the counts of the run so far in the title, after the dialog's own.
static void ShowRunProgress(HWND dialog) {
    if (!CurrentRun.showingProgress) {
        CurrentRun.showingProgress = true;
        for (HWND control = GetWindow(dialog, GW_CHILD); control;
             control = GetWindow(control, GW_HWNDNEXT)) {
            if (!IsWindowEnabled(control)) continue;
            CurrentRun.disabled.push_back(control);
            EnableWindow(control, FALSE);
        }
    }
    std::string title = std::string(CurrentRun.title) + " - " + ProgressText(*CurrentRun.progress);
    SetWindowTextA(dialog, title.c_str());
}

// Marks the run as started: remembers the title and the focus.
static void BeginRun(HWND dialog, std::atomic<bool> *cancel, const ListingProgress *progress) {
    CurrentRun.cancel = cancel;
    CurrentRun.progress = progress;
    CurrentRun.closeRequested = false;
    CurrentRun.showingProgress = false;
    GetWindowTextA(dialog, CurrentRun.title, sizeof CurrentRun.title);
    CurrentRun.focus = GetFocus();
    CurrentRun.disabled.clear();
}

// Puts the dialog back as the run found it: the title, each control the run
// disabled, and the focus. Returns whether a close was asked for meanwhile.
static bool EndRun(HWND dialog) {
    if (CurrentRun.showingProgress) {
        for (HWND control : CurrentRun.disabled) EnableWindow(control, TRUE);
        SetWindowTextA(dialog, CurrentRun.title);
    }
    HWND focus = CurrentRun.focus;
    if (focus && focus != GetFocus() && IsChild(dialog, focus) && IsWindowEnabled(focus))
        SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);
    CurrentRun.cancel = nullptr;
    CurrentRun.progress = nullptr;
    CurrentRun.disabled.clear();
    return CurrentRun.closeRequested;
}

// Asks the run to stop; the engine removes the incomplete file. With
// `thenClose` the dialog ends once the run has.
static void StopRun(bool thenClose) {
    CurrentRun.cancel->store(true);
    if (thenClose) CurrentRun.closeRequested = true;
}

// Handles a message of the nested loop that is input to the dialog during a
// run; returns false for every other message. Escape asks to stop (as the
// dialog manager would send it, IDCANCEL); system keys go to the platform
// without the dialog manager, so Alt+F4 and Alt+Space work and mnemonics do
// not; every other key and every click is dropped. Escape also comes as a
// system key when the focused control has just been disabled.
static bool HandleRunInput(HWND dialog, const MSG &message) {
    if (message.hwnd != dialog && !IsChild(dialog, message.hwnd)) return false;
    UINT type = message.message;
    bool key = type >= WM_KEYFIRST && type <= WM_KEYLAST;
    bool click = type >= WM_LBUTTONDOWN && type <= WM_MOUSELAST;
    if (!key && !click) return false;
    if ((type == WM_KEYDOWN || type == WM_SYSKEYDOWN) && message.wParam == VK_ESCAPE) {
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    } else if (type == WM_SYSKEYDOWN || type == WM_SYSKEYUP || type == WM_SYSCHAR) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return true;
}

// Waits up to `ms` for `thread` to end while the thread's messages keep
// flowing, and returns whether it ended; returns early, after handling what
// came, when messages arrive. The dialog repaints, answers messages sent to
// it and takes Escape and the close box. A quit request stops the run;
// `quit` keeps it to be posted again once the run has ended.
static bool PumpWhileRunning(HWND dialog, HANDLE thread, DWORD ms, MSG &quit) {
    DWORD woke = MsgWaitForMultipleObjects(1, &thread, FALSE, ms, QS_ALLINPUT);
    if (woke == WAIT_OBJECT_0) return true;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quit = message;
            StopRun(false);
        } else if (!HandleRunInput(dialog, message) && !IsDialogMessageA(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return false;
}

// Gathers the output path, the filter and the options and runs the listing
// on a worker thread while the dialog stays responsive; an empty output
// field first runs the save-file dialog, and whatever it leaves in
// OutputPath (the choice, or the proposed name when cancelled) is used. The
// command returns when the run has ended, the file complete or removed.
void CreateListing(HWND dialog) {
    if (CurrentRun.cancel) return;  // one run at a time
    GetDlgItemTextA(dialog, IDC_OUTPUT_FILE, OutputPath, MAX_PATH);
    if (OutputPath[0] == '\0') BrowseOutputFile(dialog);

    char filter[256];  // at most 255 characters and the terminator
    GetDlgItemTextA(dialog, IDC_FILTER, filter, sizeof filter);
    if (filter[0] == '\0') {
        ShowMessage("Empty filter", MB_OK | MB_ICONWARNING);
        return;
    }
    std::atomic<bool> cancel{false};
    ListingProgress progress;
    ListingRequest request;
    request.outputPath = WidenAnsi(OutputPath);
    // A name ending in .html or .htm gets the web page; any other the text listing.
    if (IsHtmlName(OutputPath)) request.format = OutputFormat::Html;
    request.startFolders = {CurrentFolderWide};
    request.filter = WidenAnsi(filter);
    ReadListingChoices(dialog, request);
    request.cancel = &cancel;
    request.progress = &progress;

    HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    BeginRun(dialog, &cancel, &progress);
    MSG quit = {};
    ListingResult result = RunWatched(
        request, [&](HANDLE thread, DWORD ms) { return PumpWhileRunning(dialog, thread, ms, quit); },
        [&] { ShowRunProgress(dialog); });
    bool closeRequested = EndRun(dialog);
    if (quit.message == WM_QUIT) PostQuitMessage(static_cast<int>(quit.wParam));
    SetCursor(previous);
    std::string warning;
    if (result.outcome == ListingOutcome::NotCreated) warning = "Can't create output file";
    if (result.outcome == ListingOutcome::Failed) warning = "Can't write output file";
    // A file written with folders it could not read would pass for complete: say so.
    if (result.outcome == ListingOutcome::Complete && result.unreadFolders == 1)
        warning = "1 folder could not be read: it is marked in the listing file";
    if (result.outcome == ListingOutcome::Complete && result.unreadFolders > 1)
        warning = std::to_string(result.unreadFolders) + " folders could not be read: they are marked in the listing file";
    if (!warning.empty()) {
        // The box takes the focus; the keyboard gets it back where it was.
        HWND focus = GetFocus();
        ShowMessage(warning.c_str(), MB_ICONWARNING);
        if (focus && IsChild(dialog, focus) && IsWindowEnabled(focus))
            SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);
    }
    if (closeRequested) EndDialog(dialog, 0);
}

// Installs the icon and the About entry, fills the drive drop-down before
// the folder list (it sets the CurrentFolder the list shows), and shows the
// default filter and options, the engine's own.
static void OnInitDialog(HWND dialog) {
    HICON icon = LoadIconA(ModuleInstance, MAKEINTRESOURCEA(IDI_APP));
    SetClassLongPtrA(dialog, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));

    HMENU systemMenu = GetSystemMenu(dialog, FALSE);
    AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(systemMenu, MF_STRING, IDM_ABOUT, AboutMenuText);

    BuildDriveTable();
    FillDriveCombo(GetDlgItem(dialog, IDC_DRIVE_COMBO));
    FillFolderList(GetDlgItem(dialog, IDC_FOLDER_LIST));

    ShowListingChoices(dialog, ListingRequest());
    ApplyLegibleCaptions(dialog);
}

// Moves the CurrentFolder to the double-clicked row.
static void OnFolderListCommand(HWND control, UINT code) {
    if (code == LBN_DBLCLK) OpenFolderRow(control);
}

// Changes to the chosen drive and refills the folder list, also when the
// change was refused, so that the list always shows the CurrentFolder.
// A drive that is not ready is asked about again until it is, or until the
// user cancels: the drop-down then goes back to the drive it had.
static void OnDriveComboCommand(HWND dialog, HWND combo, UINT code) {
    if (code != CBN_SELCHANGE) return;
    const char *root = "";
    while (ChangeDrive(combo, &root) == DriveChange::NotReady) {
        std::string text = std::string("Drive ") + root + " is not ready";
        if (ShowMessage(text.c_str(), MB_ICONEXCLAMATION | MB_RETRYCANCEL) != IDRETRY) {
            KeepSelectedDrive(combo);
            break;
        }
    }
    FillFolderList(GetDlgItem(dialog, IDC_FOLDER_LIST));
}

// During a run only stopping is possible: Escape (IDCANCEL) stops the run,
// the exit button stops it and then ends the dialog, and the commands that
// would start, browse or navigate are dropped.
static bool OnCommandDuringRun(int id) {
    switch (id) {
    case IDCANCEL: StopRun(false); return true;
    case IDC_EXIT: StopRun(true); return true;
    case IDC_FOLDER_LIST:
    case IDC_BROWSE:
    case IDC_CREATE:
    case IDC_DRIVE_COMBO: return true;
    default: return false;
    }
}

// Dispatches a command by control id; returns whether it was one of ours.
// Outside a run IDOK and IDCANCEL are not: the dialog has no default button,
// and Escape does nothing.
static bool OnCommand(HWND dialog, int id, HWND control, UINT code) {
    if (CurrentRun.cancel) return OnCommandDuringRun(id);
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
// Without its icons the program cannot go on.
static void OnDrawItem(HWND dialog, UINT_PTR id, const DRAWITEMSTRUCT *request) {
    if (id == IDC_FOLDER_LIST && !DrawFolderRow(GetDlgItem(dialog, IDC_FOLDER_LIST), request, ModuleInstance))
        FatalInternalError();
}

// Opens the About dialog for the system menu's entry, except during a run;
// every other system command is left to the platform (move, close and the rest).
static bool OnSysCommand(HWND dialog, WPARAM command) {
    if ((command & 0xFFF0) != IDM_ABOUT) return false;
    if (CurrentRun.cancel) return true;
    DialogBoxParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_ABOUT), dialog, AboutDialogProc, 0);
    return true;
}

// The close box and Alt+F4 end the dialog; during a run they stop it first,
// and the create command ends the dialog once the run has ended.
static void OnClose(HWND dialog) {
    if (CurrentRun.cancel) StopRun(true);
    else EndDialog(dialog, 0);
}

// Shows the wait cursor over the dialog's client area and its controls
// while a run goes on; returns whether it did.
static bool OnSetCursor(HWND dialog, int hitTest) {
    if (!CurrentRun.cancel || (hitTest != HTCLIENT && hitTest != HTERROR)) return false;
    SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
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
        OnClose(dialog);
        return TRUE;
    case WM_SETCURSOR:
        return OnSetCursor(dialog, static_cast<short>(LOWORD(lParam)));  // HTERROR is negative
    default:
        return FALSE;
    }
}
