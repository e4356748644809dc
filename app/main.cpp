// Program entry: single instance, driver binding, initialisation, the main
// window, the panel keys and the message loop.
#include <windows.h>

#include "app/app.h"
#include "app/settings.h"
#include "driver/driver.h"
#include "panel/panel.h"
#include "res/resource.h"
#include "ui/tab_library.h"

static int FailStart(const char *text) {
    MessageBoxA(NULL, text, "Varnel", MB_OK);
    ReleaseLibraries();
    UnregisterTabLibrary(AppInstance);
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
    AppInstance = instance;
    LoadStringA(instance, IDS_APP_TITLE, AppTitle, sizeof AppTitle);

    if (!BindDriver() || !(DeviceInfo.Capabilities & CapFrontPanel)) {
        char text[StartFailureTextSize];
        LoadStringA(instance, IDS_NO_DEVICE, text, sizeof text);
        return FailStart(text);
    }
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
    // Without the tab library the program runs on; only the fax sheet cannot open.
    RegisterTabLibrary(instance);
    MainWindow =
        CreateWindowExA(0, MainWindowClass, AppTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, NULL,
                        LoadMenuA(instance, MAKEINTRESOURCEA(IDR_MAIN_MENU)), instance, NULL);
    if (!MainWindow) {
        return FailStart("Create Window Error!");
    }
    PollTimer = SetTimer(MainWindow, PollTimerId, 100, NULL);
    if (!PollTimer) {
        ReleaseLibraries();
        UnregisterTabLibrary(instance);
        return 0;
    }
    ShowStatusLine();
    ClearMessageLine();
    RegisterPanelKeys(1);
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
    UnregisterTabLibrary(instance);
    return (int)message.wParam;
}
