// The About dialog, opened from the main dialog's system menu.
#include "app.h"
#include "captions.h"

// Makes the captions legible when the dialog starts; ends the dialog on its
// only button (IDOK, also pressed by Enter) and on the close box; IDCANCEL
// is left unhandled, so Escape does not close it.
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        ApplyLegibleCaptions(dialog);
        return FALSE;  // the focus as before: left to the activation
    }
    bool closing = message == WM_CLOSE || (message == WM_COMMAND && LOWORD(wParam) == IDOK);
    if (!closing) return FALSE;
    EndDialog(dialog, 0);
    return TRUE;
}
