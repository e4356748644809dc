// accugnt5.dll: writes one page pulled line by line from the caller into an
// image file, TIFF with Group 4 coding or JPEG.
#include "image_writers.h"

namespace {

// JPEG quality for the next pages, set through ordinal 40.
int JpegQuality = 80;

// Cuts the file back to nothing so that a failed page never looks complete.
void DiscardFile(HANDLE file) {
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER)
        SetEndOfFile(file);
}

bool UsableHeader(const BITMAPINFOHEADER *header) {
    return header && header->biSize >= sizeof(BITMAPINFOHEADER) && header->biWidth > 0 &&
           header->biHeight > 0 && header->biPlanes == 1 && header->biCompression == BI_RGB;
}

} // namespace

DWORD RowBytes(const BITMAPINFOHEADER *header) {
    return (((DWORD)header->biWidth * header->biBitCount + 31) / 32) * 4;
}

int WriteBytes(HANDLE file, const void *data, DWORD size) {
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

int WriteBytesAt(HANDLE file, DWORD offset, const void *data, DWORD size) {
    return SetFilePointer(file, (LONG)offset, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
           WriteBytes(file, data, size);
}

// The callback is WINAPI like the entries themselves: the library's whole
// interface uses one calling convention.
extern "C" int WINAPI WriteImageFile(HFILE file, const BITMAPINFOHEADER *header, int format,
                                     ImageLineProc callback, void *source) {
    // On Win32 the HFILE from _lcreat is the file handle itself.
    HANDLE handle = (HANDLE)(LONG_PTR)file;
    if (file == HFILE_ERROR)
        return ImageBadArguments;
    int result = ImageBadArguments;
    if (UsableHeader(header) && callback) {
        if (format == ImageFormatTiffG4)
            result = WriteTiffG4(handle, header, callback, source);
        else if (format == ImageFormatJpeg)
            result = WriteJpeg(handle, header, callback, source, JpegQuality);
    }
    if (result != ImageWritten)
        DiscardFile(handle);
    return result;
}

extern "C" int WINAPI SetImageOption(int value) {
    if (value < 1 || value > 100)
        return 1;
    JpegQuality = value;
    return 0;
}
