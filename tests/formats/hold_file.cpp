// hold_file FILE READY: holds FILE open for reading with no sharing, so that
// every other process finds it in use, until standard input ends. READY is
// created once the file is held, for the caller to wait on.
#include <windows.h>

int main(int argc, char **argv) {
    if (argc != 3) return 2;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (ready == INVALID_HANDLE_VALUE) return 1;
    CloseHandle(ready);
    char input;
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &input, 1, &got, nullptr) && got != 0) {
    }
    CloseHandle(file);
    return 0;
}
