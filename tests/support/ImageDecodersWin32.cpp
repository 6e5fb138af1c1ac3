// JPEG and PNG read back with the Windows Imaging Component's decoders.
// <windows.h> first: the other system headers rely on it.
#include <windows.h>

#include <objbase.h>
#include <wincodec.h>
#include <wrl/client.h>

#include "platform/text/Text.h"
#include "tests/support/ImageFiles.h"

namespace testing_support {

namespace {

using Microsoft::WRL::ComPtr;

DecodedImage decode(const std::string& file, const GUID& container) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    DecodedImage image;
    {
        ComPtr<IWICImagingFactory> factory;
        ComPtr<IWICBitmapDecoder> decoder;
        ComPtr<IWICBitmapFrameDecode> frame;
        ComPtr<IWICFormatConverter> converter;
        GUID format{};
        UINT width = 0;
        UINT height = 0;
        HRESULT result =
            CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
        if (SUCCEEDED(result)) {
            result = factory->CreateDecoderFromFilename(Widen(file).c_str(), nullptr, GENERIC_READ,
                                                        WICDecodeMetadataCacheOnDemand, &decoder);
        }
        if (SUCCEEDED(result)) {
            result = decoder->GetContainerFormat(&format);
        }
        if (SUCCEEDED(result) && !IsEqualGUID(format, container)) {
            result = E_FAIL;
        }
        if (SUCCEEDED(result)) {
            result = decoder->GetFrame(0, &frame);
        }
        if (SUCCEEDED(result)) {
            result = factory->CreateFormatConverter(&converter);
        }
        if (SUCCEEDED(result)) {
            result = converter->Initialize(frame.Get(), GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone,
                                           nullptr, 0.0, WICBitmapPaletteTypeCustom);
        }
        if (SUCCEEDED(result)) {
            result = converter->GetSize(&width, &height);
        }
        if (SUCCEEDED(result)) {
            std::vector<std::uint8_t> bgr(static_cast<std::size_t>(width) * height * 3);
            result = converter->CopyPixels(nullptr, width * 3, static_cast<UINT>(bgr.size()), bgr.data());
            if (SUCCEEDED(result)) {
                image = DecodedImage{static_cast<int>(width), static_cast<int>(height), std::move(bgr)};
            }
        }
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return image;
}

}  // namespace

DecodedImage ReadJpeg(const std::string& file) {
    return decode(file, GUID_ContainerFormatJpeg);
}

DecodedImage ReadPng(const std::string& file) {
    return decode(file, GUID_ContainerFormatPng);
}

}  // namespace testing_support
