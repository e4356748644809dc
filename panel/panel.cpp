#include "panel/panel.h"

#include <stdio.h>

#include "app/app.h"
#include "app/settings.h"
#include "copy/copy_job.h"
#include "driver/driver.h"
#include "fax/fax_job.h"
#include "fax/profiles.h"
#include "panel/delivery_outcome.h"
#include "panel/panel_state.h"
#include "res/resource.h"
#include "ui/dialog_tools.h"

static const char *const PaperTags[] = {"LT ", "LG ", "A4 "};
static const char *const ScanModeTags[] = {"TXT ", "PHT ", "CPH "};
static const char *const ResolutionTags[] = {"DFT ", "FNE ", "SPR "};

// The job threads the Fax and Copy keys start. A service whose job is not
// part of the program counts as disabled.
static const LPTHREAD_START_ROUTINE FaxJob = FaxJobThread;
static const LPTHREAD_START_ROUTINE CopyJob = CopyJobThread;

static DWORD JobThreadId; // id of the last job thread started

decltype(&CreateThread) CreateJobThread = CreateThread;

// Picks a tag by index; an index the tables do not know shows the last tag
// rather than reading past the table.
static const char *Tag(const char *const *tags, WORD index) {
    return tags[index < 3 ? index : 2];
}

void ComposeStatusLine(char *out, int size) {
    WORD resolution = Destination == 0 ? FaxResolution : MailResolution;
    int level = ModeLevels[ScanMode < ScanModeCount ? ScanMode : 0].Brightness;
    // Levels are kept to 0..100 where the settings are read; bounded here as
    // well, the line stays 16 characters whatever they hold.
    if (level < 0) {
        level = 0;
    } else if (level > 100) {
        level = 100;
    }
    snprintf(out, size, "%s%s%s%03d%s", Tag(PaperTags, PaperSize), Tag(ScanModeTags, ScanMode),
             Tag(ResolutionTags, resolution), level, Destination == 0 ? " F" : " I");
}

void ShowStatusLine() {
    // A buffer per call: the main thread and a finishing job may compose at once.
    char line[20];
    ComposeStatusLine(line, sizeof line);
    ShowPanelText(LcdStatusLine, line);
}

void ClearMessageLine() {
    ShowPanelText(LcdMessageLine, "");
}

void ResetPanel() {
    ClearTypedNumber();
    SpeedDialKey = 0;
    for (int i = 0; i < ScanModeCount; i++) {
        ModeLevels[i] = LevelDefaults[i];
    }
    ShowStatusLine();
    ClearMessageLine();
}

void EndJob() {
    TypedLength = 0;
    SpeedDialKey = 0;
    EnableMenuItem(MainMenu, IDM_EXIT, MF_BYCOMMAND | MF_ENABLED);
    ShowStatusLine();
    NoteJobEnded();
    JobBusy = 0;
}

void ShowSpeedDialLabel() {
    ShowPanelText(LcdMessageLine, SpeedDialLabels[SpeedDialKey + (Destination ? 14 : 0)]);
}

// Admits a job: the thread starts on the posted start message.
static void AcceptJobKey(WORD startCode) {
    if (JobBusy || !IsDeviceReady()) {
        return;
    }
    CancelRequested = 0;
    JobBusy = 1;
    PostMessageA(MainWindow, WM_USER, startCode, 0);
}

static void StartJob(int enabled, LPTHREAD_START_ROUTINE job, const char *disabledText) {
    const char *text = disabledText;
    if (enabled && job) {
        EnableMenuItem(MainMenu, IDM_EXIT, MF_BYCOMMAND | MF_GRAYED);
        // Only the id is kept: the handle is closed so that no job leaves one behind.
        HANDLE thread = CreateJobThread(NULL, 0, job, NULL, 0, &JobThreadId);
        if (thread) {
            CloseHandle(thread);
            return;
        }
        EnableMenuItem(MainMenu, IDM_EXIT, MF_BYCOMMAND | MF_ENABLED);
        text = "Job Not Started!"; // the service is on: this start failed, not the function
    }
    JobBusy = 0;
    ShowPanelText(LcdMessageLine, text);
}

// Keeps the fax configuration page, when open, on the destination the key chose.
static void FollowDestinationInDialog() {
    if (!ActiveSettingsDialog) {
        return;
    }
    int id = Destination ? IDC_MAIL_PROFILE_BUTTON : IDC_FAX_PROFILE_BUTTON;
    int other = Destination ? IDC_FAX_PROFILE_BUTTON : IDC_MAIL_PROFILE_BUTTON;
    HWND button = GetDlgItem(ActiveSettingsDialog, id);
    SendMessageA(ActiveSettingsDialog, WM_COMMAND, id, (LPARAM)button);
    SendDlgItemMessageA(ActiveSettingsDialog, id, BM_SETCHECK, 1, 0);
    SendDlgItemMessageA(ActiveSettingsDialog, other, BM_SETCHECK, 0, 0);
}

int DestinationSwitchHeld;
static int WaitingDestinationSwitches;

static void ToggleDestination() {
    if (DestinationSwitchHeld) {
        WaitingDestinationSwitches++;
        return;
    }
    if (FaxProfileCount == 0) {
        ShowPanelText(LcdMessageLine, "No FAX Profile!");
        return;
    }
    if (MailProfileCount == 0) {
        ShowPanelText(LcdMessageLine, "No MAIL Profile!");
        return;
    }
    Destination = Destination == 0 ? 1 : 0;
    if (SpeedDialKey != 0) {
        ShowSpeedDialLabel();
    }
    ShowStatusLine();
    FollowDestinationInDialog();
}

void ReleaseDestinationSwitch() {
    DestinationSwitchHeld = 0;
    for (; WaitingDestinationSwitches > 0; WaitingDestinationSwitches--) {
        ToggleDestination();
    }
}

static void StepLevel(int step) {
    SHORT &level = ModeLevels[ScanMode < ScanModeCount ? ScanMode : 0].Brightness;
    int value = level + step;
    if (value > 100) {
        value = 0;
    } else if (value < 0) {
        value = 100;
    }
    level = (SHORT)value;
    ShowStatusLine();
}

static void TypeDigit(char digit) {
    SpeedDialKey = 0;
    if (TypedLength < 16) {
        TypedNumber[TypedLength++] = digit;
        TypedNumber[TypedLength] = '\0';
    }
}

// Steps an index through 0..last and back to 0.
static void Cycle(WORD *index, WORD last) {
    *index = *index >= last ? 0 : *index + 1;
    ShowStatusLine();
}

LRESULT HandlePanelMessage(WPARAM wParam, LPARAM lParam) {
    WORD code = LOWORD(wParam);
    int idle = !JobBusy;
    int anyService = FaxServiceEnabled || CopyServiceEnabled;
    if (code < PanelMessageKeyCount) {
        NotePanelKey();
    }
    switch (code) {
    case KeyFax:
        AcceptJobKey(PanelStartFax);
        break;
    case KeyCopy:
        AcceptJobKey(PanelStartCopy);
        break;
    case KeyScanMode:
        if (idle && anyService) {
            Cycle(&ScanMode, 2);
        }
        break;
    case KeyResolution:
        if (idle && FaxServiceEnabled) {
            if (Destination == 0) {
                Cycle(&FaxResolution, 1);
            } else {
                Cycle(&MailResolution, 2);
            }
        }
        break;
    case KeyStop:
        if (JobBusy) {
            CancelRequested = 1;
        } else {
            ResetPanel();
        }
        break;
    case KeyDestination:
        if (idle && FaxServiceEnabled) {
            ToggleDestination();
        }
        break;
    case KeyPaperSize:
        if (idle && anyService) {
            Cycle(&PaperSize, 2);
        }
        break;
    case KeyLevelUp:
        StepLevel(5);
        break;
    case KeyLevelDown:
        StepLevel(-5);
        break;
    case KeyDigit:
        TypeDigit((char)(lParam & 0xFF));
        break;
    case PanelStartCopy:
        StartJob(CopyServiceEnabled, CopyJob, "Copy Disabled!");
        break;
    case PanelStartFax:
        StartJob(FaxServiceEnabled, FaxJob, "Fax Disabled!");
        break;
    case PanelJobEvent:
        if ((lParam & 0xFF) == PanelEventAbort) {
            CancelRequested = 1;
        }
        break;
    default:
        if (code >= KeyFirstSpeedDial && code <= KeyLastSpeedDial && idle && FaxServiceEnabled) {
            TypedLength = 0;
            SpeedDialKey = (BYTE)(code - 8);
            ShowSpeedDialLabel();
        }
        break;
    }
    return 0;
}
