#pragma once
// Move-only owners for Windows handles, so every path releases what it got.

#include <windows.h>
#include <wrl/client.h>

#include <utility>

namespace lumetra {

template <typename T> using ComPtr = Microsoft::WRL::ComPtr<T>;

// Generic owner: Traits gives the invalid value and the close function.
template <typename Traits> class UniqueResource {
  public:
    using Type = typename Traits::Type;

    UniqueResource() = default;
    explicit UniqueResource(Type value) : value_(value) {}
    ~UniqueResource() { reset(); }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    Type get() const { return value_; }
    bool valid() const { return value_ != Traits::invalid(); }
    explicit operator bool() const { return valid(); }

    void reset(Type value = Traits::invalid()) {
        if (valid())
            Traits::close(value_);
        value_ = value;
    }
    Type release() { return std::exchange(value_, Traits::invalid()); }
    // For out-parameters: releases the current value first.
    Type* put() {
        reset();
        return &value_;
    }

  private:
    Type value_ = Traits::invalid();
};

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type invalid() { return nullptr; }
    static void close(Type h) { ::CloseHandle(h); }
};
// Files use INVALID_HANDLE_VALUE for "none".
struct FileHandleTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type h) { ::CloseHandle(h); }
};
struct RegKeyTraits {
    using Type = HKEY;
    static Type invalid() { return nullptr; }
    static void close(Type h) { ::RegCloseKey(h); }
};
struct MappedViewTraits {
    using Type = void*;
    static Type invalid() { return nullptr; }
    static void close(Type p) { ::UnmapViewOfFile(p); }
};
struct ModuleTraits {
    using Type = HMODULE;
    static Type invalid() { return nullptr; }
    static void close(Type h) { ::FreeLibrary(h); }
};
struct IconTraits {
    using Type = HICON;
    static Type invalid() { return nullptr; }
    static void close(Type h) { ::DestroyIcon(h); }
};
// Memory a system call allocated for the caller with LocalAlloc (FormatMessage and the like).
struct LocalMemoryTraits {
    using Type = HLOCAL;
    static Type invalid() { return nullptr; }
    static void close(Type h) { ::LocalFree(h); }
};
// A directory listing of FindFirstFile.
struct FindHandleTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type h) { ::FindClose(h); }
};
// A window's registration for device notifications (RegisterDeviceNotification).
struct DeviceNotificationTraits {
    using Type = HDEVNOTIFY;
    static Type invalid() { return nullptr; }
    static void close(Type h) { ::UnregisterDeviceNotification(h); }
};
template <typename T> struct GdiObjectTraits {
    using Type = T;
    static Type invalid() { return nullptr; }
    static void close(Type h) { ::DeleteObject(h); }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueRegKey = UniqueResource<RegKeyTraits>;
using UniqueMappedView = UniqueResource<MappedViewTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueIcon = UniqueResource<IconTraits>;
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;
using UniqueFind = UniqueResource<FindHandleTraits>;
using UniqueDeviceNotification = UniqueResource<DeviceNotificationTraits>;
using UniqueFont = UniqueResource<GdiObjectTraits<HFONT>>;
using UniqueBitmap = UniqueResource<GdiObjectTraits<HBITMAP>>;
using UniqueBrush = UniqueResource<GdiObjectTraits<HBRUSH>>;

// Selects a GDI object into a DC for the lifetime of the scope.
class SelectObjectScope {
  public:
    SelectObjectScope(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
    ~SelectObjectScope() {
        if (previous_ && previous_ != HGDI_ERROR)
            ::SelectObject(dc_, previous_);
    }
    SelectObjectScope(const SelectObjectScope&) = delete;
    SelectObjectScope& operator=(const SelectObjectScope&) = delete;

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

struct MemoryDCTraits {
    using Type = HDC;
    static Type invalid() { return nullptr; }
    static void close(Type h) { ::DeleteDC(h); }
};
// A DC of CreateCompatibleDC. Objects selected into it are selected out (SelectObjectScope) before
// it goes.
using UniqueMemoryDC = UniqueResource<MemoryDCTraits>;

// The DC of a WM_PAINT, from BeginPaint to EndPaint.
class PaintDC {
  public:
    explicit PaintDC(HWND window) : window_(window), dc_(::BeginPaint(window, &paint_)) {}
    ~PaintDC() { ::EndPaint(window_, &paint_); }
    PaintDC(const PaintDC&) = delete;
    PaintDC& operator=(const PaintDC&) = delete;
    HDC get() const { return dc_; }

  private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// A window DC from GetDC, released with ReleaseDC.
class WindowDC {
  public:
    explicit WindowDC(HWND window) : window_(window), dc_(::GetDC(window)) {}
    ~WindowDC() {
        if (dc_)
            ::ReleaseDC(window_, dc_);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC get() const { return dc_; }

  private:
    HWND window_;
    HDC dc_;
};

// COM on the calling thread for the length of a scope, when the thread had none yet.
class ComApartment {
  public:
    explicit ComApartment(DWORD model = COINIT_APARTMENTTHREADED)
        : result_(::CoInitializeEx(nullptr, model)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_))
            ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    // RPC_E_CHANGED_MODE: the thread is in another apartment already, which serves as well.
    bool usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }
    HRESULT result() const { return result_; }

  private:
    HRESULT result_;
};

// VARIANT cleared on every path.
class ScopedVariant {
  public:
    ScopedVariant() { ::VariantInit(&value_); }
    ~ScopedVariant() { ::VariantClear(&value_); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;
    VARIANT* get() { return &value_; }
    VARIANT& operator*() { return value_; }

  private:
    VARIANT value_;
};

} // namespace lumetra
