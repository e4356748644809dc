// CCITT T.6 (Group 4) two-dimensional coder for bilevel lines. It keeps only
// the changing elements of two lines, the reference line and the coding line,
// and hands the code bytes to an output function in blocks.
#pragma once
#include <windows.h>

// Takes `count` code bytes; returns 1, or 0 to make the coder fail.
typedef int (*G4OutputProc)(void *context, const BYTE *bytes, DWORD count);

struct G4Coder {
    LONG Width;          // pixels per line
    BYTE InkBit;         // bit value of a black pixel in the lines given
    LONG *Reference;     // changing elements of the reference line, then Width x 3
    LONG *Coding;        // the same for the line being coded
    DWORD BitBuffer;     // pending code bits, most significant first
    int BitCount;        // bits pending in BitBuffer
    BYTE Block[4096];    // code bytes not yet handed out
    DWORD BlockUsed;     // bytes in Block
    DWORD BytesOut;      // code bytes made so far
    G4OutputProc Output; // receives the code bytes
    void *Context;       // passed to Output
    int Failed;          // Output refused or memory was short
};

// Prepares a coder for lines of `width` pixels (MSB first in each byte) whose
// black pixels have the bit value `inkBit`; the first reference line is white.
// 1/0; widths of 2^30 - 4 pixels and more are refused.
int G4Begin(G4Coder *coder, LONG width, BYTE inkBit, G4OutputProc output, void *context);
// Codes one line; bits past Width are ignored. 1/0.
int G4EncodeLine(G4Coder *coder, const BYTE *line);
// Ends the image with EOFB, pads to a byte and hands out the rest. 1/0.
int G4Finish(G4Coder *coder);
// Releases the line memory; safe after a failed G4Begin.
void G4End(G4Coder *coder);
