// The stand-in's profile store: an INI file of its own in the product
// directory, one section per profile with its services and settings.
#pragma once
#include <windows.h>

enum : int { StoreNameSize = 80, StoreTextSize = 256 };

// The product directory followed by a file name.
void ProductFilePath(char *out, int size, const char *fileName);
// The store's path.
const char *StorePath(char *out, int size);
// "Profile:name", the profile's section.
void ProfileSection(char *out, int size, const char *profile);
// 1 when the profile exists.
int ProfileExists(const char *profile);
// The profile's service flags, 0 when it does not exist.
DWORD ProfileServices(const char *profile);
// A text value of the profile; "" when absent.
void ProfileText(const char *profile, const char *key, char *out, int size);
// Sets values of a section of the store, all of them or none: 1/0.
int SetStoreTexts(const char *section, const char *const *keys, const char *const *values,
                  int count);
// The same in the profile's section.
int SetProfileText(const char *profile, const char *key, const char *value);
int SetProfileTexts(const char *profile, const char *const *keys, const char *const *values,
                    int count);
// The profile's outbox folder, ending in a backslash.
void ProfileOutbox(const char *profile, char *out, int size);
// The time now as the logs and records give it ("2024-05-01 12:00:00 UTC").
void UtcTimeText(char *out, int size);
enum : int { OutboxLogLineSize = 12 * 1024 };
// Adds a line to the log beside an outbox ("<outbox>.log"), where a user reads
// what became of the outbox's messages: the time, then text (cut to a line of
// OutboxLogLineSize); where the log cannot be written, the debugger's output
// has it. 1/0.
int AppendOutboxLog(const char *outbox, const char *text);
// Keeps that log open for the lines to come (one opening instead of one a
// line) until called again; NULL closes it.
void HoldOutboxLog(const char *outbox);
// A library value of the store's own section.
DWORD StoreNumber(const char *key, DWORD fallback);
// Calls visit with each profile name, in the store's order; returns how many.
DWORD ForEachProfile(void (*visit)(const char *name, void *context), void *context);
// 1 when the name can be a profile name: 1..79 characters, no control
// character and no bracket that would end the section name.
int ValidProfileName(const char *name);

// Reads (get) or writes a setting of the store through a setting request's value address.
DWORD GetSetting(const char *profile, WORD id, void *value);
DWORD SetSetting(const char *profile, WORD id, const void *value);
