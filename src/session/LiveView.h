#pragma once
// One open camera: the "Live View" window, and the wiring of the pieces that work for it: the
// camera's graph and slot, the camera watcher, the motion watcher, the schedule's automatic save,
// the delivery of saved images and the retention of old ones.

#include "capture/CaptureGraph.h"
#include "delivery/CameraRoster.h"
#include "delivery/Retention.h"
#include "framework/Dialog.h"
#include "framework/Handles.h"
#include "session/CameraWatcher.h"
#include "session/ImageDelivery.h"
#include "session/LiveViewIds.h"
#include "session/MotionWatcher.h"
#include "session/SessionHost.h"
#include "session/TroubleWatcher.h"
#include "settings/ActionLinks.h"

#include <cstdint>
#include <array>
#include <bitset>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumetra {

class CamActionDialog;
class ImageViewer;

// What follows once a session's image is written; nothing of it happens for an image that was not.
struct AfterSaving {
    bool mirror = false;                 // publish the path to the HTTP service
    std::optional<UploadRequest> upload; // the schedule's upload
    std::optional<MailRequest> mail;     // the schedule's mail
    std::optional<std::int32_t> retryAt; // a failed schedule save is tried again from here
    std::int32_t tickTime = 0; // the schedule tick that asked, the time its upload and mail count at
    bool manual = false;       // the user's save: a failure is told in a box
    bool motion = false;       // a motion save: a failure does not start the gap to the next one
};

class LiveView : public Dialog, public ActionSession {
  public:
    // Creates the window at once, hidden, top-level without an owner window. `host` (may be null)
    // counts the session among the open ones from StartSession until the window goes.
    explicit LiveView(SessionHost* host);
    ~LiveView() override;

    void SetActionDialog(CamActionDialog* actionDialog) { actionDialog_ = actionDialog; }
    // The camera slot the session holds from here until its window goes.
    void AssignSlot(int cameraIndex) { cameraIndex_ = cameraIndex; }
    void StartSession(const std::string& name);
    // The Cancel command: closes the session (and with it the action dialog).
    void Cancel() { OnCancel(); }
    // Exit of the camera list: closes like Cancel.
    void CloseFromOwner() { OnCancel(); }

    // One step of the automatic schedule (camera timer, every 200 ms); it also watches the camera.
    void Tick();

    // Arms the slot for path, waits 100 ms, then shows the path in the viewer when that is on.
    // Returns false, doing nothing, when the path cannot be armed (too long for the slot).
    bool SaveSnapshot(const std::string& path, AfterSaving afterSaving = {});
    // The user's upload of localPath as remoteName, on a thread of its own; errors are shown in
    // message boxes owned by the Live View.
    void UploadByFtp(const UploadRequest& request) override;
    // The user's mail of the action dialog's last image to its addresses, on a thread of its own.
    void MailLastSavedImage() override;
    // The camera starts again at the chosen size in this window; a lost camera comes back at it.
    void ChangePictureSize(std::optional<PictureSize> size) override;
    // An upload or a mail of this session runs, or an upload's box is open.
    bool DeliveryBusy() const { return delivery_.Busy(); }
    // The camera stopped delivering and the session waits for it to be listed again.
    bool CameraLost() const { return watcher_.Lost(); }
    // Windows announced a new video device: a lost camera looks for itself at the next tick.
    void DeviceArrived() { watcher_.DeviceArrived(); }
    // Times the device list was read while the camera was lost.
    std::uint64_t DeviceListReads() const { return watcher_.DeviceListReads(); }
    // Waits until the frame asked for by the last request is written (or about two seconds pass);
    // returns at once when no graph runs, as no frame can come.
    void WaitForRequestedImage() override;
    // The program uploads to port 21; tests point the session at a server of their own.
    void SetFtpPort(INTERNET_PORT port) { delivery_.UseFtpPort(port); }
    // Images this session has written (frames composed and saved without error).
    std::uint64_t ImagesWritten() const { return counts_.written; }
    // Saves that were asked for and failed (the file was not written).
    std::uint64_t SavesFailed() const { return counts_.failed; }

    void ShowInViewer(const std::string& path);
    // The viewer of saved images, while it is open.
    ImageViewer* Viewer() const { return imageViewer_; }
    // The camera's retention of old images (none before StartSession).
    const ImageRetention* Retention() const { return retention_.get(); }
    // The schedule's last save, whole seconds of its clock; 0 before the first.
    std::int32_t LastScheduledSave() const { return lastSaveTime_; }

    // What the action dialog asks of its session.
    void SetSwitch(SessionSwitch which, bool on) override;
    bool SwitchOn(SessionSwitch which) const { return switches_[static_cast<std::size_t>(which)]; }
    bool SaveCurrentImage(const std::string& path) override;
    void ActionDialogClosed() override;

    // The camera as the web service shows it: its name, last image and health; none while its
    // "Mirror file path to HTTP service" is not ticked.
    std::optional<PublishedCamera> WebPublication() const;

    const std::string& CameraName() const { return cameraName_; }
    int CameraIndex() const { return cameraIndex_; }
    CamActionDialog* ActionDialog() const { return actionDialog_; }
    const CaptureGraph& Graph() const { return graph_; }

  protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void DoDataExchange(DataExchange& exchange) override;
    void PostNcDestroy() override { delete this; }
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

  private:
    struct PendingImage {
        std::string path;
        AfterSaving afterSaving;
    };
    // Requests armed and frames handled, to wait for the image of the last request.
    struct SaveCounts {
        std::uint64_t armed = 0;
        std::uint64_t served = 0;
        std::uint64_t written = 0;
        std::uint64_t failed = 0;
    };
    // A save failed and none has worked since (the log tells the first failure and the recovery).
    struct FailureRun {
        bool ongoing = false;
        std::string lastPath;
        std::string reason; // of the first failure of the run
    };
    // The last image written and the last save that failed, as the web service tells them; times
    // in seconds since 1970.
    struct SaveHistory {
        std::string lastWrittenPath;
        std::int64_t lastWrittenAt = 0;
        std::int64_t lastFailedAt = 0;
        std::string lastFailureReason;
    };
    // A line below the picture that keeps its distance from the client area's bottom.
    struct BottomLine {
        int id;
        int gap; // from the line's top to the bottom, in pixels
    };

    void CloseSession();
    void OnFrameReady();
    // A frame's way from the slot to the file and what follows its save (`armedBefore`: the
    // requests armed when the frame was taken).
    void OnSaveHandled(int status, std::uint64_t armedBefore);
    // One automatic save, made the same way for the schedule and for motion: the path from CAM
    // ACTION, then `stillWanted` (given the time and what follows the save, to fill in), then the
    // upload and mail that are due and the save itself. Returns the time it was made at; none when
    // nothing was asked of the camera.
    using AutomaticSaveCheck = std::function<bool(std::int32_t now, AfterSaving& afterSaving)>;
    std::optional<std::int32_t> SaveAutomatically(const AutomaticSaveCheck& stillWanted);
    // The upload and the mail an automatic save of fullPath carries: those switched on, not busy and
    // due at afterSaving.tickTime.
    void AddAutomaticDelivery(AfterSaving& afterSaving, const std::string& fullPath,
                              const std::string& bareName);
    // Motion saving (MotionSaving.cpp): the tick asks for a frame to look at, the frame is measured
    // while the slot holds it, and a frame that moved is followed by an automatic save.
    void AskForMotionFrame();
    void LookForMotion(const BYTE* pixels, uint32_t byteCount, int width, int height);
    void SaveOnMotion();
    void OnSaveFailed(const PendingImage& image, int status);
    // An automatic save that could not even be asked for (no folder, a refused name, a path too
    // long): told in the Live View and logged like a failed write.
    void SaveRefused(const std::string& reason);
    void NoteFailedSave(const std::string& reason);
    // The images retention must never delete: the last written, sent, published and shown.
    std::vector<std::string> ImagesInUse() const;
    void ShowWaiting(bool waiting);
    // CAM ACTION's drop-down: what the camera's graph offered and runs at.
    void ShowPictureSizes();
    // The Live View's line under the name: why the last automatic save failed (empty: clears it).
    void ShowSaveStatus(const std::string& reason);
    // The name or one of the lines under it; unchanged text is not set again (no flicker each tick).
    void ShowLine(int id, const std::string& text);
    // The end of an upload or a mail: the lines under the name, and a box for the user's mail.
    void OnDeliveryEnded(const DeliveryEnd& end);
    // The mails of a camera in trouble and back (TroubleWatcher), when its owner asked for them.
    void WatchForTrouble();
    // The camera's SMTP server as CAM ACTION holds it; none: the mail program.
    std::optional<SmtpSettings> MailServer() const;
    void LayOutControls();
    bool OnPaint();
    void KeepBottomLinesAtBottom();

    std::string cameraName_;
    HWND videoHost_ = nullptr;
    SessionHost* host_ = nullptr;
    CamActionDialog* actionDialog_ = nullptr;
    ImageViewer* imageViewer_ = nullptr;
    int cameraIndex_ = -1;
    std::array<BottomLine, 4> bottomLines_{{{live_view_ids::CameraNameEdit, 0},
                                            {live_view_ids::SaveStatus, 0},
                                            {live_view_ids::UploadStatus, 0},
                                            {live_view_ids::MailStatus, 0}}};
    CaptureGraph graph_;
    ImageDelivery delivery_{cameraName_, host_, [this](const DeliveryEnd& end) { OnDeliveryEnded(end); }};
    TroubleWatcher trouble_;
    // The session's switches, as the action dialog sets them.
    std::bitset<SessionSwitchCount> switches_;
    std::int32_t lastSaveTime_ = 0;
    // The image the slot is armed for, until its frame is handled.
    std::optional<PendingImage> pendingImage_;
    SaveCounts counts_;
    FailureRun failureRun_;
    SaveHistory history_;
    // Watching the camera; while it is lost, the "waiting" text covers the picture and the frame
    // asked for is given up.
    CameraWatcher watcher_{graph_,
                           [this] {
                               pendingImage_.reset();
                               ShowWaiting(true);
                           },
                           [this] {
                               ShowWaiting(false);
                               ShowPictureSizes();
                           }};
    HWND waitingLabel_ = nullptr;
    UniqueIcon icon_;
    MotionWatcher motion_;
    // Old images deleted by the camera's limits, and the paths that must stay.
    std::unique_ptr<ImageRetention> retention_;
};

} // namespace lumetra
