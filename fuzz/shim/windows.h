// Stands in for <windows.h> when the parsers are built natively for fuzzing:
// the Win32 types with their Windows sizes (LONG and DWORD 32 bits, pointers
// as the host has them) and the few calls the parsers and their exercises
// make, implemented in win32_shim.cpp over memory (files, the profile).
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <strings.h>

#if defined(__x86_64__)
#define _WIN64 1
#endif

#define WINAPI
#define CALLBACK
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int16_t SHORT;
typedef int32_t BOOL;
typedef uint32_t UINT;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef size_t SIZE_T;
typedef char CHAR;
typedef uint16_t WCHAR; // a UTF-16 unit, as on Windows
typedef void *LPVOID;
typedef const char *LPCSTR;
typedef char *LPSTR;
typedef void *HANDLE;
typedef struct ShimWindow *HWND;
typedef struct ShimModule *HINSTANCE;
typedef HINSTANCE HMODULE;
typedef HANDLE HGLOBAL;

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define INVALID_FILE_SIZE ((DWORD)-1)
#define MOVEFILE_REPLACE_EXISTING 1
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 1
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define FILE_BEGIN 0
#define FILE_ATTRIBUTE_NORMAL 0x80
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000
#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define BI_RGB 0
#define BI_BITFIELDS 3
#define CP_UTF8 65001

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

#define ZeroMemory(p, n) memset((p), 0, (n))

inline int _stricmp(const char *a, const char *b) {
    return strcasecmp(a, b);
}
inline int _strnicmp(const char *a, const char *b, size_t n) {
    return strncasecmp(a, b, n);
}

HANDLE CreateFileA(const char *path, DWORD access, DWORD share, void *security, DWORD disposition,
                   DWORD flags, HANDLE model);
BOOL ReadFile(HANDLE file, void *buffer, DWORD size, DWORD *read, void *overlapped);
BOOL WriteFile(HANDLE file, const void *bytes, DWORD size, DWORD *written, void *overlapped);
DWORD SetFilePointer(HANDLE file, LONG low, LONG *high, DWORD method);
DWORD GetFileSize(HANDLE file, DWORD *high);
BOOL CloseHandle(HANDLE handle);
BOOL DeleteFileA(const char *path);
DWORD GetTempPathA(DWORD size, char *out);
UINT GetTempFileNameA(const char *folder, const char *prefix, UINT unique, char *out);
BOOL MoveFileExA(const char *from, const char *to, DWORD flags);

inline void *InterlockedExchangePointer(void *volatile *target, void *value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
inline void *InterlockedCompareExchangePointer(void *volatile *target, void *value,
                                               void *expected) {
    __atomic_compare_exchange_n(target, &expected, value, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return expected;
}

HANDLE GetProcessHeap();
void *HeapAlloc(HANDLE heap, DWORD flags, SIZE_T size);
BOOL HeapFree(HANDLE heap, DWORD flags, void *block);

char *lstrcpynA(char *out, const char *text, int size);
int lstrlenA(const char *text);
char *CharUpperA(char *text);
BOOL IsDBCSLeadByteEx(UINT codePage, BYTE c);
void GetSystemTime(SYSTEMTIME *time);

DWORD GetProfileStringA(const char *section, const char *key, const char *fallback, char *out,
                        DWORD size);
BOOL WriteProfileStringA(const char *section, const char *key, const char *value);
