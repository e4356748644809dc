// Program entry: single instance, driver binding, initialisation, the main
// window, the panel keys and the message loop.
#include <windows.h>

#include "app/app.h"
#include "app/settings.h"
#include "app/startup_marks.h"
#include "driver/driver.h"
#include "panel/panel.h"
#include "res/resource.h"
#include "ui/tab_library.h"

static int FailStart(const char *text) {
    MessageBoxA(NULL, text, "Varnel", MB_OK);
    ReleaseLibraries();
    return 0;
}

static void RaiseRunningInstance(HWND running) {
    BringWindowToTop(running);
    ShowWindow(running, SW_SHOWNORMAL);
    SetActiveWindow(GetTopWindow(running));
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    HWND running = FindWindowA(MainWindowClass, NULL);
    if (running) {
        RaiseRunningInstance(running);
        return 0;
    }
    StartupMark("process started, program entered");
    AppInstance = instance;
    LoadStringA(instance, IDS_APP_TITLE, AppTitle, sizeof AppTitle);

    if (!BindDriver() || !(DeviceInfo.Capabilities & CapFrontPanel)) {
        char text[StartFailureTextSize];
        LoadStringA(instance, IDS_NO_DEVICE, text, sizeof text);
        return FailStart(text);
    }
    StartupMark("scanner driver VNLSCN32.DLL loaded and bound");
    InitializeApp();

    WNDCLASSA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_KEYPAD));
    windowClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    windowClass.lpszClassName = MainWindowClass;
    if (!RegisterClassA(&windowClass)) {
        return FailStart("Register Error!");
    }
    StartupMark("window class registered");
    MainWindow =
        CreateWindowExA(0, MainWindowClass, AppTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, NULL,
                        LoadMenuA(instance, MAKEINTRESOURCEA(IDR_MAIN_MENU)), instance, NULL);
    if (!MainWindow) {
        return FailStart("Create Window Error!");
    }
    StartupMark("main window created (menu, mail services asked)");
    PollTimer = SetTimer(MainWindow, PollTimerId, 100, NULL);
    if (!PollTimer) {
        ReleaseLibraries();
        return 0;
    }
    ShowStatusLine();
    ClearMessageLine();
    StartupMark("poll timer, status and message lines shown");
    RegisterPanelKeys(1);
    StartupMark("26 panel keys registered");
    ShowWindow(MainWindow, SW_SHOWMINIMIZED);
    UpdateWindow(MainWindow);

    MSG message;
    while (GetMessageA(&message, NULL, 0, 0)) {
        if (!Accelerators || !TranslateAcceleratorA(MainWindow, Accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    ReleaseLibraries();
    // The fax sheet bound the tab library when it was first opened.
    UnregisterTabLibrary(instance);
    return (int)message.wParam;
}
