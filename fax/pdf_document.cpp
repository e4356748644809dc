// The PDF writer: one PDF/A-2b document written front to back as it goes.
// Each page's image data are copied from its file in blocks, so memory holds
// one block and a few numbers a page, never a page. A page is an image
// object, a content stream that draws it over the whole page (shared by the
// pages of one size) and the page object; resources and contents are named
// per page, so that a page can carry more of both: the invisible text of its
// words, in a font that the pages with text share (pdf_text.cpp).
#include "fax/pdf_document.h"

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>

#include "fax/pdf_text.h"

const char *const PdfOutcomeTexts[PdfOutcomeCount] = {
    "written",
    "the page file cannot be read",
    "the page file is neither a TIFF nor a JPEG file",
    "the page file is damaged",
    "the TIFF file holds more than one strip or image",
    "the TIFF file is not coded in Group 4",
    "the TIFF image is not upright black and white",
    "the JPEG file is neither baseline nor progressive DCT",
    "the JPEG image is neither grey nor colour",
    "the page file gives no resolution",
    "the page is smaller or larger than a PDF page may be",
    "not enough memory",
    "the document could not be written",
};

namespace {

enum : DWORD { BlockSize = 256 * 1024 };
enum : int { SizeText = 16 }; // a length in points: "14399.999"
// The image is drawn this many thousandths of a point inside the page's right
// and lower edges. A renderer that paints every pixel an image's edge touches
// (poppler does) then draws an image whose pixels fall on whole device pixels
// one to one, not stretched by a pixel and blurred; renderers that paint the
// pixels whose centres the image covers draw the same.
const DWORD EdgeInset = 1;

// The objects every document has; the pages' objects follow them.
enum : int {
    CatalogObject = 1,
    PagesObject = 2, // written last, when every page is known
    MetadataObject = 3,
    ProfileObject = 4,
    FirstFreeObject = 5,
};

// Numbers that grow one at a time: object offsets, page objects.
struct NumberList {
    DWORD *Items;
    DWORD Count;
    DWORD Capacity;
};

int Append(NumberList *list, DWORD value) {
    if (list->Count == list->Capacity) {
        DWORD capacity = list->Capacity ? list->Capacity * 2 : 64;
        DWORD *items = capacity < 0x10000000
                           ? (DWORD *)HeapAlloc(GetProcessHeap(), 0, capacity * sizeof(DWORD))
                           : NULL;
        if (!items) {
            return 0;
        }
        if (list->Items) {
            memcpy(items, list->Items, list->Count * sizeof(DWORD));
            HeapFree(GetProcessHeap(), 0, list->Items);
        }
        list->Items = items;
        list->Capacity = capacity;
    }
    list->Items[list->Count++] = value;
    return 1;
}

void ReleaseList(NumberList *list) {
    if (list->Items) {
        HeapFree(GetProcessHeap(), 0, list->Items);
    }
}

struct Writer {
    HANDLE File;
    DWORD Position;       // bytes of the document so far, buffered ones included
    DWORD Used;           // bytes waiting in Buffer
    int Outcome;          // the first failure; PdfWritten while none
    NumberList Offsets;   // where each object begins, by object number (0 unused)
    NumberList Pages;     // the page objects, in order
    DWORD Content;        // the content stream drawing a page of the size below
    DWORD ContentSize[2]; // width and height in thousandths of a point
    DWORD FirstSize[2];   // the page tree gives this size to every page of it
    DWORD Font;           // the text's font, reserved at the first page with text
    DWORD UnicodeMap;     // its ToUnicode map, written last
    BYTE Rows[32];        // the rows of 256 codes the text used, one bit each
    BYTE Buffer[BlockSize];
};

// The writer, kept from one document to the next: Wine gives a block this
// large pages of its own at every allocation, mapped and faulted in afresh,
// which cost a document of ten text pages up to a third of its time here.
Writer *volatile KeptWriter;

Writer *TakeWriter() {
    Writer *w = (Writer *)InterlockedExchangePointer((void *volatile *)&KeptWriter, NULL);
    return w ? w : (Writer *)HeapAlloc(GetProcessHeap(), 0, sizeof(Writer));
}

// Keeps the writer for the next document, unless one is kept already.
void GiveBackWriter(Writer *w) {
    if (InterlockedCompareExchangePointer((void *volatile *)&KeptWriter, w, NULL) != NULL) {
        HeapFree(GetProcessHeap(), 0, w);
    }
}

void Fail(Writer *w, int outcome) {
    if (w->Outcome == PdfWritten) {
        w->Outcome = outcome;
    }
}

void Flush(Writer *w) {
    DWORD written = 0;
    if (w->Used &&
        (!WriteFile(w->File, w->Buffer, w->Used, &written, NULL) || written != w->Used)) {
        Fail(w, PdfWriteFailed);
    }
    w->Used = 0;
}

// Room for size more bytes in the buffer and in the document: 1/0.
int MakeRoom(Writer *w, DWORD size) {
    if (size > 0xFFFFFFFF - w->Position) {
        Fail(w, PdfWriteFailed); // beyond what the cross-reference table can point at
    }
    if (w->Used + size > BlockSize) {
        Flush(w);
    }
    return w->Outcome == PdfWritten;
}

void Put(Writer *w, const void *bytes, DWORD size) {
    const BYTE *from = (const BYTE *)bytes;
    while (size && MakeRoom(w, size < BlockSize ? size : BlockSize)) {
        DWORD part = size < BlockSize - w->Used ? size : BlockSize - w->Used;
        memcpy(w->Buffer + w->Used, from, part);
        w->Used += part;
        w->Position += part;
        from += part;
        size -= part;
    }
}

void Text(Writer *w, const char *format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length < 0 || length >= (int)sizeof text) {
        Fail(w, PdfWriteFailed);
        return;
    }
    Put(w, text, (DWORD)length);
}

// Copies size bytes of a file from offset into the document, a block at a time.
void CopyData(Writer *w, HANDLE file, DWORD offset, DWORD size) {
    if (SetFilePointer(file, (LONG)offset, NULL, FILE_BEGIN) != offset) {
        Fail(w, PdfPageUnreadable);
    }
    while (size && MakeRoom(w, size < BlockSize ? size : BlockSize)) {
        DWORD part = size < BlockSize - w->Used ? size : BlockSize - w->Used, got = 0;
        if (!ReadFile(file, w->Buffer + w->Used, part, &got, NULL) || got != part) {
            Fail(w, PdfPageUnreadable); // the file changed under the writer
            return;
        }
        w->Used += part;
        w->Position += part;
        size -= part;
    }
}

// Starts object number; 0 for the next free one. Returns its number.
DWORD BeginObject(Writer *w, DWORD number) {
    if (!number) {
        number = w->Offsets.Count;
        if (!Append(&w->Offsets, 0)) {
            Fail(w, PdfNoMemory);
            return 0;
        }
    }
    w->Offsets.Items[number] = w->Position;
    Text(w, "%lu 0 obj\n", (unsigned long)number);
    return number;
}

// An object number for an object written later.
DWORD ReserveObject(Writer *w) {
    DWORD number = w->Offsets.Count;
    if (!Append(&w->Offsets, 0)) {
        Fail(w, PdfNoMemory);
        return 0;
    }
    return number;
}

void EndObject(Writer *w) {
    Text(w, "\nendobj\n");
}

void BeginStream(Writer *w, DWORD length) {
    Text(w, "/Length %lu>>\nstream\n", (unsigned long)length);
}

void EndStream(Writer *w) {
    Text(w, "\nendstream");
    EndObject(w);
}

// A length given in thousandths of a point, in points: "612", "595.44".
void FormatPoints(DWORD thousandths, char *out) {
    int length = snprintf(out, SizeText, "%lu.%03lu", (unsigned long)(thousandths / 1000),
                          (unsigned long)(thousandths % 1000));
    while (out[length - 1] == '0') {
        out[--length] = 0;
    }
    if (out[length - 1] == '.') {
        out[length - 1] = 0;
    }
}

// Text for XML: the five characters XML reserves as references, controls dropped.
DWORD EscapeXml(const char *text, char *out) {
    DWORD used = 0;
    for (const char *c = text; *c; c++) {
        const char *as = *c == '&'    ? "&amp;"
                         : *c == '<'  ? "&lt;"
                         : *c == '>'  ? "&gt;"
                         : *c == '"'  ? "&quot;"
                         : *c == '\'' ? "&apos;"
                                      : NULL;
        if (as) {
            DWORD length = (DWORD)strlen(as);
            if (out) {
                memcpy(out + used, as, length);
            }
            used += length;
        } else if ((BYTE)*c >= 0x20) {
            if (out) {
                out[used] = *c;
            }
            used++;
        }
    }
    return used;
}

// The XMP packet: the PDF/A identification, title, creator and creation date.
// Fills out (when given) and returns its length.
DWORD Metadata(const PdfDocumentRecord *record, const char *created, char *out) {
    static const char *const Parts[] = {
        ("<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
         "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
         "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
         "<rdf:Description rdf:about=\"\" xmlns:pdfaid=\"http://www.aiim.org/pdfa/ns/id/\"\n"
         " xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" "
         "xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
         "<pdfaid:part>2</pdfaid:part>\n<pdfaid:conformance>B</pdfaid:conformance>\n"
         "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">"),
        "</rdf:li></rdf:Alt></dc:title>\n<xmp:CreatorTool>", "</xmp:CreatorTool>\n<xmp:CreateDate>",
        ("</xmp:CreateDate>\n</rdf:Description>\n</rdf:RDF>\n</x:xmpmeta>\n"
         "<?xpacket end=\"w\"?>")};
    const char *const values[] = {record->Title, record->Creator, created};
    DWORD used = 0;
    for (int i = 0; i < 4; i++) {
        DWORD length = (DWORD)strlen(Parts[i]);
        if (out) {
            memcpy(out + used, Parts[i], length);
        }
        used += length;
        if (i < 3) {
            used += EscapeXml(values[i], out ? out + used : NULL);
        }
    }
    return used;
}

// Header, catalogue with the output intent, metadata and colour profile.
void WriteFront(Writer *w, const PdfDocumentRecord *record, const SYSTEMTIME *now) {
    // The comment of four bytes above 127 marks the file as binary.
    Text(w, "%%PDF-1.7\n%%\xE2\xE3\xCF\xD3\n");
    BeginObject(w, CatalogObject);
    Text(w,
         "<</Type/Catalog/Pages %d 0 R/Metadata %d 0 R/OutputIntents[<</Type/OutputIntent"
         "/S/GTS_PDFA1/OutputConditionIdentifier(sRGB)/DestOutputProfile %d 0 R>>]>>",
         PagesObject, MetadataObject, ProfileObject);
    EndObject(w);
    char created[32];
    snprintf(created, sizeof created, "%04u-%02u-%02uT%02u:%02u:%02uZ", now->wYear, now->wMonth,
             now->wDay, now->wHour, now->wMinute, now->wSecond);
    DWORD length = Metadata(record, created, NULL);
    char *xmp = (char *)HeapAlloc(GetProcessHeap(), 0, length);
    if (!xmp) {
        Fail(w, PdfNoMemory);
        return;
    }
    Metadata(record, created, xmp);
    BeginObject(w, MetadataObject);
    Text(w, "<</Type/Metadata/Subtype/XML");
    BeginStream(w, length);
    Put(w, xmp, length);
    EndStream(w);
    HeapFree(GetProcessHeap(), 0, xmp);
    BeginObject(w, ProfileObject);
    Text(w, "<</N 3/Filter/FlateDecode");
    BeginStream(w, record->ColourProfileSize);
    Put(w, record->ColourProfile, record->ColourProfileSize);
    EndStream(w);
}

// The image object of a page: its data as the file holds them.
DWORD WriteImage(Writer *w, HANDLE file, const PdfPageImage *page) {
    DWORD image = BeginObject(w, 0);
    Text(w, "<</Subtype/Image/Width %lu/Height %lu/ColorSpace/%s/BitsPerComponent %d",
         (unsigned long)page->Width, (unsigned long)page->Height,
         page->Components == 3 ? "DeviceRGB" : "DeviceGray", page->Kind == PdfPageG4 ? 1 : 8);
    if (page->Kind == PdfPageG4) {
        Text(w, "/Filter/CCITTFaxDecode/DecodeParms<</K -1/Columns %lu/Rows %lu%s>>",
             (unsigned long)page->Width, (unsigned long)page->Height,
             page->BlackIs1 ? "/BlackIs1 true" : "");
    } else {
        Text(w, "/Filter/DCTDecode");
    }
    BeginStream(w, page->DataSize);
    CopyData(w, file, page->DataOffset, page->DataSize);
    EndStream(w);
    return image;
}

// A stream object of the bytes, Flate-compressed, its dictionary beginning
// with `entries`: its number, or 0 without memory (and nothing written).
DWORD WriteFlateStream(Writer *w, const char *entries, const PdfBytes *bytes) {
    PdfBytes packed = {};
    if (!bytes->Data || !Deflate(bytes->Data, bytes->Size, &packed)) {
        return 0;
    }
    DWORD number = BeginObject(w, 0);
    Text(w, "<<%s/Filter/FlateDecode", entries);
    BeginStream(w, packed.Size);
    Put(w, packed.Data, packed.Size);
    EndStream(w);
    FreeBytes(&packed);
    return number;
}

// The text's font before the first page with text: its program, glyph map,
// descriptor, CID font and the Type 0 font that pages name, whose ToUnicode
// map is written last (WriteTextFont), when every code is known. 1, or 0
// without memory: the pages then go without text.
int BeginTextFont(Writer *w) {
    PdfBytes program = {}, map = {};
    char length[48];
    DWORD file = 0, glyphs = 0;
    if (TextFontProgram(&program)) {
        snprintf(length, sizeof length, "/Length1 %lu", (unsigned long)program.Size);
        file = WriteFlateStream(w, length, &program);
    }
    if (file && TextGlyphMap(&map)) {
        glyphs = WriteFlateStream(w, "", &map);
    }
    FreeBytes(&program);
    FreeBytes(&map);
    if (!glyphs) {
        return 0;
    }
    DWORD descriptor = BeginObject(w, 0);
    Text(w,
         "<</Type/FontDescriptor/FontName/KeypadText/Flags 5/FontBBox[0 %d %d %d]/ItalicAngle 0"
         "/Ascent %d/Descent %d/CapHeight %d/StemV 80/FontFile2 %lu 0 R>>",
         TextDescent, TextAdvance, TextAscent, TextAscent, TextDescent, TextAscent,
         (unsigned long)file);
    EndObject(w);
    DWORD cid = BeginObject(w, 0);
    Text(w,
         "<</Type/Font/Subtype/CIDFontType2/BaseFont/KeypadText/CIDSystemInfo<</Registry(Adobe)"
         "/Ordering(Identity)/Supplement 0>>/FontDescriptor %lu 0 R/DW %d/CIDToGIDMap %lu 0 R>>",
         (unsigned long)descriptor, TextAdvance, (unsigned long)glyphs);
    EndObject(w);
    w->Font = ReserveObject(w);
    w->UnicodeMap = ReserveObject(w);
    BeginObject(w, w->Font);
    Text(w,
         "<</Type/Font/Subtype/Type0/BaseFont/KeypadText/Encoding/Identity-H"
         "/DescendantFonts[%lu 0 R]/ToUnicode %lu 0 R>>",
         (unsigned long)cid, (unsigned long)w->UnicodeMap);
    EndObject(w);
    return 1;
}

// The ToUnicode map of the codes the pages used.
void WriteTextFont(Writer *w) {
    PdfBytes map = {}, packed = {};
    if (!TextUnicodeMap(w->Rows, &map) || !Deflate(map.Data, map.Size, &packed)) {
        Fail(w, PdfNoMemory);
    } else {
        BeginObject(w, w->UnicodeMap);
        Text(w, "<</Filter/FlateDecode");
        BeginStream(w, packed.Size);
        Put(w, packed.Data, packed.Size);
        EndStream(w);
    }
    FreeBytes(&map);
    FreeBytes(&packed);
}

// The content stream of a page's invisible text: its number, or 0 for a
// page without words, or when memory is short (the page goes without text).
DWORD WritePageText(Writer *w, const OcrResult *words, const PdfPageImage *page) {
    if (!words || !words->WordCount || (!w->Font && !BeginTextFont(w))) {
        return 0;
    }
    PdfBytes content = {};
    DWORD text =
        PageTextContent(words, page, w->Rows, &content) ? WriteFlateStream(w, "", &content) : 0;
    FreeBytes(&content);
    return text;
}

// One page from one page file, with its words when it has any.
void WritePage(Writer *w, const char *path, const OcrResult *words) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        Fail(w, PdfPageUnreadable);
        return;
    }
    PdfPageImage page;
    int outcome = ReadPageImage(file, &page);
    if (outcome != PdfWritten) {
        Fail(w, outcome);
        CloseHandle(file);
        return;
    }
    DWORD image = WriteImage(w, file, &page);
    CloseHandle(file);
    DWORD text = WritePageText(w, words, &page);
    DWORD size[2] = {(DWORD)(page.Width * 72000.0 / page.DotsX + 0.5),
                     (DWORD)(page.Height * 72000.0 / page.DotsY + 0.5)};
    char width[SizeText], height[SizeText];
    if (!w->Content || memcmp(size, w->ContentSize, sizeof size) != 0) {
        char inset[3][SizeText], drawing[96];
        FormatPoints(size[0] - EdgeInset, inset[0]);
        FormatPoints(size[1] - EdgeInset, inset[1]);
        FormatPoints(EdgeInset, inset[2]);
        int length = snprintf(drawing, sizeof drawing, "q %s 0 0 %s 0 %s cm/I Do Q", inset[0],
                              inset[1], inset[2]);
        w->Content = BeginObject(w, 0);
        Text(w, "<<");
        BeginStream(w, (DWORD)length);
        Put(w, drawing, (DWORD)length);
        EndStream(w);
        memcpy(w->ContentSize, size, sizeof size);
    }
    if (!w->Pages.Count) {
        memcpy(w->FirstSize, size, sizeof size);
    }
    DWORD number = BeginObject(w, 0);
    if (!Append(&w->Pages, number)) {
        Fail(w, PdfNoMemory);
    }
    Text(w, "<</Type/Page/Parent %d 0 R", PagesObject);
    if (memcmp(size, w->FirstSize, sizeof size) != 0) {
        FormatPoints(size[0], width);
        FormatPoints(size[1], height);
        Text(w, "/MediaBox[0 0 %s %s]", width, height);
    }
    Text(w, "/Resources<</XObject<</I %lu 0 R>>", (unsigned long)image);
    if (text) {
        Text(w, "/Font<</T %lu 0 R>>>>/Contents[%lu 0 R %lu 0 R]>>", (unsigned long)w->Font,
             (unsigned long)w->Content, (unsigned long)text);
    } else {
        Text(w, ">>/Contents %lu 0 R>>", (unsigned long)w->Content);
    }
    EndObject(w);
}

// The document's identifier: two equal strings of 16 bytes mixed from the
// time, the target, the document's size and its pages.
void FormatIdentifier(const Writer *w, const char *target, const SYSTEMTIME *now, char *out) {
    static DWORD Made; // documents made in this run
    ULONGLONG h[2] = {0xCBF29CE484222325ull, 0x84222325CBF29CE4ull};
    BYTE values[sizeof *now + 3 * sizeof(DWORD)];
    DWORD counts[3] = {w->Position, w->Pages.Count, ++Made};
    memcpy(values, now, sizeof *now);
    memcpy(values + sizeof *now, counts, sizeof counts);
    for (int k = 0; k < 2; k++) {
        for (const BYTE *b = (const BYTE *)target; *b; b++) {
            h[k] = (h[k] ^ *b) * 0x100000001B3ull;
        }
        for (BYTE b : values) {
            h[k] = (h[k] ^ b) * 0x100000001B3ull;
        }
    }
    snprintf(out, 33, "%016llX%016llX", (unsigned long long)h[0], (unsigned long long)h[1]);
}

// The text's font when pages have text, the page tree, the cross-reference
// table and the trailer.
void WriteBack(Writer *w, const char *target, const SYSTEMTIME *now) {
    if (w->Font) {
        WriteTextFont(w);
    }
    char width[SizeText], height[SizeText];
    FormatPoints(w->FirstSize[0], width);
    FormatPoints(w->FirstSize[1], height);
    BeginObject(w, PagesObject);
    Text(w, "<</Type/Pages/Count %lu/MediaBox[0 0 %s %s]/Kids[", (unsigned long)w->Pages.Count,
         width, height);
    for (DWORD i = 0; i < w->Pages.Count; i++) {
        Text(w, i ? " %lu 0 R" : "%lu 0 R", (unsigned long)w->Pages.Items[i]);
    }
    Text(w, "]>>");
    EndObject(w);
    DWORD table = w->Position;
    Text(w, "xref\n0 %lu\n0000000000 65535 f \n", (unsigned long)w->Offsets.Count);
    for (DWORD i = 1; i < w->Offsets.Count; i++) {
        Text(w, "%010lu 00000 n \n", (unsigned long)w->Offsets.Items[i]);
    }
    char id[33];
    FormatIdentifier(w, target, now, id);
    Text(w, "trailer\n<</Size %lu/Root %d 0 R/ID[<%s><%s>]>>\nstartxref\n%lu\n%%%%EOF\n",
         (unsigned long)w->Offsets.Count, CatalogObject, id, id, (unsigned long)table);
    Flush(w);
}

// A name for the document being written, in the target's folder: 1/0.
int TemporaryName(const char *target, char *out) {
    char folder[MAX_PATH];
    lstrcpynA(folder, target, sizeof folder);
    char *slash = strrchr(folder, '\\');
    if (slash) {
        slash[1] = 0;
    } else {
        lstrcpynA(folder, ".\\", sizeof folder);
    }
    return GetTempFileNameA(folder, "PDF", 0, out) != 0;
}

} // namespace

int WritePdfDocument(const char *target, const char *pagePaths, DWORD pageCount,
                     const PdfDocumentRecord *record) {
    char temporary[MAX_PATH];
    if (!pageCount || !TemporaryName(target, temporary)) {
        return PdfWriteFailed;
    }
    Writer *w = TakeWriter();
    if (!w) {
        DeleteFileA(temporary);
        return PdfNoMemory;
    }
    ZeroMemory(w, offsetof(Writer, Buffer)); // the buffer is written before it is read
    w->File =
        CreateFileA(temporary, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (w->File == INVALID_HANDLE_VALUE) {
        Fail(w, PdfWriteFailed);
    }
    // Objects 0 to 4 are the free head of the table and the fixed objects.
    for (DWORD i = 0; i < FirstFreeObject; i++) {
        if (!Append(&w->Offsets, 0)) {
            Fail(w, PdfNoMemory);
        }
    }
    SYSTEMTIME now;
    GetSystemTime(&now);
    if (w->Outcome == PdfWritten) {
        WriteFront(w, record, &now);
    }
    const char *path = pagePaths;
    for (DWORD i = 0; i < pageCount && w->Outcome == PdfWritten; i++) {
        WritePage(w, path, record->PageText ? record->PageText[i] : NULL);
        path += strlen(path) + 1;
    }
    if (w->Outcome == PdfWritten) {
        WriteBack(w, target, &now);
    }
    if (w->File != INVALID_HANDLE_VALUE && !CloseHandle(w->File)) {
        Fail(w, PdfWriteFailed);
    }
    if (w->Outcome == PdfWritten && !MoveFileExA(temporary, target, MOVEFILE_REPLACE_EXISTING)) {
        Fail(w, PdfWriteFailed);
    }
    int outcome = w->Outcome;
    if (outcome != PdfWritten) {
        DeleteFileA(temporary);
    }
    ReleaseList(&w->Offsets);
    ReleaseList(&w->Pages);
    GiveBackWriter(w);
    return outcome;
}
