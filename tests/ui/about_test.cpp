// Centring of dialogs and the About box, driven as real windows.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include "program_harness.h"
#include "res/resource.h"
#include "ui/about.h"
#include "ui/dialog_tools.h"

namespace {

const char AboutTitle[] = "About Varnel Keypad Program";

HINSTANCE Self() {
    return GetModuleHandleA(nullptr);
}

// A hidden top-level window with an exact screen rectangle.
HWND Popup(int x, int y, int width, int height) {
    return CreateWindowExA(0, "STATIC", "", WS_POPUP, x, y, width, height, nullptr, nullptr, Self(),
                           nullptr);
}

RECT RectOf(HWND window) {
    RECT r = {};
    GetWindowRect(window, &r);
    return r;
}

// Where a window of the given size belongs over a rectangle: halved
// differences, truncated toward zero.
POINT CentreOver(const RECT &outer, int width, int height) {
    POINT p;
    p.x = outer.left + ((outer.right - outer.left) - width) / 2;
    p.y = outer.top + ((outer.bottom - outer.top) - height) / 2;
    return p;
}

void ExpectAt(HWND window, int x, int y, int width, int height) {
    RECT r = RectOf(window);
    EXPECT_EQ(x, r.left);
    EXPECT_EQ(y, r.top);
    EXPECT_EQ(width, r.right - r.left);
    EXPECT_EQ(height, r.bottom - r.top);
}

class Centring : public ::testing::Test {
  protected:
    void TearDown() override {
        DestroyWindow(window);
        DestroyWindow(parent);
    }
    HWND parent = nullptr;
    HWND window = nullptr;
};

// One placement: parent and window as x, y, width, height; where the window
// must end up (its own place when it may not move).
struct Placement {
    const char *what;
    int parent[4];
    int window[4];
    int moved;
    int x, y;
};

const Placement Placements[] = {
    {"middle of the parent", {100, 80, 500, 300}, {0, 0, 200, 100}, 1, 250, 180},
    {"odd differences round down", {100, 80, 301, 201}, {0, 0, 200, 100}, 1, 150, 130},
    // -101 / 2 and -103 / 2 truncate to -50 and -51, not -51 and -52.
    {"larger window, halves toward zero", {300, 300, 100, 100}, {0, 0, 201, 203}, 1, 250, 249},
    {"larger window near the origin stays", {10, 10, 100, 100}, {40, 50, 300, 300}, 0, 40, 50},
    {"only y negative also stays", {400, 10, 400, 100}, {20, 30, 200, 300}, 0, 20, 30},
    {"parent off-screen, as when minimised",
     {-3000, -3000, 160, 30},
     {70, 90, 200, 100},
     0,
     70,
     90},
};

TEST_F(Centring, PlacesWindowOverItsParentNeverAtNegativeCoordinates) {
    for (const Placement &p : Placements) {
        SCOPED_TRACE(p.what);
        parent = Popup(p.parent[0], p.parent[1], p.parent[2], p.parent[3]);
        window = Popup(p.window[0], p.window[1], p.window[2], p.window[3]);
        EXPECT_EQ(p.moved, CenterWindowOver(parent, window));
        ExpectAt(window, p.x, p.y, p.window[2], p.window[3]);
        DestroyWindow(window);
        DestroyWindow(parent);
        window = parent = nullptr;
    }
}

TEST_F(Centring, NullParentMeansTheDesktop) {
    window = Popup(0, 0, 200, 100);
    EXPECT_EQ(1, CenterWindowOver(nullptr, window));
    POINT p = CentreOver(RectOf(GetDesktopWindow()), 200, 100);
    ExpectAt(window, p.x, p.y, 200, 100);
}

// Checks that the About box stands centred over its owner.
void ExpectCentredOver(HWND owner, const RECT &box) {
    int width = box.right - box.left;
    int height = box.bottom - box.top;
    POINT p = CentreOver(RectOf(owner), width, height);
    EXPECT_EQ(p.x, box.left);
    EXPECT_EQ(p.y, box.top);
}

class AboutBox : public ::testing::Test {
  protected:
    void SetUp() override { owner = Popup(150, 120, 640, 420); }
    void TearDown() override {
        if (box)
            DestroyWindow(box);
        DestroyWindow(owner);
    }
    void Open() {
        box = CreateDialogParamA(Self(), MAKEINTRESOURCEA(IDD_ABOUT), owner, AboutDialogProc, 0);
        ASSERT_NE(nullptr, box);
    }
    std::string Text(int control) {
        char text[256] = {};
        GetDlgItemTextA(box, control, text, sizeof text);
        return text;
    }
    HWND owner = nullptr;
    HWND box = nullptr;
};

TEST_F(AboutBox, ShowsTitleIconTextsAndOk) {
    Open();
    char title[128] = {};
    GetWindowTextA(box, title, sizeof title);
    EXPECT_STREQ(AboutTitle, title);
    EXPECT_NE(0, GetWindowLongA(box, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
    EXPECT_NE(0, SendDlgItemMessageA(box, IDC_ABOUT_ICON, STM_GETICON, 0, 0));
    EXPECT_EQ("This program configures the buttons on the Varnel and must be executed each time "
              "you wish to use the buttons.",
              Text(IDC_ABOUT_PURPOSE));
    EXPECT_EQ("Date: 2/9/1995   Version 1.00", Text(IDC_ABOUT_VERSION));
    EXPECT_EQ("OK", Text(IDOK));
}

// Word-wrapped in its own font, each text must fit its control.
TEST_F(AboutBox, TextsAreNotCutOff) {
    Open();
    for (int control : {IDC_ABOUT_PURPOSE, IDC_ABOUT_VERSION}) {
        HWND item = GetDlgItem(box, control);
        RECT client;
        GetClientRect(item, &client);
        RECT need = client;
        std::string text = Text(control);
        HDC dc = GetDC(item);
        HGDIOBJ old =
            SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(item, WM_GETFONT, 0, 0)));
        DrawTextA(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        SelectObject(dc, old);
        ReleaseDC(item, dc);
        EXPECT_LE(need.right, client.right) << control;
        EXPECT_LE(need.bottom, client.bottom) << control;
    }
}

TEST_F(AboutBox, OpensCentredOverItsOwner) {
    Open();
    ExpectCentredOver(owner, RectOf(box));
}

// Answers the modal box as a user would, noting where it stood.
struct ModalProbe {
    bool UseEscape;
    RECT BoxRect;
};

void AnswerAboutBox(HWND box, void *probe) {
    ModalProbe *modal = (ModalProbe *)probe;
    GetWindowRect(box, &modal->BoxRect);
    if (modal->UseEscape)
        PostMessageA(box, WM_KEYDOWN, VK_ESCAPE, 1);
    else
        PressButton(box, IDOK);
}

INT_PTR RunModal(HWND owner, ModalProbe *probe) {
    DialogAnswer answer(AboutTitle, AnswerAboutBox, probe);
    INT_PTR result =
        DialogBoxParamA(Self(), MAKEINTRESOURCEA(IDD_ABOUT), owner, AboutDialogProc, 0);
    EXPECT_EQ(1, answer.Wait()) << "the box did not come up";
    return result;
}

TEST_F(AboutBox, ModalBoxEndsWithOneOnOk) {
    ModalProbe probe = {false, {}};
    EXPECT_EQ(1, RunModal(owner, &probe));
    ExpectCentredOver(owner, probe.BoxRect);
    EXPECT_TRUE(IsWindowEnabled(owner));
}

// Escape reaches the box as the command IDCANCEL, which also ends it with 1.
TEST_F(AboutBox, EscapeAlsoEndsWithOne) {
    ModalProbe probe = {true, {}};
    EXPECT_EQ(1, RunModal(owner, &probe));
}

} // namespace
