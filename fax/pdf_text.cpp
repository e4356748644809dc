// The invisible text over the pages of a PDF document and its glyph-less
// font (see pdf_text.h). The text is laid in the image's pixels: a word
// starts where its box starts, is as wide as its box (horizontal scaling)
// and as tall as its line, from the line's tallest letters to its
// descenders, so that a reader that highlights or finds it marks the word
// in the picture.
#include "fax/pdf_text.h"

#include <stdio.h>
#include <zlib.h>

namespace {

enum : WORD { UnitsPerEm = 1000, Glyphs = 2 };
enum : DWORD { FontRoom = 1024, GlyphMapCodes = 0x10000 };

// Bytes written front to back, big-endian as TrueType and CMaps have them.
struct Bytes {
    BYTE *Data;
    DWORD Used;
};

void Put8(Bytes *b, BYTE v) {
    b->Data[b->Used++] = v;
}

void Put16(Bytes *b, int v) {
    Put8(b, (BYTE)(v >> 8));
    Put8(b, (BYTE)v);
}

void Put32(Bytes *b, DWORD v) {
    Put16(b, (int)(v >> 16));
    Put16(b, (int)(v & 0xFFFF));
}

void PutText(Bytes *b, const char *text) {
    DWORD length = (DWORD)strlen(text);
    memcpy(b->Data + b->Used, text, length);
    b->Used += length;
}

int Allocate(PdfBytes *out, DWORD size) {
    out->Data = (BYTE *)HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
    out->Size = 0;
    return out->Data != NULL;
}

// The font's tables, each as a function that writes it.
void OsTwoTable(Bytes *b) {
    Put16(b, 4);           // version
    Put16(b, TextAdvance); // xAvgCharWidth
    Put16(b, 400);         // usWeightClass: normal
    Put16(b, 5);           // usWidthClass: medium
    Put16(b, 0);           // fsType: may be embedded
    const int scripts[8] = {500, 500, 0, 100, 500, 500, 0, 400};
    for (int v : scripts) {
        Put16(b, v); // sub- and superscript sizes and offsets
    }
    Put16(b, 50);  // yStrikeoutSize
    Put16(b, 250); // yStrikeoutPosition
    Put16(b, 0);   // sFamilyClass
    for (int i = 0; i < 10 + 16; i++) {
        Put8(b, 0); // PANOSE, Unicode ranges
    }
    PutText(b, "NONE");     // achVendID
    Put16(b, 0x40);         // fsSelection: regular
    Put16(b, 0x20);         // usFirstCharIndex
    Put16(b, 0x20);         // usLastCharIndex
    Put16(b, TextAscent);   // sTypoAscender
    Put16(b, TextDescent);  // sTypoDescender
    Put16(b, 0);            // sTypoLineGap
    Put16(b, TextAscent);   // usWinAscent
    Put16(b, -TextDescent); // usWinDescent
    Put32(b, 1);            // ulCodePageRange1: Latin 1
    Put32(b, 0);
    Put16(b, 500);  // sxHeight
    Put16(b, 700);  // sCapHeight
    Put16(b, 0);    // usDefaultChar
    Put16(b, 0x20); // usBreakChar
    Put16(b, 1);    // usMaxContext
}

// The blank maps to the empty glyph; the font is reached by glyph number.
void CmapTable(Bytes *b) {
    Put16(b, 0);
    Put16(b, 1);
    Put16(b, 3); // Windows, Unicode BMP
    Put16(b, 1);
    Put32(b, 12);
    const int format4[16] = {4,      32, 0,    4,      4,        1, 0, 0x20,
                             0xFFFF, 0,  0x20, 0xFFFF, 1 - 0x20, 1, 0, 0};
    for (int v : format4) {
        Put16(b, v);
    }
}

void HeadTable(Bytes *b) {
    Put32(b, 0x00010000);
    Put32(b, 0x00010000); // fontRevision
    Put32(b, 0);          // checkSumAdjustment, set when the font is whole
    Put32(b, 0x5F0F3CF5);
    Put16(b, 3); // flags: baseline at 0, left side bearing at 0
    Put16(b, UnitsPerEm);
    for (int i = 0; i < 4; i++) {
        Put32(b, 0); // created, modified
    }
    Put16(b, 0); // xMin, yMin, xMax, yMax
    Put16(b, TextDescent);
    Put16(b, TextAdvance);
    Put16(b, TextAscent);
    Put16(b, 0); // macStyle
    Put16(b, 3); // lowestRecPPEM
    Put16(b, 2); // fontDirectionHint
    Put16(b, 0); // indexToLocFormat: short
    Put16(b, 0); // glyphDataFormat
}

void HheaTable(Bytes *b) {
    Put32(b, 0x00010000);
    Put16(b, TextAscent);
    Put16(b, TextDescent);
    Put16(b, 0);           // lineGap
    Put16(b, TextAdvance); // advanceWidthMax
    Put16(b, 0);           // minLeftSideBearing
    Put16(b, 0);           // minRightSideBearing
    Put16(b, 0);           // xMaxExtent
    Put16(b, 1);           // caretSlopeRise
    for (int i = 0; i < 6; i++) {
        Put16(b, 0); // caretSlopeRun, caretOffset, reserved
    }
    Put16(b, 0);      // metricDataFormat
    Put16(b, Glyphs); // numberOfHMetrics
}

void HmtxTable(Bytes *b) {
    for (int i = 0; i < Glyphs; i++) {
        Put16(b, TextAdvance);
        Put16(b, 0);
    }
}

void LocaTable(Bytes *b) {
    for (int i = 0; i <= Glyphs; i++) {
        Put16(b, 0); // every glyph empty
    }
}

void MaxpTable(Bytes *b) {
    Put32(b, 0x00010000);
    Put16(b, Glyphs);
    for (int i = 0; i < 13; i++) {
        Put16(b, i == 4 ? 1 : 0); // maxZones 1, no points, contours or programs
    }
}

const char FamilyName[] = "KeypadText";

void NameTable(Bytes *b) {
    // family, subfamily, full name and PostScript name, in UTF-16BE
    const WORD ids[4] = {1, 2, 4, 6};
    const char *texts[4] = {FamilyName, "Regular", FamilyName, FamilyName};
    Put16(b, 0);
    Put16(b, 4);
    Put16(b, 6 + 4 * 12);
    int offset = 0;
    for (int i = 0; i < 4; i++) {
        Put16(b, 3);
        Put16(b, 1);
        Put16(b, 0x409);
        Put16(b, ids[i]);
        Put16(b, 2 * (int)strlen(texts[i]));
        Put16(b, offset);
        offset += 2 * (int)strlen(texts[i]);
    }
    for (const char *text : texts) {
        for (const char *c = text; *c; c++) {
            Put16(b, *c);
        }
    }
}

void PostTable(Bytes *b) {
    Put32(b, 0x00030000); // no glyph names
    Put32(b, 0);          // italicAngle
    Put16(b, -100);       // underlinePosition
    Put16(b, 50);         // underlineThickness
    Put32(b, 1);          // isFixedPitch
    for (int i = 0; i < 4; i++) {
        Put32(b, 0);
    }
}

void GlyfTable(Bytes *) {}

DWORD CheckSum(const BYTE *data, DWORD length) {
    DWORD sum = 0;
    for (DWORD i = 0; i < length; i += 4) {
        DWORD word = 0;
        for (DWORD k = 0; k < 4; k++) {
            word = word << 8 | (i + k < length ? data[i + k] : 0);
        }
        sum += word;
    }
    return sum;
}

// A word's codes: its UTF-16 units, without controls, a character beyond
// the basic plane as U+FFFD. Writes into out (when given); the count.
DWORD WordCodes(const WCHAR *text, DWORD length, WORD *out) {
    DWORD count = 0;
    for (DWORD i = 0; i < length; i++) {
        WORD unit = text[i];
        if (unit < 0x20) {
            continue;
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) {
            if (unit <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
                text[i + 1] <= 0xDFFF) {
                i++;
            }
            unit = 0xFFFD;
        }
        if (out) {
            out[count] = unit;
        }
        count++;
    }
    return count;
}

// Appends a code to a literal string, escaping what a string may not hold bare.
void PutCode(Bytes *b, WORD code) {
    const BYTE bytes[2] = {(BYTE)(code >> 8), (BYTE)code};
    for (BYTE byte : bytes) {
        if (byte == '(' || byte == ')' || byte == '\\') {
            Put8(b, '\\');
        } else if (byte == '\r') {
            Put8(b, '\\');
            byte = 'r';
        }
        Put8(b, byte);
    }
}

void PutNumber(Bytes *b, const char *format, long value) {
    b->Used += (DWORD)sprintf((char *)b->Data + b->Used, format, value);
}

// 72 / dots: a pixel in points, as few digits as it needs.
void FormatScale(double dots, char *out, int size) {
    int length = snprintf(out, size, "%.6f", 72.0 / dots);
    while (length > 1 && out[length - 1] == '0') {
        out[--length] = 0;
    }
    if (out[length - 1] == '.') {
        out[length - 1] = 0;
    }
}

LONG Clamp(LONG value, LONG low, LONG high) {
    return value < low ? low : value > high ? high : value;
}

} // namespace

void FreeBytes(PdfBytes *bytes) {
    if (bytes->Data) {
        HeapFree(GetProcessHeap(), 0, bytes->Data);
    }
    bytes->Data = NULL;
    bytes->Size = 0;
}

int Deflate(const BYTE *data, DWORD size, PdfBytes *out) {
    uLongf room = compressBound(size);
    if (!Allocate(out, (DWORD)room)) {
        return 0;
    }
    if (compress2(out->Data, &room, data, size, Z_BEST_COMPRESSION) != Z_OK) {
        FreeBytes(out);
        return 0;
    }
    out->Size = (DWORD)room;
    return 1;
}

int PageTextContent(const OcrResult *words, const PdfPageImage *page, BYTE rows[32],
                    PdfBytes *out) {
    // Room for the most each word can take: its operators, and each code
    // escaped twice, with the blank after it.
    DWORD room = 128;
    for (DWORD i = 0; i < words->WordCount; i++) {
        room += 64 + 4 * ((DWORD)words->Words[i].Length + 1);
    }
    if (!Allocate(out, room)) {
        return 0;
    }
    Bytes b = {out->Data, 0};
    char scaleX[16], scaleY[16];
    FormatScale(page->DotsX, scaleX, sizeof scaleX);
    FormatScale(page->DotsY, scaleY, sizeof scaleY);
    b.Used = (DWORD)sprintf((char *)b.Data, "q %s 0 0 %s 0 0 cm BT 3 Tr\n", scaleX, scaleY);
    LONG width = (LONG)page->Width, height = (LONG)page->Height;
    LONG size = 0, scaling = 100, x = 0, y = 0;
    for (DWORD i = 0; i < words->WordCount; i++) {
        const OcrWord *word = &words->Words[i];
        const WCHAR *text = words->Text + word->Text;
        DWORD count = WordCodes(text, word->Length, NULL);
        LONG left = Clamp(word->Left, 0, width), right = Clamp(word->Right, 0, width);
        LONG top = Clamp(word->LineTop, 0, height), bottom = Clamp(word->LineBottom, 0, height);
        if (!count || right <= left || bottom <= top) {
            continue;
        }
        // The line's height is the font's size; the word's width its scaling.
        LONG wordSize = bottom - top;
        double advance = (double)count * TextAdvance * wordSize / 1000;
        LONG wordScaling = Clamp((LONG)(100.0 * (right - left) / advance + 0.5), 1, 100000);
        LONG base = height - top - (wordSize * TextAscent + 500) / 1000;
        if (wordSize != size) {
            PutNumber(&b, "/T %ld Tf ", wordSize);
            size = wordSize;
        }
        if (wordScaling != scaling) {
            PutNumber(&b, "%ld Tz ", wordScaling);
            scaling = wordScaling;
        }
        PutNumber(&b, "%ld ", left - x);
        PutNumber(&b, "%ld Td(", base - y);
        x = left;
        y = base;
        WORD codes[64];
        for (DWORD at = 0; at < word->Length; at += 64) {
            DWORD part = word->Length - at < 64 ? word->Length - at : 64;
            DWORD made = WordCodes(text + at, part, codes);
            for (DWORD k = 0; k < made; k++) {
                rows[codes[k] >> 11] |= (BYTE)(1 << (codes[k] >> 8 & 7));
                PutCode(&b, codes[k]);
            }
        }
        // A blank after each word but a line's last, for the text copied.
        if (i + 1 < words->WordCount && !words->Words[i + 1].StartsLine) {
            PutCode(&b, 0x20);
            rows[0] |= 1;
        }
        PutText(&b, ")Tj\n");
    }
    PutText(&b, "ET Q\n");
    out->Size = b.Used;
    return 1;
}

int TextFontProgram(PdfBytes *out) {
    static void (*const Tables[])(Bytes *) = {OsTwoTable, CmapTable, GlyfTable, HeadTable,
                                              HheaTable,  HmtxTable, LocaTable, MaxpTable,
                                              NameTable,  PostTable};
    static const char Tags[][5] = {"OS/2", "cmap", "glyf", "head", "hhea",
                                   "hmtx", "loca", "maxp", "name", "post"};
    const int count = sizeof Tags / sizeof *Tags;
    if (!Allocate(out, FontRoom)) {
        return 0;
    }
    ZeroMemory(out->Data, FontRoom);
    Bytes b = {out->Data, 0};
    Put32(&b, 0x00010000);
    Put16(&b, count);
    Put16(&b, 128); // searchRange: 16 x 8, the largest power of two below count
    Put16(&b, 3);
    Put16(&b, count * 16 - 128);
    DWORD directory = b.Used, head = 0;
    b.Used += count * 16;
    for (int i = 0; i < count; i++) {
        DWORD start = b.Used;
        Tables[i](&b);
        DWORD length = b.Used - start;
        if (Tags[i][0] == 'h' && Tags[i][1] == 'e') {
            head = start;
        }
        Bytes entry = {out->Data, directory + 16 * (DWORD)i};
        PutText(&entry, Tags[i]);
        Put32(&entry, CheckSum(out->Data + start, length));
        Put32(&entry, start);
        Put32(&entry, length);
        b.Used = (b.Used + 3) & ~3u; // tables start on four-byte bounds
    }
    Bytes adjustment = {out->Data, head + 8};
    Put32(&adjustment, 0xB1B0AFBA - CheckSum(out->Data, b.Used));
    out->Size = b.Used;
    return 1;
}

int TextGlyphMap(PdfBytes *out) {
    if (!Allocate(out, 2 * GlyphMapCodes)) {
        return 0;
    }
    for (DWORD code = 0; code < GlyphMapCodes; code++) {
        out->Data[2 * code] = 0;
        out->Data[2 * code + 1] = 1;
    }
    out->Size = 2 * GlyphMapCodes;
    return 1;
}

int TextUnicodeMap(const BYTE rows[32], PdfBytes *out) {
    static const char Front[] = "/CIDInit/ProcSet findresource begin 12 dict begin begincmap\n"
                                "/CIDSystemInfo<</Registry(Adobe)/Ordering(UCS)/Supplement 0>>def\n"
                                "/CMapName/KeypadText-UCS def/CMapType 2 def\n"
                                "1 begincodespacerange <0000><FFFF> endcodespacerange\n";
    static const char Back[] = "endcmap CMapName currentdict/CMap defineresource pop end end\n";
    if (!Allocate(out, sizeof Front + sizeof Back + 256 * 24 + 3 * 32)) {
        return 0;
    }
    Bytes b = {out->Data, 0};
    PutText(&b, Front);
    // One range a row of 256 codes, at most 100 ranges a section; the codes
    // of a row differ only in their last byte, as a range's codes must.
    int marked[256], count = 0;
    for (int row = 0; row < 256; row++) {
        if (rows[row >> 3] & (1 << (row & 7))) {
            marked[count++] = row;
        }
    }
    for (int first = 0; first < count; first += 100) {
        int part = count - first < 100 ? count - first : 100;
        PutNumber(&b, "%ld beginbfrange\n", part);
        for (int k = first; k < first + part; k++) {
            b.Used += (DWORD)sprintf((char *)b.Data + b.Used, "<%02X00><%02XFF><%02X00>\n",
                                     marked[k], marked[k], marked[k]);
        }
        PutText(&b, "endbfrange\n");
    }
    PutText(&b, Back);
    out->Size = b.Used;
    return 1;
}
