// Helpers shared by the set-up dialogs: tooltips, centring, context help and
// the drawing of the owner-drawn bitmap buttons.
#pragma once
#include <windows.h>

// The teal background of every button and mode bitmap, drawn transparent.
enum : COLORREF { TransparentColor = 0x808000 };

// One tool of a dialog's tip table; a table ends with Kind TipTableEnd.
struct TipTableEntry {
    WORD TextId;    // string-table id of the tip text
    WORD ControlId; // the control the tip belongs to
    WORD Kind;      // TipAreaTool, any other value a window tool
};
enum : WORD { TipWindowTool = 0, TipAreaTool = 3, TipTableEnd = 0xFFFF };

// Ids of the list-line tools start here; area tools take NextAreaTipId.
enum : UINT { FirstListTipId = 8192 };

enum : int { FrameRaised = 0, FrameSunken = 1 };

// The set-up dialog now open (the panel keeps its destination radio buttons
// in step) and its tooltip window; empty when none is open.
extern HWND ActiveSettingsDialog;
extern HWND ActiveSettingsTips;
// The speed-dial page while it exists, and its tooltip window.
extern HWND SpeedDialPage;
extern HWND SpeedDialTips;
// Id of the next area tool; only grows, so no id is used twice in a run.
extern UINT NextAreaTipId;

// Moves window to the centre of parent (the desktop when parent is null),
// keeping its size. Returns 1 when moved, 0 when the centred position would
// be negative and the window was left where it was.
int CenterWindowOver(HWND parent, HWND window);

// Binds the common controls (tooltips, trackbars) on the first call, so that a
// start that opens no dialog never loads them; 1 when they can be made.
int BindCommonControls();
// Makes a tooltip window owned by dialog, stores it in *slot (null when it
// cannot be made) and adds one tool per table entry.
void CreateDialogTips(HINSTANCE instance, HWND dialog, HWND *slot, const TipTableEntry *table);
// Lines a list box of that client height shows, a line more than half
// visible counting as one.
WORD ListLineTipCount(WORD clientHeight, WORD itemHeight);
// Adds one callback-text tool per visible line of list listId; returns how many.
int AddListLineTips(HWND tips, HWND dialog, int listId, UINT firstId);
// Whole lines that fit the list's client area; *lineHeight gets the item height.
int CountListLines(HWND list, int *lineHeight);
// Hands one mouse message to a tooltip; nothing without a tooltip.
void RelayTipMessage(HWND tips, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The help context of a control id for a destination (0 fax, 1 e-mail):
// 1 and *context, or 0 when the control has no topic.
int HelpContextFor(int controlId, int destination, DWORD *context);
// The same for a control window, with the destination in force now.
int LookupHelpContext(HWND control, DWORD *context);

// A one-pixel frame: top and left with one pen, bottom and right with the
// other; right and bottom are exclusive.
void DrawEdgeFrame(HDC dc, HPEN topLeft, HPEN bottomRight, const RECT *rect);
// A two-pixel raised or sunken edge in the system button colours.
void Draw3DFrame(HDC dc, int left, int top, int right, int bottom, int style);
// Draws bitmap with its transparent colour left out. A width or height of -1
// is the bitmap's own; without stretch a larger target gets it centred.
void DrawTransparentBitmap(HDC dc, HBITMAP bitmap, COLORREF transparent, int x, int y, int width,
                           int height, int stretch);
// Draws bitmap resource bitmapId into an owner-drawn item's rectangle.
void DrawItemBitmap(const DRAWITEMSTRUCT *item, WORD bitmapId);
