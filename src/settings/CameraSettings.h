#pragma once
// One camera's settings and their registry copy under
// HKEY_CURRENT_USER\Software\_ORVANE\Lumetra\<camera name>.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace lumetra {

// The value names LoadSettings recognises, at their indices 0..37.
constexpr int SettingNameCount = 38;
extern const char* const SettingNames[SettingNameCount];
// Index of name in SettingNames (exact, case-sensitive), or -1.
int SettingIndex(const std::string& name);

constexpr int DefaultPolygonSides = 5;
constexpr int MinPolygonSides = 3;
constexpr int MaxPolygonSides = 21;

struct CameraSettings {
    std::string CAM;                // camera name; names the registry key
    int AUS = 0;                    // save automatically
    int ATI = 0;                    // show each saved image
    std::string OFS;                // seconds between automatic saves, as typed
    std::string FIN;                // file name stem
    int AVI = 0;                    // append the time to the file name
    int AFT = 0;                    // upload automatically
    std::string FTP;                // FTP server
    std::string FTO = "30";         // seconds between uploads, as typed
    std::string FIL;                // save directory
    std::string FtpPassword;        // never stored
    std::string FTU;                // FTP user
    std::string FTD;                // directory on the FTP server
    int WXX = 0, WYY = 0;           // watermark offset
    int WID = 0, WHI = 0;           // desired watermark size
    std::string WTP;                // watermark picture path
    BYTE HIR = 0, HIG = 0, HIB = 0; // high transparent colour
    BYTE LOR = 0, LOG = 0, LOB = 0; // low transparent colour
    int TXX = 0, TXY = 0;           // text offset
    int UWM = 0;                    // use the watermark
    int UTT = 0;                    // use the transparent colour range
    int UPO = 0;                    // watermark as a polygon
    int UVT = 0;                    // vertical text
    int WTX = 0;                    // wrap the text in a box
    int WTW = 0, WTH = 0;           // box width and depth
    int EmailAuto = 0;              // never stored
    int ETL = 0;                    // seconds between mails
    std::string EML;                // addresses separated by ';'
    int MirrorToHttp = 0;           // never stored
    int PLS = DefaultPolygonSides;  // polygon sides
    LOGFONTA LFN{};                 // text font, all zero until chosen
    COLORREF FontColor = 0;         // 0x00BBGGRR, stored as FCO
    std::string UTX;                // the text to draw (the dialog's text edit)
};

// One registry value as SaveSettings writes it.
struct StoredValue {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// The values of one save, in the order they are written: the 37 settings, then FCO.
std::vector<StoredValue> SettingsToValues(const CameraSettings& settings);

// What a load found besides plain members.
struct LoadOutcome {
    bool keyOpened = false;
    bool viewAfterSaving = false;    // a non-zero ATI was applied
    bool fontRestored = false;       // LFN was applied
    std::optional<std::string> text; // UTX, for the dialog's text edit
    LONG enumerationError = ERROR_SUCCESS;
};

// Applies one value to the settings by its name and type; a name not in SettingNames, a type that
// does not fit the name, or data of the wrong size is ignored. Returns whether it was applied.
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

// Writes SettingsToValues under the key of settings.CAM. Returns false when the key did not open.
bool SaveSettingsToRegistry(const CameraSettings& settings);
// Applies every value under the key of settings.CAM. An enumeration error is shown in an "Error!"
// box and ends the load; what was applied stays.
LoadOutcome LoadSettingsFromRegistry(CameraSettings& settings);

// atol-like: blanks, an optional sign, digits up to the first non-digit; no digits give 0.
// Values beyond the int range are clamped.
int LeadingInteger(const std::string& text);

} // namespace lumetra
