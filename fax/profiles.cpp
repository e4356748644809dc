#include "fax/profiles.h"

DWORD FaxProfileCount;
DWORD MailProfileCount;
char SpeedDialLabels[2 * SpeedDialKeyCount + 1][SpeedDialLabelSize];
