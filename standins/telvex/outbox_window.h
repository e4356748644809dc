// The library's outbox window (OpenOutbox).
#pragma once
#include <windows.h>

// Shows the window, modal, owned by owner: 0 once it is closed, else non-zero.
DWORD RunOutboxWindow(HWND owner);
