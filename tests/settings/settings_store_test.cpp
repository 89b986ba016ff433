// A camera's settings in the test prefix's registry: what a save writes and what a load restores.
#include "CameraKeys.h"
#include "settings/CameraSettings.h"
#include "settings/Pickers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <type_traits>
#include <variant>

using namespace lumetra;
using namespace lumetra::test;

namespace {

const char* const SavedOrder[] = {"CAM", "AUS", "ATI", "OFS", "FIL", "FIN", "AVI", "AFT", "FTP", "FTO",
                                  "FTU", "FTD", "UWM", "UTT", "WTP", "LOR", "LOG", "LOB", "HIR", "HIG",
                                  "HIB", "TXX", "TXY", "WXX", "WYY", "WID", "WHI", "PLS", "UPO", "UVT",
                                  "WTW", "WTH", "WTX", "UTX", "LFN", "EML", "ETL"};

const char* const TextValues[] = {"CAM", "OFS", "FIL", "FIN", "FTP", "FTO",
                                  "FTU", "FTD", "WTP", "UTX", "EML"};

bool IsTextValue(const std::string& name) {
    for (const char* text : TextValues)
        if (name == text)
            return true;
    return false;
}

// Every stored setting changed from its default.
CameraSettings ChangedSettings(const std::string& camera) {
    CameraSettings s;
    s.cameraName = camera;
    s.saveAuto = 1;
    s.viewAfterSaving = 1;
    s.saveSeconds = "15";
    s.fileName = "door";
    s.appendTime = 1;
    s.ftpAuto = 1;
    s.ftpServer = "127.0.0.1";
    s.ftpSeconds = "45";
    s.directory = "C:\\cams";
    s.ftpPassword = "secret";
    s.ftpUser = "watcher";
    s.ftpPath = "incoming";
    s.watermarkX = -12;
    s.watermarkY = 34;
    s.watermarkWidth = 160;
    s.watermarkHeight = 120;
    s.watermarkPath = "C:\\marks\\logo.bmp";
    s.highRed = 250;
    s.highGreen = 251;
    s.highBlue = 252;
    s.lowRed = 1;
    s.lowGreen = 2;
    s.lowBlue = 3;
    s.textX = 7;
    s.textY = -8;
    s.useWatermark = 1;
    s.useTransparent = 1;
    s.polygonWatermark = 1;
    s.verticalText = 1;
    s.wrapInBox = 1;
    s.boxWidth = 200;
    s.boxDepth = 60;
    s.emailAuto = 1;
    s.emailSeconds = 300;
    s.emailAddresses = "a@example.com;b@example.com";
    s.mirrorToHttp = 1;
    s.polygonSides = 7;
    s.textFont.lfHeight = -19;
    s.textFont.lfWeight = FW_BOLD;
    s.textFont.lfItalic = 1;
    std::strcpy(s.textFont.lfFaceName, "Tahoma");
    s.fontColour = RGB(10, 20, 30);
    s.storedText = "Front door\r\nsecond line";
    return s;
}

// A value of the row's member that differs from its default and survives a round trip.
void ChangeFromDefault(const StoredSetting& row, CameraSettings& s) {
    std::visit(
        [&](auto member) {
            auto& value = s.*member;
            using Value = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Value, std::string>)
                value = std::string("value of ") + row.name;
            else if constexpr (std::is_same_v<Value, int>)
                value = row.kind == StoredKind::Int ? -12345 : row.kind == StoredKind::Sides ? 7 : 1;
            else if constexpr (std::is_same_v<Value, LOGFONTA>)
                std::strcpy(value.lfFaceName, "Tahoma");
            else
                value = 200; // a colour byte, or a colour
        },
        row.member);
}

bool SameValue(const StoredSetting& row, const CameraSettings& a, const CameraSettings& b) {
    return std::visit(
        [&](auto member) {
            if constexpr (std::is_same_v<std::decay_t<decltype(a.*member)>, LOGFONTA>)
                return std::memcmp(&(a.*member), &(b.*member), sizeof(LOGFONTA)) == 0;
            else
                return a.*member == b.*member;
        },
        row.member);
}

} // namespace

TEST(StoredSettings, RecognisesTheStoredNamesExactly) {
    const char* const expected[] = {
        "CAM", "AUS", "ATI", "OFS", "FIL", "FIN", "AVI", "AFT", "FTP", "FTO", "FTU", "FTD", "UWM", "UTT",
        "WTP", "LOR", "LOG", "LOB", "HIR", "HIG", "HIB", "UTX", "TXX", "TXY", "WXX", "WYY", "WID", "WHI",
        "PLS", "UPO", "UVT", "WTW", "WTH", "WTX", "LFN", "FCO", "EML", "ETL", "MOT", "MSE", "MTH", "MGP",
        "RTD", "RTS", "FTA", "MLM", "SMS", "SMP", "SMC", "SMU", "SMW", "SMF", "SMT", "TRM", "PSZ"};
    ASSERT_EQ(std::size(expected), StoredSettings().size());
    for (const char* name : expected) {
        const StoredSetting* row = FindStoredSetting(name);
        ASSERT_NE(row, nullptr) << name;
        EXPECT_STREQ(row->name, name);
    }
    EXPECT_EQ(FindStoredSetting("cam"), nullptr);
    EXPECT_EQ(FindStoredSetting("FtpPassword"), nullptr);
    EXPECT_EQ(FindStoredSetting(""), nullptr);
}

TEST(SaveSettings, WritesTheSettingsInOrderThenTheNewerValuesAfterThem) {
    const std::vector<StoredValue> values = SettingsToValues(ChangedSettings("order"));
    const char* const after[] = {"FCO", "MOT", "MSE", "MTH", "MGP", "RTD", "RTS", "FTA", "MLM",
                                 "SMS", "SMP", "SMC", "SMU", "SMW", "SMF", "SMT", "TRM", "PSZ"};
    ASSERT_EQ(values.size(), std::size(SavedOrder) + std::size(after));
    for (size_t i = 0; i < std::size(SavedOrder); ++i)
        EXPECT_EQ(values[i].name, SavedOrder[i]) << "position " << i;
    for (size_t i = 0; i < std::size(after); ++i)
        EXPECT_EQ(values[std::size(SavedOrder) + i].name, after[i]);
}

TEST(SaveSettings, ValuesReadBackWithTheirTypesAndSizes) {
    ScopedCameraKey camera("types");
    const CameraSettings settings = ChangedSettings(camera.Name());
    ASSERT_TRUE(SaveSettingsToRegistry(settings));

    EXPECT_EQ(camera.ValueCount(), 55);
    for (const char* name : SavedOrder) {
        const ScopedCameraKey::Value value = camera.Read(name);
        ASSERT_TRUE(value.found) << name;
        if (IsTextValue(name)) {
            EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << name;
            ASSERT_FALSE(value.data.empty());
            EXPECT_EQ(value.data.back(), 0) << name << " is written with its NUL";
            EXPECT_EQ(value.data.size(), value.Text().size() + 1) << name;
        } else if (std::string(name) == "LFN") {
            EXPECT_EQ(value.type, static_cast<DWORD>(REG_BINARY));
            ASSERT_EQ(value.data.size(), 60u);
            EXPECT_EQ(std::memcmp(value.data.data(), &settings.textFont, 60), 0);
        } else {
            EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD)) << name;
            EXPECT_EQ(value.data.size(), 4u) << name;
        }
    }
    EXPECT_EQ(camera.Read("CAM").Text(), camera.Name());
    EXPECT_EQ(camera.Read("FIL").Text(), "C:\\cams");
    EXPECT_EQ(camera.Read("UTX").Text(), "Front door\r\nsecond line");
    EXPECT_EQ(camera.Read("WXX").Dword(), static_cast<DWORD>(-12));
    EXPECT_EQ(camera.Read("HIB").Dword(), 252u);
    EXPECT_EQ(camera.Read("PLS").Dword(), 7u);
    EXPECT_EQ(camera.Read("FCO").Dword(), static_cast<DWORD>(RGB(10, 20, 30)));
    EXPECT_EQ(camera.Read("FCO").type, static_cast<DWORD>(REG_DWORD));
    // The password and the two session-only switches never reach the registry.
    EXPECT_FALSE(camera.Read("FtpPassword").found);
    EXPECT_FALSE(camera.Read("EmailAuto").found);
    EXPECT_FALSE(camera.Read("MirrorToHttp").found);
}

TEST(SaveSettings, TheMailServerPasswordIsStoredEncryptedForTheUser) {
    ScopedCameraKey camera("secret");
    CameraSettings saved = ChangedSettings(camera.Name());
    saved.smtpPassword = "hunter2 of the garden";
    ASSERT_TRUE(SaveSettingsToRegistry(saved));
    const ScopedCameraKey::Value stored = camera.Read("SMW");
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_BINARY));
    const std::string bytes(stored.data.begin(), stored.data.end());
    EXPECT_EQ(bytes.find("hunter2"), std::string::npos) << "never in clear";
    CameraSettings loaded;
    loaded.cameraName = camera.Name();
    LoadSettingsFromRegistry(loaded);
    EXPECT_EQ(loaded.smtpPassword, saved.smtpPassword);
    // Bytes that do not decrypt for this user load as no password.
    LoadOutcome outcome;
    const BYTE foreign[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_TRUE(ApplyStoredValue(loaded, outcome, "SMW", REG_BINARY, foreign, sizeof foreign));
    EXPECT_EQ(loaded.smtpPassword, "");
}

TEST(LoadSettings, RestoresWhatWasSavedExceptSaveAutoAndTheSessionOnlyValues) {
    ScopedCameraKey camera("roundtrip");
    const CameraSettings saved = ChangedSettings(camera.Name());
    ASSERT_TRUE(SaveSettingsToRegistry(saved));

    CameraSettings loaded;
    loaded.cameraName = camera.Name();
    const LoadOutcome outcome = LoadSettingsFromRegistry(loaded);
    EXPECT_TRUE(outcome.keyOpened);
    EXPECT_EQ(outcome.enumerationError, ERROR_SUCCESS);
    EXPECT_TRUE(outcome.viewAfterSaving);
    EXPECT_TRUE(outcome.fontRestored);
    ASSERT_TRUE(outcome.text.has_value());
    EXPECT_EQ(*outcome.text, saved.storedText);

    EXPECT_EQ(loaded.saveAuto, 0) << "a reopened camera never starts saving by itself";
    EXPECT_EQ(loaded.viewAfterSaving, 1);
    EXPECT_EQ(loaded.saveSeconds, "15");
    EXPECT_EQ(loaded.fileName, "door");
    EXPECT_EQ(loaded.appendTime, 1);
    EXPECT_EQ(loaded.ftpAuto, 1);
    EXPECT_EQ(loaded.ftpServer, "127.0.0.1");
    EXPECT_EQ(loaded.ftpSeconds, "45");
    EXPECT_EQ(loaded.directory, "C:\\cams");
    EXPECT_EQ(loaded.ftpUser, "watcher");
    EXPECT_EQ(loaded.ftpPath, "incoming");
    EXPECT_EQ(loaded.watermarkX, -12);
    EXPECT_EQ(loaded.watermarkY, 34);
    EXPECT_EQ(loaded.watermarkWidth, 160);
    EXPECT_EQ(loaded.watermarkHeight, 120);
    EXPECT_EQ(loaded.watermarkPath, "C:\\marks\\logo.bmp");
    EXPECT_EQ(loaded.highRed, 250);
    EXPECT_EQ(loaded.highGreen, 251);
    EXPECT_EQ(loaded.highBlue, 252);
    EXPECT_EQ(loaded.lowRed, 1);
    EXPECT_EQ(loaded.lowGreen, 2);
    EXPECT_EQ(loaded.lowBlue, 3);
    EXPECT_EQ(loaded.textX, 7);
    EXPECT_EQ(loaded.textY, -8);
    EXPECT_EQ(loaded.useWatermark, 1);
    EXPECT_EQ(loaded.useTransparent, 1);
    EXPECT_EQ(loaded.polygonWatermark, 1);
    EXPECT_EQ(loaded.verticalText, 1);
    EXPECT_EQ(loaded.wrapInBox, 1);
    EXPECT_EQ(loaded.boxWidth, 200);
    EXPECT_EQ(loaded.boxDepth, 60);
    EXPECT_EQ(loaded.emailSeconds, 300);
    EXPECT_EQ(loaded.emailAddresses, "a@example.com;b@example.com");
    EXPECT_EQ(loaded.polygonSides, 7);
    EXPECT_EQ(std::memcmp(&loaded.textFont, &saved.textFont, sizeof(LOGFONTA)), 0);
    EXPECT_EQ(loaded.fontColour, RGB(10, 20, 30));
    EXPECT_EQ(loaded.ftpPassword, "");
    EXPECT_EQ(loaded.emailAuto, 0);
    EXPECT_EQ(loaded.mirrorToHttp, 0);
}

// Each row on its own: a value changed from its default comes back in its own member and no other
// (AUS is written but never loaded; UTX comes back for the text edit).
TEST(StoredSettings, EachValueChangedAloneComesBackInItsOwnMemberOnly) {
    const CameraSettings defaults;
    for (const StoredSetting& row : StoredSettings()) {
        const std::string name = row.name;
        if (name == "CAM")
            continue; // names the key itself
        ScopedCameraKey camera("row " + name);
        CameraSettings saved;
        saved.cameraName = camera.Name();
        ChangeFromDefault(row, saved);
        ASSERT_FALSE(SameValue(row, saved, defaults)) << name;
        ASSERT_TRUE(SaveSettingsToRegistry(saved));

        CameraSettings loaded;
        loaded.cameraName = camera.Name();
        const LoadOutcome outcome = LoadSettingsFromRegistry(loaded);
        const bool loadsIntoMember =
            row.kind != StoredKind::WriteOnlyFlag && row.kind != StoredKind::EditText;
        for (const StoredSetting& other : StoredSettings()) {
            if (std::string(other.name) == "CAM")
                continue;
            const CameraSettings& expected = &other == &row && loadsIntoMember ? saved : defaults;
            EXPECT_TRUE(SameValue(other, loaded, expected))
                << name << " changed, " << other.name << " differs";
        }
        ASSERT_TRUE(outcome.text.has_value());
        EXPECT_EQ(*outcome.text, row.kind == StoredKind::EditText ? saved.storedText : "") << name;
        EXPECT_EQ(outcome.viewAfterSaving, row.kind == StoredKind::ViewFlag) << name;
        if (row.kind == StoredKind::WriteOnlyFlag) {
            EXPECT_EQ(camera.Read(name).Dword(), 1u);
        }
    }
}

TEST(LoadSettings, ReadsValuesLongerThanTheFirstBufferWhole) {
    ScopedCameraKey camera("long");
    const std::string directory = "C:\\" + std::string(196, 'd');
    const std::string text = std::string(399, 't') + "!";
    const std::string addresses = std::string(150, 'a') + "@example.com";
    const std::string watermark = "C:\\" + std::string(120, 'w') + ".bmp";
    ASSERT_TRUE(camera.WriteText("FIL", directory));
    ASSERT_TRUE(camera.WriteText("UTX", text));
    ASSERT_TRUE(camera.WriteText("EML", addresses));
    ASSERT_TRUE(camera.WriteText("WTP", watermark));
    ASSERT_TRUE(camera.WriteText("FIN", "short"));
    // An unknown value with a very long name and long data must not stop the others.
    ASSERT_TRUE(camera.WriteText(std::string(300, 'N'), std::string(500, 'x')));

    CameraSettings loaded;
    loaded.cameraName = camera.Name();
    const LoadOutcome outcome = LoadSettingsFromRegistry(loaded);
    EXPECT_EQ(outcome.enumerationError, ERROR_SUCCESS);
    EXPECT_EQ(loaded.directory, directory);
    EXPECT_EQ(loaded.emailAddresses, addresses);
    EXPECT_EQ(loaded.watermarkPath, watermark);
    EXPECT_EQ(loaded.fileName, "short");
    ASSERT_TRUE(outcome.text.has_value());
    EXPECT_EQ(*outcome.text, text);
}

TEST(LoadSettings, IgnoresWrongTypesUnknownNamesAndBadSizes) {
    ScopedCameraKey camera("types");
    ASSERT_TRUE(camera.WriteDword("FIL", 5));                   // text name stored as a number
    ASSERT_TRUE(camera.WriteText("WXX", "17"));                 // number name stored as text
    ASSERT_TRUE(camera.WriteText("LFN", "Tahoma"));             // font stored as text
    ASSERT_TRUE(camera.Write("WYY", REG_DWORD, "\x01\x02", 2)); // a DWORD of two bytes
    LOGFONTA shortFont{};
    ASSERT_TRUE(camera.Write("LFN2", REG_BINARY, &shortFont, sizeof shortFont));
    ASSERT_TRUE(camera.WriteDword("ZZZ", 1));
    ASSERT_TRUE(camera.WriteDword("cam", 1));
    ASSERT_TRUE(camera.WriteText("FtpPassword", "stored elsewhere"));
    ASSERT_TRUE(camera.WriteDword("EmailAuto", 1));
    ASSERT_TRUE(camera.WriteDword("HIR", 0x1FF)); // above 255: its low byte
    ASSERT_TRUE(camera.WriteDword("LOB", 256));
    ASSERT_TRUE(camera.WriteDword("FCO", 0xFF123456)); // colour with a stray top byte
    ASSERT_TRUE(camera.Write("OFS", REG_SZ, "12", 2)); // text without its NUL
    ASSERT_TRUE(camera.Write("FTO", REG_EXPAND_SZ, "9\0", 2));

    CameraSettings loaded;
    loaded.cameraName = camera.Name();
    const LoadOutcome outcome = LoadSettingsFromRegistry(loaded);
    EXPECT_EQ(outcome.enumerationError, ERROR_SUCCESS);
    EXPECT_EQ(loaded.directory, "");
    EXPECT_EQ(loaded.watermarkX, 0);
    EXPECT_EQ(loaded.watermarkY, 0);
    EXPECT_FALSE(outcome.fontRestored);
    EXPECT_EQ(loaded.textFont.lfFaceName[0], '\0');
    EXPECT_EQ(loaded.ftpPassword, "");
    EXPECT_EQ(loaded.emailAuto, 0);
    EXPECT_EQ(loaded.highRed, 0xFF);
    EXPECT_EQ(loaded.lowBlue, 0);
    EXPECT_EQ(loaded.fontColour, 0x123456u);
    EXPECT_EQ(loaded.saveSeconds, "12");
    EXPECT_EQ(loaded.ftpSeconds, "30");
}

TEST(LoadSettings, PolygonSidesAreKeptWithinThreeToTwentyOne) {
    for (const auto& [stored, expected] : {std::pair<DWORD, int>{9, 9},
                                           {3, 3},
                                           {21, 21},
                                           {2, 3},
                                           {0, 3},
                                           {22, 21},
                                           {static_cast<DWORD>(-4), 3}}) {
        ScopedCameraKey camera("sides" + std::to_string(stored));
        ASSERT_TRUE(camera.WriteDword("PLS", stored));
        CameraSettings loaded;
        loaded.cameraName = camera.Name();
        LoadSettingsFromRegistry(loaded);
        EXPECT_EQ(loaded.polygonSides, expected) << "stored " << stored;
    }
}

TEST(LoadSettings, AZeroFlagLeavesTheFlagAndFontWithTheWrongSizeIsIgnored) {
    ScopedCameraKey camera("flags");
    ASSERT_TRUE(camera.WriteDword("ATI", 0));
    ASSERT_TRUE(camera.WriteDword("UWM", 0));
    ASSERT_TRUE(camera.WriteDword("UTT", 7));
    ASSERT_TRUE(camera.WriteDword("AUS", 1));
    std::vector<BYTE> longFont(61, 'A');
    ASSERT_TRUE(camera.Write("LFN", REG_BINARY, longFont.data(), static_cast<DWORD>(longFont.size())));

    CameraSettings loaded;
    loaded.cameraName = camera.Name();
    loaded.useWatermark = 1;
    const LoadOutcome outcome = LoadSettingsFromRegistry(loaded);
    EXPECT_FALSE(outcome.viewAfterSaving);
    EXPECT_EQ(loaded.viewAfterSaving, 0);
    EXPECT_EQ(loaded.useWatermark, 1);
    EXPECT_EQ(loaded.useTransparent, 1);
    EXPECT_EQ(loaded.saveAuto, 0);
    EXPECT_FALSE(outcome.fontRestored);
}

TEST(LoadSettings, AFontFaceWithoutTerminatorIsCutInsideTheRecord) {
    ScopedCameraKey camera("face");
    LOGFONTA font{};
    font.lfHeight = -12;
    std::memset(font.lfFaceName, 'F', sizeof font.lfFaceName);
    ASSERT_TRUE(camera.Write("LFN", REG_BINARY, &font, sizeof font));
    CameraSettings loaded;
    loaded.cameraName = camera.Name();
    ASSERT_TRUE(LoadSettingsFromRegistry(loaded).fontRestored);
    EXPECT_EQ(loaded.textFont.lfHeight, -12);
    EXPECT_EQ(std::string(loaded.textFont.lfFaceName), std::string(LF_FACESIZE - 1, 'F'));
}

// LFN is kept as bytes: a face name stored while the program used the system's code page (the
// prefix's is Windows-1252) comes back in UTF-8, one stored in UTF-8 as it was.
TEST(LoadSettings, AFontFaceStoredInTheSystemsOldCodePageComesBackInUtf8) {
    const std::string utf8Face = reinterpret_cast<const char*>(u8"Caf\u00e9 \u6771");
    for (const std::string& stored : {std::string("Caf\xe9 \xb5"), utf8Face}) {
        LOGFONTA font{};
        std::strcpy(font.lfFaceName, stored.c_str());
        CameraSettings loaded;
        LoadOutcome outcome;
        ASSERT_TRUE(ApplyStoredValue(loaded, outcome, "LFN", REG_BINARY, reinterpret_cast<const BYTE*>(&font),
                                     sizeof font));
        EXPECT_EQ(loaded.textFont.lfFaceName,
                  stored == utf8Face ? utf8Face : reinterpret_cast<const char*>(u8"Caf\u00e9 \u00b5"));
    }
}

TEST(CameraKey, AFirstOpenCreatesTheEmptyKeyAndAnEmptyNameUsesTheLumetraKey) {
    ScopedCameraKey camera("create");
    ASSERT_FALSE(camera.Exists());
    CameraSettings loaded;
    loaded.cameraName = camera.Name();
    const LoadOutcome outcome = LoadSettingsFromRegistry(loaded);
    EXPECT_TRUE(outcome.keyOpened);
    EXPECT_TRUE(camera.Exists());
    EXPECT_EQ(camera.ValueCount(), 0);
    EXPECT_EQ(loaded.ftpSeconds, "30");
    EXPECT_EQ(loaded.polygonSides, 5);

    HKEY lumetra = OpenCameraKey("");
    ASSERT_NE(lumetra, nullptr);
    HKEY direct = nullptr;
    ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, LumetraKey, 0, KEY_READ, &direct), ERROR_SUCCESS);
    // The same key: a value set through one is seen through the other.
    const DWORD marker = 0x5EED;
    ASSERT_EQ(::RegSetValueExA(lumetra, "settings test marker", 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&marker), sizeof marker),
              ERROR_SUCCESS);
    DWORD read = 0, size = sizeof read;
    EXPECT_EQ(::RegQueryValueExA(direct, "settings test marker", nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(&read), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(read, marker);
    ::RegDeleteValueA(lumetra, "settings test marker");
    ::RegCloseKey(direct);
    ::RegCloseKey(lumetra);
}

TEST(LeadingInteger, ReadsLikeAtol) {
    EXPECT_EQ(LeadingInteger(""), 0);
    EXPECT_EQ(LeadingInteger("abc"), 0);
    EXPECT_EQ(LeadingInteger("15abc"), 15);
    EXPECT_EQ(LeadingInteger(" -3"), -3);
    EXPECT_EQ(LeadingInteger("\t+42 "), 42);
    EXPECT_EQ(LeadingInteger("- 3"), 0);
    EXPECT_EQ(LeadingInteger("99999999999999999999"), 2147483647);
    EXPECT_EQ(LeadingInteger("-99999999999999999999"), -2147483647 - 1);
}

TEST(SaveLocation, TheDirectoryIsThePartBeforeTheLastBackslash) {
    EXPECT_EQ(DirectoryOfChosenPath("C:\\cams\\((press Save in selected directory))"), "C:\\cams");
    EXPECT_EQ(DirectoryOfChosenPath("C:\\cams\\garden\\mine.jpg"), "C:\\cams\\garden");
    EXPECT_EQ(DirectoryOfChosenPath("C:\\image.jpg"), "C:");
    EXPECT_EQ(DirectoryOfChosenPath("nobackslash.jpg"), "nobackslash.jpg");
    EXPECT_EQ(DirectoryOfChosenPath(""), "");
}
