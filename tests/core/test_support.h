// Helpers shared by the core tests: INI keys, files and the panel's state put
// back as they were, and paths next to the test executable.
#pragma once
#include <windows.h>
#include <string.h>

#include "panel/panel_state.h"

// Remembers one INI key and restores it (or removes it again) when it goes.
class IniKeyGuard {
  public:
    IniKeyGuard(const char *file, const char *section, const char *key);
    ~IniKeyGuard();
    void Set(const char *value) const;
    void Remove() const;

  private:
    char File[MAX_PATH];
    char Section[64];
    char Key[64];
    char Old[1024];
    bool Existed;
};

// Deletes a file on the way out when it did not exist on the way in.
class NewFileGuard {
  public:
    explicit NewFileGuard(const char *path);
    ~NewFileGuard();

  private:
    char Path[MAX_PATH];
    bool Existed;
};

// Keeps the panel's state (panel/panel_state.h) and puts it back on the way
// out, so that a case that changes the panel leaves nothing to the next.
class PanelStateGuard {
  public:
    PanelStateGuard()
        : Mode(ScanMode), Paper(PaperSize), FaxDpi(FaxResolution), MailDpi(MailResolution),
          Sendto(Destination), Key(SpeedDialKey), Length(TypedLength), Busy(JobBusy),
          Cancel(CancelRequested) {
        memcpy(Levels, ModeLevels, sizeof Levels);
        memcpy(Typed, TypedNumber, sizeof Typed);
    }
    ~PanelStateGuard() {
        ScanMode = Mode;
        PaperSize = Paper;
        FaxResolution = FaxDpi;
        MailResolution = MailDpi;
        Destination = Sendto;
        SpeedDialKey = Key;
        TypedLength = Length;
        JobBusy = Busy;
        CancelRequested = Cancel;
        memcpy(ModeLevels, Levels, sizeof Levels);
        memcpy(TypedNumber, Typed, sizeof Typed);
    }

  private:
    WORD Mode, Paper, FaxDpi, MailDpi, Sendto;
    LevelPair Levels[ScanModeCount];
    BYTE Key, Length;
    char Typed[TypedNumberSize];
    SHORT Busy;
    LONG Cancel;
};

// Points VARNEL.INI's scanner driver (through the caller's guard of that key)
// at the scripted test driver beside the test executable and loads it with an
// empty script. Its ScriptAnswer entry goes to answer; null when not loaded.
HMODULE LoadScriptedDriver(const IniKeyGuard &driverKey, void (**answer)(WORD, WORD, DWORD, BYTE));

// The folder of the running test executable followed by a file name.
void BesideTestExe(char *out, int size, const char *fileName);
// The Windows directory followed by a backslash and a file name.
void InWindowsDirectory(char *out, int size, const char *fileName);
// Writes text into a file, replacing it.
bool WriteTextFile(const char *path, const char *text);
// Reads a key of an INI file, "" when missing.
void ReadIni(const char *file, const char *section, const char *key, char *out, int size);
