#pragma once
// GDI+ for the length of a scope, apart from Handles.h so that only its users read the GDI+ headers.

#include <windows.h>
#include <gdiplus.h>

namespace lumetra {

// The start's status is kept: a program whose GDI+ did not start must not go on as if it had, and
// only a started GDI+ is shut down.
class GdiplusSession {
  public:
    explicit GdiplusSession(const Gdiplus::GdiplusStartupInput& input = Gdiplus::GdiplusStartupInput())
        : status_(Gdiplus::GdiplusStartup(&token_, &input, nullptr)) {}
    ~GdiplusSession() {
        if (started())
            Gdiplus::GdiplusShutdown(token_);
    }
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

    bool started() const { return status_ == Gdiplus::Ok; }
    Gdiplus::Status status() const { return status_; }

  private:
    ULONG_PTR token_ = 0;
    Gdiplus::Status status_;
};

} // namespace lumetra
