// I/O address verification: the eight ports the scanner's card can sit at,
// the texts of the verification, and dialog 600 that tests the ports through
// the driver and records a new one in SYSTEM.INI for the driver's next start.
#pragma once
#include <windows.h>

enum : WORD { PortCount = 8, NoPortIndex = 8 };

// The port table; index i belongs to radio button IDC_PORT_FIRST + i.
extern const WORD PortAddresses[PortCount];

// Dialog state, valid while the dialog is open: the index of the device's
// port when the dialog opened (NoPortIndex when not in the table), the checked
// button's index (NoPortIndex while none is), and the button that started the
// last verification, IDOK (automatic) or IDC_VERIFY_PORT.
extern WORD InitialPortIndex;
extern WORD SelectedPortIndex;
extern WORD VerifyMode;

// Index of a port in the table, or NoPortIndex.
WORD PortIndexOf(WORD port);
// The index of an address button, 1; 0 for any other control id.
int PortButtonIndex(int id, WORD *index);
// The indexes a verification tests, in order; returns how many. Automatic:
// the selected port first, then the others in table order; otherwise the
// selected port alone. Without a selection there is no selected port to test.
int VerifyOrder(int automatic, WORD selected, WORD order[PortCount]);
// prefix followed by the port and "h..." ("Verifying port 220h...").
void FormatVerifyingLine(const char *prefix, WORD port, char *out, int size);
// text with its first "2" and the two characters after it replaced by the
// port's digits ("Port 220h has ..." reads "Port 330h has ..."); a text
// without "2" gets the digits at its end. Never more than size - 1 characters.
void FormatVerifiedLine(const char *text, WORD port, char *out, int size);
// The port's digits as SYSTEM.INI keeps them ("330").
void FormatPortDigits(WORD port, char *out, int size);
// prefix, the port's digits and "h!" ("I/O address has been changed to 330h!").
void FormatChangedMessage(const char *prefix, WORD port, char *out, int size);

INT_PTR CALLBACK IoAddressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Shows "Verifying port ..." and asks the driver whether the device answers
// at the port of index: 1 when it does.
int TestPort(HWND dialog, WORD index);
// Verify (VerifyMode IDC_VERIFY_PORT) or Auto. Verify (IDOK) inside an opened device.
void VerifyPorts(HWND dialog);
// Writes the selected port to SYSTEM.INI and says so: 1, or 0 when the write failed.
int ApplyPort(HWND dialog);
