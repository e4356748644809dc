#include "ui/about.h"
#include "ui/dialog_tools.h"
#include "ui/help.h"

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    // The box is opened over the main window, so its owner is that window.
    if (message == WM_INITDIALOG)
        CenterWindowOver(GetParent(dialog), dialog);
    else if (message == WM_COMMAND)
        EndDialog(dialog, 1);
    // F1 shows the help file's contents: the box has no topic of its own.
    else if (message == WM_HELP) {
        OpenHelpContents(dialog);
        return TRUE;
    }
    // FALSE otherwise, WM_INITDIALOG included: the box sets no focus of its own.
    return FALSE;
}
