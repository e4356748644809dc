#include "fuzz/exercise.h"

#include <stdio.h>
#include <stdlib.h>

BYTE TakeByte(InputCursor *in) {
    if (!in->Left) {
        return 0;
    }
    in->Left--;
    return *in->Data++;
}

void TakeText(InputCursor *in, char *out, DWORD size) {
    DWORD used = 0;
    while (in->Left) {
        BYTE c = TakeByte(in);
        if (!c) {
            break;
        }
        if (used < size - 1) {
            out[used++] = (char)c;
        }
    }
    out[used] = 0;
}

int TempFilePath(const char *name, char *path) {
    char folder[MAX_PATH];
    DWORD length = GetTempPathA(sizeof folder, folder);
    return length && length < sizeof folder &&
           snprintf(path, MAX_PATH, "%s%s", folder, name) < MAX_PATH;
}

int WriteInputFile(const char *name, const void *bytes, DWORD size, char *path) {
    if (!TempFilePath(name, path)) {
        return 0;
    }
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    DWORD written = 0;
    int ok = WriteFile(file, bytes, size, &written, NULL) && written == size;
    return CloseHandle(file) && ok;
}

BYTE *ReadBackFile(const char *path, DWORD *size) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return NULL;
    }
    *size = GetFileSize(file, NULL);
    BYTE *bytes = (BYTE *)malloc(*size + 1);
    DWORD read = 0;
    if (bytes && (!ReadFile(file, bytes, *size, &read, NULL) || read != *size)) {
        free(bytes);
        bytes = NULL;
    }
    CloseHandle(file);
    return bytes;
}
