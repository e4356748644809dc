// The main window: panel messages, the poll timer, the menu commands, the
// window position and the shutdown sequence.
#include <windows.h>

#include "app/app.h"
#include "app/run_entry.h"
#include "app/settings.h"
#include "driver/driver.h"
#include "fax/profiles.h"
#include "fax/telvex.h"
#include "panel/delivery_outcome.h"
#include "panel/panel.h"
#include "panel/panel_state.h"
#include "res/resource.h"
#include "ui/about.h"
#include "ui/copy_dialog.h"
#include "ui/create_profile.h"
#include "ui/fax_sheet.h"
#include "ui/help.h"
#include "help/contexts.h"
#include "ui/io_address_dialog.h"
#include "ui/scanner_settings.h"

void RegisterPanelKeys(int on) {
    for (WORD key = 0; key < PanelMessageKeyCount; key++) {
        KeyNotification notification = {(ULONG_PTR)MainWindow, WM_USER, key};
        CallDriverWith(DrvRegisterKey, &notification, key | (on ? 0xFF00 : 0));
    }
}

void SaveShutdownSettings() {
    const char *file = SettingsPathFor("SYS.INI");
    WriteIntSetting("Varnel", "StartRun", file, StartRunEnabled);
    WriteIntSetting("Varnel", "JobID", file, JobID);
    WriteIntSetting("Varnel", "Win-X", file, WindowRect.X);
    WriteIntSetting("Varnel", "Win-Y", file, WindowRect.Y);
    WriteIntSetting("Varnel", "Win-Width", file, WindowRect.Width);
    WriteIntSetting("Varnel", "Win-Height", file, WindowRect.Height);
    WriteIntSetting("Varnel", "FaxService", file, FaxServiceEnabled && FaxAvailable);
    WriteIntSetting("Varnel", "CopyService", file, CopyServiceEnabled && CopyAvailable);
    WriteIntSetting("Varnel FAX", "UseProfile", file, Destination);
}

static void CheckItem(UINT id, int checked) {
    CheckMenuItem(MainMenu, id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

static void GrayItem(UINT id) {
    EnableMenuItem(MainMenu, id, MF_BYCOMMAND | MF_GRAYED);
}

// A service's item: checked as the service, grey while it cannot start.
static void ShowServiceItem(UINT id, int available, int enabled) {
    if (available) {
        CheckItem(id, enabled);
    } else {
        CheckItem(id, 0);
        GrayItem(id);
    }
}

static void OnCreate(HWND window) {
    Accelerators = LoadAcceleratorsA(AppInstance, MAKEINTRESOURCEA(IDR_ACCELERATORS));
    if (WindowRect.X != -1 && WindowRect.Width != -1 && WindowRect.Height != -1) {
        SetWindowPos(window, NULL, WindowRect.X, WindowRect.Y, WindowRect.Width, WindowRect.Height,
                     SWP_NOZORDER);
    }
    MainMenu = GetMenu(window);
    if (!MainMenu) {
        return;
    }
    CheckItem(IDM_RUN_AT_START, StartRunEnabled);
    ShowServiceItem(IDM_FAX_SERVICE, FaxAvailable, FaxServiceEnabled);
    ShowServiceItem(IDM_COPY_SERVICE, CopyAvailable, CopyServiceEnabled);
    // Without the mail library no service answers and all three stay grey.
    BindTelvex();
    DWORD internet = 0;
    DWORD msn = 0;
    QueryMailServices(&internet, &msn);
    if (!internet) {
        GrayItem(IDM_CREATE_INTERNET_PROFILE);
    }
    if (!msn) {
        GrayItem(IDM_CREATE_MSN_PROFILE);
    }
    if (!internet || !msn) {
        GrayItem(IDM_CREATE_INTERNET_MSN_PROFILE);
    }
    // A library that has no outbox window of its own leaves the menu as it was.
    if (!TelvexOptional.OpenOutbox) {
        DeleteMenu(MainMenu, IDM_OUTBOX, MF_BYCOMMAND);
    }
    RegisterDeliveryOutcome();
}

// Keeps the restored window's placement, also while the window is maximised,
// so the next start opens at the size it is restored to. The saved record
// holds position and size, so a run without any move saves what it loaded.
static void TrackWindowRect(HWND window) {
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    if (!GetWindowPlacement(window, &placement)) {
        return;
    }
    // The normal rectangle is in work-area coordinates; the start places the
    // window in screen coordinates.
    RECT rect = placement.rcNormalPosition;
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoA(MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST), &monitor)) {
        OffsetRect(&rect, monitor.rcWork.left - monitor.rcMonitor.left,
                   monitor.rcWork.top - monitor.rcMonitor.top);
    }
    WindowRect.X = rect.left;
    WindowRect.Y = rect.top;
    WindowRect.Width = rect.right - rect.left;
    WindowRect.Height = rect.bottom - rect.top;
}

static void OnDestroy(HWND window) {
    if (PollTimer) {
        KillTimer(window, PollTimerId);
    }
    SaveShutdownSettings();
    RegisterPanelKeys(0);
    if (MessageHook) {
        UnhookWindowsHookEx(MessageHook);
    }
    CloseHelp();
    if (StartRunEnabled != StartRunAtLoad) {
        char entry[MAX_PATH] = "";
        if (StartRunEnabled) {
            lstrcpynA(entry, SettingsPathFor("EXE32\\KEYPAD32.EXE"), sizeof entry);
        }
        UpdateRunEntry(entry, ProgramFileName);
    }
    PostQuitMessage(0);
}

// Flips a service's check mark and takes the new state as the setting.
static void ToggleService(UINT id, int *enabled) {
    int checked = !(GetMenuState(MainMenu, id, MF_BYCOMMAND) & MF_CHECKED);
    CheckItem(id, checked);
    *enabled = checked;
}

// Set while the mail library's outbox window is open: F1 there reaches this
// window, which owns it.
static int OutboxOpen;

static void OnCommand(HWND window, WORD id) {
    switch (id) {
    case IDM_RUN_AT_START:
        StartRunEnabled = !StartRunEnabled;
        CheckItem(IDM_RUN_AT_START, StartRunEnabled);
        break;
    case IDM_EXIT:
        DestroyWindow(window);
        break;
    case IDM_HELP_TOPICS:
    case IDM_WIZARD_HELP:
        OpenHelpContents(window);
        break;
    case IDM_ABOUT:
        DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_ABOUT), window, AboutDialogProc, 0);
        break;
    case IDM_FAX_SERVICE:
        ToggleService(IDM_FAX_SERVICE, &FaxServiceEnabled);
        break;
    case IDM_COPY_SERVICE:
        ToggleService(IDM_COPY_SERVICE, &CopyServiceEnabled);
        break;
    case IDM_FAX_SETUP:
        if (!InitFaxService()) {
            FaxServiceEnabled = 0;
            FaxAvailable = 0;
            CheckItem(IDM_FAX_SERVICE, 0);
            GrayItem(IDM_FAX_SERVICE);
        } else if (OpenFaxSheet(window)) {
            LockProfileChoice();
            LoadFaxSettings();
            lstrcpynA(SettingsProfileName, FaxProfileName, ProfileNameSize);
            UnlockProfileChoice();
            FaxAvailable = 1;
            EnableMenuItem(MainMenu, IDM_FAX_SERVICE, MF_BYCOMMAND | MF_ENABLED);
        }
        break;
    case IDM_COPY_SETUP:
        // The dialog turns copying off when it finds the printer unusable.
        OpenCopyConfig(window);
        ShowServiceItem(IDM_COPY_SERVICE, CopyAvailable, CopyServiceEnabled);
        break;
    case IDM_SCANNER_DEFAULTS:
        DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_SCANNER_SETTINGS), window,
                        ScannerSettingsDialogProc, 0);
        break;
    case IDM_IO_ADDRESS_VERIFY:
        DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_IO_ADDRESS), window, IoAddressDialogProc,
                        0);
        break;
    case IDM_CREATE_FAX_PROFILE:
    case IDM_CREATE_MSN_PROFILE:
    case IDM_CREATE_INTERNET_PROFILE:
    case IDM_CREATE_INTERNET_MSN_PROFILE:
        if (DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_CREATE_PROFILE), window,
                            CreateProfileDialogProc, id) > 0) {
            EnableMenuItem(MainMenu, IDM_FAX_SERVICE, MF_BYCOMMAND | MF_ENABLED);
            ReleaseProfileLists();
            DiscoverProfiles();
        }
        break;
    case IDM_OUTBOX:
        if (TelvexOptional.OpenOutbox) {
            OutboxOpen = 1;
            TelvexOptional.OpenOutbox(window);
            OutboxOpen = 0;
        }
        break;
    default:
        // The set-up dialogs of services not yet in the program do nothing.
        break;
    }
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == DeliveryOutcomeMessage && message) {
        TakeDeliveryOutcome(wParam, lParam);
        return 0;
    }
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;
    case WM_MOVE:
        if (!IsIconic(window)) {
            TrackWindowRect(window);
        }
        return 0;
    case WM_SIZE:
        if (wParam == SIZE_RESTORED) {
            TrackWindowRect(window);
        }
        return 0;
    case WM_CLOSE:
        if (JobBusy) {
            return 0;
        }
        break;
    case WM_TIMER:
        if (wParam == PollTimerId) {
            PollPanel();
            ShowWaitingOutcome();
        }
        return 0;
    case WM_HELP:
        if (OutboxOpen) {
            HelpKeyPressed = 0;
            OpenHelpTopic(window, IDH_OUTBOX);
        }
        return TRUE;
    case WM_USER:
        return HandlePanelMessage(wParam, lParam);
    case WM_DESTROY:
        OnDestroy(window);
        return 0;
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
