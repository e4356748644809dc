#include "app/settings.h"
#include <stdio.h>
#include <string.h>

char SettingsPath[MAX_PATH];
char HelpFilePath[MAX_PATH];
int SettingsDirEnd;
DialingRecord DialingInfo;
int StartRunEnabled;
int StartRunAtLoad;
int FaxServiceEnabled;
int CopyServiceEnabled;
LevelPair LevelDefaults[ScanModeCount];
WindowPosition WindowRect;
WORD JobID;

static const char VarnelSection[] = "Varnel";

// Field numbers of a "Location" record that this program uses.
enum : int { FirstQuotedField = 2, CountryField = 5, LocationFieldCount = 6 };

// Reads a directory key of VARNEL.INI and appends a file name to it.
static void DirectoryFilePath(const char *key, const char *iniName, char *out, int size,
                              const char *fileName) {
    GetPrivateProfileStringA("VarnelSystem", key, "", out, size, iniName);
    int used = lstrlenA(out);
    lstrcpynA(out + used, fileName, size - used);
}

static void StoreField(char *field, const char *text, int length) {
    if (length <= 0 || length >= DialingFieldSize) {
        field[0] = 0;
        return;
    }
    memcpy(field, text, length);
    field[length] = 0;
}

void SplitLocationRecord(const char *record, DialingRecord *info) {
    DialingRecord split = {};
    char *targets[LocationFieldCount] = {nullptr,           nullptr,
                                         split.LocalPrefix, split.LongDistancePrefix,
                                         split.AreaCode,    split.CountryCode};
    const char *p = record;
    int index = 0;
    for (; index < LocationFieldCount; ++index) {
        while (*p == ',')
            ++p;
        if (!*p)
            break;
        const char *start = p;
        while (*p && *p != ',')
            ++p;
        int length = (int)(p - start);
        if (index >= FirstQuotedField && index < CountryField) {
            ++start; // the quotes are not part of the prefix
            length -= 2;
        }
        if (targets[index])
            StoreField(targets[index], start, length);
    }
    // A record that stops early cannot say which prefix is which.
    if (index < LocationFieldCount)
        split = DialingRecord{};
    *info = split;
}

void LoadDialingInfo() {
    char file[MAX_PATH];
    UINT used = GetWindowsDirectoryA(file, sizeof(file));
    if (used >= sizeof(file))
        used = 0;
    lstrcpynA(file + used, "\\telephon.ini", sizeof(file) - used);
    char current[15];
    GetPrivateProfileStringA("Locations", "CurrentLocation", "0,0", current, sizeof(current), file);
    // Only the location digit counts: "12,1" selects Location1.
    char key[16];
    snprintf(key, sizeof(key), "Location%.1s", current);
    char record[1024];
    GetPrivateProfileStringA("Locations", key, "", record, sizeof(record), file);
    SplitLocationRecord(record, &DialingInfo);
}

void FormatDayStamp(const SYSTEMTIME *day, char *out, int size) {
    snprintf(out, size, "%d-%d", day->wMonth, day->wDay);
}

int IsNewDay(const char *storedDate, const char *today) {
    return strcmp(storedDate, today) != 0;
}

const char *SettingsPathFor(const char *fileName) {
    lstrcpynA(SettingsPath + SettingsDirEnd, fileName, sizeof(SettingsPath) - SettingsDirEnd);
    return SettingsPath;
}

// A level, default 50. A damaged file's level is kept to 0..100, so the
// panel shows and steps from the same value.
static SHORT ReadLevel(const IniSection *varnel, const char *key) {
    int level = IniInt(varnel, key, 50);
    return (SHORT)(level < 0 ? 0 : level > 100 ? 100 : level);
}

// The level keys of the settings file; the Text mode has no contrast key.
struct LevelKey {
    const char *Key;
    WORD Mode;
    WORD Contrast; // 1 the mode's contrast, 0 its brightness
};
static const LevelKey LevelKeys[] = {
    {"BrightText", ModeText, 0},           {"BrightPhoto", ModePhoto, 0},
    {"BrightCPhoto", ModeColorPhoto, 0},   {"ContrastPhoto", ModePhoto, 1},
    {"ContrastCPhoto", ModeColorPhoto, 1},
};

int SaveLevelDefaults(const LevelPair *levels, const char *file) {
    int written = 1;
    for (const LevelKey &key : LevelKeys) {
        const LevelPair &pair = levels[key.Mode];
        written &= WriteIntSetting(VarnelSection, key.Key, file,
                                   key.Contrast ? pair.Contrast : pair.Brightness) != 0;
    }
    return written;
}

void Today(SYSTEMTIME *today) {
    GetLocalTime(today);
    char given[16];
    unsigned month, day;
    DWORD length = GetEnvironmentVariableA("KEYPAD32_TODAY", given, sizeof given);
    if (length && length < sizeof given && sscanf(given, "%u-%u", &month, &day) == 2) {
        today->wMonth = (WORD)month;
        today->wDay = (WORD)day;
    }
}

void LoadJobCounter(const IniSection *varnel, const SYSTEMTIME *today) {
    char stamp[16];
    FormatDayStamp(today, stamp, sizeof(stamp));
    char stored[10];
    const char *file = SettingsPathFor("SYS.INI");
    IniText(varnel, "Date", "", stored, sizeof(stored));
    int storedJobID = IniInt(varnel, "JobID", 0);
    if (!IsNewDay(stored, stamp)) {
        JobID = (WORD)storedJobID;
        return;
    }
    WritePrivateProfileStringA(VarnelSection, "Date", stamp, file);
    WriteIntSetting(VarnelSection, "JobID", file, 0);
    JobID = 0;
}

void LoadSettings() {
    LoadDialingInfo();
    ProductPath(SettingsPath, sizeof(SettingsPath), "");
    SettingsDirEnd = lstrlenA(SettingsPath);
    lstrcpynA(HelpFilePath, SettingsPathFor("KELBO.CHM"), sizeof(HelpFilePath));

    IniSection varnel;
    ReadIniSection(&varnel, SettingsPathFor("SYS.INI"), VarnelSection);
    StartRunEnabled = StartRunAtLoad = IniInt(&varnel, "StartRun", 0);
    FaxServiceEnabled = IniInt(&varnel, "FaxService", 0);
    CopyServiceEnabled = IniInt(&varnel, "CopyService", 0);
    for (const LevelKey &key : LevelKeys) {
        LevelPair &pair = LevelDefaults[key.Mode];
        (key.Contrast ? pair.Contrast : pair.Brightness) = ReadLevel(&varnel, key.Key);
    }
    LevelDefaults[ModeText].Contrast = 50; // text scans have no contrast setting
    WindowRect.X = IniInt(&varnel, "Win-X", -1);
    WindowRect.Y = IniInt(&varnel, "Win-Y", -1);
    WindowRect.Width = IniInt(&varnel, "Win-Width", -1);
    WindowRect.Height = IniInt(&varnel, "Win-Height", -1);
    SYSTEMTIME today;
    Today(&today);
    LoadJobCounter(&varnel, &today);
    FreeIniSection(&varnel);

    memcpy(ModeLevels, LevelDefaults, sizeof(ModeLevels));
    ScanMode = ModeText;
    FaxResolution = 0;
    MailResolution = 0;
    SpeedDialKey = 0;
    ClearTypedNumber();
}

void ReadIniSection(IniSection *section, const char *file, const char *name) {
    lstrcpynA(section->File, file, sizeof section->File);
    section->Name = name;
    section->Text = nullptr;
    // A section that fills the buffer may have been cut: read it again into a larger one.
    for (DWORD size = 4096; size <= 1024 * 1024; size *= 2) {
        char *text = (char *)HeapAlloc(GetProcessHeap(), 0, size);
        if (!text) {
            return;
        }
        if (GetPrivateProfileSectionA(name, text, size, file) < size - 2) {
            section->Text = text;
            return;
        }
        HeapFree(GetProcessHeap(), 0, text);
    }
}

void FreeIniSection(IniSection *section) {
    if (section->Text) {
        HeapFree(GetProcessHeap(), 0, section->Text);
        section->Text = nullptr;
    }
}

static int IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The value of key in the section, blanks and one pair of quotes off, and
// its length; null when the key is absent.
static const char *FindIniValue(const IniSection *section, const char *key, int *length) {
    int keyLength = lstrlenA(key);
    for (const char *entry = section->Text; *entry; entry += lstrlenA(entry) + 1) {
        const char *equals = strchr(entry, '=');
        if (*entry == ';' || !equals) {
            continue;
        }
        const char *end = equals;
        while (end > entry && IsBlank(end[-1])) {
            end--;
        }
        while (IsBlank(*entry)) {
            entry++;
        }
        if (end - entry != keyLength || _strnicmp(entry, key, keyLength) != 0) {
            continue;
        }
        const char *value = equals + 1;
        while (IsBlank(*value)) {
            value++;
        }
        int n = lstrlenA(value);
        while (n > 0 && IsBlank(value[n - 1])) {
            n--;
        }
        if (n >= 2 && (value[0] == '"' || value[0] == '\'') && value[n - 1] == value[0]) {
            value++;
            n -= 2;
        }
        *length = n;
        return value;
    }
    return nullptr;
}

void IniText(const IniSection *section, const char *key, const char *fallback, char *out,
             int size) {
    if (!section->Text) {
        GetPrivateProfileStringA(section->Name, key, fallback, out, size, section->File);
        return;
    }
    int length = 0;
    const char *value = FindIniValue(section, key, &length);
    if (!value) {
        value = fallback;
        length = lstrlenA(fallback);
    }
    if (size > 0) {
        length = length < size - 1 ? length : size - 1;
        memcpy(out, value, length);
        out[length] = 0;
    }
}

int IniInt(const IniSection *section, const char *key, int fallback) {
    if (!section->Text) {
        return (int)GetPrivateProfileIntA(section->Name, key, fallback, section->File);
    }
    int length = 0;
    const char *value = FindIniValue(section, key, &length);
    if (!value || length == 0) {
        return fallback;
    }
    const char *end = value + length;
    while (value < end && IsBlank(*value)) {
        value++;
    }
    int negative = value < end && *value == '-';
    value += value < end && (*value == '-' || *value == '+');
    UINT number = 0;
    for (; value < end && *value >= '0' && *value <= '9'; value++) {
        number = number * 10 + (UINT)(*value - '0');
    }
    return (int)(negative ? 0u - number : number);
}

BOOL WriteIntSetting(const char *section, const char *key, const char *file, int value) {
    char text[20];
    snprintf(text, sizeof(text), "%d", value);
    return WritePrivateProfileStringA(section, key, text, file);
}

void ProductPath(char *out, WORD size, const char *fileName) {
    DirectoryFilePath("Varnel", "VARNEL.INI", out, size, fileName);
}

int AppendLogLine(const char *text) {
    char path[MAX_PATH], line[512];
    ProductPath(path, sizeof path, "KEYPAD32.LOG");
    SYSTEMTIME now;
    GetSystemTime(&now);
    int length = snprintf(line, sizeof line, "%04u-%02u-%02u %02u:%02u:%02u UTC %s\r\n", now.wYear,
                          now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, text);
    if (length < 0 || length >= (int)sizeof line) {
        length = (int)sizeof line - 1;
        memcpy(line + length - 2, "\r\n", 2);
    }
    // Appended whole, also when another writer appends at the same time.
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    int whole = file != INVALID_HANDLE_VALUE &&
                WriteFile(file, line, (DWORD)length, &written, NULL) && written == (DWORD)length;
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    return whole;
}

int FileExists(const char *path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int ProductFileExists(char *out, WORD size, const char *fileName) {
    ProductPath(out, size, fileName);
    return FileExists(out);
}

int LoadProductLibrary(HMODULE *module, const char *fileName) {
    char path[MAX_PATH];
    DirectoryFilePath("DLL32", "varnel.ini", path, sizeof(path), fileName);
    if (!FileExists(path))
        return 0;
    *module = LoadLibraryA(path);
    return *module != nullptr;
}

void HoldLock(volatile LONG *lock) {
    while (InterlockedExchange(lock, 1)) {
        Sleep(0);
    }
}

void FreeLock(volatile LONG *lock) {
    InterlockedExchange(lock, 0);
}

void ReleaseBlock(HGLOBAL *block) {
    if (*block) {
        GlobalUnlock(*block);
        GlobalFree(*block);
        *block = nullptr;
    }
}

int ShowStringMessage(HINSTANCE instance, HWND owner, const char *caption, WORD id) {
    char text[MessageTextSize];
    if (LoadStringA(instance, id, text, sizeof(text)) > 0)
        MessageBoxA(owner, text, caption, MB_TASKMODAL | MB_ICONERROR);
    return 0;
}
