#pragma once
// One open camera: the "Live View" window and the controller of the camera's graph, slot,
// schedule, FTP state and mailer.

#include "capture/CaptureGraph.h"
#include "delivery/FtpUploader.h"
#include "delivery/MapiMailer.h"
#include "framework/Dialog.h"
#include "framework/Handles.h"
#include "session/LiveViewIds.h"

#include <cstdint>
#include <memory>
#include <string>

namespace lumetra {

class CameraListDialog;
class ccamaction;
class imageview;

class camview : public Dialog {
  public:
    // Creates the window at once, hidden, top-level without an owner window.
    explicit camview(CameraListDialog* owner);
    ~camview() override;

    void SetActionDialog(ccamaction* actionDialog) { actionDialog_ = actionDialog; }
    void DetachActionDialog() { actionDialog_ = nullptr; }
    void AssignSlot(CameraListDialog* owner, int cameraIndex);
    void StartSession(const std::string& name);
    // The Cancel command: closes the session (and with it the action dialog).
    void Cancel() { OnCancel(); }
    // Exit of the camera list: closes like Cancel.
    void CloseFromOwner() { OnCancel(); }

    // One step of the automatic schedule (camera timer, every 200 ms).
    void Tick();
    // Arms the slot for path, waits 100 ms, then shows the path in the viewer when that is on.
    // Returns false, doing nothing, when the path cannot be armed (too long for the slot).
    bool SaveSnapshot(const std::string& path);
    // Uploads localPath as remoteName; errors are shown in message boxes.
    void UploadByFtp(const std::string& localPath, const std::string& remoteName, const std::string& url,
                     const std::string& remotePath, const std::string& user, const std::string& password);
    // Mails the action dialog's last image to its addresses.
    void MailLastSavedImage();
    // Waits until the frame asked for by the last request is written (or about two seconds pass);
    // returns at once when no graph runs, as no frame can come.
    void WaitForRequestedImage();
    // The program uploads to port 21; tests point the session at a server of their own.
    void SetFtpPort(INTERNET_PORT port);
    // Frames this session has written (the WM_FRAME_READY messages that found a frame).
    std::uint64_t ImagesWritten() const { return requestsWrittenCount_; }

    void ShowInViewer(const std::string& path);
    void ViewerDestroyed() { imageViewer = nullptr; }

    const std::string& CameraName() const { return cameraName; }
    int CameraIndex() const { return cameraIndex; }
    ccamaction* ActionDialog() const { return actionDialog_; }
    CameraListDialog* Owner() const { return owner; }
    const CaptureGraph& Graph() const { return graph_; }

    // Written by the action dialog.
    bool SaveAutoOn = false;
    bool FtpAutoOn = false;
    bool EmailAutoOn = false;
    bool ViewAfterSavingOn = false;

    // Schedule times, whole seconds since 1970.
    std::int32_t tickTime = 0;
    std::int32_t lastSaveTime = 0;
    std::int32_t lastFtpTime = 0;
    std::int32_t mailTickTime = 0;
    std::int32_t lastMailTime = 0;

    imageview* imageViewer = nullptr;

  protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void DoDataExchange(DataExchange& exchange) override;
    void PostNcDestroy() override { delete this; }
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

  private:
    void CloseSession();
    void OnFrameReady();
    bool OnPaint();
    void KeepNameEditAtBottom();

    std::string cameraName;
    std::string nameText_;
    HWND videoHost_ = nullptr;
    CameraListDialog* owner = nullptr;
    ccamaction* actionDialog_ = nullptr;
    int cameraIndex = -1;
    int nameEditBottomGap_ = 0; // from the name edit's top to the client area's bottom, in pixels
    bool slotHeld_ = false;
    CaptureGraph graph_;
    std::unique_ptr<FtpUploader> ftp_ = std::make_unique<FtpUploader>();
    MapiMailer mailer;
    UniqueIcon icon_;
    // Requests armed and frames written, to wait for the image of the last request.
    std::uint64_t requestsArmed_ = 0;
    std::uint64_t requestsServed_ = 0;
    std::uint64_t requestsWrittenCount_ = 0;
    // Cleared by the destructor: a caller that ran a message loop (a box of an upload, a
    // validation message) learns whether the session was closed meanwhile.
};

} // namespace lumetra
