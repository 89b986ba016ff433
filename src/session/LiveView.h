#pragma once
// One open camera: the "Live View" window and the controller of the camera's graph, slot,
// schedule, uploader and mailer.

#include "capture/CaptureGraph.h"
#include "delivery/FtpUploader.h"
#include "delivery/MapiMailer.h"
#include "delivery/Retention.h"
#include "framework/Dialog.h"
#include "framework/Handles.h"
#include "session/CameraWatcher.h"
#include "session/LiveViewIds.h"
#include "session/MotionWatcher.h"
#include "session/SessionHost.h"
#include "settings/ActionLinks.h"

#include <cstdint>
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
    void AssignSlot(int cameraIndex);
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
    void UploadByFtp(const std::string& localPath, const std::string& remoteName, const std::string& url,
                     const std::string& remotePath, const std::string& user,
                     const std::string& password) override;
    // The user's mail of the action dialog's last image to its addresses, on a thread of its own.
    void MailLastSavedImage() override;
    // An upload or a mail of this session runs, or an upload's box is open.
    bool DeliveryBusy() const { return uploader_->Busy() || mailer_->Busy(); }
    // The camera stopped delivering and the session waits for it to be listed again.
    bool CameraLost() const { return watcher_.Lost(); }
    // Waits until the frame asked for by the last request is written (or about two seconds pass);
    // returns at once when no graph runs, as no frame can come.
    void WaitForRequestedImage() override;
    // The program uploads to port 21; tests point the session at a server of their own.
    void SetFtpPort(INTERNET_PORT port);
    // Images this session has written (frames composed and saved without error).
    std::uint64_t ImagesWritten() const { return requestsWrittenCount_; }
    // Saves that were asked for and failed (the file was not written).
    std::uint64_t SavesFailed() const { return savesFailedCount_; }

    void ShowInViewer(const std::string& path);
    // The camera's retention of old images (none before StartSession).
    const ImageRetention* Retention() const { return retention_.get(); }

    // What the action dialog asks of its session.
    void SetSwitch(SessionSwitch which, bool on) override;
    bool SaveCurrentImage(const std::string& path) override;
    void ActionDialogClosed() override;

    const std::string& CameraName() const { return cameraName; }
    int CameraIndex() const { return cameraIndex; }
    CamActionDialog* ActionDialog() const { return actionDialog_; }
    const CaptureGraph& Graph() const { return graph_; }

    // Written by the action dialog.
    bool SaveAutoOn = false;
    bool FtpAutoOn = false;
    bool EmailAutoOn = false;
    bool ViewAfterSavingOn = false;
    bool MotionSaveOn = false;

    // Schedule times, whole seconds of the schedule's clock; 0 means never.
    std::int32_t lastSaveTime = 0;
    std::int32_t lastFtpTime = 0;
    std::int32_t lastMailTime = 0;

    ImageViewer* imageViewer = nullptr;

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
    // The images retention must never delete: the last written, sent, published and shown.
    std::vector<std::string> ImagesInUse() const;
    // scheduledAt: the tick time a schedule's upload or mail is recorded at once it is done (none for
    // the user's).
    void StartUpload(const UploadRequest& request, std::optional<std::int32_t> scheduledAt);
    void StartMail(const MailRequest& request, std::optional<std::int32_t> scheduledAt);
    // Logs the end of an upload or a mail; `failing` tells whether the last automatic one failed.
    void LogDelivery(bool& failing, bool automatic, const std::string& what, const std::string& failure);
    void ShowWaiting(bool waiting);
    // The Live View's line under the name: why the last automatic save failed (empty: clears it).
    void ShowSaveStatus(const std::string& reason);
    void LayOutControls();
    bool OnPaint();
    void KeepBottomLinesAtBottom();

    std::string cameraName;
    std::string nameText_;
    HWND videoHost_ = nullptr;
    SessionHost* host_ = nullptr;
    CamActionDialog* actionDialog_ = nullptr;
    int cameraIndex = -1;
    // From the tops of the name edit and the save status line to the client area's bottom, in pixels.
    int nameEditBottomGap_ = 0;
    int saveStatusBottomGap_ = 0;
    std::string saveStatus_;
    bool slotHeld_ = false;
    CaptureGraph graph_;
    std::unique_ptr<Uploader> uploader_ = std::make_unique<FtpUploader>();
    std::unique_ptr<Mailer> mailer_ = std::make_unique<SimpleMapiMailer>();
    // The image the slot is armed for, until its frame is handled.
    std::optional<PendingImage> pendingImage_;
    // A save failed and no save has worked since (the log tells the first failure and the recovery).
    bool saveFailing_ = false;
    std::string failedPath_;
    // Watching the camera; while it is lost, the "waiting" text covers the picture and the frame
    // asked for is given up.
    CameraWatcher watcher_{graph_,
                           [this] {
                               pendingImage_.reset();
                               ShowWaiting(true);
                           },
                           [this] { ShowWaiting(false); }};
    HWND waitingLabel_ = nullptr;
    UniqueIcon icon_;
    // Requests armed and frames written, to wait for the image of the last request.
    std::uint64_t requestsArmed_ = 0;
    std::uint64_t requestsServed_ = 0;
    std::uint64_t requestsWrittenCount_ = 0;
    std::uint64_t savesFailedCount_ = 0;
    MotionWatcher motion_;
    // Old images deleted by the camera's limits, and the paths that must stay.
    std::unique_ptr<ImageRetention> retention_;
    std::string lastWrittenPath_;
    std::string lastMirroredPath_;
    std::string lastUploadPath_;
    std::string lastMailPath_;
    bool uploadsFailing_ = false;
    bool mailsFailing_ = false;
};

} // namespace lumetra
