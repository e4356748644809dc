#include "ui/help.h"

#include "app/settings.h"

void OpenHelp(HWND owner, UINT command, DWORD data) {
    WinHelpA(owner, HelpFilePath, command, data);
}
