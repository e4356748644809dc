// The two movable blocks of a RecipientLink: records and string block.
#pragma once
#include <windows.h>

#include "abi/telvex_abi.h"

// Puts count records (whose strings may lie anywhere) into two new movable
// blocks, locked once, and makes them the link's. The link's old blocks are
// unlocked and freed when releaseOld is 1. 0, or TelvexNoMemory.
DWORD SetLinkRecords(RecipientLink *link, const RecipientRecord *records, DWORD count,
                     int releaseOld);
// Locks both blocks and points every record into the string block: 0, or
// TelvexFailure when the blocks do not hold the records.
DWORD BuildLink(RecipientLink *link);
// Removes record index; the records behind it move up one place. 0 or TelvexFailure.
DWORD DeleteLinkRecord(RecipientLink *link, DWORD index);
