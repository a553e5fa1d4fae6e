// The program's module and message boxes.
#include "program.h"

#include "version.h"

HINSTANCE ModuleInstance;

int ShowMessage(const char *text, UINT flags) {
    return MessageBoxA(nullptr, text, PROGRAM_TITLE, flags | MB_TASKMODAL);
}

void FatalInternalError() {
    ShowMessage("The internal error", MB_ICONHAND);
    ExitProcess(static_cast<UINT>(-1));
}
