// Which programs of the product run: `running <folder>` prints, separated by
// commas, the file name of each program started from the installation's
// folder or below it, and KEYPAD32.EXE when it runs from anywhere, and exits
// with their number (0: none runs). Setup and the uninstaller refuse while
// any runs: they could neither replace nor remove its files, and KEYPAD32's
// exit would write its settings and its item at logon again. Setup's own
// chain (this program and the processes that started it, the uninstaller's
// launcher among them) does not count.
#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <string.h>

#include "app/app.h"

enum { MostProcesses = 4096 };

// The path in its long form and upper case, so that two spellings of one
// folder compare equal; 0 when it is too long.
static int Canonical(const char *path, char *out, DWORD size) {
    DWORD length = GetLongPathNameA(path, out, size);
    if (length == 0) {
        length = GetFullPathNameA(path, size, out, NULL);
    }
    if (length == 0 || length >= size) {
        return 0;
    }
    CharUpperA(out);
    return 1;
}

// The full path of the process's program, from its first module.
static int ProgramPath(DWORD process, char *out, DWORD size) {
    HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process);
    if (modules == INVALID_HANDLE_VALUE) {
        return 0;
    }
    MODULEENTRY32 module;
    module.dwSize = sizeof module;
    int found = Module32First(modules, &module) && Canonical(module.szExePath, out, size);
    CloseHandle(modules);
    return found;
}

int main(int argc, char **argv) {
    char folder[MAX_PATH + 1];
    if (argc < 2 || !Canonical(argv[1], folder, MAX_PATH)) {
        return 0;
    }
    size_t length = strlen(folder);
    if (length > 0 && folder[length - 1] != '\\') {
        lstrcatA(folder, "\\");
        length++;
    }
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    static PROCESSENTRY32 processes[MostProcesses];
    int count = 0;
    processes[0].dwSize = sizeof processes[0];
    for (BOOL more = Process32First(snapshot, &processes[0]); more && count < MostProcesses;
         more = Process32Next(snapshot, &processes[count])) {
        count++;
        if (count < MostProcesses) {
            processes[count].dwSize = sizeof processes[count];
        }
    }
    CloseHandle(snapshot);

    // This process and its ancestors, found through the parents' ids.
    DWORD chain[64];
    int links = 0;
    chain[links++] = GetCurrentProcessId();
    for (int found = 1; found && links < 64;) {
        found = 0;
        for (int i = 0; i < count; i++) {
            if (processes[i].th32ProcessID == chain[links - 1] &&
                processes[i].th32ParentProcessID != 0) {
                chain[links++] = processes[i].th32ParentProcessID;
                found = 1;
                break;
            }
        }
    }

    int running = 0;
    int keypad = 0;
    for (int i = 0; i < count; i++) {
        int ours = 0;
        for (int k = 0; k < links; k++) {
            ours |= processes[i].th32ProcessID == chain[k];
        }
        char program[MAX_PATH];
        if (!ours && ProgramPath(processes[i].th32ProcessID, program, sizeof program) &&
            strncmp(program, folder, length) == 0) {
            printf("%s%s", running ? ", " : "", processes[i].szExeFile);
            keypad |= lstrcmpiA(processes[i].szExeFile, ProgramFileName) == 0;
            running++;
        }
    }
    if (!keypad && FindWindowA(MainWindowClass, NULL)) {
        printf("%s%s", running ? ", " : "", ProgramFileName);
        running++;
    }
    return running;
}
