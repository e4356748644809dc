// T.6 coding of each line against the line above it: pass, vertical and
// horizontal modes over the changing elements of both lines.
#include "g4_encode.h"
#include "g4_tables.h"

namespace {

// Mode codes; the vertical ones are indexed by a1 - b1 + 3.
const G4Code PassCode = {4, 0b0001};
const G4Code HorizontalCode = {3, 0b001};
const G4Code VerticalCodes[7] = {
    {7, 0b0000010}, {6, 0b000010}, {3, 0b010}, {1, 0b1}, {3, 0b011}, {6, 0b000011}, {7, 0b0000011},
};
const G4Code EndOfLine = {12, 0b000000000001};

// Runs from this length on start with the 2560 make-up code.
const LONG LongestSingleMakeUp = 2560 + 64;

// The widest line whose buffers of (width + 4) changing elements stay below
// 4 GiB: beyond it their size wraps in the 32-bit build.
const LONG WidestLine = (LONG)(0xFFFFFFFFu / sizeof(LONG) - 4);

void FlushBlock(G4Coder *coder) {
    if (coder->BlockUsed == 0)
        return;
    if (!coder->Failed && !coder->Output(coder->Context, coder->Block, coder->BlockUsed))
        coder->Failed = 1;
    coder->BytesOut += coder->BlockUsed;
    coder->BlockUsed = 0;
}

void PutBits(G4Coder *coder, DWORD bits, int length) {
    coder->BitBuffer = (coder->BitBuffer << length) | bits;
    coder->BitCount += length;
    while (coder->BitCount >= 8) {
        coder->BitCount -= 8;
        coder->Block[coder->BlockUsed++] = (BYTE)(coder->BitBuffer >> coder->BitCount);
        if (coder->BlockUsed == sizeof coder->Block)
            FlushBlock(coder);
    }
}

void PutCode(G4Coder *coder, const G4Code &code) {
    PutBits(coder, code.Bits, code.Length);
}

void PutRun(G4Coder *coder, LONG run, bool black) {
    while (run >= LongestSingleMakeUp) {
        PutCode(coder, ExtendedMakeUp[12]);
        run -= 2560;
    }
    if (run >= 64) {
        LONG units = run / 64; // 1..40
        PutCode(coder, units <= 27 ? (black ? BlackMakeUp : WhiteMakeUp)[units - 1]
                                   : ExtendedMakeUp[units - 28]);
        run %= 64;
    }
    PutCode(coder, (black ? BlackTerminating : WhiteTerminating)[run]);
}

int FirstSetBit(BYTE b) {
    int n = 0;
    while (!(b & 0x80)) {
        b = (BYTE)(b << 1);
        n++;
    }
    return n;
}

// First pixel from x on whose bit, XORed with mask, is 1; width when none.
LONG NextSetPixel(const BYTE *line, LONG x, LONG width, BYTE mask) {
    LONG index = x >> 3;
    LONG bytes = (width + 7) >> 3;
    BYTE b = (BYTE)((line[index] ^ mask) & (0xFF >> (x & 7)));
    while (b == 0) {
        if (++index >= bytes)
            return width;
        b = (BYTE)(line[index] ^ mask);
    }
    LONG found = (index << 3) + FirstSetBit(b);
    return found < width ? found : width;
}

// Positions where the colour changes, starting from white before pixel 0:
// even entries turn black, odd ones white. Three entries of `width` follow.
void FindChanges(const G4Coder *coder, const BYTE *line, LONG *changes) {
    BYTE whiteMask = coder->InkBit ? 0x00 : 0xFF; // makes black pixels 1
    BYTE colourMask = 0x00;
    LONG n = 0;
    LONG x = NextSetPixel(line, 0, coder->Width, whiteMask);
    while (x < coder->Width) {
        changes[n++] = x;
        colourMask ^= 0xFF;
        x = NextSetPixel(line, x, coder->Width, whiteMask ^ colourMask);
    }
    changes[n] = changes[n + 1] = changes[n + 2] = coder->Width;
}

} // namespace

int G4Begin(G4Coder *coder, LONG width, BYTE inkBit, G4OutputProc output, void *context) {
    ZeroMemory(coder, sizeof *coder);
    if (width <= 0 || width > WidestLine)
        return 0;
    coder->Width = width;
    coder->InkBit = inkBit ? 1 : 0;
    coder->Output = output;
    coder->Context = context;
    SIZE_T bytes = ((SIZE_T)width + 4) * sizeof(LONG); // every pixel a change, then 3 ends
    coder->Reference = (LONG *)HeapAlloc(GetProcessHeap(), 0, bytes);
    coder->Coding = (LONG *)HeapAlloc(GetProcessHeap(), 0, bytes);
    if (!coder->Reference || !coder->Coding) {
        G4End(coder);
        return 0;
    }
    coder->Reference[0] = coder->Reference[1] = coder->Reference[2] = width;
    return 1;
}

int G4EncodeLine(G4Coder *coder, const BYTE *line) {
    if (coder->Failed || !coder->Coding)
        return 0;
    FindChanges(coder, line, coder->Coding);
    const LONG *reference = coder->Reference;
    const LONG *coding = coder->Coding;
    const LONG width = coder->Width;
    LONG a0 = -1; // imaginary white element before the line
    LONG q = 0;   // first coding-line change right of a0; its parity is a0's colour
    LONG p = 0;   // first reference-line change right of a0
    while (a0 < width) {
        while (reference[p] <= a0)
            p++;
        // b1 changes to the colour opposite a0's, so it has q's parity.
        LONG b = p + ((p ^ q) & 1);
        LONG b1 = reference[b];
        LONG b2 = reference[b + 1];
        LONG a1 = coding[q];
        if (b2 < a1) {
            PutCode(coder, PassCode);
            a0 = b2;
        } else if (a1 - b1 >= -3 && a1 - b1 <= 3) {
            PutCode(coder, VerticalCodes[a1 - b1 + 3]);
            a0 = a1;
            q++;
        } else {
            LONG a2 = coding[q + 1];
            bool black = (q & 1) != 0;
            PutCode(coder, HorizontalCode);
            PutRun(coder, a1 - (a0 < 0 ? 0 : a0), black);
            PutRun(coder, a2 - a1, !black);
            a0 = a2;
            q += 2;
        }
    }
    coder->Coding = coder->Reference;
    coder->Reference = (LONG *)coding;
    return !coder->Failed;
}

int G4Finish(G4Coder *coder) {
    if (coder->Failed || !coder->Coding)
        return 0;
    PutCode(coder, EndOfLine);
    PutCode(coder, EndOfLine);
    if (coder->BitCount > 0)
        PutBits(coder, 0, 8 - coder->BitCount);
    FlushBlock(coder);
    return !coder->Failed;
}

void G4End(G4Coder *coder) {
    if (coder->Reference)
        HeapFree(GetProcessHeap(), 0, coder->Reference);
    if (coder->Coding)
        HeapFree(GetProcessHeap(), 0, coder->Coding);
    coder->Reference = coder->Coding = nullptr;
}
