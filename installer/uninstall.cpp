// UNINSTALL.EXE: runs the uninstaller that Setup laid beside it
// (UNINSTALL.DAT) and ends with its exit code, so that `UNINSTALL.EXE /S`
// says whether the product was removed (0), the user cancelled (1), or it
// was refused (2). The uninstaller runs from a copy in the temporary folder,
// told the installation's folder, because it removes its own file; this
// program waits for it, then moves itself out of the emptied folder (a
// running program can be moved, not deleted) and removes the folder.
#include <windows.h>
#include <stdio.h>
#include <string.h>

// The command line after the program's own name.
static const char *Arguments() {
    const char *line = GetCommandLineA();
    int quoted = 0;
    while (*line && (quoted || (*line != ' ' && *line != '\t'))) {
        quoted ^= *line == '"';
        line++;
    }
    while (*line == ' ' || *line == '\t') {
        line++;
    }
    return line;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, self, sizeof self);
    char *name = strrchr(self, '\\');
    if (length == 0 || length >= sizeof self || !name) {
        return 2;
    }
    char folder[MAX_PATH];
    lstrcpynA(folder, self, (int)(name - self) + 1);
    char uninstaller[MAX_PATH + 16];
    snprintf(uninstaller, sizeof uninstaller, "%s\\UNINSTALL.DAT", folder);

    char temporary[MAX_PATH];
    char copy[MAX_PATH + 64];
    DWORD temporaryLength = GetTempPathA(sizeof temporary, temporary);
    if (temporaryLength == 0 || temporaryLength >= sizeof temporary) {
        return 2;
    }
    snprintf(copy, sizeof copy, "%sKEYPAD32-uninstall-%lu.exe", temporary,
             (unsigned long)GetCurrentProcessId());
    const char *missing = "The uninstaller of the Varnel keypad program (UNINSTALL.DAT) is missing "
                          "or cannot be copied to the temporary folder.";
    if (!CopyFileA(uninstaller, copy, FALSE)) {
        if (!strstr(Arguments(), "/S")) {
            MessageBoxA(NULL, missing, "Varnel Keypad Program", MB_OK | MB_ICONSTOP);
        }
        return 2;
    }

    // _?= comes last and unquoted: the uninstaller takes the rest of the line.
    char command[3 * MAX_PATH + 1024];
    snprintf(command, sizeof command, "\"%s\" %s _?=%s", copy, Arguments(), folder);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    DWORD code = 2;
    if (CreateProcessA(copy, command, NULL, NULL, FALSE, 0, NULL, temporary, &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    DeleteFileA(copy);

    // Removed: this program is all that is left of the installation.
    if (code == 0 && GetFileAttributesA(uninstaller) == INVALID_FILE_ATTRIBUTES) {
        char away[MAX_PATH + 64];
        snprintf(away, sizeof away, "%sKEYPAD32-uninstall-%lu.old", temporary,
                 (unsigned long)GetCurrentProcessId());
        if (MoveFileExA(self, away, MOVEFILE_REPLACE_EXISTING)) {
            MoveFileExA(away, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
        }
        RemoveDirectoryA(folder);
    }
    return (int)code;
}
