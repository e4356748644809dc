// What the panel knows of the mail profiles and the speed-dial keys.
#pragma once
#include <windows.h>

enum : int {
    SpeedDialKeyCount = 14,
    SpeedDialLabelSize = 17, // 16 characters and the terminator
};

extern DWORD FaxProfileCount;  // fax-capable profiles found
extern DWORD MailProfileCount; // Internet Mail profiles found
// Labels of the speed-dial keys: 1..14 fax, 15..28 e-mail; entry 0 is unused.
extern char SpeedDialLabels[2 * SpeedDialKeyCount + 1][SpeedDialLabelSize];
