#include "store.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "abi/telvex_abi.h"
#include "telvex_ids.h"

// The product directory, read from VARNEL.INI once: the store is asked a few
// times for each profile at the program's start, and each read of an INI
// file opens it again.
static char ProductDirectory[MAX_PATH];
static volatile LONG ProductDirectoryState; // 0 not read, 1 being read, 2 read

void ProductFilePath(char *out, int size, const char *fileName) {
    if (InterlockedCompareExchange(&ProductDirectoryState, 1, 0) == 0) {
        GetPrivateProfileStringA("VarnelSystem", "Varnel", "", ProductDirectory,
                                 sizeof ProductDirectory, "VARNEL.INI");
        InterlockedExchange(&ProductDirectoryState, 2);
    }
    while (ProductDirectoryState != 2) {
        Sleep(0);
    }
    lstrcpynA(out, ProductDirectory, size);
    int used = lstrlenA(out);
    lstrcpynA(out + used, fileName, size - used);
}

const char *StorePath(char *out, int size) {
    ProductFilePath(out, size, TELVEX_STORE_NAME);
    return out;
}

void ProfileSection(char *out, int size, const char *profile) {
    snprintf(out, size, "%s%s", TELVEX_PROFILE_PREFIX, profile);
}

DWORD ProfileServices(const char *profile) {
    char section[StoreNameSize + 16], path[MAX_PATH];
    ProfileSection(section, sizeof section, profile);
    return GetPrivateProfileIntA(section, "Services", 0, StorePath(path, sizeof path));
}

int ProfileExists(const char *profile) {
    return ValidProfileName(profile) && ProfileServices(profile) != 0;
}

void ProfileText(const char *profile, const char *key, char *out, int size) {
    char section[StoreNameSize + 16], path[MAX_PATH];
    ProfileSection(section, sizeof section, profile);
    GetPrivateProfileStringA(section, key, "", out, size, StorePath(path, sizeof path));
}

// Puts the new store in the old one's place; a reader that has the old one
// open for a moment makes the replacement wait for it, a bounded time.
static int ReplaceStore(const char *fresh, const char *path) {
    for (int tries = 0; tries < 100; tries++) {
        if (MoveFileExA(fresh, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return 1;
        }
        DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) {
            return 0;
        }
        Sleep(10);
    }
    return 0;
}

// The store is written whole beside itself and then put in its place, with
// every writer held by one lock: a reader in another process (the delivery
// agent, the program) finds the settings before the change or after it,
// never a store being written, which it would read as one without settings.
int SetStoreTexts(const char *section, const char *const *keys, const char *const *values,
                  int count) {
    char path[MAX_PATH], fresh[MAX_PATH];
    StorePath(path, sizeof path);
    ProductFilePath(fresh, sizeof fresh, TELVEX_STORE_FRESH);
    HANDLE lock = CreateMutexA(NULL, FALSE, TELVEX_STORE_MUTEX);
    DWORD wait = lock ? WaitForSingleObject(lock, 30 * 1000) : WAIT_FAILED;
    int ok = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    if (ok) {
        // A copy of the store (none before the first profile); a cached
        // earlier copy of this process is let go first.
        WritePrivateProfileStringA(NULL, NULL, NULL, fresh);
        ok = CopyFileA(path, fresh, FALSE) ||
             (GetLastError() == ERROR_FILE_NOT_FOUND &&
              (DeleteFileA(fresh) || GetLastError() == ERROR_FILE_NOT_FOUND));
        for (int i = 0; ok && i < count; i++) {
            ok = WritePrivateProfileStringA(section, keys[i], values[i], fresh);
        }
        WritePrivateProfileStringA(NULL, NULL, NULL, fresh);
        ok = ok && ReplaceStore(fresh, path);
        if (!ok) {
            DeleteFileA(fresh);
        }
        // This process reads the store anew, not what it held of it.
        WritePrivateProfileStringA(NULL, NULL, NULL, path);
        ReleaseMutex(lock);
    }
    if (lock) {
        CloseHandle(lock);
    }
    return ok;
}

int SetProfileTexts(const char *profile, const char *const *keys, const char *const *values,
                    int count) {
    char section[StoreNameSize + 16];
    ProfileSection(section, sizeof section, profile);
    return SetStoreTexts(section, keys, values, count);
}

int SetProfileText(const char *profile, const char *key, const char *value) {
    return SetProfileTexts(profile, &key, &value, 1);
}

void ProfileOutbox(const char *profile, char *out, int size) {
    ProfileText(profile, "Outbox", out, size);
    if (!out[0]) {
        ProductFilePath(out, size, "OUTBOX\\");
    }
    int length = lstrlenA(out);
    if (length && out[length - 1] != '\\' && length < size - 1) {
        lstrcpynA(out + length, "\\", size - length);
    }
}

void UtcTimeText(char *out, int size) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    snprintf(out, size, "%04u-%02u-%02u %02u:%02u:%02u UTC", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond);
}

// The log of an outbox kept open by HoldOutboxLog (INVALID_HANDLE_VALUE: none).
static HANDLE HeldLog = INVALID_HANDLE_VALUE;
static char HeldLogPath[MAX_PATH];

static void OutboxLogPath(const char *outbox, char *path) {
    lstrcpynA(path, outbox, MAX_PATH - 4);
    int length = lstrlenA(path);
    length -= length && path[length - 1] == '\\';
    lstrcpynA(path + length, ".log", 5);
}

// The library and the delivery agents append to it at the same time: each
// line is one write to a handle that only appends.
static HANDLE OpenOutboxLog(const char *path) {
    return CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

void HoldOutboxLog(const char *outbox) {
    if (HeldLog != INVALID_HANDLE_VALUE) {
        CloseHandle(HeldLog);
        HeldLog = INVALID_HANDLE_VALUE;
    }
    if (outbox) {
        OutboxLogPath(outbox, HeldLogPath);
        HeldLog = OpenOutboxLog(HeldLogPath);
    }
}

int AppendOutboxLog(const char *outbox, const char *text) {
    char path[MAX_PATH], line[OutboxLogLineSize];
    OutboxLogPath(outbox, path);
    UtcTimeText(line, 32);
    int length = lstrlenA(line);
    length += snprintf(line + length, sizeof line - length, " %s", text);
    if (length > (int)sizeof line - 3) {
        length = (int)sizeof line - 3;
    }
    lstrcpynA(line + length, "\r\n", 3);
    int held = HeldLog != INVALID_HANDLE_VALUE && lstrcmpiA(path, HeldLogPath) == 0;
    HANDLE file = held ? HeldLog : OpenOutboxLog(path);
    DWORD written = 0;
    int ok = file != INVALID_HANDLE_VALUE &&
             WriteFile(file, line, (DWORD)length + 2, &written, NULL) &&
             written == (DWORD)length + 2;
    if (file != INVALID_HANDLE_VALUE && !held) {
        CloseHandle(file);
    }
    if (!ok) {
        OutputDebugStringA(line); // the log's disk is full, or the log cannot be had
    }
    return ok;
}

DWORD StoreNumber(const char *key, DWORD fallback) {
    char path[MAX_PATH];
    return GetPrivateProfileIntA(TELVEX_SECTION, key, fallback, StorePath(path, sizeof path));
}

DWORD ForEachProfile(void (*visit)(const char *name, void *context), void *context) {
    enum : DWORD { NamesSize = 64 * 1024 };
    char path[MAX_PATH];
    char *names = (char *)HeapAlloc(GetProcessHeap(), 0, NamesSize);
    if (!names) {
        return 0;
    }
    DWORD length = GetPrivateProfileSectionNamesA(names, NamesSize, StorePath(path, sizeof path));
    DWORD count = 0;
    size_t prefix = strlen(TELVEX_PROFILE_PREFIX);
    for (const char *name = names; name < names + length && *name; name += strlen(name) + 1) {
        if (_strnicmp(name, TELVEX_PROFILE_PREFIX, prefix) == 0 && ProfileExists(name + prefix)) {
            visit(name + prefix, context);
            count++;
        }
    }
    HeapFree(GetProcessHeap(), 0, names);
    return count;
}

int ValidProfileName(const char *name) {
    int length = lstrlenA(name);
    if (length == 0 || length >= StoreNameSize) {
        return 0;
    }
    for (const char *p = name; *p; p++) {
        if ((unsigned char)*p < 0x20 || *p == '[' || *p == ']') {
            return 0;
        }
    }
    return 1;
}

// Where each setting lives in a profile's section.
struct SettingKey {
    WORD Id;
    const char *Key;
    int Text; // 1 a text, 0 a 16-bit number
};

static const SettingKey SettingKeys[] = {
    {SettingCoverPage, "CoverPage", 1},
    {SettingFullName, "FullName", 1},
    {SettingLogin, "Login", 1},
    {SettingEmailAddress, "EmailAddress", 1},
    {SettingServer, "Server", 1},
    {SettingDialing, "Dialing", 1},
    {SettingPaperSize, "PaperSize", 0},
    {SettingResolution, "Resolution", 0},
    {SettingCoverPageInUse, "CoverPageInUse", 0},
    {SettingJobFlag, "Setting14", 0},
    {SettingConnection, "Connection", 0},
};

static const SettingKey *FindSetting(WORD id) {
    for (const SettingKey &setting : SettingKeys) {
        if (setting.Id == id) {
            return &setting;
        }
    }
    return NULL;
}

// One stored value into the caller's buffer (text) or word; 0 when absent.
static DWORD GetValue(const char *profile, const char *key, int text, void *value) {
    char stored[StoreTextSize];
    ProfileText(profile, key, stored, sizeof stored);
    if (!stored[0]) {
        return 0;
    }
    if (text) {
        lstrcpynA((char *)value, stored, SettingTextSize);
    } else {
        *(WORD *)value = (WORD)strtoul(stored, NULL, 10);
    }
    return 1;
}

DWORD GetSetting(const char *profile, WORD id, void *value) {
    if (!value || !ProfileExists(profile)) {
        return 0;
    }
    if (id == SettingUserAndFax) {
        char **texts = (char **)value;
        DWORD user = GetValue(profile, "UserName", 1, texts[0]);
        DWORD fax = GetValue(profile, "FaxNumber", 1, texts[1]);
        return user || fax;
    }
    const SettingKey *setting = FindSetting(id);
    return setting ? GetValue(profile, setting->Key, setting->Text, value) : 0;
}

DWORD SetSetting(const char *profile, WORD id, const void *value) {
    if (!value || !ProfileExists(profile)) {
        return 0;
    }
    if (id == SettingUserAndFax) {
        char *const *texts = (char *const *)value;
        static const char *const Keys[] = {"UserName", "FaxNumber"};
        return SetProfileTexts(profile, Keys, texts, 2);
    }
    const SettingKey *setting = FindSetting(id);
    if (!setting) {
        return 0;
    }
    char number[8];
    if (!setting->Text) {
        snprintf(number, sizeof number, "%u", *(const WORD *)value);
    }
    return SetProfileText(profile, setting->Key, setting->Text ? (const char *)value : number);
}
