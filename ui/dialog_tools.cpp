#include "ui/dialog_tools.h"

int CenterWindowOver(HWND parent, HWND window) {
    if (!parent)
        parent = GetDesktopWindow();
    RECT outer, inner;
    if (!GetWindowRect(parent, &outer) || !GetWindowRect(window, &inner))
        return 0;
    int width = inner.right - inner.left;
    int height = inner.bottom - inner.top;
    // Signed halving: a window larger than its parent gets a negative offset.
    int x = outer.left + ((outer.right - outer.left) - width) / 2;
    int y = outer.top + ((outer.bottom - outer.top) - height) / 2;
    // A minimised parent lies far off-screen; never move a window there.
    if (x < 0 || y < 0)
        return 0;
    MoveWindow(window, x, y, width, height, FALSE);
    return 1;
}

HWND ActiveSettingsDialog;
HWND ActiveSettingsTips;
