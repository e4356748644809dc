#include "app/run_entry.h"

#include <windows.h>
#include <string.h>

enum { RunListSize = 1024 };

int ItemNamesProgram(const char *item, const char *programName) {
    char upperItem[RunListSize];
    char upperName[MAX_PATH];
    lstrcpynA(upperItem, item, sizeof upperItem);
    lstrcpynA(upperName, programName, sizeof upperName);
    CharUpperA(upperItem);
    CharUpperA(upperName);
    return strstr(upperItem, upperName) != NULL;
}

// Appends len bytes of text at *used; 0 when they would not fit with the NUL.
static int AppendText(char *out, int size, int *used, const char *text, int len) {
    if (*used + len >= size) {
        return 0;
    }
    memcpy(out + *used, text, len);
    *used += len;
    out[*used] = '\0';
    return 1;
}

int BuildRunList(const char *list, const char *entry, const char *programName, char *out,
                 int size) {
    char item[RunListSize];
    int used = 0;
    if (size <= 0) {
        return 0;
    }
    out[0] = '\0';
    // n blanks make n + 1 items; an empty item contributes its blank alone.
    const char *start = list;
    for (;;) {
        const char *end = strchr(start, ' ');
        int len = end ? (int)(end - start) : (int)strlen(start);
        lstrcpynA(item, start, len + 1 < (int)sizeof item ? len + 1 : (int)sizeof item);
        if (!ItemNamesProgram(item, programName)) {
            if (!AppendText(out, size, &used, start, len) || !AppendText(out, size, &used, " ", 1)) {
                return 0;
            }
        }
        if (!end) {
            break;
        }
        start = end + 1;
    }
    return AppendText(out, size, &used, entry, (int)strlen(entry));
}

void UpdateRunEntry(const char *entry, const char *programName) {
    char list[RunListSize];
    char rebuilt[RunListSize];
    if (GetProfileStringA("windows", "run", "", list, sizeof list) == 0) {
        if (entry[0] != '\0') {
            WriteProfileStringA("windows", "run", entry);
        }
        return;
    }
    if (BuildRunList(list, entry, programName, rebuilt, sizeof rebuilt)) {
        WriteProfileStringA("windows", "run", rebuilt);
    }
}
