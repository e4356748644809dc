// The dialog toolbox through real windows: tooltips, list-line tips, the
// help table, and frames and bitmaps drawn into memory bitmaps.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <vector>
#include "app/app.h"
#include "panel/panel_state.h"
#include "ui/dialog_tools.h"

namespace {

HINSTANCE Self() {
    return GetModuleHandleA(nullptr);
}

HWND Child(HWND parent, const char *cls, int id, int x, int y, int w, int h, DWORD style = 0) {
    return CreateWindowExA(0, cls, "", WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                           (HMENU)(INT_PTR)id, Self(), nullptr);
}

std::vector<TOOLINFOA> Tools(HWND tips) {
    std::vector<TOOLINFOA> tools;
    int count = (int)SendMessageA(tips, TTM_GETTOOLCOUNT, 0, 0);
    for (int i = 0; i < count; i++) {
        TOOLINFOA tool = {};
        tool.cbSize = TTTOOLINFOA_V1_SIZE;
        SendMessageA(tips, TTM_ENUMTOOLSA, i, (LPARAM)&tool);
        tools.push_back(tool);
    }
    return tools;
}

class Tips : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(BindCommonControls());
        dialog = CreateWindowExA(0, "STATIC", "", WS_POPUP, 100, 100, 300, 200, nullptr, nullptr,
                                 Self(), nullptr);
        ASSERT_NE(nullptr, dialog);
        button = Child(dialog, "BUTTON", 321, 20, 30, 40, 25);
        list = Child(dialog, "LISTBOX", 317, 10, 80, 200, 42, LBS_NOINTEGRALHEIGHT | WS_VSCROLL);
        SendMessageA(list, LB_SETITEMHEIGHT, 0, 16);
    }
    void TearDown() override { DestroyWindow(dialog); }
    HWND dialog = nullptr;
    HWND button = nullptr;
    HWND list = nullptr;
};

const TipTableEntry Table[] = {
    {30, 321, TipAreaTool}, {30, 321, TipWindowTool}, {0, 0, TipTableEnd}};

TEST_F(Tips, TableGivesWindowAndAreaToolsWithIdsThatKeepGrowing) {
    UINT areaIds[2];
    for (int opening = 0; opening < 2; opening++) {
        HWND tips = nullptr;
        CreateDialogTips(Self(), dialog, &tips, Table);
        ASSERT_NE(nullptr, tips);
        std::vector<TOOLINFOA> tools = Tools(tips);
        ASSERT_EQ(2u, tools.size());
        const TOOLINFOA *area = nullptr;
        const TOOLINFOA *own = nullptr;
        for (const TOOLINFOA &t : tools)
            (t.uFlags & TTF_IDISHWND ? own : area) = &t;
        ASSERT_TRUE(area && own);
        EXPECT_EQ(dialog, area->hwnd);
        // The button's rectangle in the dialog's client coordinates.
        EXPECT_EQ(20, area->rect.left);
        EXPECT_EQ(30, area->rect.top);
        EXPECT_EQ(60, area->rect.right);
        EXPECT_EQ(55, area->rect.bottom);
        EXPECT_EQ((UINT_PTR)button, own->uId);
        EXPECT_EQ(dialog, own->hwnd);
        areaIds[opening] = (UINT)area->uId;
        DestroyWindow(tips);
    }
    EXPECT_GE(areaIds[0], 0x4000u);
    EXPECT_EQ(areaIds[0] + 1, areaIds[1]);
}

TEST_F(Tips, ListLinesGetOneCallbackToolEachTheLastClipped) {
    HWND tips = nullptr;
    CreateDialogTips(Self(), dialog, &tips, Table + 2);
    ASSERT_NE(nullptr, tips);
    RECT client;
    GetClientRect(list, &client);
    ASSERT_EQ(42, client.bottom);
    EXPECT_EQ(3, AddListLineTips(tips, dialog, 317, FirstListTipId));
    std::vector<TOOLINFOA> tools = Tools(tips);
    ASSERT_EQ(3u, tools.size());
    for (const TOOLINFOA &t : tools) {
        UINT k = (UINT)t.uId - FirstListTipId;
        ASSERT_LT(k, 3u);
        EXPECT_EQ(list, t.hwnd);
        EXPECT_EQ((LONG)k * 16, t.rect.top);
        EXPECT_EQ(k == 2 ? 42 : (LONG)(k + 1) * 16, t.rect.bottom);
        EXPECT_EQ(client.right - GetSystemMetrics(SM_CXVSCROLL), t.rect.right);
    }
    int height = 0;
    EXPECT_EQ(2, CountListLines(list, &height));
    EXPECT_EQ(16, height);
    DestroyWindow(tips);
    // Exactly half a line does not count.
    EXPECT_EQ(2, ListLineTipCount(40, 16));
    EXPECT_EQ(1, ListLineTipCount(24, 16));
    EXPECT_EQ(2, ListLineTipCount(25, 16));
    EXPECT_EQ(3, ListLineTipCount(42, 16));
}

struct HelpCase {
    int first, last;
    DWORD fax, mail;
};

const HelpCase HelpTable[] = {
    {1, 1, 19, 19},     {203, 203, 3, 3},   {622, 622, 3, 3},   {204, 204, 30, 30},
    {623, 623, 30, 30}, {206, 206, 1, 29},  {624, 624, 1, 29},  {207, 207, 9, 28},
    {625, 625, 9, 28},  {208, 208, 10, 26}, {626, 626, 10, 26}, {209, 209, 11, 31},
    {627, 627, 11, 31}, {210, 210, 12, 27}, {628, 628, 12, 27}, {301, 314, 4, 4},
    {318, 318, 8, 8},   {635, 635, 8, 8},   {320, 320, 6, 6},   {321, 321, 5, 5},
    {322, 322, 7, 7},   {200, 200, 16, 16}, {502, 502, 16, 16}, {504, 504, 16, 16},
    {509, 510, 16, 16}, {501, 501, 17, 17}, {503, 503, 17, 17}, {505, 505, 17, 17},
    {511, 512, 17, 17}, {506, 506, 13, 13}, {507, 507, 14, 14}, {508, 508, 15, 15},
    {601, 601, 20, 20}, {602, 602, 21, 21}, {603, 610, 18, 18}, {634, 634, 18, 18},
    {631, 631, 2, 2},   {701, 704, 2, 2},   {632, 632, 22, 22}, {705, 708, 22, 22},
    {709, 709, 23, 23}, {211, 211, 32, 32}, {629, 629, 32, 32}, {212, 212, 34, 34},
};

TEST(HelpContexts, EveryRowForFaxAndEmailAndNothingElse) {
    int known = 0;
    for (const HelpCase &row : HelpTable) {
        for (int id = row.first; id <= row.last; id++, known++) {
            DWORD context = 0;
            EXPECT_EQ(1, HelpContextFor(id, 0, &context)) << id;
            EXPECT_EQ(row.fax, context) << id;
            EXPECT_EQ(1, HelpContextFor(id, 1, &context)) << id;
            EXPECT_EQ(row.mail, context) << id;
        }
    }
    int found = 0;
    for (int id = 0; id < 1000; id++) {
        DWORD context;
        found += HelpContextFor(id, 0, &context);
    }
    EXPECT_EQ(known, found);
    DWORD context = 77;
    EXPECT_EQ(0, HelpContextFor(IDCANCEL, 0, &context));
    EXPECT_EQ(0, HelpContextFor(317, 1, &context));
}

// The destination is read when help is asked, not when the control was made.
TEST_F(Tips, HelpOfAControlFollowsTheDestinationInForce) {
    HWND field = Child(dialog, "EDIT", 206, 0, 0, 50, 20);
    DWORD context = 0;
    Destination = 1;
    EXPECT_EQ(1, LookupHelpContext(field, &context));
    EXPECT_EQ(29u, context);
    Destination = 0;
    EXPECT_EQ(1, LookupHelpContext(field, &context));
    EXPECT_EQ(1u, context);
    EXPECT_EQ(0, LookupHelpContext(list, &context));
}

// A 32-bit top-down memory bitmap to draw into and read back.
struct Canvas {
    HDC Dc;
    HBITMAP Bitmap;
    DWORD *Pixels;
    int Width;
    Canvas(int width, int height, COLORREF fill) : Width(width) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void *bits = nullptr;
        Bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        Pixels = (DWORD *)bits;
        Dc = CreateCompatibleDC(nullptr);
        SelectObject(Dc, Bitmap);
        for (int i = 0; i < width * height; i++)
            Pixels[i] = Dib(fill);
    }
    ~Canvas() {
        DeleteDC(Dc);
        DeleteObject(Bitmap);
    }
    static DWORD Dib(COLORREF c) { return GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c); }
    COLORREF At(int x, int y) const {
        GdiFlush();
        DWORD p = Pixels[y * Width + x];
        return RGB(p >> 16 & 255, p >> 8 & 255, p & 255);
    }
};

TEST(Frames, RaisedAndSunkenEdgesPixelByPixel) {
    SystemLook = {RGB(10, 20, 30), RGB(200, 0, 0), RGB(0, 200, 0)};
    const COLORREF black = RGB(0, 0, 0);
    const COLORREF face = SystemLook.ButtonFaceColor, light = SystemLook.ButtonHighlightColor,
                   shadow = SystemLook.ButtonShadowColor;
    struct {
        int style;
        COLORREF outerTL, outerBR, innerTL, innerBR;
    } styles[] = {{FrameRaised, face, black, light, shadow},
                  {FrameSunken, black, light, shadow, face}};
    for (auto &s : styles) {
        SCOPED_TRACE(s.style);
        Canvas c(12, 12, RGB(255, 255, 255));
        Draw3DFrame(c.Dc, 1, 1, 11, 11, s.style);
        // Top-right corners belong to the bottom-right pen, bottom-left to the top-left one.
        EXPECT_EQ(s.outerTL, c.At(1, 1));
        EXPECT_EQ(s.outerTL, c.At(9, 1));
        EXPECT_EQ(s.outerBR, c.At(10, 1));
        EXPECT_EQ(s.outerBR, c.At(10, 10));
        EXPECT_EQ(s.outerBR, c.At(2, 10));
        EXPECT_EQ(s.outerTL, c.At(1, 10));
        EXPECT_EQ(s.innerTL, c.At(2, 2));
        EXPECT_EQ(s.innerBR, c.At(9, 2));
        EXPECT_EQ(s.innerBR, c.At(9, 9));
        EXPECT_EQ(s.innerTL, c.At(2, 9));
        EXPECT_EQ(RGB(255, 255, 255), c.At(3, 3));
        EXPECT_EQ(RGB(255, 255, 255), c.At(0, 0));
        EXPECT_EQ(RGB(255, 255, 255), c.At(11, 11));
    }
}

class TransparentBitmap : public ::testing::Test {
  protected:
    // 32 x 32: left half teal, right half red.
    void SetUp() override {
        for (int y = 0; y < 32; y++)
            for (int x = 16; x < 32; x++)
                source.Pixels[y * 32 + x] = Canvas::Dib(Red);
        // A bitmap is drawn from a context of its own, so none may hold it.
        DeleteDC(source.Dc);
        source.Dc = CreateCompatibleDC(nullptr);
    }
    const COLORREF Red = RGB(255, 0, 0);
    const COLORREF Blue = RGB(0, 0, 255);
    Canvas source{32, 32, RGB(0, 128, 128)};
    Canvas target{64, 64, RGB(0, 0, 255)};
};

TEST_F(TransparentBitmap, SmallerTargetIsScaledAndTealLeavesTheTarget) {
    DrawTransparentBitmap(target.Dc, source.Bitmap, TransparentColor, 10, 10, 21, 19, 0);
    EXPECT_EQ(Blue, target.At(12, 15)); // teal half
    EXPECT_EQ(Red, target.At(28, 15));  // red half, scaled into 21 columns
    EXPECT_EQ(Red, target.At(30, 28));  // last column and row of the area
    EXPECT_EQ(Blue, target.At(31, 15)); // right of the area
    EXPECT_EQ(Blue, target.At(28, 29)); // below the area
    EXPECT_EQ(Blue, target.At(28, 9));  // above the area
}

TEST_F(TransparentBitmap, LargerTargetGetsTheBitmapCentredAtItsOwnSize) {
    SetTextColor(target.Dc, RGB(9, 9, 9));
    SetBkColor(target.Dc, RGB(8, 8, 8));
    DrawTransparentBitmap(target.Dc, source.Bitmap, TransparentColor, 0, 10, 40, 30, 0);
    // Offset (4, -1): the bitmap covers x 4..35, y 9..40.
    EXPECT_EQ(Red, target.At(20, 9));
    EXPECT_EQ(Blue, target.At(20, 8));
    EXPECT_EQ(Red, target.At(35, 40));
    EXPECT_EQ(Blue, target.At(36, 40));
    EXPECT_EQ(Blue, target.At(20, 41));
    EXPECT_EQ(Blue, target.At(19, 20)); // teal half
    EXPECT_EQ(RGB(9, 9, 9), GetTextColor(target.Dc));
    EXPECT_EQ(RGB(8, 8, 8), GetBkColor(target.Dc));
    // With stretch it fills the whole area.
    DrawTransparentBitmap(target.Dc, source.Bitmap, TransparentColor, 0, 10, 40, 30, 1);
    EXPECT_EQ(Red, target.At(39, 39));
}

} // namespace
