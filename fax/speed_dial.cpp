#include "fax/speed_dial.h"

#include <stdio.h>

#include "app/settings.h"
#include "fax/telvex.h"

SpeedDialEntry SpeedDialTable[SpeedDialEntryCount];
decltype(&MoveFileExA) MoveRecipientFile = MoveFileExA;

static const char FaxSection[] = "Varnel FAX";
static const char *const LabelKeys[2] = {"FaxAlias", "EmailAlias"};
static const char *const CountKeys[2] = {"NumberOfFaxRecip", "NumberOfEmailRecip"};

int SpeedDialNumber(int destination, int key) {
    return key + (destination ? SpeedDialKeyCount : 0);
}

// "FaxAlias3", "NumberOfEmailRecip3", ... for entry number n.
static void EntryKey(char *out, int size, const char *const *stems, int number) {
    int email = number > SpeedDialKeyCount;
    snprintf(out, size, "%s%d", stems[email], number - (email ? SpeedDialKeyCount : 0));
}

// "n.DES" or "n.INF" in the product directory, with an optional extra suffix.
static void RecipientFilePath(char *out, int size, const char *folder, int number, const char *kind,
                              const char *suffix) {
    snprintf(out, size, "%s%d.%s%s", folder, number, kind, suffix);
}

// The names of a key's pair: in use, being written, and kept aside while a
// new pair takes the place of the old one.
struct PairPaths {
    char Records[MAX_PATH];
    char Strings[MAX_PATH];
    char NewRecords[MAX_PATH];
    char NewStrings[MAX_PATH];
    char OldRecords[MAX_PATH];
    char OldStrings[MAX_PATH];
};

static void PairPathsFor(int number, PairPaths *paths) {
    char folder[MAX_PATH];
    ProductPath(folder, sizeof folder, "");
    RecipientFilePath(paths->Records, MAX_PATH, folder, number, "DES", "");
    RecipientFilePath(paths->Strings, MAX_PATH, folder, number, "INF", "");
    RecipientFilePath(paths->NewRecords, MAX_PATH, folder, number, "DES", ".tmp");
    RecipientFilePath(paths->NewStrings, MAX_PATH, folder, number, "INF", ".tmp");
    RecipientFilePath(paths->OldRecords, MAX_PATH, folder, number, "DES", ".old");
    RecipientFilePath(paths->OldStrings, MAX_PATH, folder, number, "INF", ".old");
}

static int MoveFileOver(const char *from, const char *to) {
    return MoveRecipientFile(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

// 1 when the file was moved or there was none to move.
static int MoveAside(const char *from, const char *to) {
    return !FileExists(from) || MoveFileOver(from, to);
}

// Settles a replacement that stopped half way. The old strings go aside
// first and the old records second, and the old records kept aside are
// deleted once both new files are in place: while they are there the new
// pair is not complete and the old pair goes back; otherwise the new pair
// stands. Files being written are dropped either way.
static void SettlePair(const PairPaths *paths) {
    if (FileExists(paths->OldRecords)) {
        MoveFileOver(paths->OldRecords, paths->Records);
        if (FileExists(paths->OldStrings)) {
            MoveFileOver(paths->OldStrings, paths->Strings);
        } else {
            DeleteFileA(paths->Strings); // the old pair had none: this one is new
        }
    } else if (FileExists(paths->OldStrings) && !FileExists(paths->Strings)) {
        MoveFileOver(paths->OldStrings, paths->Strings);
    }
    DeleteFileA(paths->OldStrings);
    DeleteFileA(paths->NewRecords);
    DeleteFileA(paths->NewStrings);
}

// Puts the new pair, complete under its temporary names, in place of the
// old one; SettlePair then leaves both files or neither. The new pair
// stands only once the old records are deleted: while they are there,
// SettlePair puts the old pair back.
static int ReplacePair(const PairPaths *paths) {
    return MoveAside(paths->Strings, paths->OldStrings) &&
           MoveAside(paths->Records, paths->OldRecords) &&
           MoveFileOver(paths->NewStrings, paths->Strings) &&
           MoveFileOver(paths->NewRecords, paths->Records) &&
           (!FileExists(paths->OldRecords) || DeleteFileA(paths->OldRecords));
}

WORD LoadSpeedDials(const IniSection *fax) {
    for (int number = 1; number <= SpeedDialEntryCount; number++) {
        SpeedDialEntry *entry = &SpeedDialTable[number - 1];
        char key[32];
        entry->Modified = 0;
        entry->RecipientBlock = NULL;
        entry->StringBlock = NULL;
        EntryKey(key, sizeof key, LabelKeys, number);
        IniText(fax, key, "", entry->Label, SpeedDialLabelSize);
        EntryKey(key, sizeof key, CountKeys, number);
        entry->RecipientCount = IniInt(fax, key, 0);
        if (entry->RecipientCount && LoadSpeedDialFiles(number)) {
            entry->RecipientCount = 0;
        }
    }
    return 0;
}

HGLOBAL ReadWholeFile(const char *path, WORD *code, DWORD *size) {
    HANDLE file =
        CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        *code = 2;
        return NULL;
    }
    *size = GetFileSize(file, NULL);
    HGLOBAL block = *size == INVALID_FILE_SIZE ? NULL : GlobalAlloc(GMEM_MOVEABLE, *size);
    if (!block) {
        CloseHandle(file);
        *code = 3;
        return NULL;
    }
    DWORD read = 0;
    void *bytes = GlobalLock(block);
    BOOL ok = ReadFile(file, bytes, *size, &read, NULL) && read == *size;
    GlobalUnlock(block);
    CloseHandle(file);
    if (!ok) {
        GlobalFree(block);
        *code = 2;
        return NULL;
    }
    return block;
}

// n.DES as a movable block of the entry's count records; null with code 2
// when the file cannot be read or does not hold exactly count records, 3
// when memory runs out.
static HGLOBAL ReadRecipientRecords(const char *path, DWORD count, WORD *code) {
    DWORD size = 0;
    HGLOBAL file = ReadWholeFile(path, code, &size);
    if (!file) {
        return NULL;
    }
    HGLOBAL block = NULL;
    if (count > size / sizeof(StoredRecipient) || count * sizeof(StoredRecipient) != size) {
        *code = 2;
    } else if (!(block = GlobalAlloc(GMEM_MOVEABLE, count * sizeof(RecipientRecord)))) {
        *code = 3;
    } else {
        LoadStoredRecipients((const StoredRecipient *)GlobalLock(file), count,
                             (RecipientRecord *)GlobalLock(block));
        GlobalUnlock(block);
        GlobalUnlock(file);
    }
    GlobalFree(file);
    return block;
}

// n.INF comes from disk and is checked before anything points into it:
// every offset and entry identifier of the records must lie inside it.
static int RecipientStringsFit(const SpeedDialEntry *entry, DWORD stringBytes) {
    const RecipientRecord *records = (const RecipientRecord *)GlobalLock(entry->RecipientBlock);
    const BYTE *strings = (const BYTE *)GlobalLock(entry->StringBlock);
    int fit = CheckRecipientStrings(records, entry->RecipientCount, strings, stringBytes);
    GlobalUnlock(entry->StringBlock);
    GlobalUnlock(entry->RecipientBlock);
    return fit;
}

WORD LoadSpeedDialFiles(int number) {
    SpeedDialEntry *entry = &SpeedDialTable[number - 1];
    PairPaths paths;
    PairPathsFor(number, &paths);
    SettlePair(&paths);
    if (!FileExists(paths.Records)) {
        return 2;
    }
    WORD code = 0;
    DWORD stringBytes = 0;
    entry->RecipientBlock = ReadRecipientRecords(paths.Records, entry->RecipientCount, &code);
    if (!entry->RecipientBlock) {
        return code;
    }
    entry->StringBlock = ReadWholeFile(paths.Strings, &code, &stringBytes);
    if (entry->StringBlock && !RecipientStringsFit(entry, stringBytes)) {
        ReleaseBlock(&entry->StringBlock);
        code = 2;
    }
    if (!entry->StringBlock) {
        ReleaseBlock(&entry->RecipientBlock);
        return code;
    }
    return 0;
}

int AttachSpeedDialEntry(SpeedDialEntry *entry) {
    EditLink.RecipientCount = entry->RecipientCount;
    EditLink.RecipientBlock = entry->RecipientBlock;
    EditLink.StringBlock = entry->StringBlock;
    return TelvexBinding.BuildRecipientLink(&EditLink) == TelvexOk;
}

static int WriteWholeFile(const char *path, const void *bytes, DWORD size) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes, size, &written, NULL) && written == size;
    return CloseHandle(file) && ok;
}

// Writes the entry's records and strings beside the old files, under
// temporary names; 1 when both are complete. The strings are laid out
// afresh from the records, so the string file holds exactly what they
// name whatever layout it was loaded from. Records that do not point into
// their strings are not written at all.
static int WriteNewRecipientFiles(SpeedDialEntry *entry, const PairPaths *paths) {
    int ok = AttachSpeedDialEntry(entry);
    if (ok) {
        DWORD count = EditLink.RecipientCount;
        DWORD recordBytes = count * sizeof(StoredRecipient);
        DWORD stringBytes = LayOutRecipientStrings(EditLink.Recipients, count, NULL);
        BYTE *bytes = (BYTE *)HeapAlloc(GetProcessHeap(), 0, recordBytes + stringBytes);
        ok = bytes != NULL;
        if (ok) {
            StoreRecipients(EditLink.Recipients, count, (StoredRecipient *)bytes);
            LayOutRecipientStrings(EditLink.Recipients, count, bytes + recordBytes);
            ok = WriteWholeFile(paths->NewRecords, bytes, recordBytes) &&
                 WriteWholeFile(paths->NewStrings, bytes + recordBytes, stringBytes);
            HeapFree(GetProcessHeap(), 0, bytes);
        }
    }
    // Attaching locks both blocks whether or not it succeeded.
    GlobalUnlock(EditLink.StringBlock);
    GlobalUnlock(EditLink.RecipientBlock);
    return ok;
}

// Brings entry n's files up to date. 0 when the new files could not be
// written: the old files then stay as they were, and so does the count in
// the settings file, while the new list stays in memory for the next save.
static int SaveEntryFiles(int number) {
    SpeedDialEntry *entry = &SpeedDialTable[number - 1];
    if (entry->RecipientCount && !entry->Modified) {
        return 1;
    }
    PairPaths paths;
    PairPathsFor(number, &paths);
    if (entry->RecipientCount == 0) {
        const char *files[] = {paths.Records,    paths.Strings,    paths.NewRecords,
                               paths.NewStrings, paths.OldRecords, paths.OldStrings};
        for (const char *file : files) {
            DeleteFileA(file);
        }
        return 1;
    }
    int saved =
        TelvexBinding.Library && WriteNewRecipientFiles(entry, &paths) && ReplacePair(&paths);
    SettlePair(&paths);
    if (saved) {
        entry->Modified = 0;
    }
    return saved;
}

int SaveSpeedDials(int save) {
    // The speed-dial page hands its open key back before this point; a
    // Cancel keeps the tables as the page left them and writes nothing.
    if (!save) {
        return 1;
    }
    const char *file = SettingsPathFor("SYS.INI");
    int saved = 1;
    for (int number = 1; number <= SpeedDialEntryCount; number++) {
        SpeedDialEntry *entry = &SpeedDialTable[number - 1];
        char key[32];
        if (SaveEntryFiles(number)) {
            EntryKey(key, sizeof key, CountKeys, number);
            saved &= WriteIntSetting(FaxSection, key, file, (int)entry->RecipientCount) != 0;
        } else {
            saved = 0;
        }
        EntryKey(key, sizeof key, LabelKeys, number);
        saved &= WritePrivateProfileStringA(FaxSection, key, entry->Label, file) != 0;
    }
    return saved;
}
