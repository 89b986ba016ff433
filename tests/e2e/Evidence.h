#pragma once
// What the program leaves behind, read back by the end-to-end tests and the demo: image files,
// screenshots and the shared-memory mirror; the recording mail provider's log, FTP uploads through
// a local server and the camera settings in the registry are read by the shared test support.

#include "CameraKeys.h"
#include "FtpServer.h"
#include "MailLog.h"
#include "TempFiles.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumetra::e2e {

using lumetra::test::CanConnect;
using lumetra::test::DeleteCameraKey;
using lumetra::test::FileExists;
using lumetra::test::FtpServer;
using lumetra::test::ReadMailLog;
using lumetra::test::ReadWholeFile;
using lumetra::test::RecordedMail;
using lumetra::test::RemoveTree;
using lumetra::test::StoredNumber;
using lumetra::test::StoredText;
using lumetra::test::ToWindowsPath;
using lumetra::test::WriteCameraValue;

// Starts GDI+ for the life of the object.
class GdiplusSession {
  public:
    GdiplusSession();
    ~GdiplusSession();
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

  private:
    ULONG_PTR token_ = 0;
};

// A decoded image (GDI+ must be running).
struct Picture {
    bool isJpeg = false; // the file starts with a JPEG header and GDI+ reads it as JPEG
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> argb; // top-down rows

    std::uint32_t At(int x, int y) const { return argb[static_cast<size_t>(y) * width + x]; }
    // Mean red, green and blue over a rectangle.
    void Mean(int x, int y, int w, int h, double& r, double& g, double& b) const;
};
std::optional<Picture> LoadPicture(const std::string& path);

// Writes a bitmap file of one flat colour.
bool WriteFlatBitmap(const std::string& path, int width, int height, BYTE r, BYTE g, BYTE b);
// Captures what the screen shows of `window` (the whole screen when null) into a PNG file.
bool SaveScreenshot(HWND window, const std::string& pngPath);

// The text of the shared-memory block "lumetramem" (up to the first U+0000), converted to the
// ANSI code page; nullopt when no such block exists.
std::optional<std::string> ReadMirror();

// Files in `directory` (names only, sorted) whose names match the wildcard.
std::vector<std::string> FilesIn(const std::string& directory, const std::string& wildcard = "*");
// Creates a fresh, empty directory.
bool MakeEmptyDirectory(const std::string& directory);

// The FTP server of the tests runs on port 21 here, where lumetra.exe always connects.
constexpr unsigned short LumetraFtpPort = 21;

// A LOGFONT for the text overlay: the font a user would pick in "choose font".
LOGFONTA TextFont(int height);

} // namespace lumetra::e2e
