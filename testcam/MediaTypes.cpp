#include "TestCamCommon.h"

#include <cstring>

namespace lumetra::testcam {

void FreeMediaType(AM_MEDIA_TYPE& type) {
    if (type.cbFormat != 0 || type.pbFormat)
        CoTaskMemFree(type.pbFormat);
    if (type.pUnk)
        type.pUnk->Release();
    type = AM_MEDIA_TYPE{};
}

void DeleteMediaType(AM_MEDIA_TYPE* type) {
    if (!type)
        return;
    FreeMediaType(*type);
    CoTaskMemFree(type);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE& target, const AM_MEDIA_TYPE& source) {
    target = source;
    target.pbFormat = nullptr;
    target.cbFormat = 0;
    if (source.cbFormat != 0 && source.pbFormat) {
        target.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source.cbFormat));
        if (!target.pbFormat) {
            target.pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        std::memcpy(target.pbFormat, source.pbFormat, source.cbFormat);
        target.cbFormat = source.cbFormat;
    }
    if (target.pUnk)
        target.pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* CreateMediaTypeCopy(const AM_MEDIA_TYPE& source) {
    auto* copy = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!copy)
        return nullptr;
    if (FAILED(CopyMediaType(*copy, source))) {
        CoTaskMemFree(copy);
        return nullptr;
    }
    return copy;
}

HRESULT MakeVideoType(AM_MEDIA_TYPE& type, int width, int height, REFERENCE_TIME frameInterval) {
    FreeMediaType(type);
    auto* info = static_cast<VIDEOINFOHEADER*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    if (!info)
        return E_OUTOFMEMORY;
    *info = VIDEOINFOHEADER{};
    const DWORD imageSize = static_cast<DWORD>(Rgb24Stride(width)) * static_cast<DWORD>(height);
    info->rcSource = {0, 0, width, height};
    info->rcTarget = {0, 0, width, height};
    info->AvgTimePerFrame = frameInterval;
    info->dwBitRate = static_cast<DWORD>(imageSize * 8ULL * kUnitsPerSecond / frameInterval);
    info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info->bmiHeader.biWidth = width;
    info->bmiHeader.biHeight = height; // positive: bottom-up rows
    info->bmiHeader.biPlanes = 1;
    info->bmiHeader.biBitCount = 24;
    info->bmiHeader.biCompression = BI_RGB;
    info->bmiHeader.biSizeImage = imageSize;

    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_RGB24;
    type.bFixedSizeSamples = TRUE;
    type.bTemporalCompression = FALSE;
    type.lSampleSize = imageSize;
    type.formattype = FORMAT_VideoInfo;
    type.pUnk = nullptr;
    type.cbFormat = sizeof(VIDEOINFOHEADER);
    type.pbFormat = reinterpret_cast<BYTE*>(info);
    return S_OK;
}

} // namespace lumetra::testcam
