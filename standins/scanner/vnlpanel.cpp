// VNLPANEL.EXE: the virtual scanner itself. Owns the shared state, shows the
// front panel (LCD, keys, feeder) and serves the control channel. The driver
// library starts it from its own folder when it is not running.
#include "device_control.h"
#include <stdio.h>

namespace {

enum : int {
    KeyButtonBase = 100,   // control id of key i's button: KeyButtonBase + i
    DigitButtonBase = 200, // control id of digit d's button
    Margin = 10,
    ButtonWidth = 84,
    ButtonHeight = 28,
    KeysPerRow = 9,
    LcdWidth = 16 * 14 + 2 * Margin,
    LcdHeight = 64,
};

const char WindowClass[] = "VarnelVirtualScanner";
HFONT LcdFont; // monospace face of the LCD
const RECT LcdArea = {Margin, Margin, Margin + LcdWidth, Margin + LcdHeight};
const RECT FeederArea = {2 * Margin + LcdWidth, Margin, 2 * Margin + LcdWidth + 300,
                         Margin + LcdHeight};

void CreateButtons(HWND window, HINSTANCE instance) {
    int top = 2 * Margin + LcdHeight, slot = 0;
    for (int key = 0; key < DeviceKeyCount; key++) {
        if (key == DeviceDigitKey)
            continue; // typed with the digit buttons below
        int x = Margin + (slot % KeysPerRow) * (ButtonWidth + 4);
        int y = top + (slot / KeysPerRow) * (ButtonHeight + 4);
        CreateWindowA("BUTTON", PanelKeys[key].Label, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, x, y,
                      ButtonWidth, ButtonHeight, window, (HMENU)(UINT_PTR)(KeyButtonBase + key),
                      instance, NULL);
        slot++;
    }
    int digitTop = top + ((slot + KeysPerRow - 1) / KeysPerRow) * (ButtonHeight + 4) + Margin;
    for (int digit = 0; digit < 10; digit++) {
        char label[2] = {(char)('0' + digit), 0};
        CreateWindowA("BUTTON", label, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON,
                      Margin + digit * (ButtonHeight + 8), digitTop, ButtonHeight + 4, ButtonHeight,
                      window, (HMENU)(UINT_PTR)(DigitButtonBase + digit), instance, NULL);
    }
}

void PaintPanel(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    char lines[2][DeviceLcdWidth + 1];
    LONG pages;
    LockDevice(&Device);
    for (int i = 0; i < 2; i++)
        snprintf(lines[i], sizeof(lines[i]), "%-16s", Device.State->Lcd[i]);
    pages = Device.State->PageCount;
    UnlockDevice(&Device);
    // A backlit LCD: dark segments on yellow-green glass.
    HBRUSH glass = CreateSolidBrush(RGB(168, 196, 96));
    FillRect(dc, &LcdArea, glass);
    DeleteObject(glass);
    FrameRect(dc, &LcdArea, (HBRUSH)GetStockObject(BLACK_BRUSH));
    HGDIOBJ oldFont = SelectObject(dc, LcdFont);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(24, 32, 16));
    for (int i = 0; i < 2; i++)
        TextOutA(dc, LcdArea.left + Margin, LcdArea.top + 8 + i * 26, lines[i], DeviceLcdWidth);
    SelectObject(dc, oldFont);
    char feeder[40];
    int length = snprintf(feeder, sizeof(feeder), "Pages in feeder: %ld", pages);
    FillRect(dc, &FeederArea, (HBRUSH)(COLOR_BTNFACE + 1));
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    TextOutA(dc, FeederArea.left, FeederArea.top + 8, feeder, length);
    EndPaint(window, &paint);
}

LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        if (id >= DigitButtonBase && id < DigitButtonBase + 10)
            PressPanelKey(DeviceDigitKey, (BYTE)('0' + id - DigitButtonBase));
        else if (id >= KeyButtonBase && id < KeyButtonBase + DeviceKeyCount)
            PressPanelKey(id - KeyButtonBase, 0);
        return 0;
    }
    case WM_DEVICE_REFRESH:
        InvalidateRect(window, &LcdArea, FALSE);
        InvalidateRect(window, &FeederArea, FALSE);
        return 0;
    case WM_PAINT:
        PaintPanel(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreatePanelWindow(HINSTANCE instance) {
    WNDCLASSA panelClass = {};
    panelClass.lpfnWndProc = PanelProc;
    panelClass.hInstance = instance;
    panelClass.hCursor = LoadCursor(NULL, IDC_ARROW);
    panelClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    panelClass.lpszClassName = WindowClass;
    if (!RegisterClassA(&panelClass))
        return NULL;
    LcdFont =
        CreateFontA(-22, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, "Courier New");
    // The LCD, three rows of keys and the row of digits.
    RECT frame = {0, 0, 2 * Margin + KeysPerRow * (ButtonWidth + 4),
                  4 * Margin + LcdHeight + 4 * (ButtonHeight + 4)};
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    AdjustWindowRect(&frame, style, FALSE);
    HWND window = CreateWindowA(WindowClass, "Varnel virtual scanner", style, CW_USEDEFAULT,
                                CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                                NULL, NULL, instance, NULL);
    if (window)
        CreateButtons(window, instance);
    return window;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    HANDLE ready = CreateEventA(NULL, TRUE, FALSE, DEVICE_READY_NAME);
    if (!ready)
        return 1;
    ResetEvent(ready); // a device that died left it set
    HANDLE running = CreateMutexA(NULL, TRUE, DEVICE_INSTANCE_NAME);
    if (!running || GetLastError() == ERROR_ALREADY_EXISTS)
        return 0; // another device is running
    HANDLE pipe = CreateControlPipe();
    if (!OpenDeviceLink(&Device) || !pipe)
        return 1;
    LockDevice(&Device);
    ResetDeviceState(Device.State);
    UnlockDevice(&Device);
    HWND window = CreatePanelWindow(instance);
    if (!window)
        return 1;
    LockDevice(&Device);
    Device.State->DeviceWindow = StoredWindow(window);
    Device.State->DeviceProcessId = GetCurrentProcessId();
    UnlockDevice(&Device);
    char config[MAX_PATH], folder[MAX_PATH];
    if (PathBesideModule(NULL, DEVICE_CONFIG_FILE, config, sizeof(config)) &&
        GetPrivateProfileStringA("Device", "PageFolder", "", folder, sizeof(folder), config))
        LoadFeeder(folder);
    HANDLE server = CreateThread(NULL, 0, ServeControlChannel, pipe, 0, NULL);
    if (!server)
        return 1;
    CloseHandle(server);
    ShowWindow(window, SW_SHOWNOACTIVATE); // never take the focus from the program in use
    SetEvent(ready);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    ResetEvent(ready);
    LockDevice(&Device);
    Device.State->DeviceWindow = 0;
    Device.State->DeviceProcessId = 0;
    UnlockDevice(&Device);
    DeleteObject(LcdFont);
    // The pipe thread waits in ConnectNamedPipe; ending the process ends it.
    ReleaseMutex(running);
    ExitProcess(0);
}
