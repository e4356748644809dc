// The Win32 calls of the shim's <windows.h>, as Windows answers them, over
// memory: files live in a small table for the life of the process, the
// profile (WIN.INI) is one table of keys, the clock stands still.
#include <windows.h>

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

enum : int { FileSlots = 32, ProfileSlots = 16, ProfileValueSize = 64 * 1024 };

struct MemoryFile {
    char Name[MAX_PATH];
    BYTE *Bytes;
    DWORD Size;
    DWORD Capacity;
};

struct OpenFile {
    MemoryFile *File;
    DWORD Position;
    int Writable;
};

struct ProfileKey {
    char Section[64];
    char Key[64];
    char *Value;
};

MemoryFile Files[FileSlots];      // every file made so far; a free slot has no name
ProfileKey Profile[ProfileSlots]; // WIN.INI's keys; a free slot has no key

MemoryFile *FindFile(const char *path) {
    for (MemoryFile &file : Files) {
        if (file.Name[0] && _stricmp(file.Name, path) == 0) {
            return &file;
        }
    }
    return NULL;
}

MemoryFile *NewFile(const char *path) {
    for (MemoryFile &file : Files) {
        if (!file.Name[0]) {
            lstrcpynA(file.Name, path, sizeof file.Name);
            file.Size = 0;
            return &file;
        }
    }
    return NULL;
}

ProfileKey *FindKey(const char *section, const char *key) {
    for (ProfileKey &entry : Profile) {
        if (entry.Key[0] && _stricmp(entry.Section, section) == 0 &&
            _stricmp(entry.Key, key) == 0) {
            return &entry;
        }
    }
    return NULL;
}

} // namespace

HANDLE CreateFileA(const char *path, DWORD access, DWORD, void *, DWORD disposition, DWORD,
                   HANDLE) {
    MemoryFile *file = FindFile(path);
    if ((disposition == OPEN_EXISTING && !file) || (disposition == CREATE_NEW && file)) {
        return INVALID_HANDLE_VALUE;
    }
    if (!file && !(file = NewFile(path))) {
        return INVALID_HANDLE_VALUE;
    }
    if (disposition == CREATE_ALWAYS) {
        file->Size = 0;
    }
    OpenFile *open = (OpenFile *)malloc(sizeof(OpenFile));
    *open = {file, 0, (access & GENERIC_WRITE) != 0};
    return open;
}

BOOL ReadFile(HANDLE handle, void *buffer, DWORD size, DWORD *read, void *) {
    OpenFile *open = (OpenFile *)handle;
    DWORD left = open->File->Size > open->Position ? open->File->Size - open->Position : 0;
    *read = size < left ? size : left;
    if (*read) {
        memcpy(buffer, open->File->Bytes + open->Position, *read);
        open->Position += *read;
    }
    return TRUE;
}

BOOL WriteFile(HANDLE handle, const void *bytes, DWORD size, DWORD *written, void *) {
    OpenFile *open = (OpenFile *)handle;
    MemoryFile *file = open->File;
    *written = 0;
    if (!open->Writable || size > 0xFFFFFFFFu - open->Position) {
        return FALSE;
    }
    if (!size) {
        return TRUE;
    }
    DWORD end = open->Position + size;
    if (end > file->Capacity) {
        DWORD capacity = end > file->Capacity * 2 ? end : file->Capacity * 2;
        BYTE *grown = (BYTE *)realloc(file->Bytes, capacity);
        if (!grown) {
            return FALSE;
        }
        file->Bytes = grown;
        file->Capacity = capacity;
    }
    if (open->Position > file->Size) {
        memset(file->Bytes + file->Size, 0, open->Position - file->Size);
    }
    memcpy(file->Bytes + open->Position, bytes, size);
    open->Position = end;
    file->Size = end > file->Size ? end : file->Size;
    *written = size;
    return TRUE;
}

// FILE_BEGIN only, and without a high part: a negative offset fails as it does on Windows.
DWORD SetFilePointer(HANDLE handle, LONG low, LONG *, DWORD) {
    if (low < 0) {
        return INVALID_SET_FILE_POINTER;
    }
    ((OpenFile *)handle)->Position = (DWORD)low;
    return (DWORD)low;
}

DWORD GetFileSize(HANDLE handle, DWORD *high) {
    if (high) {
        *high = 0;
    }
    return ((OpenFile *)handle)->File->Size;
}

BOOL CloseHandle(HANDLE handle) {
    free(handle);
    return TRUE;
}

BOOL DeleteFileA(const char *path) {
    MemoryFile *file = FindFile(path);
    if (!file) {
        return FALSE;
    }
    file->Name[0] = 0;
    file->Size = 0;
    return TRUE;
}

DWORD GetTempPathA(DWORD size, char *out) {
    lstrcpynA(out, "C:\\TEMP\\", (int)size);
    return 8;
}

// A new empty file named folder, prefix, a number and ".tmp".
UINT GetTempFileNameA(const char *folder, const char *prefix, UINT, char *out) {
    static UINT Last;
    do {
        snprintf(out, MAX_PATH, "%s%.3s%04X.tmp", folder, prefix, ++Last & 0xFFFF);
    } while (FindFile(out));
    return NewFile(out) ? Last : 0;
}

BOOL MoveFileExA(const char *from, const char *to, DWORD flags) {
    MemoryFile *file = FindFile(from);
    MemoryFile *there = FindFile(to);
    if (!file || (there && !(flags & MOVEFILE_REPLACE_EXISTING))) {
        return FALSE;
    }
    if (there && there != file) {
        DeleteFileA(to);
    }
    lstrcpynA(file->Name, to, sizeof file->Name);
    return TRUE;
}

HANDLE GetProcessHeap() {
    return (HANDLE)Files;
}

void *HeapAlloc(HANDLE, DWORD, SIZE_T size) {
    return malloc(size ? size : 1);
}

BOOL HeapFree(HANDLE, DWORD, void *block) {
    free(block);
    return TRUE;
}

char *lstrcpynA(char *out, const char *text, int size) {
    if (size <= 0) {
        return out;
    }
    int i = 0;
    for (; i < size - 1 && text[i]; i++) {
        out[i] = text[i];
    }
    out[i] = 0;
    return out;
}

int lstrlenA(const char *text) {
    return text ? (int)strlen(text) : 0;
}

char *CharUpperA(char *text) {
    // An argument below 64 Ki is one character, and the result is that character in upper case.
    if ((uintptr_t)text >> 16 == 0) {
        return (char *)(uintptr_t)(BYTE)toupper((int)(uintptr_t)text);
    }
    for (char *p = text; *p; p++) {
        *p = (char)toupper((unsigned char)*p);
    }
    return text;
}

// The lead bytes of the double-byte Windows code pages.
BOOL IsDBCSLeadByteEx(UINT codePage, BYTE c) {
    switch (codePage) {
    case 932:
        return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    case 936:
    case 949:
    case 950:
        return c >= 0x81 && c <= 0xFE;
    default:
        return FALSE;
    }
}

void GetSystemTime(SYSTEMTIME *time) {
    *time = {2024, 3, 2, 5, 10, 0, 0, 0};
}

// Copies at most size - 1 characters and answers how many, as Windows does:
// a value that does not fit comes back cut, with size - 1.
DWORD GetProfileStringA(const char *section, const char *key, const char *fallback, char *out,
                        DWORD size) {
    if (!size) {
        return 0;
    }
    ProfileKey *entry = FindKey(section, key);
    lstrcpynA(out, entry ? entry->Value : fallback ? fallback : "", (int)size);
    return (DWORD)strlen(out);
}

BOOL WriteProfileStringA(const char *section, const char *key, const char *value) {
    ProfileKey *entry = FindKey(section, key);
    if (!value) {
        if (entry) {
            free(entry->Value);
            entry->Key[0] = 0;
        }
        return TRUE;
    }
    for (int i = 0; !entry && i < ProfileSlots; i++) {
        if (!Profile[i].Key[0]) {
            entry = &Profile[i];
            lstrcpynA(entry->Section, section, sizeof entry->Section);
            lstrcpynA(entry->Key, key, sizeof entry->Key);
            entry->Value = NULL;
        }
    }
    if (!entry || strlen(value) >= ProfileValueSize) {
        return FALSE;
    }
    free(entry->Value);
    entry->Value = strdup(value);
    return TRUE;
}
