#include "fuzz_replay.h"

#include <gtest/gtest.h>

namespace {

struct Replay {
    const char *Target;
    FuzzExercise Exercise;
    int Count;
};

BOOL CALLBACK ReplayOne(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR context) {
    Replay *replay = (Replay *)context;
    HRSRC found = FindResourceA(module, name, type);
    const BYTE *bytes = found ? (const BYTE *)LockResource(LoadResource(module, found)) : nullptr;
    const char *fault =
        bytes ? replay->Exercise(bytes, SizeofResource(module, found)) : "it cannot be loaded";
    // Inputs are numbered in their folder's order (see the generated .rc file).
    EXPECT_EQ(nullptr, fault) << replay->Target << " input " << (UINT_PTR)name << ": "
                              << (fault ? fault : "");
    replay->Count++;
    return TRUE;
}

} // namespace

int ReplaySavedInputs(const char *target, FuzzExercise exercise) {
    char type[64];
    lstrcpynA(type, target, sizeof type);
    CharUpperA(type);
    Replay replay = {target, exercise, 0};
    EnumResourceNamesA(GetModuleHandleA(nullptr), type, ReplayOne, (LONG_PTR)&replay);
    return replay.Count;
}

// Only the native fuzz runs check kept outputs with other programs.
void KeepFuzzOutput(const char *, const void *, DWORD) {}
