// What the fax and e-mail side knows of the mail profiles: the profiles in
// use, the lists of fax-capable and Internet Mail profiles, the speed-dial
// labels the panel shows, and the one-time start of the fax service.
#pragma once
#include <windows.h>

struct IniSection; // app/settings.h

enum : int {
    SpeedDialKeyCount = 14,
    SpeedDialLabelSize = 17, // 16 characters and the terminator
    ProfileNameSize = 80,    // 79 characters and the terminator
};

// A list of profile names: one movable block, first one name address per
// slot, then the slots; held locked while the list exists.
struct ProfileList {
    HGLOBAL Block; // null when the list is not held
    char **Names;  // the locked block
};

extern DWORD FaxProfileCount;                     // fax-capable profiles found
extern DWORD MailProfileCount;                    // Internet Mail profiles found
extern ProfileList FaxProfiles;                   // names of the fax-capable profiles
extern ProfileList MailProfiles;                  // names of the Internet Mail profiles
extern char FaxProfileName[ProfileNameSize];      // profile used for fax
extern char MailProfileName[ProfileNameSize];     // profile used for e-mail
extern char SettingsProfileName[ProfileNameSize]; // profile whose fax settings the job changes
extern int FaxServiceStarted;                     // InitFaxService has succeeded in this run
extern WORD PagesAsDocument;                      // 1 one PDF document, 0 an image file a page
extern WORD SearchableText;                       // 1 the PDF document carries its pages' text
// Labels of the speed-dial keys: 1..14 fax, 15..28 e-mail; entry 0 is unused.
extern char SpeedDialLabels[2 * SpeedDialKeyCount + 1][SpeedDialLabelSize];

// What a fax job sends with, taken whole when its session opens.
struct ProfileChoice {
    WORD Destination;                      // 0 fax, 1 e-mail
    char FaxProfile[ProfileNameSize];      // logon profile for fax
    char MailProfile[ProfileNameSize];     // logon profile for e-mail
    char SettingsProfile[ProfileNameSize]; // profile whose fax settings the job changes
    WORD AsDocument;                       // the pages go as one PDF document
    WORD SearchableText;                   // ... with their text read and laid over them
};

// The set-up pages change the destination and the profile names while a job
// may be taking them; both hold this lock for it.
void LockProfileChoice();
void UnlockProfileChoice();
// Copies the destination and the profile names under the lock.
void TakeProfileChoice(ProfileChoice *choice);

// 1 when the fax service can be used; on failure shows why and turns it off.
int InitFaxService();
// Reads the labels, the two profile names, the destination and how the pages
// go (and whether with their text); returns the destination.
WORD LoadFaxSettings();
// The same from the settings file's fax section, read by the caller.
WORD LoadFaxSettingsFrom(const IniSection *fax);
// Builds both profile lists: 0 both kinds found, 9 no fax profile, 52 no mail
// profile, 53 none, 5 out of memory (string-table ids).
WORD DiscoverProfiles();
// Unlocks and frees both lists; their counts become 0.
void ReleaseProfileLists();
// Fills a combo box with the fax (0) or e-mail (1) profiles: the index of the
// chosen name, -1 when it is not listed, 0 when the list is empty.
int FillProfileCombo(HWND combo, int which);
