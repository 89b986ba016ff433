#include "settings/CameraSettings.h"

#include "framework/AnsiText.h"
#include "framework/Handles.h"

#include <dpapi.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

namespace lumetra {

namespace {

constexpr const char* const LumetraKeyPath[] = {"Software", "_ORVANE", "Lumetra"};
// Both buffers of the enumeration start at these sizes and grow for longer values.
constexpr DWORD InitialNameChars = 100;
constexpr DWORD InitialDataBytes = 100;
constexpr DWORD MaxValueNameChars = 16384;
constexpr size_t MaxKeyNameChars = 255;
constexpr COLORREF ColourBits = 0x00FFFFFF;

static_assert(sizeof(LOGFONTA) == 60, "LFN is stored as 60 bytes");

using TextMember = std::string CameraSettings::*;
using IntMember = int CameraSettings::*;
using ByteMember = BYTE CameraSettings::*;
using ColourMember = COLORREF CameraSettings::*;
using FontMember = LOGFONTA CameraSettings::*;

using S = CameraSettings;
using K = StoredKind;
// One row per stored value, in the order a save writes them. New values go at the end, so a save
// writes the older ones as before.
// clang-format off
constexpr StoredSetting Table[] = {
    {"CAM", K::Text,          &S::cameraName},
    {"AUS", K::WriteOnlyFlag, &S::saveAuto},
    {"ATI", K::ViewFlag,      &S::viewAfterSaving},
    {"OFS", K::Text,          &S::saveSeconds},
    {"FIL", K::Text,          &S::directory},
    {"FIN", K::Text,          &S::fileName},
    {"AVI", K::Flag,          &S::appendTime},
    {"AFT", K::Flag,          &S::ftpAuto},
    {"FTP", K::Text,          &S::ftpServer},
    {"FTO", K::Text,          &S::ftpSeconds},
    {"FTU", K::Text,          &S::ftpUser},
    {"FTD", K::Text,          &S::ftpPath},
    {"UWM", K::Flag,          &S::useWatermark},
    {"UTT", K::Flag,          &S::useTransparent},
    {"WTP", K::Text,          &S::watermarkPath},
    {"LOR", K::Byte,          &S::lowRed},
    {"LOG", K::Byte,          &S::lowGreen},
    {"LOB", K::Byte,          &S::lowBlue},
    {"HIR", K::Byte,          &S::highRed},
    {"HIG", K::Byte,          &S::highGreen},
    {"HIB", K::Byte,          &S::highBlue},
    {"TXX", K::Int,           &S::textX},
    {"TXY", K::Int,           &S::textY},
    {"WXX", K::Int,           &S::watermarkX},
    {"WYY", K::Int,           &S::watermarkY},
    {"WID", K::Int,           &S::watermarkWidth},
    {"WHI", K::Int,           &S::watermarkHeight},
    {"PLS", K::Sides,         &S::polygonSides},
    {"UPO", K::Flag,          &S::polygonWatermark},
    {"UVT", K::Flag,          &S::verticalText},
    {"WTW", K::Int,           &S::boxWidth},
    {"WTH", K::Int,           &S::boxDepth},
    {"WTX", K::Flag,          &S::wrapInBox},
    {"UTX", K::EditText,      &S::storedText},
    {"LFN", K::Font,          &S::textFont},
    {"EML", K::Text,          &S::emailAddresses},
    {"ETL", K::Int,           &S::emailSeconds},
    {"FCO", K::Colour,        &S::fontColour},
    {"MOT", K::Flag,          &S::saveOnMotion},
    {"MSE", K::Int,           &S::motionShare},
    {"MTH", K::Int,           &S::pixelChange},
    {"MGP", K::Int,           &S::motionGapSeconds},
    {"RTD", K::Int,           &S::keepDays},
    {"RTS", K::Int,           &S::keepMegabytes},
    {"FTA", K::Flag,          &S::activeFtp},
    {"MLM", K::Int,           &S::mailMethod},
    {"SMS", K::Text,          &S::smtpServer},
    {"SMP", K::Int,           &S::smtpPort},
    {"SMC", K::Int,           &S::smtpSecurity},
    {"SMU", K::Text,          &S::smtpUser},
    {"SMW", K::Secret,        &S::smtpPassword},
    {"SMF", K::Text,          &S::smtpSender},
    {"SMT", K::Text,          &S::smtpTrustedCertificate},
    {"TRM", K::Flag,          &S::troubleMail},
    {"PSZ", K::Text,          &S::pictureSize},
};
// clang-format on

// The member's type a kind reads and writes.
constexpr bool KindFitsMember(const StoredSetting& row) {
    switch (row.kind) {
    case StoredKind::Text:
    case StoredKind::EditText:
    case StoredKind::Secret:
        return std::holds_alternative<TextMember>(row.member);
    case StoredKind::Byte:
        return std::holds_alternative<ByteMember>(row.member);
    case StoredKind::Colour:
        return std::holds_alternative<ColourMember>(row.member);
    case StoredKind::Font:
        return std::holds_alternative<FontMember>(row.member);
    default:
        return std::holds_alternative<IntMember>(row.member);
    }
}
static_assert(std::all_of(std::begin(Table), std::end(Table), KindFitsMember));

StoredValue Stored(const char* name, DWORD type, const void* data, size_t size) {
    const BYTE* bytes = static_cast<const BYTE*>(data);
    return StoredValue{name, type, std::vector<BYTE>(bytes, bytes + size)};
}

StoredValue Dword(const char* name, DWORD value) {
    return Stored(name, REG_DWORD, &value, sizeof value);
}

// The text encrypted for the Windows user of this machine; nothing for an empty text.
std::vector<BYTE> ProtectForUser(const std::string& text) {
    if (text.empty())
        return {};
    DATA_BLOB plain{static_cast<DWORD>(text.size()), reinterpret_cast<BYTE*>(const_cast<char*>(text.data()))};
    DATA_BLOB sealed{};
    if (!::CryptProtectData(&plain, L"Lumetra", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                            &sealed))
        return {};
    const UniqueLocalMemory owner(sealed.pbData);
    return std::vector<BYTE>(sealed.pbData, sealed.pbData + sealed.cbData);
}

std::string UnprotectForUser(const BYTE* data, DWORD size) {
    if (size == 0)
        return {};
    DATA_BLOB sealed{size, const_cast<BYTE*>(data)};
    DATA_BLOB plain{};
    if (!::CryptUnprotectData(&sealed, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &plain))
        return {};
    const UniqueLocalMemory owner(plain.pbData);
    std::string text(reinterpret_cast<const char*>(plain.pbData), plain.cbData);
    ::SecureZeroMemory(plain.pbData, plain.cbData);
    return text;
}

StoredValue ToValue(const StoredSetting& row, const CameraSettings& settings) {
    switch (row.kind) {
    case StoredKind::Secret: {
        const std::vector<BYTE> sealed = ProtectForUser(settings.*std::get<TextMember>(row.member));
        return StoredValue{row.name, REG_BINARY, sealed};
    }
    case StoredKind::Text:
    case StoredKind::EditText: {
        const std::string& text = settings.*std::get<TextMember>(row.member);
        return Stored(row.name, REG_SZ, text.c_str(), text.size() + 1); // with its NUL
    }
    case StoredKind::Byte:
        return Dword(row.name, settings.*std::get<ByteMember>(row.member));
    case StoredKind::Colour:
        return Dword(row.name, settings.*std::get<ColourMember>(row.member) & ColourBits);
    case StoredKind::Font:
        return Stored(row.name, REG_BINARY, &(settings.*std::get<FontMember>(row.member)), sizeof(LOGFONTA));
    default:
        return Dword(row.name, static_cast<DWORD>(settings.*std::get<IntMember>(row.member)));
    }
}

// The text of a REG_SZ value: up to its first NUL, never beyond its size.
std::string TextOf(const BYTE* data, DWORD size) {
    const char* begin = reinterpret_cast<const char*>(data);
    const char* end = std::find(begin, begin + size, '\0');
    return std::string(begin, end);
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

bool ApplyDword(const StoredSetting& row, CameraSettings& settings, LoadOutcome& outcome, DWORD value) {
    switch (row.kind) {
    case StoredKind::Byte:
        settings.*std::get<ByteMember>(row.member) = static_cast<BYTE>(value & 0xFF);
        return true;
    case StoredKind::Colour:
        settings.*std::get<ColourMember>(row.member) = value & ColourBits;
        return true;
    case StoredKind::WriteOnlyFlag:
        return false;
    default:
        break;
    }
    int& member = settings.*std::get<IntMember>(row.member);
    switch (row.kind) {
    case StoredKind::ViewFlag:
        if (value != 0)
            outcome.viewAfterSaving = true;
        [[fallthrough]];
    case StoredKind::Flag:
        if (value != 0)
            member = 1;
        return true;
    case StoredKind::Sides:
        member = std::clamp(static_cast<int>(value), MinPolygonSides, MaxPolygonSides);
        return true;
    default:
        member = static_cast<int>(value);
        return true;
    }
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

std::span<const StoredSetting> StoredSettings() {
    return Table;
}

const StoredSetting* FindStoredSetting(const std::string& name) {
    for (const StoredSetting& row : Table) {
        if (name == row.name)
            return &row;
    }
    return nullptr;
}

std::vector<StoredValue> SettingsToValues(const CameraSettings& settings) {
    std::vector<StoredValue> values;
    values.reserve(std::size(Table));
    for (const StoredSetting& row : Table)
        values.push_back(ToValue(row, settings));
    return values;
}

bool ApplyStoredValue(CameraSettings& settings, LoadOutcome& outcome, const std::string& name, DWORD type,
                      const BYTE* data, DWORD size) {
    const StoredSetting* row = FindStoredSetting(name);
    if (!row)
        return false;
    switch (row->kind) {
    case StoredKind::Text:
        if (type != REG_SZ)
            return false;
        settings.*std::get<TextMember>(row->member) = TextOf(data, size);
        return true;
    case StoredKind::EditText:
        if (type != REG_SZ)
            return false;
        outcome.text = TextOf(data, size);
        return true;
    case StoredKind::Secret:
        if (type != REG_BINARY)
            return false;
        settings.*std::get<TextMember>(row->member) = UnprotectForUser(data, size);
        return true;
    case StoredKind::Font: {
        if (type == REG_SZ || type == REG_DWORD || size != sizeof(LOGFONTA))
            return false;
        LOGFONTA& font = settings.*std::get<FontMember>(row->member);
        std::memcpy(&font, data, sizeof(LOGFONTA));
        font.lfFaceName[LF_FACESIZE - 1] = '\0';
        RecodeLegacyFaceName(font);
        outcome.fontRestored = true;
        return true;
    }
    default: {
        if (type != REG_DWORD || size != sizeof(DWORD))
            return false;
        DWORD value = 0;
        std::memcpy(&value, data, sizeof value);
        return ApplyDword(*row, settings, outcome, value);
    }
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
    UniqueRegKey key(OpenCameraKey(settings.cameraName));
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
    UniqueRegKey key(OpenCameraKey(settings.cameraName));
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
