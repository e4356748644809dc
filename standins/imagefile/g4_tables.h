// Run-length code tables of CCITT T.4, shared by the one- and two-dimensional
// codings and used here by the T.6 coder's horizontal mode.
#pragma once
#include <windows.h>

struct G4Code {
    BYTE Length; // bits
    WORD Bits;   // the code in the low Length bits, first bit most significant
};

extern const G4Code WhiteTerminating[64]; // runs 0..63
extern const G4Code BlackTerminating[64];
extern const G4Code WhiteMakeUp[27]; // runs 64, 128, ..., 1728
extern const G4Code BlackMakeUp[27];
extern const G4Code ExtendedMakeUp[13]; // runs 1792, 1856, ..., 2560, either colour
