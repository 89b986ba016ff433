#pragma once
// The main window: the list of video capture devices, Open Cam, and the set of open cameras.

#include <windows.h>

#include "delivery/CameraRoster.h"
#include "delivery/HttpMirror.h"
#include "app/CameraListIds.h"
#include "framework/Dialog.h"
#include "framework/Handles.h"
#include "session/SessionHost.h"
#include "settings/ActionLinks.h"

#include <array>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace lumetra {

struct CaptureDeviceList;

// Hosts the sessions it opens, and holds the mirror switch their action dialogs set.
class CameraListDialog : public Dialog, public SessionHost, public MirrorSwitch {
  public:
    explicit CameraListDialog(HWND parent = nullptr);
    ~CameraListDialog() override;

    HttpMirror httpMirror;

    // Every session whose window is open, ordered by address; sessions add and remove themselves.
    void Register(LiveView* session) override { openSessions_.insert(session); }
    void Unregister(LiveView* session) override { openSessions_.erase(session); }
    std::vector<LiveView*> OpenSessions() const override {
        return {openSessions_.begin(), openSessions_.end()};
    }
    bool HasSession(const LiveView* session) const override { return openSessions_.count(session) != 0; }

    void MirrorImagePath(const std::string& path) override;
    void SetMirrorEnabled(bool enabled) override { mirrorEnabled_ = enabled; }
    bool MirrorEnabled() const { return mirrorEnabled_; }
    // Every open camera shown on the web, with its health, to the service's second block.
    void PublishCamerasToWeb() override;

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
    // Asks Windows to tell this window when a video capture device arrives.
    void WatchForVideoDevices();

    std::set<LiveView*, std::less<>> openSessions_;
    bool mirrorEnabled_ = false;
    CameraRoster cameraRoster_;
    UniqueIcon dialogIcon_;
    UINT_PTR timerId_ = 0;
    // Arrivals of video devices and of capture devices (a webcam is both), announced to this window.
    std::array<UniqueDeviceNotification, 2> deviceArrivals_;
    std::string camText_;
    HWND deviceList_ = nullptr;
    // COM on this thread from the dialog's start while the dialog lives.
    std::optional<ComApartment> com_;
};

} // namespace lumetra
