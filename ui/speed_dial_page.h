// The speed-dial page (dialog 300) of the fax configuration sheet: the label
// and recipient list of each of the fourteen keys, for the destination the
// profile page has chosen.
#pragma once
#include <windows.h>

INT_PTR CALLBACK SpeedDialPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
// Shows the entry of the page's key for the destination in force.
void LoadKeyIntoPage(HWND page);
// Hands the shown key's list back to its entry and unlocks it.
void StoreKeyFromPage(HWND page);
// StoreKeyFromPage and the label field copied into the entry's label.
void StoreKeyAndLabel(HWND page);
// Deletes the record of a list line and the line: 1, or 0 when it stays.
int RemoveRecipientLine(HWND page, HWND list, int line);
void SetRemoveEnabled(HWND page, int on);
void SetRemoveAllEnabled(HWND page, int on);
// The page's part of closing the sheet, on OK and on Cancel alike: the list
// gets its own procedure back, the open key goes back into its entry and
// the tips go.
void CloseSpeedDialPage();
// The list-line tip for tool id, into a buffer the tooltip reads later.
const char *RecipientLineTip(HWND list, UINT toolId);
