// The program's entry: the main dialog is the whole program.
#include <windows.h>

#include "app.h"
#include "program.h"
#include "resource.h"

// Keeps the module instance and runs the main dialog modally; the process
// ends with exit code 0 when the dialog ends.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    ModuleInstance = instance;
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0);
    return 0;
}
