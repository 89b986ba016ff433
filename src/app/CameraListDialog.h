#pragma once
// The main window: the list of video capture devices, Open Cam, and the set of open cameras.

#include <windows.h>

#include "delivery/HttpMirror.h"
#include "app/CameraListIds.h"
#include "framework/Dialog.h"
#include "framework/Handles.h"

#include <optional>
#include <set>
#include <string>

namespace lumetra {

class camview;
struct CaptureDeviceList;

class CameraListDialog : public Dialog {
  public:
    explicit CameraListDialog(HWND parent = nullptr);
    ~CameraListDialog() override;

    // Every session whose window is open, ordered by address; sessions add and remove themselves.
    std::set<camview*> openSessions;
    HttpMirror httpMirror;
    bool mirrorEnabled = false;

    void AddSession(camview* session) { openSessions.insert(session); }
    void RemoveSession(camview* session) { openSessions.erase(session); }
    bool HasSession(camview* session) const { return openSessions.count(session) != 0; }

    // Publishes a saved image's path when the mirror is switched on and open.
    void MirrorImagePath(const std::string& path);

    // printf-style message in the "DeriDez Message" box; bounded, always terminated.
    static void ShowFormattedMessage(const char* format, ...);

    // Device names as listed (tests and the automation read them).
    std::string CamText() const { return camText_; }

  protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void DoDataExchange(DataExchange& exchange) override;
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

  private:
    void FillDeviceList(const CaptureDeviceList& devices);
    void OnOpenCam();
    void OnDeviceSelChange();
    void ShowAboutBox();
    // Closes every open camera as its own close does, so settings are saved and graphs stopped.
    void CloseAllSessions();
    void StopCameraTimer();
    bool OnPaint();

    UniqueIcon dialogIcon_;
    UINT_PTR timerId_ = 0;
    std::string camText_;
    HWND deviceList_ = nullptr;
    // COM on this thread from the dialog's start while the dialog lives.
    std::optional<ComApartment> com_;
};

// The running camera list; set once before it runs.
extern CameraListDialog* theMainDialog;

} // namespace lumetra
