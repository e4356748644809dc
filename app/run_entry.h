// The program's item in the list of programs that Windows starts at logon
// (key "run" of section "windows" in WIN.INI).
#pragma once

// 1 when the item names the program (case-insensitive substring match).
int ItemNamesProgram(const char *item, const char *programName);

// Builds the new run list from the old one: every item naming the program is
// dropped, the others keep their order and spelling, each followed by one
// blank, then the entry is appended. Returns 0, leaving out untouched, when
// the result would not fit in size bytes.
int BuildRunList(const char *list, const char *entry, const char *programName, char *out, int size);

// Rewrites the run list with the entry (a full path, or "" to only remove).
// The list is read and written whole; one of 64 KiB or more is left as it
// was, so no other program's item is ever cut off.
void UpdateRunEntry(const char *entry, const char *programName);
