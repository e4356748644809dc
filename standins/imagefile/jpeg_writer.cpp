// JPEG of a grey or colour page through the Windows Imaging Component. The
// encoder writes straight into the caller's file through a small stream over
// the file handle; lines go to it in strips, so the page never sits whole.
#include "image_writers.h"
#include <wincodec.h>
#include <algorithm>

namespace {

// Lines handed to the encoder per WritePixels call: one JPEG block row of
// subsampled colour.
const UINT StripLines = 16;

// The file handle as an IStream; lives on the writer's stack and outlives the
// encoder, which is released before the writer returns.
struct HandleStream : IStream {
    HANDLE File;
    int WriteFailed;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (iid == IID_IUnknown || iid == IID_ISequentialStream || iid == IID_IStream) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Read(void *data, ULONG size, ULONG *done) override {
        DWORD got = 0;
        BOOL ok = ReadFile(File, data, size, &got, nullptr);
        if (done)
            *done = got;
        return !ok ? STG_E_READFAULT : got < size ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void *data, ULONG size, ULONG *done) override {
        int ok = WriteBytes(File, data, size);
        if (done)
            *done = ok ? size : 0;
        WriteFailed |= !ok;
        return ok ? S_OK : STG_E_WRITEFAULT;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                   ULARGE_INTEGER *position) override {
        LONG high = move.HighPart;
        DWORD low = SetFilePointer(File, (LONG)move.LowPart, &high, origin);
        if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
            return STG_E_SEEKERROR;
        if (position) {
            position->LowPart = low;
            position->HighPart = (DWORD)high;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
        LONG high = (LONG)size.HighPart;
        if (SetFilePointer(File, (LONG)size.LowPart, &high, FILE_BEGIN) ==
                INVALID_SET_FILE_POINTER &&
            GetLastError() != NO_ERROR)
            return STG_E_SEEKERROR;
        return SetEndOfFile(File) ? S_OK : STG_E_MEDIUMFULL;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream *, ULARGE_INTEGER, ULARGE_INTEGER *,
                                     ULARGE_INTEGER *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG *stat, DWORD) override {
        ZeroMemory(stat, sizeof *stat);
        stat->type = STGTY_STREAM;
        DWORD high = 0;
        stat->cbSize.LowPart = GetFileSize(File, &high);
        stat->cbSize.HighPart = high;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream **out) override {
        *out = nullptr;
        return E_NOTIMPL;
    }
};

// The encoder and its frame, released together.
struct JpegSession {
    IWICImagingFactory *Factory;
    IWICBitmapEncoder *Encoder;
    IWICBitmapFrameEncode *Frame;
    IPropertyBag2 *Options;
};

void CloseSession(JpegSession *session) {
    if (session->Options)
        session->Options->Release();
    if (session->Frame)
        session->Frame->Release();
    if (session->Encoder)
        session->Encoder->Release();
    if (session->Factory)
        session->Factory->Release();
}

// Makes the encoder and a frame of the page's size, format, resolution and quality.
HRESULT OpenSession(JpegSession *session, IStream *stream, const BITMAPINFOHEADER *header,
                    const WICPixelFormatGUID &format, int quality) {
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWICImagingFactory, (void **)&session->Factory);
    if (SUCCEEDED(hr))
        hr = session->Factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &session->Encoder);
    if (SUCCEEDED(hr))
        hr = session->Encoder->Initialize(stream, WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr))
        hr = session->Encoder->CreateNewFrame(&session->Frame, &session->Options);
    if (SUCCEEDED(hr)) {
        PROPBAG2 option = {};
        option.pstrName = (LPOLESTR)L"ImageQuality";
        VARIANT value = {};
        value.vt = VT_R4;
        value.fltVal = (float)quality / 100.0f;
        hr = session->Options->Write(1, &option, &value);
    }
    if (SUCCEEDED(hr))
        hr = session->Frame->Initialize(session->Options);
    if (SUCCEEDED(hr))
        hr = session->Frame->SetSize((UINT)header->biWidth, (UINT)header->biHeight);
    if (SUCCEEDED(hr))
        hr = session->Frame->SetResolution((double)header->biXPelsPerMeter,
                                           (double)header->biYPelsPerMeter);
    WICPixelFormatGUID given = format;
    if (SUCCEEDED(hr))
        hr = session->Frame->SetPixelFormat(&given);
    if (SUCCEEDED(hr) && given != format)
        hr = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT; // the encoder would convert: not ours to do
    return hr;
}

// Pulls the page through the callback strip by strip into the frame.
int WriteStrips(const JpegSession *session, const BITMAPINFOHEADER *header, ImageLineProc callback,
                void *source) {
    DWORD stride = RowBytes(header);
    BYTE *strip = (BYTE *)HeapAlloc(GetProcessHeap(), 0, (SIZE_T)stride * StripLines);
    if (!strip)
        return ImageNoMemory;
    int result = ImageWritten;
    for (LONG first = 0; first < header->biHeight && result == ImageWritten; first += StripLines) {
        UINT lines = (UINT)std::min((LONG)StripLines, header->biHeight - first);
        for (UINT i = 0; i < lines && result == ImageWritten; i++) {
            if (callback(source, strip + (SIZE_T)i * stride, (int)(first + i)) < 0)
                result = ImageLineRefused;
        }
        if (result == ImageWritten &&
            FAILED(session->Frame->WritePixels(lines, stride, stride * lines, strip)))
            result = ImageEncoderFailed;
    }
    HeapFree(GetProcessHeap(), 0, strip);
    return result;
}

} // namespace

int WriteJpeg(HANDLE file, const BITMAPINFOHEADER *header, ImageLineProc callback, void *source,
              int quality) {
    WICPixelFormatGUID format;
    if (header->biBitCount == 8)
        format = GUID_WICPixelFormat8bppGray; // the page's palette is the grey ramp
    else if (header->biBitCount == 24)
        format = GUID_WICPixelFormat24bppBGR;
    else
        return ImageBadArguments;
    // A thread already in a single-threaded apartment keeps it (RPC_E_CHANGED_MODE).
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HandleStream stream;
    stream.File = file;
    stream.WriteFailed = 0;
    JpegSession session = {};
    int result = ImageEncoderFailed;
    if (SUCCEEDED(OpenSession(&session, &stream, header, format, quality))) {
        result = WriteStrips(&session, header, callback, source);
        if (result == ImageWritten &&
            (FAILED(session.Frame->Commit()) || FAILED(session.Encoder->Commit())))
            result = ImageEncoderFailed;
    }
    CloseSession(&session);
    if (SUCCEEDED(com))
        CoUninitialize();
    if (stream.WriteFailed && result != ImageLineRefused)
        result = ImageWriteFailed;
    return result;
}
