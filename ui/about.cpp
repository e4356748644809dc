#include "ui/about.h"
#include "ui/dialog_tools.h"

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    // The box is opened over the main window, so its owner is that window.
    if (message == WM_INITDIALOG)
        CenterWindowOver(GetParent(dialog), dialog);
    else if (message == WM_COMMAND)
        EndDialog(dialog, 1);
    // FALSE throughout, WM_INITDIALOG included: the box sets no focus of its own.
    return FALSE;
}
