#include "abi/telvex_abi.h"

#include <string.h>

static const StringOffsets *OffsetTable(const void *strings) {
    return (const StringOffsets *)strings;
}

// 1 when a NUL-terminated text starts at offset and ends inside the block.
static int TextFits(const BYTE *strings, DWORD size, DWORD table, DWORD offset) {
    if (offset < table || offset >= size) {
        return 0;
    }
    return memchr(strings + offset, 0, size - offset) != NULL;
}

int CheckRecipientStrings(const RecipientRecord *records, DWORD count, const BYTE *strings,
                          DWORD size) {
    if (count > size / sizeof(StringOffsets)) {
        return 0;
    }
    DWORD table = count * sizeof(StringOffsets);
    for (DWORD i = 0; i < count; i++) {
        StringOffsets at;
        memcpy(&at, OffsetTable(strings) + i, sizeof at); // the block need not be aligned
        if (!TextFits(strings, size, table, at.Name) ||
            !TextFits(strings, size, table, at.Address)) {
            return 0;
        }
        if (at.EntryId < table || at.EntryId > size || records[i].EntryIdSize > size - at.EntryId) {
            return 0;
        }
    }
    return 1;
}

void PointRecordsIntoStrings(RecipientRecord *records, DWORD count, char *strings) {
    for (DWORD i = 0; i < count; i++) {
        StringOffsets at;
        memcpy(&at, OffsetTable(strings) + i, sizeof at);
        records[i].Name = strings + at.Name;
        records[i].Address = strings + at.Address;
        records[i].EntryId = (BYTE *)strings + at.EntryId;
    }
}

// Copies bytes to out + position when out is given; returns the new position.
static DWORD Put(BYTE *out, DWORD position, const void *bytes, DWORD length) {
    if (out && length) {
        memcpy(out + position, bytes, length);
    }
    return position + length;
}

DWORD LayOutRecipientStrings(const RecipientRecord *records, DWORD count, BYTE *out) {
    DWORD position = count * sizeof(StringOffsets);
    for (DWORD i = 0; i < count; i++) {
        const char *name = records[i].Name ? records[i].Name : "";
        const char *address = records[i].Address ? records[i].Address : "";
        StringOffsets at;
        at.Name = position;
        position = Put(out, position, name, (DWORD)strlen(name) + 1);
        at.Address = position;
        position = Put(out, position, address, (DWORD)strlen(address) + 1);
        at.EntryId = position;
        position = Put(out, position, records[i].EntryId, records[i].EntryIdSize);
        Put(out, i * sizeof(StringOffsets), &at, sizeof at);
    }
    return position;
}

void StoreRecipients(const RecipientRecord *records, DWORD count, StoredRecipient *out) {
    for (DWORD i = 0; i < count; i++) {
        out[i] = {records[i].Reserved, records[i].RecipientClass, 0, 0, records[i].EntryIdSize, 0};
    }
}

void LoadStoredRecipients(const StoredRecipient *stored, DWORD count, RecipientRecord *out) {
    for (DWORD i = 0; i < count; i++) {
        StoredRecipient at;
        memcpy(&at, stored + i, sizeof at); // a file's bytes need not be aligned
        out[i] = {at.Reserved, at.RecipientClass, NULL, NULL, at.EntryIdSize, NULL};
    }
}
