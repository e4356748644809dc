// The start-up list: rebuilt from a list, the program's entry and its name
// into a buffer of some size, it keeps every other program's item in order
// and ends with the entry, or it leaves the buffer untouched; rewritten in
// the profile, no other program's item is lost.
//
// Input: the list, the entry and the program name (NUL-separated), then the
// buffer size.
#include "fuzz/exercise.h"

#include "app/run_entry.h"

#include <stdlib.h>
#include <string.h>

namespace {

enum : DWORD { ListSize = 4096, Guard = 16 };
const BYTE Untouched = 0xA5;

// 1 when the items of list (blank-separated, empty ones aside) that do not
// name the program come first in rebuilt, in order and spelled alike.
int KeepsOtherItems(const char *list, const char *rebuilt, const char *program) {
    const char *at = rebuilt;
    for (const char *start = list; *start;) {
        size_t length = strcspn(start, " ");
        char item[ListSize];
        memcpy(item, start, length);
        item[length] = 0;
        if (length && !ItemNamesProgram(item, program)) {
            at += strspn(at, " ");
            if (strncmp(at, item, length) != 0 || (at[length] != ' ' && at[length] != 0)) {
                return 0;
            }
            at += length;
        }
        start += length + (start[length] == ' ');
    }
    return 1;
}

const char *CheckRebuild(const char *list, const char *entry, const char *program, int size) {
    char out[ListSize + Guard];
    memset(out, Untouched, sizeof out);
    int built = BuildRunList(list, entry, program, out, size);
    for (DWORD i = (DWORD)size; i < sizeof out; i++) {
        if ((BYTE)out[i] != Untouched) {
            return "the rebuilt list was written past its buffer";
        }
    }
    if (!built) {
        for (int i = 0; i < size; i++) {
            if ((BYTE)out[i] != Untouched) {
                return "a list that did not fit changed the buffer";
            }
        }
        return NULL;
    }
    size_t length = strlen(out), entryLength = strlen(entry);
    if (length < entryLength || strcmp(out + length - entryLength, entry) != 0) {
        return "the rebuilt list does not end with the entry";
    }
    if (!KeepsOtherItems(list, out, program)) {
        return "the rebuilt list lost or changed another program's item";
    }
    return NULL;
}

// The list in the profile, rewritten: unchanged, or every other item kept.
const char *CheckUpdate(const char *list, const char *entry, const char *program) {
    WriteProfileStringA("windows", "run", list);
    UpdateRunEntry(entry, program);
    char *after = (char *)malloc(ListSize * 2);
    if (!after) {
        return NULL;
    }
    GetProfileStringA("windows", "run", "", after, ListSize * 2);
    const char *fault = strcmp(after, list) != 0 && !KeepsOtherItems(list, after, program)
                            ? "rewriting the list lost another program's item"
                            : NULL;
    free(after);
    WriteProfileStringA("windows", "run", NULL);
    return fault;
}

} // namespace

const char *ExerciseRunList(const BYTE *data, DWORD size) {
    InputCursor in = {data, size};
    char list[ListSize], entry[MAX_PATH], program[MAX_PATH];
    TakeText(&in, list, sizeof list);
    TakeText(&in, entry, sizeof entry);
    TakeText(&in, program, sizeof program);
    int bufferSize = (TakeByte(&in) << 8 | TakeByte(&in)) % (ListSize + 1);
    const char *fault = CheckRebuild(list, entry, program, bufferSize);
    return fault ? fault : CheckUpdate(list, entry, program);
}
