#include "panel/panel_state.h"

WORD ScanMode;
WORD PaperSize;
WORD FaxResolution;
WORD MailResolution;
LevelPair ModeLevels[ScanModeCount];
WORD Destination;
BYTE SpeedDialKey;
char TypedNumber[TypedNumberSize];
BYTE TypedLength;
volatile SHORT JobBusy;
volatile LONG CancelRequested;

void ClearTypedNumber() {
    TypedNumber[0] = 0;
    TypedLength = 0;
}
