// JPEG of a grey or colour page through libjpeg-turbo. Lines are pulled from
// the caller one band at a time and each band is coded as it arrives; the
// coded bytes go to the file through a small buffer, so the page never sits
// whole. Colour lines go in as they are (B,G,R) and grey lines as grey.
#include "image_writers.h"
#include <setjmp.h>
#include <stdio.h>

#include <jpeglib.h>

#include <jerror.h>

namespace {

// Lines coded per call: one row of colour blocks at 2 x 2 subsampling.
const JDIMENSION BandLines = 16;
// Coded bytes gathered before each write to the file.
const size_t OutputBytes = 64 * 1024;

// The coder's errors come back to the writer through Return.
struct ErrorTrap {
    jpeg_error_mgr Manager; // first: the coder's err pointer is this record's
    jmp_buf Return;
    int Result;
};

struct FileDestination {
    jpeg_destination_mgr Manager; // first: the coder's dest pointer is this record's
    HANDLE File;
    JOCTET *Buffer;
};

void ReturnToWriter(j_common_ptr coder) {
    ErrorTrap *trap = (ErrorTrap *)coder->err;
    if (trap->Result == ImageWritten)
        trap->Result =
            coder->err->msg_code == JERR_OUT_OF_MEMORY ? ImageNoMemory : ImageEncoderFailed;
    longjmp(trap->Return, 1);
}

// Warnings are not printed: the library's callers have no console.
void KeepQuiet(j_common_ptr) {}

void WriteOrFail(j_compress_ptr coder, size_t size) {
    FileDestination *destination = (FileDestination *)coder->dest;
    if (!WriteBytes(destination->File, destination->Buffer, (DWORD)size)) {
        ((ErrorTrap *)coder->err)->Result = ImageWriteFailed;
        ERREXIT(coder, JERR_FILE_WRITE);
    }
    destination->Manager.next_output_byte = destination->Buffer;
    destination->Manager.free_in_buffer = OutputBytes;
}

void StartOutput(j_compress_ptr coder) {
    FileDestination *destination = (FileDestination *)coder->dest;
    destination->Buffer =
        (JOCTET *)(*coder->mem->alloc_small)((j_common_ptr)coder, JPOOL_IMAGE, OutputBytes);
    destination->Manager.next_output_byte = destination->Buffer;
    destination->Manager.free_in_buffer = OutputBytes;
}

boolean WriteFullBuffer(j_compress_ptr coder) {
    WriteOrFail(coder, OutputBytes);
    return TRUE;
}

void WriteRest(j_compress_ptr coder) {
    WriteOrFail(coder, OutputBytes - coder->dest->free_in_buffer);
}

// Codes the page; the coder's own failures leave through the trap instead.
int Compress(j_compress_ptr coder, const BITMAPINFOHEADER *header, ImageLineProc callback,
             void *source, int quality) {
    coder->image_width = (JDIMENSION)header->biWidth;
    coder->image_height = (JDIMENSION)header->biHeight;
    // An 8-bit page's palette is the grey ramp: its values are grey levels.
    coder->input_components = header->biBitCount == 8 ? 1 : 3;
    coder->in_color_space = header->biBitCount == 8 ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_set_defaults(coder);
    jpeg_set_quality(coder, quality, TRUE);
    // The header carries dots per inch; JFIF has room for 1..65535.
    LONG dpiX = header->biXPelsPerMeter, dpiY = header->biYPelsPerMeter;
    if (dpiX > 0 && dpiX <= 0xFFFF && dpiY > 0 && dpiY <= 0xFFFF) {
        coder->density_unit = 1;
        coder->X_density = (UINT16)dpiX;
        coder->Y_density = (UINT16)dpiY;
    }
    jpeg_start_compress(coder, TRUE);
    JSAMPARRAY band =
        (*coder->mem->alloc_sarray)((j_common_ptr)coder, JPOOL_IMAGE, RowBytes(header), BandLines);
    for (JDIMENSION first = 0; first < coder->image_height; first += BandLines) {
        JDIMENSION lines =
            coder->image_height - first < BandLines ? coder->image_height - first : BandLines;
        for (JDIMENSION i = 0; i < lines; i++) {
            if (callback(source, band[i], (int)(first + i)) < 0)
                return ImageLineRefused;
        }
        jpeg_write_scanlines(coder, band, lines);
    }
    jpeg_finish_compress(coder);
    return ImageWritten;
}

} // namespace

int WriteJpeg(HANDLE file, const BITMAPINFOHEADER *header, ImageLineProc callback, void *source,
              int quality) {
    if ((header->biBitCount != 8 && header->biBitCount != 24) ||
        header->biWidth > JPEG_MAX_DIMENSION || header->biHeight > JPEG_MAX_DIMENSION)
        return ImageBadArguments;
    jpeg_compress_struct coder;
    ErrorTrap trap;
    FileDestination destination = {};
    coder.err = jpeg_std_error(&trap.Manager);
    trap.Manager.error_exit = ReturnToWriter;
    trap.Manager.output_message = KeepQuiet;
    trap.Result = ImageWritten;
    if (setjmp(trap.Return)) {
        jpeg_destroy_compress(&coder);
        return trap.Result;
    }
    jpeg_create_compress(&coder);
    destination.Manager.init_destination = StartOutput;
    destination.Manager.empty_output_buffer = WriteFullBuffer;
    destination.Manager.term_destination = WriteRest;
    destination.File = file;
    coder.dest = &destination.Manager;
    int result = Compress(&coder, header, callback, source, quality);
    jpeg_destroy_compress(&coder);
    return result;
}
