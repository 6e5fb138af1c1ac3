// JPEG and PNG through the Windows Imaging Component, and atomic file writing on Windows.
// <windows.h> first: the other system headers rely on it.
#include <windows.h>

#include <objbase.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <memory>

#include "kesmacap/pictures/PictureWriter.h"
#include "platform/text/Text.h"

namespace kesmacap {

namespace {

using Microsoft::WRL::ComPtr;

// COM on this thread for one encode. A thread that has an apartment already
// (a GUI thread after a file dialog) keeps it: WIC works in either.
class ComScope {
  public:
    ComScope() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(result_)) {
            CoUninitialize();
        }
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

  private:
    HRESULT result_;
};

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using FileHandle = std::unique_ptr<void, HandleCloser>;

std::int32_t errnoFromWin32(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        case ERROR_WRITE_PROTECT:
            return EROFS;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_DIRECTORY:
            return EINVAL;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        default:
            return EIO;
    }
}

std::int32_t errnoFromHresult(HRESULT result) {
    if (result == E_OUTOFMEMORY) {
        return ENOMEM;
    }
    return HRESULT_FACILITY(result) == FACILITY_WIN32 ? errnoFromWin32(HRESULT_CODE(result)) : EIO;
}

// One frame of the picture, 24-bit BGR as it is held, into an encoder of
// `container`; quality (0 to 1) for formats that take one.
HRESULT encodeWithWic(const GUID& container, const PictureView& picture, const float* quality,
                      IStream* stream) {
    ComPtr<IWICImagingFactory> factory;
    HRESULT result =
        CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
    ComPtr<IWICBitmap> bitmap;
    if (SUCCEEDED(result)) {
        // WIC copies the pixels; it never writes through this pointer.
        result = factory->CreateBitmapFromMemory(
            static_cast<UINT>(picture.width), static_cast<UINT>(picture.height), GUID_WICPixelFormat24bppBGR,
            static_cast<UINT>(picture.rowBytes()), static_cast<UINT>(picture.rowBytes() * picture.height),
            const_cast<BYTE*>(picture.pixels), &bitmap);
    }
    ComPtr<IWICBitmapEncoder> encoder;
    if (SUCCEEDED(result)) {
        result = factory->CreateEncoder(container, nullptr, &encoder);
    }
    if (SUCCEEDED(result)) {
        result = encoder->Initialize(stream, WICBitmapEncoderNoCache);
    }
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> options;
    if (SUCCEEDED(result)) {
        result = encoder->CreateNewFrame(&frame, &options);
    }
    if (SUCCEEDED(result) && quality != nullptr && options) {
        PROPBAG2 option{};
        wchar_t name[] = L"ImageQuality";
        option.pstrName = name;
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_R4;
        value.fltVal = *quality;
        result = options->Write(1, &option, &value);
    }
    if (SUCCEEDED(result)) {
        result = frame->Initialize(options.Get());
    }
    if (SUCCEEDED(result)) {
        result = frame->SetSize(static_cast<UINT>(picture.width), static_cast<UINT>(picture.height));
    }
    if (SUCCEEDED(result)) {
        WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
        result = frame->SetPixelFormat(&format);
    }
    if (SUCCEEDED(result)) {
        // Converts when the encoder settled on another pixel format.
        result = frame->WriteSource(bitmap.Get(), nullptr);
    }
    if (SUCCEEDED(result)) {
        result = frame->Commit();
    }
    if (SUCCEEDED(result)) {
        result = encoder->Commit();
    }
    return result;
}

std::int32_t encode(const GUID& container, const PictureView& picture, const float* quality,
                    std::vector<std::uint8_t>& out) {
    if (!EncodablePicture(picture)) {
        return EINVAL;
    }
    const ComScope com;
    ComPtr<IStream> stream;
    HRESULT result = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    if (SUCCEEDED(result)) {
        result = encodeWithWic(container, picture, quality, stream.Get());
    }
    STATSTG status{};
    if (SUCCEEDED(result)) {
        result = stream->Stat(&status, STATFLAG_NONAME);
    }
    HGLOBAL memory = nullptr;
    if (SUCCEEDED(result)) {
        result = GetHGlobalFromStream(stream.Get(), &memory);
    }
    if (FAILED(result)) {
        return errnoFromHresult(result);
    }
    const void* const bytes = GlobalLock(memory);
    if (bytes == nullptr) {
        return ENOMEM;
    }
    const auto* const first = static_cast<const std::uint8_t*>(bytes);
    out.assign(first, first + status.cbSize.QuadPart);
    GlobalUnlock(memory);
    return 0;
}

std::int32_t writeAll(HANDLE file, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr)) {
            return errnoFromWin32(GetLastError());
        }
        done += written;
    }
    return 0;
}

std::int32_t writeAndClose(FileHandle file, const std::vector<std::uint8_t>& bytes) {
    std::int32_t error = writeAll(file.get(), bytes);
    if (error == 0 && !FlushFileBuffers(file.get())) {
        error = errnoFromWin32(GetLastError());
    }
    if (!CloseHandle(file.release()) && error == 0) {
        error = errnoFromWin32(GetLastError());
    }
    return error;
}

}  // namespace

const std::string_view PathSeparators = "\\/:";

std::int32_t FileNameFromLibraryPath(std::string_view path, std::string& name) {
    // Split only after conversion: in double-byte code pages (Big5, Shift-JIS)
    // a backslash byte can be the second half of a character.
    const std::optional<std::wstring> wide = ToWide(path, CP_ACP);
    if (!wide) {
        return EINVAL;
    }
    name = Utf8(*wide);
    return wide->empty() || !name.empty() ? 0 : EINVAL;
}

std::int32_t EncodeJpeg(const PictureView& picture, int quality, std::vector<std::uint8_t>& out) {
    const float level = static_cast<float>(std::clamp(quality, 1, 100)) / 100.0f;
    return encode(GUID_ContainerFormatJpeg, picture, &level, out);
}

std::int32_t EncodePng(const PictureView& picture, std::vector<std::uint8_t>& out) {
    return encode(GUID_ContainerFormatPng, picture, nullptr, out);
}

std::int32_t WriteFileAtomically(const std::string& file, const std::vector<std::uint8_t>& bytes) {
    if (file.empty() || PathSeparators.find(file.back()) != std::string_view::npos) {
        return EINVAL;
    }
    const std::optional<std::wstring> target = ToWide(file, CP_UTF8);
    if (!target) {
        return EINVAL;
    }
    std::wstring temporary;
    FileHandle handle;
    for (int attempt = 0; attempt < 100 && !handle; ++attempt) {
        const std::optional<std::wstring> name =
            ToWide(TemporaryNameFor(file, GetCurrentProcessId()), CP_UTF8);
        if (!name) {
            return EINVAL;
        }
        temporary = *name;
        const HANDLE opened = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (opened != INVALID_HANDLE_VALUE) {
            handle.reset(opened);
        } else if (const DWORD error = GetLastError();
                   error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            return errnoFromWin32(error);
        }
    }
    if (!handle) {
        return EEXIST;
    }
    std::int32_t error = writeAndClose(std::move(handle), bytes);
    if (error == 0 && !MoveFileExW(temporary.c_str(), target->c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = errnoFromWin32(GetLastError());
    }
    if (error != 0) {
        DeleteFileW(temporary.c_str());
    }
    return error;
}

}  // namespace kesmacap
