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
    s.CAM = camera;
    s.AUS = 1;
    s.ATI = 1;
    s.OFS = "15";
    s.FIN = "door";
    s.AVI = 1;
    s.AFT = 1;
    s.FTP = "127.0.0.1";
    s.FTO = "45";
    s.FIL = "C:\\cams";
    s.FtpPassword = "secret";
    s.FTU = "watcher";
    s.FTD = "incoming";
    s.WXX = -12;
    s.WYY = 34;
    s.WID = 160;
    s.WHI = 120;
    s.WTP = "C:\\marks\\logo.bmp";
    s.HIR = 250;
    s.HIG = 251;
    s.HIB = 252;
    s.LOR = 1;
    s.LOG = 2;
    s.LOB = 3;
    s.TXX = 7;
    s.TXY = -8;
    s.UWM = 1;
    s.UTT = 1;
    s.UPO = 1;
    s.UVT = 1;
    s.WTX = 1;
    s.WTW = 200;
    s.WTH = 60;
    s.EmailAuto = 1;
    s.ETL = 300;
    s.EML = "a@example.com;b@example.com";
    s.MirrorToHttp = 1;
    s.PLS = 7;
    s.LFN.lfHeight = -19;
    s.LFN.lfWeight = FW_BOLD;
    s.LFN.lfItalic = 1;
    std::strcpy(s.LFN.lfFaceName, "Tahoma");
    s.FontColor = RGB(10, 20, 30);
    s.UTX = "Front door\r\nsecond line";
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
        "PLS", "UPO", "UVT", "WTW", "WTH", "WTX", "LFN", "FCO", "EML", "ETL", "MOT", "MSE", "MTH", "MGP", "RTD", "RTS"};
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

TEST(SaveSettings, WritesTheSettingsInOrderThenTheTextColourThenMotionThenRetention) {
    const std::vector<StoredValue> values = SettingsToValues(ChangedSettings("order"));
    const char* const after[] = {"FCO", "MOT", "MSE", "MTH", "MGP", "RTD", "RTS"};
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

    EXPECT_EQ(camera.ValueCount(), 44);
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
            EXPECT_EQ(std::memcmp(value.data.data(), &settings.LFN, 60), 0);
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

TEST(LoadSettings, RestoresWhatWasSavedExceptSaveAutoAndTheSessionOnlyValues) {
    ScopedCameraKey camera("roundtrip");
    const CameraSettings saved = ChangedSettings(camera.Name());
    ASSERT_TRUE(SaveSettingsToRegistry(saved));

    CameraSettings loaded;
    loaded.CAM = camera.Name();
    const LoadOutcome outcome = LoadSettingsFromRegistry(loaded);
    EXPECT_TRUE(outcome.keyOpened);
    EXPECT_EQ(outcome.enumerationError, ERROR_SUCCESS);
    EXPECT_TRUE(outcome.viewAfterSaving);
    EXPECT_TRUE(outcome.fontRestored);
    ASSERT_TRUE(outcome.text.has_value());
    EXPECT_EQ(*outcome.text, saved.UTX);

    EXPECT_EQ(loaded.AUS, 0) << "a reopened camera never starts saving by itself";
    EXPECT_EQ(loaded.ATI, 1);
    EXPECT_EQ(loaded.OFS, "15");
    EXPECT_EQ(loaded.FIN, "door");
    EXPECT_EQ(loaded.AVI, 1);
    EXPECT_EQ(loaded.AFT, 1);
    EXPECT_EQ(loaded.FTP, "127.0.0.1");
    EXPECT_EQ(loaded.FTO, "45");
    EXPECT_EQ(loaded.FIL, "C:\\cams");
    EXPECT_EQ(loaded.FTU, "watcher");
    EXPECT_EQ(loaded.FTD, "incoming");
    EXPECT_EQ(loaded.WXX, -12);
    EXPECT_EQ(loaded.WYY, 34);
    EXPECT_EQ(loaded.WID, 160);
    EXPECT_EQ(loaded.WHI, 120);
    EXPECT_EQ(loaded.WTP, "C:\\marks\\logo.bmp");
    EXPECT_EQ(loaded.HIR, 250);
    EXPECT_EQ(loaded.HIG, 251);
    EXPECT_EQ(loaded.HIB, 252);
    EXPECT_EQ(loaded.LOR, 1);
    EXPECT_EQ(loaded.LOG, 2);
    EXPECT_EQ(loaded.LOB, 3);
    EXPECT_EQ(loaded.TXX, 7);
    EXPECT_EQ(loaded.TXY, -8);
    EXPECT_EQ(loaded.UWM, 1);
    EXPECT_EQ(loaded.UTT, 1);
    EXPECT_EQ(loaded.UPO, 1);
    EXPECT_EQ(loaded.UVT, 1);
    EXPECT_EQ(loaded.WTX, 1);
    EXPECT_EQ(loaded.WTW, 200);
    EXPECT_EQ(loaded.WTH, 60);
    EXPECT_EQ(loaded.ETL, 300);
    EXPECT_EQ(loaded.EML, "a@example.com;b@example.com");
    EXPECT_EQ(loaded.PLS, 7);
    EXPECT_EQ(std::memcmp(&loaded.LFN, &saved.LFN, sizeof(LOGFONTA)), 0);
    EXPECT_EQ(loaded.FontColor, RGB(10, 20, 30));
    EXPECT_EQ(loaded.FtpPassword, "");
    EXPECT_EQ(loaded.EmailAuto, 0);
    EXPECT_EQ(loaded.MirrorToHttp, 0);
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
        saved.CAM = camera.Name();
        ChangeFromDefault(row, saved);
        ASSERT_FALSE(SameValue(row, saved, defaults)) << name;
        ASSERT_TRUE(SaveSettingsToRegistry(saved));

        CameraSettings loaded;
        loaded.CAM = camera.Name();
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
        EXPECT_EQ(*outcome.text, row.kind == StoredKind::EditText ? saved.UTX : "") << name;
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
    loaded.CAM = camera.Name();
    const LoadOutcome outcome = LoadSettingsFromRegistry(loaded);
    EXPECT_EQ(outcome.enumerationError, ERROR_SUCCESS);
    EXPECT_EQ(loaded.FIL, directory);
    EXPECT_EQ(loaded.EML, addresses);
    EXPECT_EQ(loaded.WTP, watermark);
    EXPECT_EQ(loaded.FIN, "short");
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
    loaded.CAM = camera.Name();
    const LoadOutcome outcome = LoadSettingsFromRegistry(loaded);
    EXPECT_EQ(outcome.enumerationError, ERROR_SUCCESS);
    EXPECT_EQ(loaded.FIL, "");
    EXPECT_EQ(loaded.WXX, 0);
    EXPECT_EQ(loaded.WYY, 0);
    EXPECT_FALSE(outcome.fontRestored);
    EXPECT_EQ(loaded.LFN.lfFaceName[0], '\0');
    EXPECT_EQ(loaded.FtpPassword, "");
    EXPECT_EQ(loaded.EmailAuto, 0);
    EXPECT_EQ(loaded.HIR, 0xFF);
    EXPECT_EQ(loaded.LOB, 0);
    EXPECT_EQ(loaded.FontColor, 0x123456u);
    EXPECT_EQ(loaded.OFS, "12");
    EXPECT_EQ(loaded.FTO, "30");
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
        loaded.CAM = camera.Name();
        LoadSettingsFromRegistry(loaded);
        EXPECT_EQ(loaded.PLS, expected) << "stored " << stored;
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
    loaded.CAM = camera.Name();
    loaded.UWM = 1;
    const LoadOutcome outcome = LoadSettingsFromRegistry(loaded);
    EXPECT_FALSE(outcome.viewAfterSaving);
    EXPECT_EQ(loaded.ATI, 0);
    EXPECT_EQ(loaded.UWM, 1);
    EXPECT_EQ(loaded.UTT, 1);
    EXPECT_EQ(loaded.AUS, 0);
    EXPECT_FALSE(outcome.fontRestored);
}

TEST(LoadSettings, AFontFaceWithoutTerminatorIsCutInsideTheRecord) {
    ScopedCameraKey camera("face");
    LOGFONTA font{};
    font.lfHeight = -12;
    std::memset(font.lfFaceName, 'F', sizeof font.lfFaceName);
    ASSERT_TRUE(camera.Write("LFN", REG_BINARY, &font, sizeof font));
    CameraSettings loaded;
    loaded.CAM = camera.Name();
    ASSERT_TRUE(LoadSettingsFromRegistry(loaded).fontRestored);
    EXPECT_EQ(loaded.LFN.lfHeight, -12);
    EXPECT_EQ(std::string(loaded.LFN.lfFaceName), std::string(LF_FACESIZE - 1, 'F'));
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
        EXPECT_EQ(loaded.LFN.lfFaceName,
                  stored == utf8Face ? utf8Face : reinterpret_cast<const char*>(u8"Caf\u00e9 \u00b5"));
    }
}

TEST(CameraKey, AFirstOpenCreatesTheEmptyKeyAndAnEmptyNameUsesTheLumetraKey) {
    ScopedCameraKey camera("create");
    ASSERT_FALSE(camera.Exists());
    CameraSettings loaded;
    loaded.CAM = camera.Name();
    const LoadOutcome outcome = LoadSettingsFromRegistry(loaded);
    EXPECT_TRUE(outcome.keyOpened);
    EXPECT_TRUE(camera.Exists());
    EXPECT_EQ(camera.ValueCount(), 0);
    EXPECT_EQ(loaded.FTO, "30");
    EXPECT_EQ(loaded.PLS, 5);

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
