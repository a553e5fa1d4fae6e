// browser/message.h: the one way the program shows a message box.
// Every box has the caption "Dirtally 1.1", no owner window and is
// task-modal; `flags` adds the icon and buttons.
#pragma once
#include <windows.h>

extern const char MessageCaption[];  // "Dirtally 1.1"

int ShowMessage(const char *text, UINT flags);
