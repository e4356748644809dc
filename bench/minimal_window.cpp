// The smallest resident Win32 program: one window and a message loop. The
// start-up benchmark measures it beside KEYPAD32.EXE; once more built with
// COMMON_CONTROLS, when it also loads the common controls; and once with
// KEYPAD_WINDOW, when its window is KEYPAD32's: the same class (icon, cursor,
// brush), style and menu, so that what KEYPAD32 takes beyond it is its own
// start-up work.
#include <windows.h>
#include <commctrl.h>
#ifdef KEYPAD_WINDOW
#include "res/resource.h"
#endif

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
    HMENU menu = NULL;
#ifdef KEYPAD_WINDOW
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_KEYPAD));
    windowClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    menu = LoadMenuA(instance, MAKEINTRESOURCEA(IDR_MAIN_MENU));
#endif
    RegisterClassA(&windowClass);
    CreateWindowExA(0, "Minimal Window", "Minimal", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, NULL, menu, instance, NULL);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0)) {
        DispatchMessageA(&message);
    }
    return 0;
}
