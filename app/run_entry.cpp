#include "app/run_entry.h"

#include <windows.h>
#include <string.h>

// Room for the longest run list that is read; a longer one is left alone.
enum { RunListLimit = 65536 };

static char UpperCase(char c) {
    return (char)(UINT_PTR)CharUpperA((LPSTR)(UINT_PTR)(BYTE)c);
}

// 1 when the length characters at item hold programName, compared in upper case.
static int RangeNamesProgram(const char *item, size_t length, const char *programName) {
    size_t nameLength = strlen(programName);
    for (size_t at = 0; at + nameLength <= length; at++) {
        size_t i = 0;
        while (i < nameLength && UpperCase(item[at + i]) == UpperCase(programName[i])) {
            i++;
        }
        if (i == nameLength) {
            return 1;
        }
    }
    return 0;
}

int ItemNamesProgram(const char *item, const char *programName) {
    return RangeNamesProgram(item, strlen(item), programName);
}

// Copies length bytes to out + used when out is given; returns the new length.
static size_t Put(char *out, size_t used, const char *text, size_t length) {
    if (out) {
        memcpy(out + used, text, length);
    }
    return used + length;
}

// Writes the new list into out (when given, without its NUL); returns its length.
static size_t RebuildRunList(const char *list, const char *entry, const char *programName,
                             char *out) {
    size_t used = 0;
    // n blanks make n + 1 items; an empty item contributes its blank alone.
    const char *start = list;
    for (;;) {
        const char *end = strchr(start, ' ');
        size_t length = end ? (size_t)(end - start) : strlen(start);
        if (!RangeNamesProgram(start, length, programName)) {
            used = Put(out, used, start, length);
            used = Put(out, used, " ", 1);
        }
        if (!end) {
            break;
        }
        start = end + 1;
    }
    return Put(out, used, entry, strlen(entry));
}

int BuildRunList(const char *list, const char *entry, const char *programName, char *out,
                 int size) {
    size_t length = RebuildRunList(list, entry, programName, NULL);
    if (size <= 0 || length >= (size_t)size) {
        return 0;
    }
    RebuildRunList(list, entry, programName, out);
    out[length] = '\0';
    return 1;
}

// The whole run list in a heap block, or null when it is longer than the
// limit or memory runs out. A value that fills the buffer may have been cut,
// so the buffer grows until the value leaves room to spare.
static char *ReadRunList() {
    for (DWORD size = 1024; size <= RunListLimit; size *= 2) {
        char *list = (char *)HeapAlloc(GetProcessHeap(), 0, size);
        if (!list) {
            return NULL;
        }
        if (GetProfileStringA("windows", "run", "", list, size) < size - 1) {
            return list;
        }
        HeapFree(GetProcessHeap(), 0, list);
    }
    return NULL;
}

void UpdateRunEntry(const char *entry, const char *programName) {
    char *list = ReadRunList();
    if (!list) {
        return;
    }
    if (list[0] == '\0') {
        if (entry[0] != '\0') {
            WriteProfileStringA("windows", "run", entry);
        }
    } else {
        int size = (int)RebuildRunList(list, entry, programName, NULL) + 1;
        char *rebuilt = (char *)HeapAlloc(GetProcessHeap(), 0, size);
        if (rebuilt && BuildRunList(list, entry, programName, rebuilt, size)) {
            WriteProfileStringA("windows", "run", rebuilt);
        }
        if (rebuilt) {
            HeapFree(GetProcessHeap(), 0, rebuilt);
        }
    }
    HeapFree(GetProcessHeap(), 0, list);
}
