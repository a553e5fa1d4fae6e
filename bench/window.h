// bench/window.h: the hidden list box that the folder list's fill needs,
// for the benchmark program that fills it and the floor that reads the same
// folder in a program with a window.
#pragma once
#include <windows.h>

// Rows of the hidden list box, in pixels, as the dialog's list would ask.
const UINT kBenchRowHeight = 16;

// The hidden parent of the list box: answers the row-height request of an
// owner-drawn list and leaves the rest to the default handling.
inline LRESULT CALLBACK BenchParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_MEASUREITEM) {
        reinterpret_cast<MEASUREITEMSTRUCT *>(lParam)->itemHeight = kBenchRowHeight;
        return TRUE;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// A hidden list box with the folder list's styles, under a hidden parent;
// null without a display.
inline HWND MakeHiddenList() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = BenchParentProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "DirtallyBenchParent";
    RegisterClassA(&windowClass);
    HWND parent = CreateWindowExA(0, windowClass.lpszClassName, "", WS_OVERLAPPEDWINDOW, 0, 0, 400, 400,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
    return CreateWindowExA(0, "LISTBOX", "",
                           WS_CHILD | WS_VSCROLL | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOTIFY, 0, 0, 300,
                           300, parent, nullptr, windowClass.hInstance, nullptr);
}
