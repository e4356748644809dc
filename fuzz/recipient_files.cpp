// A recipient-file pair as a key's n.DES and n.INF hold it: loaded as the
// program loads it (refused when the strings do not fit), edited as the
// speed-dial page edits it, saved, and loaded again: the same records come back.
//
// Input: a record count (low four bits of the first byte), that many 24-byte
// records, an edit byte, then the string file.
#include "fuzz/exercise.h"

#include "abi/telvex_abi.h"

#include <stdlib.h>
#include <string.h>

namespace {

enum : DWORD { MostRecords = 15 };

// 1 when the two lists hold the same records.
int SameRecords(const RecipientRecord *a, const RecipientRecord *b, DWORD count) {
    for (DWORD i = 0; i < count; i++) {
        if (a[i].Reserved != b[i].Reserved || a[i].RecipientClass != b[i].RecipientClass ||
            a[i].EntryIdSize != b[i].EntryIdSize || strcmp(a[i].Name, b[i].Name) != 0 ||
            strcmp(a[i].Address, b[i].Address) != 0 ||
            (a[i].EntryIdSize && memcmp(a[i].EntryId, b[i].EntryId, a[i].EntryIdSize) != 0)) {
            return 0;
        }
    }
    return 1;
}

// The records pointed into a string block of size bytes, as loading makes
// them; 0 when loading refuses the pair.
int LoadPair(const StoredRecipient *stored, DWORD count, BYTE *strings, DWORD size,
             RecipientRecord *records) {
    LoadStoredRecipients(stored, count, records);
    if (!CheckRecipientStrings(records, count, strings, size)) {
        return 0;
    }
    PointRecordsIntoStrings(records, count, (char *)strings);
    return 1;
}

// What the speed-dial page may do to a list: remove a record, add one, or
// give one a new name.
DWORD EditRecords(RecipientRecord *records, DWORD count, BYTE edit) {
    static char Added[] = "Added Recipient", AddedAddress[] = "FAX:555 0100", Renamed[] = "Renamed";
    static BYTE AddedId[] = {1, 2, 3, 0, 5};
    DWORD index = count ? (DWORD)(edit >> 2) % count : 0;
    switch (edit & 3) {
    case 1:
        if (count) {
            memmove(records + index, records + index + 1,
                    (count - index - 1) * sizeof(RecipientRecord));
            count--;
        }
        break;
    case 2:
        records[count++] = {0, 1, Added, AddedAddress, sizeof AddedId, AddedId};
        break;
    case 3:
        if (count) {
            records[index].Name = Renamed;
        }
        break;
    }
    return count;
}

} // namespace

const char *ExerciseRecipientFiles(const BYTE *data, DWORD size) {
    InputCursor in = {data, size};
    DWORD count = TakeByte(&in) % (MostRecords + 1);
    if (in.Left < count * sizeof(StoredRecipient) + 1) {
        return NULL;
    }
    const StoredRecipient *stored = (const StoredRecipient *)in.Data;
    in.Data += count * sizeof(StoredRecipient);
    in.Left -= count * sizeof(StoredRecipient);
    BYTE edit = TakeByte(&in);
    // The string file sits in a block of its own, as ReadWholeFile leaves it.
    BYTE *strings = (BYTE *)malloc(in.Left ? in.Left : 1);
    RecipientRecord loaded[MostRecords + 1], reloaded[MostRecords + 1];
    StoredRecipient saved[MostRecords + 1];
    BYTE *savedStrings = NULL;
    const char *fault = NULL;
    if (!strings) {
        return NULL;
    }
    if (in.Left) {
        memcpy(strings, in.Data, in.Left);
    }
    if (LoadPair(stored, count, strings, in.Left, loaded)) {
        count = EditRecords(loaded, count, edit);
        StoreRecipients(loaded, count, saved);
        DWORD bytes = LayOutRecipientStrings(loaded, count, NULL);
        savedStrings = (BYTE *)malloc(bytes ? bytes : 1);
        if (savedStrings && LayOutRecipientStrings(loaded, count, savedStrings) != bytes) {
            fault = "the string file's size changed while it was written";
        } else if (savedStrings && !LoadPair(saved, count, savedStrings, bytes, reloaded)) {
            fault = "a saved pair is refused when it is loaded again";
        } else if (savedStrings && !SameRecords(loaded, reloaded, count)) {
            fault = "a record changed on its way through the files";
        }
    }
    free(savedStrings);
    free(strings);
    return fault;
}
