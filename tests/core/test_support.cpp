#include "test_support.h"
#include <string.h>

static const char Missing[] = "\x01missing";

IniKeyGuard::IniKeyGuard(const char *file, const char *section, const char *key) {
    lstrcpynA(File, file, sizeof(File));
    lstrcpynA(Section, section, sizeof(Section));
    lstrcpynA(Key, key, sizeof(Key));
    GetPrivateProfileStringA(section, key, Missing, Old, sizeof(Old), file);
    Existed = strcmp(Old, Missing) != 0;
}

IniKeyGuard::~IniKeyGuard() {
    WritePrivateProfileStringA(Section, Key, Existed ? Old : nullptr, File);
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, File); // flush to disk
}

void IniKeyGuard::Set(const char *value) const {
    WritePrivateProfileStringA(Section, Key, value, File);
}

void IniKeyGuard::Remove() const {
    WritePrivateProfileStringA(Section, Key, nullptr, File);
}

NewFileGuard::NewFileGuard(const char *path) {
    lstrcpynA(Path, path, sizeof(Path));
    Existed = GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

NewFileGuard::~NewFileGuard() {
    if (Existed)
        return;
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, Path);
    DeleteFileA(Path);
}

HMODULE LoadScriptedDriver(const IniKeyGuard &driverKey, void (**answer)(WORD, WORD, DWORD, BYTE)) {
    char path[MAX_PATH];
    BesideTestExe(path, sizeof path, "scripted_test_driver.dll");
    driverKey.Set(path);
    HMODULE script = LoadLibraryA(path);
    if (script) {
        ((void (*)())(void *)GetProcAddress(script, "ScriptReset"))();
        *answer = (void (*)(WORD, WORD, DWORD, BYTE))(void *)GetProcAddress(script, "ScriptAnswer");
    }
    return script;
}

void BesideTestExe(char *out, int size, const char *fileName) {
    GetModuleFileNameA(nullptr, out, size);
    char *slash = strrchr(out, '\\');
    int used = slash ? (int)(slash - out) + 1 : 0;
    lstrcpynA(out + used, fileName, size - used);
}

void InWindowsDirectory(char *out, int size, const char *fileName) {
    int used = (int)GetWindowsDirectoryA(out, size);
    lstrcpynA(out + used, "\\", size - used);
    lstrcpynA(out + used + 1, fileName, size - used - 1);
}

bool WriteTextFile(const char *path, const char *text) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text, (DWORD)strlen(text), &written, nullptr);
    CloseHandle(file);
    return ok && written == strlen(text);
}

void ReadIni(const char *file, const char *section, const char *key, char *out, int size) {
    GetPrivateProfileStringA(section, key, "", out, size, file);
}
