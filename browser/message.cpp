// The program's message boxes.
#include "message.h"

const char MessageCaption[] = "Dirtally 1.1";

// Shows `text` without an owner, task-modal, and returns the button pressed.
int ShowMessage(const char *text, UINT flags) {
    return MessageBoxA(nullptr, text, MessageCaption, flags | MB_TASKMODAL);
}
