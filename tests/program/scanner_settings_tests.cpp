// The scanner settings dialog of KEYPAD32.EXE end to end: the modes and
// their icons, the sliders and their edit boxes, what OK and Cancel leave in
// SYS.INI and on the panel, the scroll-bar fall-back and context help.
#include <gtest/gtest.h>

#include "program_fixture.h"

#include <commctrl.h>
#include <htmlhelp.h>

namespace {

class ScannerSettings : public ProgramFixture {
  protected:
    void SetUp() override {
        WriteFileText(SettingsFile, "[Varnel]\r\nCopyService=1\r\nBrightText=50\r\n"
                                    "BrightPhoto=40\r\nBrightCPhoto=60\r\nContrastPhoto=45\r\n"
                                    "ContrastCPhoto=55\r\n");
        ProgramFixture::SetUp();
    }
    void TearDown() override {
        SetEnvironmentVariableA("KEYPAD32_SLIDER_CLASS", NULL);
        ProgramFixture::TearDown();
    }
    // Opens the dialog with its menu command (Ctrl+S) and waits for its first paint.
    void Open() {
        OpenDialog(1011, "Scanner Settings");
        ASSERT_TRUE(Drawn(506, 1));
    }
    std::string Value(int id) { return ControlText(Dialog, id); }
    std::string Class(int id) {
        char name[64] = "";
        GetClassNameA(Item(id), name, sizeof name);
        return name;
    }
    int Slider(int id) {
        UINT get = Class(id) == "msctls_trackbar32" ? TBM_GETPOS : SBM_GETPOS;
        return (int)SendMessageA(Item(id), get, 0, 0);
    }
    // Waits until the control shows the bitmap; each control paints in its turn.
    bool Drawn(int id, int bitmapId) {
        return WaitUntil([&] { return BitmapMismatches(Item(id), bitmapId, 0) == 0; });
    }
    // Types into an edit box, which keeps the focus.
    void Type(int id, const char *text) {
        ASSERT_TRUE(FocusControl(Dialog, Item(id)));
        SendMessageA(Item(id), WM_SETTEXT, 0, (LPARAM)text);
    }
    void Leave() { ASSERT_TRUE(FocusControl(Dialog, Item(IDCANCEL))); }
    void Key(int id, WPARAM key) {
        PostMessageA(Item(id), WM_KEYDOWN, key, 1);
        PostMessageA(Item(id), WM_KEYUP, key, 0xC0000001);
    }
    bool Shows(int id, const char *text) {
        return WaitUntil([&] { return Value(id) == text; });
    }
    std::string Saved(const char *key) { return IniValue(SettingsFile, "Varnel", key); }

    // Page steps clamp at the ends; a typed value counts once the box is
    // left, and one out of range gives way to the previous value.
    void StepsAndTypedValues() {
        Type(510, "95");
        EXPECT_EQ(50, Slider(509)) << "taken before the box was left";
        Leave();
        EXPECT_EQ(95, Slider(509));
        Key(509, VK_NEXT);
        EXPECT_TRUE(Shows(510, "100"));
        EXPECT_EQ(100, Slider(509));
        // The page left shows that the page right before it stayed at 100.
        Key(509, VK_NEXT);
        Key(509, VK_PRIOR);
        EXPECT_TRUE(Shows(510, "90"));
        Type(510, "5");
        Leave();
        Key(509, VK_PRIOR);
        EXPECT_TRUE(Shows(510, "0"));
        EXPECT_EQ(0, Slider(509));
        Type(510, "42");
        Leave();
        for (const char *wrong : {"150", "-3", "4x"}) {
            Type(510, wrong);
            Leave();
            EXPECT_EQ("42", Value(510)) << wrong;
            EXPECT_EQ(42, Slider(509)) << wrong;
        }
    }
};

TEST_F(ScannerSettings, OpensOnTextWithoutContrastAndPhotoHasIt) {
    Start();
    ShowWindow(Keypad.Window, SW_RESTORE);
    SetWindowPos(Keypad.Window, NULL, 100, 80, 600, 500, SWP_NOZORDER);
    Open();
    RECT main, dialog;
    GetWindowRect(Keypad.Window, &main);
    GetWindowRect(Dialog, &dialog);
    EXPECT_NEAR(main.left + main.right, dialog.left + dialog.right, 1) << "centred";
    EXPECT_NEAR(main.top + main.bottom, dialog.top + dialog.bottom, 1) << "centred";

    EXPECT_EQ("msctls_trackbar32", Class(509));
    EXPECT_TRUE(Enabled(509));
    EXPECT_FALSE(Enabled(511));
    EXPECT_FALSE(Enabled(512));
    EXPECT_EQ("50", Value(510));
    EXPECT_EQ("50", Value(512));
    EXPECT_TRUE(Drawn(501, 18));
    EXPECT_TRUE(Drawn(505, 19));
    EXPECT_TRUE(Drawn(503, 20));
    EXPECT_TRUE(Drawn(200, 4));

    Click(507);
    EXPECT_TRUE(Enabled(511));
    EXPECT_TRUE(Enabled(512));
    EXPECT_EQ("40", Value(510));
    EXPECT_EQ("45", Value(512));
    EXPECT_EQ(45, Slider(511));
    EXPECT_TRUE(Drawn(501, 5));
    EXPECT_TRUE(Drawn(505, 6));
    EXPECT_TRUE(Drawn(503, 7));
    Click(506);
    EXPECT_FALSE(Enabled(512));
    EXPECT_TRUE(Drawn(501, 18));
    CloseDialog(IDCANCEL);
}

TEST_F(ScannerSettings, PageStepsClampAndTypedValuesCountOnLeavingTheBox) {
    Start();
    Open();
    StepsAndTypedValues();
    CloseDialog(IDCANCEL);
}

// Without trackbars the dialog's own scroll bars behave the same.
TEST_F(ScannerSettings, ScrollBarsServeWhenNoTrackbarCanBeMade) {
    SetEnvironmentVariableA("KEYPAD32_SLIDER_CLASS", "NoSuchSliderClass");
    Start();
    Open();
    EXPECT_EQ("ScrollBar", Class(509));
    EXPECT_FALSE(Enabled(511));
    StepsAndTypedValues();
    Click(508);
    EXPECT_TRUE(Enabled(511));
    EXPECT_EQ(55, Slider(511));
    CloseDialog(IDCANCEL);
}

// Each mode keeps its changes while the dialog is open; Cancel drops them.
// OK takes the boxes as they are, the focus still in one of them, and
// writes five keys; the panel takes them at its next reset.
TEST_F(ScannerSettings, CancelDropsChangesAndOkWritesThemForTheNextReset) {
    Start();
    EXPECT_EQ("LT TXT DFT 050 F", WaitForLcd(0, "LT TXT DFT 050 F"));
    Open();
    Click(507);
    Type(510, "33");
    Click(508);
    EXPECT_EQ("60", Value(510));
    Click(507);
    EXPECT_EQ("33", Value(510));
    CloseDialog(IDCANCEL);
    EXPECT_EQ("40", Saved("BrightPhoto"));

    Open();
    Type(510, "65");
    Click(507);
    EXPECT_EQ("40", Value(510)) << "Cancel kept a change";
    Type(512, "80");
    Key(512, VK_RETURN);
    ASSERT_TRUE(WaitForWindowGone(Dialog));
    EXPECT_EQ("65", Saved("BrightText"));
    EXPECT_EQ("40", Saved("BrightPhoto"));
    EXPECT_EQ("80", Saved("ContrastPhoto"));
    EXPECT_EQ("60", Saved("BrightCPhoto"));
    EXPECT_EQ("55", Saved("ContrastCPhoto"));
    EXPECT_EQ(std::string::npos, ReadFileText(SettingsFile).find("ContrastText"));
    ASSERT_TRUE(SettlePanel());
    EXPECT_EQ("LT TXT DFT 050 F", LcdStatus());
    PressKey("stop");
    EXPECT_EQ("LT TXT DFT 065 F", WaitForLcd(0, "LT TXT DFT 065 F"));
}

// A write that fails is reported and the dialog stays for another try.
TEST_F(ScannerSettings, AFailedWriteAtOkIsReported) {
    Start();
    Open();
    Type(510, "70");
    Leave();
    EXPECT_EQ("The scanner settings could not be written to SYS.INI.",
              PressWhileUnwritable(Dialog, IDOK, SettingsFile));
    EXPECT_TRUE(IsWindow(Dialog));
    CloseDialog(IDOK);
    EXPECT_EQ("70", Saved("BrightText"));
}

// The mode buttons show the keyboard focus; the sliders stand in the tab
// order where they are drawn and have the help topics of their rows; help is
// closed when the program ends.
TEST_F(ScannerSettings, FocusTabOrderAndContextHelp) {
    Start();
    Open();
    ASSERT_TRUE(FocusControl(Dialog, Item(IDOK)));
    std::vector<COLORREF> plain;
    ASSERT_TRUE(WaitUntil([&] {
        plain = ScreenPixels(Item(507));
        return BitmapMismatches(Item(507), 2, 0) == 0;
    }));
    ASSERT_TRUE(FocusControl(Dialog, Item(507)));
    EXPECT_TRUE(WaitUntil([&] { return ScreenPixels(Item(507)) != plain; })) << "no focus shown";
    ASSERT_TRUE(FocusControl(Dialog, Item(508)));
    EXPECT_TRUE(WaitUntil([&] { return ScreenPixels(Item(507)) == plain; }));

    Click(507);
    ASSERT_TRUE(WaitUntil([&] { return Enabled(512); }));
    int order[] = {508, 509, 510, 511, 512, IDOK};
    for (int i = 0; i + 1 < 6; i++) {
        EXPECT_EQ(Item(order[i + 1]), GetNextDlgTabItem(Dialog, Item(order[i]), FALSE))
            << "after " << order[i];
    }

    for (int id : {509, 511, 510, 512, 508}) {
        AskContextHelp(Dialog, id);
    }
    EXPECT_EQ((std::vector<DWORD>{16, 17, 16, 17, 15}), Help.Contexts());
    EXPECT_EQ(ProductFile("KELBO.CHM"), Help.File());
    CloseDialog(IDCANCEL);
    // The viewer's windows close with the program.
    EXPECT_EQ(0, ExitProgram(&Keypad));
    std::vector<UINT> commands(5, HH_HELP_CONTEXT);
    commands.push_back(HH_CLOSE_ALL);
    EXPECT_EQ(commands, Help.Commands());
}

} // namespace
