#pragma once
// One camera session's FTP upload through WinINet: a fresh session and connection per upload,
// passive mode unless the camera asks for active, binary transfer, on a thread of its own. The file
// goes up under a temporary name and is renamed once complete, so the folder on the server never
// shows half an image. Failures of the user's uploads are shown in message boxes owned by the
// session window; the schedule's are only told to the caller.

#include <windows.h>
#include <wininet.h>

#include "delivery/BackgroundJob.h"
#include "delivery/Delivery.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace lumetra {

// Puts one file on the server with WinINet, blocking the calling thread: its own session and
// connection, binary, 30 s for connecting, sending and receiving; `port` unless the server names
// one. The boxes a failure needs are returned, not shown. A stop request closes the session and
// ends the upload.
JobOutcome PutFileByFtp(const UploadRequest& request, INTERNET_PORT port, JobStop& stop);

// The host and port of a server field: "host", "host:port", "[v6]:port" or a bare v6 address;
// none for a port that is not a number from 1 to 65535.
struct FtpHost {
    std::string host;
    INTERNET_PORT port = 0;
};
std::optional<FtpHost> SplitFtpServer(const std::string& server, INTERNET_PORT defaultPort);

// The name a file has on the server while it arrives.
std::string PartialUploadName(const std::string& remoteName);

class FtpUploader : public Uploader {
  public:
    // The port is fixed at 21 in the program; tests point it at a server of their own.
    explicit FtpUploader(INTERNET_PORT port = INTERNET_DEFAULT_FTP_PORT);
    ~FtpUploader() override { *alive_ = false; }
    FtpUploader(const FtpUploader&) = delete;
    FtpUploader& operator=(const FtpUploader&) = delete;

    // Starts putting localPath on server as remoteName inside directory ("./" when empty) on a
    // thread of its own. Does nothing when remoteName or server is empty. While an upload of this
    // uploader runs or its box is open, a new one is refused: with the " Duplicate" box when the
    // user asked for it, quietly for the schedule. When the upload ends, `finished` is told first,
    // then, for the user's upload (not `quiet`), its box (owned by `owner`) is shown.
    Start Upload(HWND owner, const UploadRequest& request, bool quiet = false,
                 BackgroundJob::Finished finished = nullptr) override;

    // An upload runs, or the box of one is open.
    bool Busy() const override { return job_.Running() || boxOpen_; }

  private:
    void OnFinished(HWND owner, bool quiet, const JobOutcome& outcome,
                    const BackgroundJob::Finished& finished);

    INTERNET_PORT port_;
    BackgroundJob job_;
    bool boxOpen_ = false;
    bool duplicateOpen_ = false;
    // Cleared when the uploader goes while one of its boxes is open (its session closed from that
    // box's message loop).
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Text for a WinINet or system error code: the system's text, or for WinINet's own codes
// WinINet's text followed by the server's last response when there is one. Never empty.
std::string FtpErrorText(DWORD errorCode);

} // namespace lumetra
