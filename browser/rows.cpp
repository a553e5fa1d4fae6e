// Painting of the owner-drawn folder list rows.
#include <cstring>

#include "browser.h"
#include "resource.h"

const int IconSize = 16;  // the row icons are 16 by 16 pixels
const int TextGap = 2;    // pixels between the icon and the text cell

// Loaded together on the first paint and kept for the life of the process.
static HICON PathIcon;
static HICON SubfolderIcon;

// Loads one 16 by 16 row icon from the program's resources.
static HICON LoadRowIcon(HINSTANCE resources, int id) {
    return static_cast<HICON>(LoadImageA(resources, MAKEINTRESOURCEA(id), IMAGE_ICON,
                                         IconSize, IconSize, LR_DEFAULTCOLOR));
}

// Paints one row of the folder list: its icon at the row's indent, then its
// text in a cell that runs to the right edge, in highlight colours only
// while the row is selected and the list has the focus. The strip left of
// the cell keeps the list's own background. A request for no row (an empty
// list gaining the focus) paints the empty cell alone.
bool DrawFolderRow(HWND list, const DRAWITEMSTRUCT *request, HINSTANCE resources) {
    if (!PathIcon || !SubfolderIcon) {
        PathIcon = LoadRowIcon(resources, IDI_PATH_FOLDER);
        SubfolderIcon = LoadRowIcon(resources, IDI_SUBFOLDER);
        if (!PathIcon || !SubfolderIcon) return false;
    }
    HDC dc = request->hDC;
    const RECT &item = request->rcItem;
    DWORD tag = static_cast<DWORD>(request->itemData);
    int indent = static_cast<int>(TagIndent(tag));
    bool hasRow = request->itemID != static_cast<UINT>(-1);
    if (hasRow) {
        HICON icon = TagOffset(tag) == SubfolderOffset ? SubfolderIcon : PathIcon;
        DrawIconEx(dc, item.left + indent, item.top, icon, IconSize, IconSize, 0, nullptr,
                   DI_NORMAL);
    }
    const UINT highlighted = ODS_SELECTED | ODS_FOCUS;
    bool highlight = (request->itemState & highlighted) == highlighted;
    int background = highlight ? COLOR_HIGHLIGHT : COLOR_WINDOW;
    SetBkColor(dc, GetSysColor(background));
    SetTextColor(dc, GetSysColor(highlight ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    RECT cell = item;
    cell.left = item.left + indent + IconSize + TextGap;
    FillRect(dc, &cell, GetSysColorBrush(background));
    if (!hasRow) return true;
    char text[MAX_PATH] = "";  // a row text is a name or a path component
    LRESULT length = SendMessageA(list, LB_GETTEXTLEN, request->itemID, 0);
    if (length == LB_ERR || length >= static_cast<LRESULT>(sizeof text)) return true;
    SendMessageA(list, LB_GETTEXT, request->itemID, reinterpret_cast<LPARAM>(text));
    TextOutA(dc, cell.left, item.top, text, static_cast<int>(std::strlen(text)));
    return true;
}
