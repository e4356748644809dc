// Dialog 600: tests the eight ports through the driver and records a new
// one in SYSTEM.INI for the driver's next start.
#pragma once
#include <windows.h>

// Dialog state, valid while the dialog is open: the index of the device's
// port when the dialog opened (NoPortIndex when not in the table), the checked
// button's index (NoPortIndex while none is), and the button that started the
// last verification, IDOK (automatic) or IDC_VERIFY_PORT.
extern WORD InitialPortIndex;
extern WORD SelectedPortIndex;
extern WORD VerifyMode;

INT_PTR CALLBACK IoAddressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Shows "Verifying port ..." and asks the driver whether the device answers
// at the port of index: 1 when it does.
int TestPort(HWND dialog, WORD index);
// Verify (VerifyMode IDC_VERIFY_PORT) or Auto. Verify (IDOK) inside an opened device.
void VerifyPorts(HWND dialog);
// Writes the selected port to SYSTEM.INI and says so: 1, or 0 when the write failed.
int ApplyPort(HWND dialog);
