#include "link_blocks.h"

#include <string.h>

static void ReleaseBlock(HGLOBAL block) {
    if (block) {
        GlobalUnlock(block);
        GlobalFree(block);
    }
}

DWORD SetLinkRecords(RecipientLink *link, const RecipientRecord *records, DWORD count,
                     int releaseOld) {
    DWORD stringSize = LayOutRecipientStrings(records, count, NULL);
    HGLOBAL recordBlock = GlobalAlloc(GMEM_MOVEABLE, count * sizeof(RecipientRecord) + 1);
    HGLOBAL stringBlock = GlobalAlloc(GMEM_MOVEABLE, stringSize + 1);
    if (!recordBlock || !stringBlock) {
        if (recordBlock) {
            GlobalFree(recordBlock);
        }
        if (stringBlock) {
            GlobalFree(stringBlock);
        }
        return TelvexNoMemory;
    }
    RecipientRecord *newRecords = (RecipientRecord *)GlobalLock(recordBlock);
    char *strings = (char *)GlobalLock(stringBlock);
    memcpy(newRecords, records, count * sizeof(RecipientRecord));
    LayOutRecipientStrings(records, count, (BYTE *)strings);
    PointRecordsIntoStrings(newRecords, count, strings);
    if (releaseOld) {
        ReleaseBlock(link->RecipientBlock);
        ReleaseBlock(link->StringBlock);
    }
    link->RecipientCount = count;
    link->RecipientBlock = recordBlock;
    link->Recipients = newRecords;
    link->StringBlock = stringBlock;
    link->Strings = strings;
    return TelvexOk;
}

DWORD BuildLink(RecipientLink *link) {
    link->Recipients = (RecipientRecord *)GlobalLock(link->RecipientBlock);
    link->Strings = (char *)GlobalLock(link->StringBlock);
    if (link->RecipientCount == 0) {
        return TelvexOk;
    }
    if (!link->Recipients || !link->Strings ||
        GlobalSize(link->RecipientBlock) < link->RecipientCount * sizeof(RecipientRecord) ||
        !CheckRecipientStrings(link->Recipients, link->RecipientCount, (const BYTE *)link->Strings,
                               (DWORD)GlobalSize(link->StringBlock))) {
        return TelvexFailure;
    }
    PointRecordsIntoStrings(link->Recipients, link->RecipientCount, link->Strings);
    return TelvexOk;
}

// Makes the string block hold at least size bytes. Strings read from files
// may be shared between records, so laying them out apart can need more room.
static DWORD GrowStrings(RecipientLink *link, DWORD size) {
    if (size <= GlobalSize(link->StringBlock)) {
        return TelvexOk;
    }
    GlobalUnlock(link->StringBlock);
    HGLOBAL grown = GlobalReAlloc(link->StringBlock, size, GMEM_MOVEABLE);
    if (grown) {
        link->StringBlock = grown;
    }
    link->Strings = (char *)GlobalLock(link->StringBlock);
    PointRecordsIntoStrings(link->Recipients, link->RecipientCount, link->Strings);
    return grown ? TelvexOk : TelvexNoMemory;
}

DWORD DeleteLinkRecord(RecipientLink *link, DWORD index) {
    DWORD count = link->RecipientCount;
    if (index >= count || !link->Recipients || !link->Strings) {
        return TelvexFailure;
    }
    // The remaining strings are laid out afresh in a copy, then over the
    // block, so the handles stay the same.
    DWORD size = LayOutRecipientStrings(link->Recipients, count, NULL);
    BYTE *copy = (BYTE *)HeapAlloc(GetProcessHeap(), 0, size + 1);
    if (!copy || GrowStrings(link, size) != TelvexOk) {
        if (copy) {
            HeapFree(GetProcessHeap(), 0, copy);
        }
        return TelvexNoMemory;
    }
    RecipientRecord *records = link->Recipients;
    memmove(records + index, records + index + 1, (count - index - 1) * sizeof(RecipientRecord));
    count--;
    size = LayOutRecipientStrings(records, count, copy);
    memcpy(link->Strings, copy, size);
    HeapFree(GetProcessHeap(), 0, copy);
    PointRecordsIntoStrings(records, count, link->Strings);
    link->RecipientCount = count;
    return TelvexOk;
}
