// I/O address verification: the eight ports the scanner's card can sit at,
// the order in which they are tested and the texts of the verification.
#pragma once
#include <windows.h>

enum : WORD { PortCount = 8, NoPortIndex = 8 };

// The port table; index i belongs to radio button IDC_PORT_FIRST + i.
extern const WORD PortAddresses[PortCount];

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
