#pragma once
// The ways a camera's saved image leaves the machine, behind small interfaces: a mailer and an
// uploader each take one request, work on a thread of their own and report how it went on the
// user-interface thread. A second way of mailing or uploading is a new class here and a setting
// that chooses it; the Live View only holds a Mailer and an Uploader.

#include "delivery/BackgroundJob.h"

#include <windows.h>

#include <string>

namespace lumetra {

// One mail of a camera: its addresses as typed (separated by ';') and the image to attach.
struct MailRequest {
    std::string emailAddresses;
    std::string imagePath;
    std::string imageName;
    // A mail about the camera rather than of an image (its trouble): subject and text of its own,
    // and the image attached only when there is one. Empty for a saved image's mail, whose subject
    // and text are the image's name.
    std::string subject;
    std::string text;

    const std::string& Subject() const { return subject.empty() ? imageName : subject; }
    const std::string& Text() const { return subject.empty() ? imageName : text; }
    bool HasAttachment() const { return subject.empty() || !imagePath.empty(); }
};

// What one upload is asked to do; copied to the upload's own thread.
struct UploadRequest {
    std::string localPath;
    std::string remoteName;
    std::string server; // "host", "host:port" or "[v6 address]:port"
    std::string directory;
    std::string user;
    std::string password;
    bool activeMode = false; // the server connects back (PORT); passive otherwise
};

class Mailer {
  public:
    virtual ~Mailer() = default;
    // Starts sending; `finished` is told on this thread when it ends. Returns false, starting
    // nothing, while a mail of this mailer is still on its way.
    virtual bool Send(const MailRequest& request, BackgroundJob::Finished finished) = 0;
    virtual bool Busy() const = 0;
};

class Uploader {
  public:
    virtual ~Uploader() = default;
    enum class Start { Started, NothingToDo, Busy };
    // Starts the upload; `finished` is told on this thread when it ends, before any box of it
    // (owned by `owner`) is shown. `quiet`: the schedule's, refused without a word while busy.
    virtual Start Upload(HWND owner, const UploadRequest& request, bool quiet,
                         BackgroundJob::Finished finished) = 0;
    // An upload runs, or a box of one is open.
    virtual bool Busy() const = 0;
};

} // namespace lumetra
