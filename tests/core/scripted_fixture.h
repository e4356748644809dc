// A test whose scanner driver is the scripted one: VARNEL.INI names it for the
// test, it is loaded with an empty script and bound, and it is unbound and
// freed at the end, with the panel's state as it was. Answer sets what it
// answers to a request.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include "driver/driver.h"
#include "scripted_driver.h"
#include "test_support.h"

class ScriptedDriverTest : public ::testing::Test {
  protected:
    IniKeyGuard DriverKey{"VARNEL.INI", "ScanDLL", "DLL32"};
    PanelStateGuard Panel;
    HMODULE Script = nullptr;
    ScriptAnswerProc Answer = nullptr;

    void SetUp() override {
        Script = LoadScriptedDriver(DriverKey, &Answer);
        ASSERT_NE(nullptr, Script);
        ASSERT_EQ(1, BindDriver());
    }
    void TearDown() override {
        UnbindDriver();
        if (Script) {
            FreeLibrary(Script);
        }
    }
};
