// The scanner settings dialog (dialog 500): the saved brightness and contrast
// of the three scan modes, which the panel takes at its next reset.
#pragma once
#include <windows.h>

#include "panel/panel_state.h"

// One slider of the dialog and the edit box beside it.
struct LevelSlider {
    SHORT Position;     // value shown
    HWND Control;       // the trackbar or scroll bar in use
    WORD PlaceholderId; // the dialog's scroll bar at the slider's place
    WORD EditId;        // the edit box showing the value
    SHORT Minimum;
    SHORT Maximum;
    SHORT PageStep; // page step and tick spacing
    DWORD Signed;   // 0: the edit box holds an unsigned number
};
enum : int { BrightnessSlider = 0, ContrastSlider = 1, LevelSliderCount = 2 };

// One owner-drawn control; a table ends with Kind OwnerDrawEnd.
struct OwnerDrawEntry {
    WORD ControlId;
    WORD Kind;           // ModeButtonKind or IconKind
    WORD Bitmap;         // bitmap while the contrast slider is enabled
    WORD TextModeBitmap; // bitmap while it is disabled (Text mode)
};
enum : WORD { ModeButtonKind = 0, IconKind = 1, OwnerDrawEnd = 0xFFFF };

extern LevelSlider LevelSliders[LevelSliderCount]; // brightness, contrast
extern LevelPair WorkingLevels[ScanModeCount];     // the dialog's copy of LevelDefaults
extern WORD SelectedModeButton;                    // mode button shown pressed, 506..508
extern int UseTrackbars;                           // 1 trackbars, 0 the dialog's own scroll bars

INT_PTR CALLBACK ScannerSettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void InitScannerSettingsDialog(HWND dialog);
// Puts trackbars in the place of the scroll bars: 1, or 0 when one cannot be
// made and the scroll bars serve instead.
int CreateLevelTrackbars(HINSTANCE instance, HWND dialog, LevelSlider *sliders, int last);
void InitLevelScrollBars(HWND dialog, LevelSlider *sliders, int last);
// Shows the selected mode's levels, the contrast slider enabled or not.
void ShowModeLevels(HWND dialog);
void DrawModeButton(const OwnerDrawEntry *entry, const DRAWITEMSTRUCT *item);
void OnLevelScroll(HWND dialog, LevelSlider *sliders, int count, WPARAM code, HWND control);
void OnLevelEditKillFocus(HWND dialog, LevelSlider *sliders, int count, WPARAM notification);

// The value a scroll code moves a slider to from value, within its range;
// thumb is the position a released thumb gives.
SHORT ScrolledLevel(const LevelSlider *slider, SHORT value, WORD code, SHORT thumb);
// Reads a typed level: 1 and *value when text is a number of the slider's
// kind within its range, else 0.
int ParseLevel(const LevelSlider *slider, const char *text, SHORT *value);
