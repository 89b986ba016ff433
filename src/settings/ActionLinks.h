#pragma once
// What the CAM ACTION window asks of the windows above it: the camera's session, which implements
// ActionSession and hands itself over when the pair is made, and the program-wide switch of the
// HTTP mirror, held by the camera list.

#include "capture/PictureSize.h"
#include "delivery/Delivery.h"

#include <cstddef>
#include <optional>
#include <string>

namespace lumetra {

// The session's switches, as the CAM ACTION boxes set them.
enum class SessionSwitch { SaveAuto, FtpAuto, EmailAuto, ViewAfterSaving, SaveOnMotion };
constexpr std::size_t SessionSwitchCount = 5;

class ActionSession {
  public:
    virtual void SetSwitch(SessionSwitch which, bool on) = 0;
    // The user's save of the camera's next frame to path; once written its path is published, and a
    // failure is told in a box. Returns false, doing nothing, when the path cannot be armed.
    virtual bool SaveCurrentImage(const std::string& path) = 0;
    // Waits until the frame asked for by the last request is written (or about two seconds pass).
    virtual void WaitForRequestedImage() = 0;
    // The user's upload of localPath as remoteName and mail of the last saved image, each on a
    // thread of its own.
    virtual void UploadByFtp(const UploadRequest& request) = 0;
    virtual void MailLastSavedImage() = 0;
    // The user chose the camera's picture size (none: its default): a running camera starts again
    // at that size in the same window.
    virtual void ChangePictureSize(std::optional<PictureSize> size) = 0;
    // The action dialog is going: the session forgets it and closes with it.
    virtual void ActionDialogClosed() = 0;

  protected:
    ~ActionSession() = default;
};

class MirrorSwitch {
  public:
    // The last CAM ACTION window to write its "Mirror file path to HTTP service" box decides.
    virtual void SetMirrorEnabled(bool enabled) = 0;

  protected:
    ~MirrorSwitch() = default;
};

} // namespace lumetra
