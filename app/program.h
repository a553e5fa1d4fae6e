// app/program.h: what belongs to the whole program: its module, and the
// one way it shows a message box. Set and used on the dialog's thread.
#pragma once
#include <windows.h>

// The module whose resources (dialogs, icons) the program uses; set by the
// entry before the dialog starts.
extern HINSTANCE ModuleInstance;

// Shows `text` in a box with the program's title, without an owner,
// task-modal; `flags` adds the icon and buttons. Returns the button pressed.
int ShowMessage(const char *text, UINT flags);

// Shows "The internal error" and ends the process at once with exit code -1.
[[noreturn]] void FatalInternalError();
