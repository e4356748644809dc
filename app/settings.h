// The settings store: the INI files of the product, the values read from them
// at start, and the small operations every part uses to reach the product
// directory, its libraries and the string table, and to release a movable block.
#pragma once
#include <windows.h>
#include "panel/panel_state.h"

// Room for a whole dialing field; a longer one is dropped rather than cut.
enum : int { DialingFieldSize = 64 };
// Room for the text of a string-table message box, and for a second string after it.
enum : int { MessageTextSize = 260 };

// Dialing prefixes of the current telephony location.
struct DialingRecord {
    char LocalPrefix[DialingFieldSize];        // outside-line access code
    char LongDistancePrefix[DialingFieldSize]; // long-distance prefix
    char AreaCode[DialingFieldSize];           // area code of this location
    char CountryCode[DialingFieldSize];        // country code of this location
};

// The main window's last position and size.
struct WindowPosition {
    LONG X;
    LONG Y;
    LONG Width;
    LONG Height;
};

extern char SettingsPath[MAX_PATH];            // product directory followed by "SYS.INI"
extern char HelpFilePath[MAX_PATH];            // product directory followed by "KELBO.CHM"
extern int SettingsDirEnd;                     // length of the directory part of SettingsPath
extern DialingRecord DialingInfo;              // dialing prefixes for typed fax numbers
extern int StartRunEnabled;                    // start with Windows, as the menu shows it
extern int StartRunAtLoad;                     // start with Windows, as it was at start
extern int FaxServiceEnabled;                  // the Fax key may start a fax job
extern int CopyServiceEnabled;                 // the Copy key may start a copy job
extern LevelPair LevelDefaults[ScanModeCount]; // default levels per scan mode
extern WindowPosition WindowRect;              // main window placement, -1 when never saved
extern WORD JobID;                             // page counter of today's fax jobs

// Reads everything at start and resets the panel state.
void LoadSettings();
// Fills DialingInfo from the current location of "telephon.ini".
void LoadDialingInfo();
// Splits a "Location" record: fields 3 to 5 lose their quotes, field 6 is kept whole.
// An incomplete record leaves every field empty.
void SplitLocationRecord(const char *record, DialingRecord *info);
// Month and day as the settings file keeps them ("12-7").
void FormatDayStamp(const SYSTEMTIME *day, char *out, int size);
// 1 when the stored day stamp is not today's, so the job counter starts again.
int IsNewDay(const char *storedDate, const char *today);
// Today's date; a test names the day the job counter belongs to in
// KEYPAD32_TODAY, as "Date" holds it ("12-7"), so that a run across midnight
// keeps the counter it set.
void Today(SYSTEMTIME *today);
// Cuts SettingsPath back to the product directory and appends the file name.
const char *SettingsPathFor(const char *fileName);

// One section of an INI file, read whole in one call: each
// GetPrivateProfileString opens and checks the file again, which a start
// that reads a hundred keys pays a hundred times.
struct IniSection {
    char File[MAX_PATH];
    const char *Name;
    char *Text; // "key=value" strings, each ended by a NUL, then one NUL more;
                // null when the section could not be read whole
};
// Reads the section; where memory runs out, the lookups below ask the file
// itself, so that they give what the file holds either way.
void ReadIniSection(IniSection *section, const char *file, const char *name);
void FreeIniSection(IniSection *section);
// A key's value, as GetPrivateProfileString gives it: the first key of that
// name in any case, blanks around it and one pair of quotes taken off, cut
// to size - 1 characters; fallback when the key is absent.
void IniText(const IniSection *section, const char *key, const char *fallback, char *out, int size);
// A key's decimal value, as GetPrivateProfileInt gives it: fallback when
// the key is absent or empty, the leading number otherwise (0 when none).
int IniInt(const IniSection *section, const char *key, int fallback);
// Restarts JobID on a new day, else takes the one stored in the settings
// file's "Varnel" section, read by the caller.
void LoadJobCounter(const IniSection *varnel, const SYSTEMTIME *today);

BOOL WriteIntSetting(const char *section, const char *key, const char *file, int value);
// Writes the five level keys that LoadSettings reads: 1 when all were written.
int SaveLevelDefaults(const LevelPair *levels, const char *file);
void ProductPath(char *out, WORD size, const char *fileName);
int ProductFileExists(char *out, WORD size, const char *fileName);
// Appends a line with the time to the program's log, KEYPAD32.LOG in the
// product directory, where what went otherwise than asked without failing
// a job is told: 1 when written.
int AppendLogLine(const char *text);
// 1 when path names a file (not a folder), whatever its length.
int FileExists(const char *path);
int LoadProductLibrary(HMODULE *module, const char *fileName);
int ShowStringMessage(HINSTANCE instance, HWND owner, const char *caption, WORD id);
// A lock that the main thread and a job hold only while they copy a few
// settings, so that waiting for it spins.
void HoldLock(volatile LONG *lock);
void FreeLock(volatile LONG *lock);
// Unlocks, frees and empties a movable block (held locked once, or not locked);
// an empty handle is left as it is.
void ReleaseBlock(HGLOBAL *block);
