#include "delivery/ImagePath.h"
#include "delivery/SaveTarget.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

using namespace lumetra;

namespace {

struct CountingClock {
    std::int32_t now = 1000000000;
    int reads = 0;
    SecondsClock Get() {
        return [this] {
            ++reads;
            return now;
        };
    }
};

} // namespace

TEST(ImageNaming, PlainNameInDirectory) {
    CountingClock clock;
    ImagePathBuilder builder(clock.Get());
    std::string bare;
    EXPECT_EQ(builder.BuildImagePath("C:\\cams", "", 0, bare), "C:\\cams\\image.jpg");
    EXPECT_EQ(bare, "image.jpg");
    EXPECT_EQ(builder.LastImagePath(), "C:\\cams\\image.jpg");
    EXPECT_EQ(builder.LastImageName(), "image.jpg");
    EXPECT_EQ(clock.reads, 0) << "the clock is read only for a time stamp";
}

TEST(ImageNaming, TimeStampIsSecondsSince1970) {
    CountingClock clock;
    ImagePathBuilder builder(clock.Get());
    std::string bare;
    EXPECT_EQ(builder.BuildImagePath("C:\\cams", "door", 1, bare), "C:\\cams\\door1000000000.jpg");
    EXPECT_EQ(bare, "door1000000000.jpg");
    EXPECT_EQ(clock.reads, 1);

    // Signed 32-bit, decimal, no padding.
    EXPECT_EQ(MakeImagePath("D:\\x", "", true, 7).bareName, "image7.jpg");
    EXPECT_EQ(MakeImagePath("D:\\x", "", true, -5).bareName, "image-5.jpg");
    EXPECT_EQ(MakeImagePath("D:\\x", "a", true, 2147483647).fullPath, "D:\\x\\a2147483647.jpg");
}

TEST(ImageNaming, FieldsAreUsedAsTyped) {
    EXPECT_EQ(MakeImagePath("C:\\cams\\", "", false, 0).fullPath, "C:\\cams\\\\image.jpg");
    const ImagePath doubled = MakeImagePath("C:\\cams", "snap.jpg", false, 0);
    EXPECT_EQ(doubled.fullPath, "C:\\cams\\snap.jpg.jpg");
    EXPECT_EQ(doubled.bareName, "snap.jpg.jpg");
}

TEST(ImageNaming, AnEmptiedDirectoryMakesNoPath) {
    CountingClock clock;
    ImagePathBuilder builder(clock.Get());
    std::string bare;
    builder.BuildImagePath("C:\\cams", "door", 1, bare);
    clock.now += 60;
    bare.clear();
    EXPECT_EQ(builder.BuildImagePath("", "other", 1, bare), "") << "never the previous path";
    EXPECT_EQ(bare, "") << "the caller's bare name is left as passed";
    EXPECT_EQ(builder.LastImagePath(), "C:\\cams\\door1000000000.jpg");
    EXPECT_EQ(clock.reads, 1);

    EXPECT_EQ(builder.BuildImagePath("C:\\cams", "door", 1, bare), "C:\\cams\\door1000000060.jpg");
    EXPECT_EQ(builder.LastImageName(), "door1000000060.jpg");
}

TEST(ImageNaming, SystemClockIsNow) {
    const auto before = static_cast<std::int32_t>(::time(nullptr));
    const std::int32_t now = SecondsSince1970();
    const auto after = static_cast<std::int32_t>(::time(nullptr));
    EXPECT_GE(now, before);
    EXPECT_LE(now, after);
}

TEST(ImageNaming, MissingDirectoryIsNotCreatedAndLengthsAreUnbounded) {
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    const std::string missing =
        std::string(temp) + "lumetra-delivery-no-such-dir-" + std::to_string(::GetCurrentProcessId());
    ImagePathBuilder builder;
    std::string bare;
    EXPECT_EQ(builder.BuildImagePath(missing, "x", 1, bare).rfind(missing + "\\x", 0), 0u);
    EXPECT_EQ(::GetFileAttributesA(missing.c_str()), INVALID_FILE_ATTRIBUTES);

    const std::string longDirectory(70000, 'd');
    const std::string longName(70000, 'n');
    const std::string path = builder.BuildImagePath(longDirectory, longName, 0, bare);
    EXPECT_EQ(path.size(), 70000u + 1 + 70000u + 4);
    EXPECT_EQ(bare.size(), 70004u);
}

// Two cameras must not save under the same folder and name however each was typed.
TEST(ImageNaming, SavePlacesCompareAsWindowsComparesFolders) {
    const std::string folder = (std::filesystem::temp_directory_path() / "Lumetra Place Folder").string();
    std::filesystem::create_directories(folder);
    char shortFolder[MAX_PATH] = {};
    ASSERT_GT(::GetShortPathNameA(folder.c_str(), shortFolder, MAX_PATH), 0u);
    struct Row {
        std::string directory, fileName;
        bool same;
    };
    const Row rows[] = {
        {folder, "door", true},
        {folder + "\\", "DOOR", true},
        {folder + "  \\\\", "door", true},
        {folder + "\\.", "door", true},
        {folder + "\\sub\\..", "door", true},
        {shortFolder, "door", true},
        {folder, "door1", false},
        {folder + "\\sub", "door", false},
        {folder, "", false},
    };
    const std::wstring key = SavePlaceKey(folder, "door");
    for (const Row& row : rows)
        EXPECT_EQ(SavePlaceKey(row.directory, row.fileName) == key, row.same)
            << row.directory << " " << row.fileName;
    EXPECT_EQ(SavePlaceKey(folder, ""), SavePlaceKey(folder, "image")) << "an empty name is \"image\"";
    EXPECT_TRUE(SavePlaceKey("", "door").empty()) << "no folder, no place";
    std::filesystem::remove_all(folder);
}
