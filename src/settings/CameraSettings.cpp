#include "settings/CameraSettings.h"

#include "framework/AnsiText.h"
#include "framework/Handles.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

namespace lumetra {

const char* const SettingNames[SettingNameCount] = {
    "CAM", "AUS", "ATI", "OFS", "FIL", "FIN", "AVI", "AFT", "FTP", "FTO", "FTU", "FTD", "UWM",
    "UTT", "WTP", "LOR", "LOG", "LOB", "HIR", "HIG", "HIB", "UTX", "TXX", "TXY", "WXX", "WYY",
    "WID", "WHI", "PLS", "UPO", "UVT", "WTW", "WTH", "WTX", "LFN", "FCO", "EML", "ETL",
};

static_assert(sizeof(LOGFONTA) == 60, "LFN is stored as 60 bytes");

int SettingIndex(const std::string& name) {
    for (int index = 0; index < SettingNameCount; ++index) {
        if (name == SettingNames[index])
            return index;
    }
    return -1;
}

namespace {

constexpr const char* const LumetraKeyPath[] = {"Software", "_ORVANE", "Lumetra"};
// Both buffers of the enumeration start at these sizes and grow for longer values.
constexpr DWORD InitialNameChars = 100;
constexpr DWORD InitialDataBytes = 100;
constexpr DWORD MaxValueNameChars = 16384;
constexpr size_t MaxKeyNameChars = 255;

StoredValue Text(const char* name, const std::string& value) {
    StoredValue stored{name, REG_SZ, {}};
    stored.data.assign(value.begin(), value.end());
    stored.data.push_back('\0');
    return stored;
}

StoredValue Dword(const char* name, DWORD value) {
    StoredValue stored{name, REG_DWORD, std::vector<BYTE>(sizeof(DWORD))};
    std::memcpy(stored.data.data(), &value, sizeof value);
    return stored;
}

StoredValue Font(const char* name, const LOGFONTA& font) {
    StoredValue stored{name, REG_BINARY, std::vector<BYTE>(sizeof(LOGFONTA))};
    std::memcpy(stored.data.data(), &font, sizeof font);
    return stored;
}

// The text of a REG_SZ value: up to its first NUL, never beyond its size.
std::string TextOf(const BYTE* data, DWORD size) {
    const char* begin = reinterpret_cast<const char*>(data);
    const char* end = std::find(begin, begin + size, '\0');
    return std::string(begin, end);
}

std::string* TextMember(CameraSettings& settings, const std::string& name) {
    if (name == "CAM")
        return &settings.CAM;
    if (name == "OFS")
        return &settings.OFS;
    if (name == "FIL")
        return &settings.FIL;
    if (name == "FIN")
        return &settings.FIN;
    if (name == "FTP")
        return &settings.FTP;
    if (name == "FTO")
        return &settings.FTO;
    if (name == "FTU")
        return &settings.FTU;
    if (name == "FTD")
        return &settings.FTD;
    if (name == "WTP")
        return &settings.WTP;
    if (name == "EML")
        return &settings.EML;
    return nullptr;
}

// Flags that a non-zero value sets; a zero leaves them as they are.
int* FlagMember(CameraSettings& settings, const std::string& name) {
    if (name == "AVI")
        return &settings.AVI;
    if (name == "AFT")
        return &settings.AFT;
    if (name == "UWM")
        return &settings.UWM;
    if (name == "UTT")
        return &settings.UTT;
    if (name == "UPO")
        return &settings.UPO;
    if (name == "UVT")
        return &settings.UVT;
    if (name == "WTX")
        return &settings.WTX;
    return nullptr;
}

int* IntMember(CameraSettings& settings, const std::string& name) {
    if (name == "TXX")
        return &settings.TXX;
    if (name == "TXY")
        return &settings.TXY;
    if (name == "WXX")
        return &settings.WXX;
    if (name == "WYY")
        return &settings.WYY;
    if (name == "WID")
        return &settings.WID;
    if (name == "WHI")
        return &settings.WHI;
    if (name == "WTW")
        return &settings.WTW;
    if (name == "WTH")
        return &settings.WTH;
    if (name == "ETL")
        return &settings.ETL;
    return nullptr;
}

BYTE* ColourMember(CameraSettings& settings, const std::string& name) {
    if (name == "LOR")
        return &settings.LOR;
    if (name == "LOG")
        return &settings.LOG;
    if (name == "LOB")
        return &settings.LOB;
    if (name == "HIR")
        return &settings.HIR;
    if (name == "HIG")
        return &settings.HIG;
    if (name == "HIB")
        return &settings.HIB;
    return nullptr;
}

bool ApplyDword(CameraSettings& settings, LoadOutcome& outcome, const std::string& name, DWORD value) {
    if (name == "ATI") {
        if (value != 0) {
            settings.ATI = 1;
            outcome.viewAfterSaving = true;
        }
        return true;
    }
    if (int* flag = FlagMember(settings, name)) {
        if (value != 0)
            *flag = 1;
        return true;
    }
    if (int* member = IntMember(settings, name)) {
        *member = static_cast<int>(value);
        return true;
    }
    if (BYTE* colour = ColourMember(settings, name)) {
        *colour = static_cast<BYTE>(value & 0xFF);
        return true;
    }
    if (name == "PLS") {
        settings.PLS = std::clamp(static_cast<int>(value), MinPolygonSides, MaxPolygonSides);
        return true;
    }
    if (name == "FCO") {
        settings.FontColor = value & 0x00FFFFFF;
        return true;
    }
    return false; // AUS is stored but a reopened camera never starts saving by itself
}

// A face name saved before the program used UTF-8 holds the bytes of the system's code page (the
// registry keeps LFN as it was given); it is brought into the code page in use, whole characters only.
void RecodeLegacyFaceName(LOGFONTA& font) {
    const std::string stored = font.lfFaceName;
    const std::string face = AnsiPrefix(FromLegacyAnsi(stored), LF_FACESIZE - 1, LF_FACESIZE - 1);
    if (face == stored)
        return;
    std::memset(font.lfFaceName, 0, sizeof font.lfFaceName);
    std::memcpy(font.lfFaceName, face.data(), face.size());
}

void ShowEnumerationError(LONG error) {
    char text[300] = {};
    ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, static_cast<DWORD>(error),
                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    if (text[0] == '\0')
        std::snprintf(text, sizeof text, "Error %ld while reading the camera settings.", error);
    ::MessageBoxA(nullptr, text, "Error!", MB_OK | MB_TASKMODAL | MB_SETFOREGROUND);
}

} // namespace

std::vector<StoredValue> SettingsToValues(const CameraSettings& s) {
    auto flag = [](int value) { return static_cast<DWORD>(value); };
    return {
        Text("CAM", s.CAM),        Dword("AUS", flag(s.AUS)),
        Dword("ATI", flag(s.ATI)), Text("OFS", s.OFS),
        Text("FIL", s.FIL),        Text("FIN", s.FIN),
        Dword("AVI", flag(s.AVI)), Dword("AFT", flag(s.AFT)),
        Text("FTP", s.FTP),        Text("FTO", s.FTO),
        Text("FTU", s.FTU),        Text("FTD", s.FTD),
        Dword("UWM", flag(s.UWM)), Dword("UTT", flag(s.UTT)),
        Text("WTP", s.WTP),        Dword("LOR", s.LOR),
        Dword("LOG", s.LOG),       Dword("LOB", s.LOB),
        Dword("HIR", s.HIR),       Dword("HIG", s.HIG),
        Dword("HIB", s.HIB),       Dword("TXX", flag(s.TXX)),
        Dword("TXY", flag(s.TXY)), Dword("WXX", flag(s.WXX)),
        Dword("WYY", flag(s.WYY)), Dword("WID", flag(s.WID)),
        Dword("WHI", flag(s.WHI)), Dword("PLS", flag(s.PLS)),
        Dword("UPO", flag(s.UPO)), Dword("UVT", flag(s.UVT)),
        Dword("WTW", flag(s.WTW)), Dword("WTH", flag(s.WTH)),
        Dword("WTX", flag(s.WTX)), Text("UTX", s.UTX),
        Font("LFN", s.LFN),        Text("EML", s.EML),
        Dword("ETL", flag(s.ETL)), Dword("FCO", s.FontColor & 0x00FFFFFF),
    };
}

bool ApplyStoredValue(CameraSettings& settings, LoadOutcome& outcome, const std::string& name, DWORD type,
                      const BYTE* data, DWORD size) {
    if (SettingIndex(name) < 0)
        return false;
    switch (type) {
    case REG_SZ:
        if (name == "UTX") {
            outcome.text = TextOf(data, size);
            return true;
        }
        if (std::string* member = TextMember(settings, name)) {
            *member = TextOf(data, size);
            return true;
        }
        return false;
    case REG_DWORD: {
        if (size != sizeof(DWORD))
            return false;
        DWORD value = 0;
        std::memcpy(&value, data, sizeof value);
        return ApplyDword(settings, outcome, name, value);
    }
    default:
        if (name != "LFN" || size != sizeof(LOGFONTA))
            return false;
        std::memcpy(&settings.LFN, data, sizeof(LOGFONTA));
        settings.LFN.lfFaceName[LF_FACESIZE - 1] = '\0';
        RecodeLegacyFaceName(settings.LFN);
        outcome.fontRestored = true;
        return true;
    }
}

HKEY OpenCameraKey(const std::string& cameraName) {
    UniqueRegKey parent;
    HKEY current = HKEY_CURRENT_USER;
    for (const char* level : LumetraKeyPath) {
        UniqueRegKey child;
        if (::RegCreateKeyExA(current, level, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, child.put(), nullptr) !=
            ERROR_SUCCESS)
            return nullptr;
        parent = std::move(child);
        current = parent.get();
    }
    HKEY cameraKey = nullptr;
    if (::RegCreateKeyExA(current, cameraName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &cameraKey,
                          nullptr) != ERROR_SUCCESS)
        return nullptr;
    return cameraKey;
}

bool IsCameraKeyName(const std::string& name) {
    if (name.empty() || name.front() == '\\' || name.back() == '\\' || name.find("\\\\") != std::string::npos)
        return false;
    // Each level of a key name holds at most 255 characters.
    for (size_t start = 0;;) {
        const size_t end = name.find('\\', start);
        if (AnsiCharacterCount(name.substr(start, end - start)) > MaxKeyNameChars)
            return false;
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}

std::string CameraNameRefusal(const std::string& name) {
    return "The camera name \"" + name +
           "\" cannot be used: it names the camera's settings in the registry, so it may not be empty, "
           "begin or end with \\ or hold \\\\, and no part of it between two \\ may be longer than 255 "
           "characters.";
}

bool HasStoredSettings(const std::string& cameraName) {
    if (!IsCameraKeyName(cameraName))
        return false;
    UniqueRegKey key;
    const std::string path = std::string(LumetraKeyPath[0]) + "\\" + LumetraKeyPath[1] + "\\" +
                             LumetraKeyPath[2] + "\\" + cameraName;
    return ::RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

bool IsSameCameraKey(const std::string& first, const std::string& second) {
    const std::wstring a = AnsiToWide(first);
    const std::wstring b = AnsiToWide(second);
    // The registry compares key names without regard to letter case.
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

bool SaveSettingsToRegistry(const CameraSettings& settings) {
    UniqueRegKey key(OpenCameraKey(settings.CAM));
    if (!key)
        return false;
    for (const StoredValue& value : SettingsToValues(settings)) {
        // A failed write loses that value only; the others are still written.
        ::RegSetValueExA(key.get(), value.name.c_str(), 0, value.type, value.data.data(),
                         static_cast<DWORD>(value.data.size()));
    }
    return true;
}

LoadOutcome LoadSettingsFromRegistry(CameraSettings& settings) {
    LoadOutcome outcome;
    UniqueRegKey key(OpenCameraKey(settings.CAM));
    if (!key)
        return outcome;
    outcome.keyOpened = true;

    std::vector<char> name(InitialNameChars);
    std::vector<BYTE> data(InitialDataBytes);
    for (DWORD index = 0;;) {
        DWORD nameChars = static_cast<DWORD>(name.size());
        DWORD dataBytes = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        const LONG result = ::RegEnumValueA(key.get(), index, name.data(), &nameChars, nullptr, &type,
                                            data.data(), &dataBytes);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result == ERROR_MORE_DATA) {
            // A value too long for the buffers is read again whole, not dropped.
            if (dataBytes > data.size())
                data.resize(dataBytes);
            else if (name.size() < MaxValueNameChars)
                name.resize(std::min<size_t>(name.size() * 4, MaxValueNameChars));
            else
                ++index; // nothing more to offer it: leave the value out
            continue;
        }
        if (result != ERROR_SUCCESS) {
            outcome.enumerationError = result;
            ShowEnumerationError(result);
            break;
        }
        ApplyStoredValue(settings, outcome, std::string(name.data(), nameChars), type, data.data(),
                         dataBytes);
        ++index;
    }
    return outcome;
}

int LeadingInteger(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        magnitude =
            std::min<long long>(magnitude * 10 + (text[i] - '0'), static_cast<long long>(INT_MAX) + 1);
    const long long value = negative ? -magnitude : magnitude;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

} // namespace lumetra
