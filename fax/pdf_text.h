// The invisible text over a page of a PDF document: the content stream that
// lays each word over the word in the image, and the small embedded font it
// is set in, whose glyphs are empty. A word's codes are its UTF-16 units, as
// two-byte character codes of a Type 0 font (Identity-H); every code is
// drawn with the font's one empty glyph, and the ToUnicode map turns the
// codes back into the text that is copied or searched.
#pragma once
#include "fax/pdf_document.h"

// The font's measures, in thousandths of its size: every glyph's advance,
// and the extent from the tallest letters down to the descenders that a
// line of text takes, which the content stream fits to the line in the image.
enum : int { TextAdvance = 500, TextAscent = 800, TextDescent = -200 };

// A block of bytes on the process heap; Data null when empty.
struct PdfBytes {
    BYTE *Data;
    DWORD Size;
};
void FreeBytes(PdfBytes *bytes);

// zlib's Flate of the bytes: 1, or 0 without memory.
int Deflate(const BYTE *data, DWORD size, PdfBytes *out);

// The content stream, not compressed, that lays the words of a page of the
// image's size and resolution as invisible text in the font named /T. Marks
// in `rows` (256 bits, one a high byte) the codes it used. 1, or 0 without
// memory; a page without words gives an empty stream.
int PageTextContent(const OcrResult *words, const PdfPageImage *page, BYTE rows[32], PdfBytes *out);
// The font program: a TrueType font of two empty glyphs.
int TextFontProgram(PdfBytes *out);
// The CIDToGIDMap of the font: every code to its empty glyph, not compressed.
int TextGlyphMap(PdfBytes *out);
// The ToUnicode CMap of the codes of the rows marked: each code is its own
// UTF-16 unit.
int TextUnicodeMap(const BYTE rows[32], PdfBytes *out);
