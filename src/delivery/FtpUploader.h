#pragma once
// One camera session's FTP upload through WinINet: a fresh session and connection per upload,
// active mode, binary transfer. Failures are shown in message boxes owned by the session window.

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <memory>
#include <string>

namespace lumetra {

class FtpUploader {
  public:
    // The port is fixed at 21 in the program; tests point it at a server of their own.
    explicit FtpUploader(INTERNET_PORT port = INTERNET_DEFAULT_FTP_PORT);
    ~FtpUploader() { *alive_ = false; }
    FtpUploader(const FtpUploader&) = delete;
    FtpUploader& operator=(const FtpUploader&) = delete;

    // Puts localPath on server as remoteName inside directory ("./" when empty). Does nothing
    // when remoteName or server is empty; shows " Duplicate" when an upload of this session is
    // still open (reachable from a message loop of one of its boxes).
    void UploadByFtp(HWND owner, const std::string& localPath, const std::string& remoteName,
                     const std::string& server, const std::string& directory, const std::string& user,
                     const std::string& password);

    bool IsBusy() const { return ftpConnection_ != nullptr; }

  private:
    INTERNET_PORT port_;
    // The handles of the upload in progress. They are owned by the running upload call, so that an
    // upload started from inside one of its message boxes cannot close or leak them.
    HINTERNET ftpInternet_ = nullptr;
    HINTERNET ftpConnection_ = nullptr;
    DWORD_PTR ftpContext_ = 0;
    // Cleared when the uploader goes while one of its boxes is open (its session closed from
    // that box's message loop); the running call then only releases its own handles.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Text for a WinINet or system error code: the system's text, or for WinINet's own codes
// WinINet's text followed by the server's last response when there is one. Never empty.
std::string FtpErrorText(DWORD errorCode);

} // namespace lumetra
