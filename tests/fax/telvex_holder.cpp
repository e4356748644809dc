// Holds the mail library's transport lock from a process of its own until
// told to let go: "telvex_holder <held event> <release event>".
#include <windows.h>

int main(int argc, char **argv) {
    if (argc < 3) {
        return 2;
    }
    char path[MAX_PATH];
    GetPrivateProfileStringA("VarnelSystem", "DLL32", "", path, sizeof path, "VARNEL.INI");
    lstrcatA(path, "Telvex.dll");
    HMODULE library = LoadLibraryA(path);
    typedef DWORD(WINAPI * LockProc)(DWORD);
    LockProc lock =
        library ? (LockProc)(void (*)())GetProcAddress(library, "TelvexLockUnlock") : NULL;
    if (!lock || !lock(1)) {
        return 1;
    }
    HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, argv[2]);
    SetEvent(held);
    WaitForSingleObject(release, 30000);
    lock(0);
    return 0;
}
