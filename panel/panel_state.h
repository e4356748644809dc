// The front panel's state: what the keys have chosen so far, and the two flags
// that hand a job between the main thread and the job thread.
#pragma once
#include <windows.h>

enum ScanModeIndex : WORD { ModeText = 0, ModePhoto = 1, ModeColorPhoto = 2, ScanModeCount = 3 };

// Working brightness and contrast of one scan mode, 0..100.
struct LevelPair {
    SHORT Brightness;
    SHORT Contrast;
};

// Room for the 16 digits the panel takes, with some to spare.
enum : int { TypedNumberSize = 21 };

extern WORD ScanMode;                       // 0 Text, 1 Photo, 2 Color Photo
extern WORD PaperSize;                      // 0 Letter, 1 Legal, 2 A4
extern WORD FaxResolution;                  // resolution index when sending by fax, 0..1
extern WORD MailResolution;                 // resolution index when sending by e-mail, 0..2
extern LevelPair ModeLevels[ScanModeCount]; // working levels per scan mode
extern WORD Destination;                    // 0 fax, 1 e-mail
extern BYTE SpeedDialKey;                   // chosen speed-dial key 1..14, 0 none
extern char TypedNumber[TypedNumberSize];   // digits typed on the keypad, zero-terminated
extern BYTE TypedLength;                    // number of characters in TypedNumber
extern volatile SHORT JobBusy;              // 1 while a job is admitted; cleared last by the job
extern volatile LONG CancelRequested;       // set by Stop, abort or a failed read; read by the job

// Forgets the typed digits.
void ClearTypedNumber();
