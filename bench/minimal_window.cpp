// The smallest resident Win32 program: one window and a message loop. The
// start-up benchmark measures it beside KEYPAD32.EXE, and once more built
// with COMMON_CONTROLS, when it also loads the common controls.
#include <windows.h>
#include <commctrl.h>

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
#ifdef COMMON_CONTROLS
    InitCommonControls();
#endif
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "Minimal Window";
    RegisterClassA(&windowClass);
    CreateWindowExA(0, "Minimal Window", "Minimal", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL, instance, NULL);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0)) {
        DispatchMessageA(&message);
    }
    return 0;
}
