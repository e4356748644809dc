#include "ui/help.h"

#include "app/settings.h"
#include "ui/dialog_tools.h"

void OpenHelp(HWND owner, UINT command, DWORD data) {
    WinHelpA(owner, HelpFilePath, command, data);
}

int OpenContextHelp(HWND owner, HWND control) {
    DWORD context;
    if (!LookupHelpContext(control, &context))
        return 0;
    OpenHelp(owner, HELP_CONTEXT, context);
    return 1;
}
