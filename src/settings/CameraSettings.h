#pragma once
// One camera's settings and their registry copy under
// HKEY_CURRENT_USER\Software\_ORVANE\Lumetra\<camera name>.

#include "imaging/OverlaySettings.h"

#include <windows.h>

#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace lumetra {

constexpr int MinPolygonSides = 3;
constexpr int MaxPolygonSides = 21;

// The watermark and text settings are the base: the composer is handed that part as it stands.
// Their text is the one member filled from the text edit when they are published. A value kept in
// the registry is a member plus one row of the table in CameraSettings.cpp.
struct CameraSettings : OverlaySettings {
    std::string cameraName;        // camera name; names the registry key
    int saveAuto = 0;              // save automatically
    int viewAfterSaving = 0;       // show each saved image
    std::string saveSeconds;       // seconds between automatic saves, as typed
    std::string fileName;          // file name stem
    int appendTime = 0;            // append the time to the file name
    int ftpAuto = 0;               // upload automatically
    std::string ftpServer;         // FTP server
    std::string ftpSeconds = "30"; // seconds between uploads, as typed
    std::string directory;         // save directory
    std::string ftpPassword;       // never stored
    std::string ftpUser;           // FTP user
    std::string ftpPath;           // directory on the FTP server
    int emailAuto = 0;             // never stored
    int emailSeconds = 0;          // seconds between mails
    std::string emailAddresses;    // addresses separated by ';'
    int mirrorToHttp = 0;          // never stored
    std::string storedText;        // the whole text of the dialog's text edit, as stored
    int saveOnMotion = 0;          // save when something moves
    int motionShare = 10;          // share of the picture that must change, in tenths of a percent
    int pixelChange = 25;          // change of grey level (1 to 255) that makes a pixel count as changed
    int motionGapSeconds = 2;      // seconds between motion saves
    int keepDays = 0;              // days the time-stamped images are kept (0: no age limit)
    int keepMegabytes = 0;         // megabytes of them kept (0: no size limit)
    int activeFtp = 0;             // FTP in active mode (the server connects back); passive otherwise
    int mailMethod = 0;            // a MailMethod
    std::string smtpServer;
    int smtpPort = 587;
    int smtpSecurity = 0; // an SmtpSecurity
    std::string smtpUser;
    std::string smtpPassword;           // stored encrypted for the Windows user (DPAPI)
    std::string smtpSender;             // the From address
    std::string smtpTrustedCertificate; // SHA-256 fingerprint of a server certificate the user trusts
    int troubleMail = 0;                // mail when the camera is lost or its saves fail for a while
    std::string pictureSize;            // "1280x720"; empty: the camera's default size
};

// How a camera's mails leave: through the machine's mail program, or an SMTP server of its own.
enum MailMethod { MailThroughMailProgram = 0, MailThroughSmtp = 1 };

// Ranges of the motion values, as the dialog accepts them.
constexpr int MinMotionShare = 1, MaxMotionShare = 1000;
constexpr int MinPixelChange = 1, MaxPixelChange = 255;
constexpr int MinMotionGap = 1, MaxMotionGap = 86400;
// Ranges of the retention limits (0: no limit).
constexpr int MaxKeepDays = 36500;
constexpr int MaxKeepMegabytes = 10000000;

// How a stored value is written, and how a load applies it. A load ignores a value of another
// registry type than its kind's, and a REG_DWORD that is not 4 bytes long.
enum class StoredKind {
    Text,          // REG_SZ with its NUL
    EditText,      // REG_SZ; a load hands it to the text edit (LoadOutcome::text), not to the member
    Flag,          // REG_DWORD; a non-zero value loads as 1, a zero leaves the member as it is
    ViewFlag,      // a Flag whose non-zero value also reports LoadOutcome::viewAfterSaving
    WriteOnlyFlag, // REG_DWORD, never loaded: a reopened camera never starts saving by itself
    Int,           // REG_DWORD holding a signed int
    Byte,          // REG_DWORD, zero-extended; a load takes its low byte
    Sides,         // REG_DWORD; a load keeps it within MinPolygonSides..MaxPolygonSides
    Colour,        // REG_DWORD 0x00BBGGRR; a stray top byte is dropped both ways
    Font,          // REG_BINARY, the 60 bytes of LOGFONTA; a load takes 60 bytes of any type but
                   // REG_SZ and REG_DWORD and reports LoadOutcome::fontRestored
    Secret,        // REG_BINARY, the text encrypted for the Windows user (CryptProtectData); a value
                   // that does not decrypt (another user's, another machine's) loads as nothing
};

using SettingMember =
    std::variant<std::string CameraSettings::*, int CameraSettings::*, BYTE CameraSettings::*,
                 COLORREF CameraSettings::*, LOGFONTA CameraSettings::*>;

// One row of the settings table: a value stored under the camera's key.
struct StoredSetting {
    const char* name; // the registry value name
    StoredKind kind;
    SettingMember member; // of the type the kind reads and writes (checked when the table compiles)
};

// Every stored value, in the order a save writes them. A load recognises these names only (exactly,
// letter case included). The defaults are those of the members.
std::span<const StoredSetting> StoredSettings();
// The row of a value name, or null.
const StoredSetting* FindStoredSetting(const std::string& name);

// One registry value as SaveSettings writes it.
struct StoredValue {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// The values of one save, one per row of StoredSettings, in its order.
std::vector<StoredValue> SettingsToValues(const CameraSettings& settings);

// What a load found besides plain members.
struct LoadOutcome {
    bool keyOpened = false;
    bool viewAfterSaving = false;    // a non-zero ATI was applied
    bool fontRestored = false;       // LFN was applied
    std::optional<std::string> text; // UTX, for the dialog's text edit
    LONG enumerationError = ERROR_SUCCESS;
};

// Applies one value to the settings by its row; a name without a row, a type that does not fit the
// row's kind, or data of the wrong size is ignored. Returns whether it was applied.
bool ApplyStoredValue(CameraSettings& settings, LoadOutcome& outcome, const std::string& name, DWORD type,
                      const BYTE* data, DWORD size);

// Opens (creating when missing) Software\_ORVANE\Lumetra\<cameraName> under HKEY_CURRENT_USER.
// An empty name gives the Lumetra key itself. Null when a level fails.
HKEY OpenCameraKey(const std::string& cameraName);

// Whether a camera name can name its settings key: not empty, no \ at either end, no \\ inside
// (the registry would take such a name for another key, or refuse it), and no level of it longer
// than the registry's 255 characters.
bool IsCameraKeyName(const std::string& name);
// The message that refuses a camera name that fails IsCameraKeyName.
std::string CameraNameRefusal(const std::string& name);
// Whether a camera of this name has stored settings (its key exists); nothing is created.
bool HasStoredSettings(const std::string& cameraName);
// Whether two camera names open the same key (the registry ignores letter case).
bool IsSameCameraKey(const std::string& first, const std::string& second);

// Writes SettingsToValues under the key of settings.cameraName. Returns false when the key did not open.
bool SaveSettingsToRegistry(const CameraSettings& settings);
// Applies every value under the key of settings.cameraName. An enumeration error is shown in an "Error!"
// box and ends the load; what was applied stays.
LoadOutcome LoadSettingsFromRegistry(CameraSettings& settings);

// atol-like: blanks, an optional sign, digits up to the first non-digit; no digits give 0.
// Values beyond the int range are clamped.
int LeadingInteger(const std::string& text);

} // namespace lumetra
