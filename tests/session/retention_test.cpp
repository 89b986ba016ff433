// Two cameras on the real camera timer, driven through their windows as a careless user would: one
// saves into a folder first, then the other takes that folder and name with limits. Retention keeps
// the limited camera's own images under its limit and never touches the other camera's images, files
// named like its own that it never wrote, nor the images of its earlier run once they are gone; a
// camera renamed in CAM ACTION goes on cleaning the images it saved under its old name.
#include "BoxWatcher.h"
#include "FtpServer.h"
#include "SessionHarness.h"
#include "TestCameras.h"
#include "WindowDriver.h"
#include "delivery/ImageRecord.h"
#include "delivery/Retention.h"
#include "framework/EventLog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>

using namespace lumetra;
using namespace lumetra::test;
namespace ids = lumetra::cam_action_ids;
namespace fs = std::filesystem;

namespace {

const std::string kLimitedCamera = "Retention Limited Cam";
const std::string kUnlimitedCamera = "Retention Unlimited Cam";
const std::string kRenamedCamera = "Retention Renamed Cam";
constexpr std::uintmax_t kLimitBytes = 1024 * 1024;
const std::vector<std::string> kLookAlikes = {"image1600000000.jpg", "image1600000001.jpg",
                                              "IMAGE1600000002.JPG"};

std::int64_t WallSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The images named "image<stamp>.jpg" in the folder, by name, with their sizes.
std::map<std::string, std::uintmax_t> ImagesIn(const TempFolder& folder) {
    std::map<std::string, std::uintmax_t> images;
    for (const auto& entry : fs::directory_iterator(folder.path())) {
        std::error_code gone; // deleted while this looks
        const std::uintmax_t size = entry.file_size(gone);
        if (!gone && RetainedImageStamp(entry.path().filename().wstring(), L"image"))
            images[entry.path().filename().string()] = size;
    }
    return images;
}

void LeaveField(CamActionDialog* action, int id) {
    ::SendMessageA(action->GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(id, EN_KILLFOCUS),
                   reinterpret_cast<LPARAM>(action->Item(id)));
}

void WriteImage(const TempFolder& folder, const std::string& name, size_t bytes) {
    std::ofstream(folder.File(name), std::ios::binary) << std::string(bytes, 'x');
}

} // namespace

TEST(Retention, OnlyTheCamerasOwnImagesGoAndTheyFollowItsNewName) {
    StartProgramLibraries();
    TestCameras cameras;
    ASSERT_TRUE(cameras.loaded());
    ScopedTestCamera limitedDevice(cameras, kLimitedCamera), unlimitedDevice(cameras, kUnlimitedCamera),
        renamedDevice(cameras, kRenamedCamera);
    ASSERT_TRUE(limitedDevice.registered() && unlimitedDevice.registered() && renamedDevice.registered());
    for (const std::string& name : {kLimitedCamera, kUnlimitedCamera, kRenamedCamera}) {
        DeleteCameraKey(name);
        ::DeleteFileW(ImageRecordPath(name).c_str());
    }
    TempFolder shared("shared"), gate("gate");
    // Files no camera wrote, named as the limited camera will name its images.
    for (const std::string& name : kLookAlikes)
        WriteImage(shared, name, 1000);
    // Images of the limited camera's earlier run: 45 of the last hour (900 KB, so the size limit comes
    // soon) and 3 of two days ago (older than its one day), as its record holds them.
    const std::int64_t now = WallSeconds();
    std::vector<std::string> earlier;
    for (int i = 0; i < 48; ++i) {
        const std::int64_t stamp = i < 3 ? now - 2 * 86400 + i : now - 3600 + i;
        earlier.push_back("image" + std::to_string(stamp) + ".jpg");
        WriteImage(shared, earlier.back(), 20 * 1024);
    }
    std::vector<RecordedImage> recorded;
    for (const std::string& name : earlier) {
        const std::optional<RecordedImage> image = RecordedImageOf(fs::path(shared.File(name)).wstring());
        ASSERT_TRUE(image) << name;
        recorded.push_back(*image);
    }
    ASSERT_TRUE(ImageRecord(kLimitedCamera).Add(fs::path(shared.path()).wstring(), recorded));
    const size_t logStart = EventLogText().size();

    MainWindow main(true);
    LiveView* limited = main.Open(kLimitedCamera);
    LiveView* unlimited = main.Open(kUnlimitedCamera);
    ASSERT_NE(limited, nullptr);
    ASSERT_NE(unlimited, nullptr);
    CamActionDialog* limitedAction = limited->ActionDialog();
    CamActionDialog* unlimitedAction = unlimited->ActionDialog();

    // The camera without limits saves into the folder first, as "image".
    SetEdit(unlimitedAction, ids::Directory, shared.path());
    SetEdit(unlimitedAction, ids::SaveSeconds, "1");
    SetCheck(unlimitedAction, ids::AppendTime, true);
    SetCheck(unlimitedAction, ids::SaveAuto, true);
    std::set<std::string> othersImages;
    const auto collectOthersImages = [&] {
        for (const auto& [name, size] : ImagesIn(shared))
            if (std::find(earlier.begin(), earlier.end(), name) == earlier.end() &&
                std::find(kLookAlikes.begin(), kLookAlikes.end(), name) == kLookAlikes.end())
                othersImages.insert(name);
        return othersImages.size();
    };
    EXPECT_TRUE(PumpUntil([&] { return collectOthersImages() >= 3; }, 10000)) << othersImages.size();

    // The same folder and name for the other camera are refused at the field while it saves there.
    {
        BoxWatcher boxes;
        SetEdit(limitedAction, ids::Directory, shared.path() + "\\.\\");
        SetCheck(limitedAction, ids::AppendTime, true);
        PumpUntil([&] { return !boxes.Seen().empty(); }, 3000);
        ASSERT_EQ(boxes.Seen().size(), 1u);
        EXPECT_EQ(boxes.Seen()[0].text,
                  "Camera \"" + kUnlimitedCamera +
                      "\" already saves its images in this folder under this file name. "
                      "Please choose another folder or file name, so that the two cameras "
                      "do not replace each other's images.");
        EXPECT_EQ(limitedAction->Settings().directory, "");
    }
    // Once it saves elsewhere, the folder and name are free.
    SetEdit(unlimitedAction, ids::Directory, gate.path());
    SetCheck(unlimitedAction, ids::AppendTime, true);
    // One image there: no request for the old place is left (a later one takes an earlier one's place).
    EXPECT_TRUE(PumpUntil([&] { return !gate.Files().empty(); }, 5000));
    collectOthersImages();
    {
        BoxWatcher boxes;
        SetEdit(limitedAction, ids::Directory, shared.path());
        SetCheck(limitedAction, ids::AppendTime, true);
        EXPECT_EQ(limitedAction->Settings().directory, shared.path());
        SetEdit(limitedAction, ids::KeepDays, "1");
        LeaveField(limitedAction, ids::KeepDays);
        SetEdit(limitedAction, ids::KeepMegabytes, "1");
        LeaveField(limitedAction, ids::KeepMegabytes);
        SetEdit(limitedAction, ids::SaveSeconds, "1");
        SetCheck(limitedAction, ids::SaveAuto, true);
        PumpMessages(300); // time for a box, which must not come
        EXPECT_TRUE(boxes.Seen().empty());
    }

    // The limited camera's own images: the earlier run's and what it saves now.
    const auto ownImages = [&] {
        std::map<std::string, std::uintmax_t> own;
        for (const auto& [name, size] : ImagesIn(shared))
            if (!othersImages.count(name) &&
                std::find(kLookAlikes.begin(), kLookAlikes.end(), name) == kLookAlikes.end())
                own[name] = size;
        return own;
    };
    const auto total = [](const std::map<std::string, std::uintmax_t>& images) {
        std::uintmax_t bytes = 0;
        for (const auto& [name, size] : images)
            bytes += size;
        return bytes;
    };
    std::uintmax_t largestAfterTenSeconds = 0;
    std::string newestBefore;
    int newestLost = 0;
    const ULONGLONG start = ::GetTickCount64();
    for (int second = 1; second <= 30; ++second) {
        PumpUntil([] { return false; }, static_cast<DWORD>(start + second * 1000ULL - ::GetTickCount64()));
        const auto own = ownImages();
        if (second > 10)
            largestAfterTenSeconds = std::max(largestAfterTenSeconds, total(own));
        // The newest image of a second ago is still there (a newer one may have come since).
        if (!newestBefore.empty() && !own.count(newestBefore))
            ++newestLost;
        newestBefore = own.empty() ? std::string() : own.rbegin()->first;
    }
    EXPECT_GT(largestAfterTenSeconds, kLimitBytes / 2) << "the camera saved too little to tell";
    EXPECT_LT(largestAfterTenSeconds, kLimitBytes);
    EXPECT_EQ(newestLost, 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(FileExists(shared.File(earlier[i]))) << "older than a day: " << earlier[i];
    for (const std::string& name : othersImages)
        EXPECT_TRUE(FileExists(shared.File(name))) << "the other camera's " << name;
    for (const std::string& name : kLookAlikes)
        EXPECT_TRUE(FileExists(shared.File(name))) << "written by no camera: " << name;

    // Renamed in CAM ACTION and opened under its new name, it goes on cleaning its older images.
    SetEdit(limitedAction, ids::CameraName, kRenamedCamera);
    limitedAction->Cancel();
    ASSERT_TRUE(PumpUntil([&] { return !main.dialog().HasSession(limited); }, 3000));
    const std::string oldestBefore = ownImages().begin()->first;
    LiveView* renamed = main.Open(kRenamedCamera);
    ASSERT_NE(renamed, nullptr);
    SetCheck(renamed->ActionDialog(), ids::SaveAuto, true);
    PumpUntil([&] { return !FileExists(shared.File(oldestBefore)); }, 15000);
    EXPECT_FALSE(FileExists(shared.File(oldestBefore)));
    EXPECT_LT(total(ownImages()), kLimitBytes);
    SetCheck(renamed->ActionDialog(), ids::SaveAuto, false);
    SetCheck(unlimitedAction, ids::SaveAuto, false);
    PumpMessages(500); // the last saves asked for are handled, whatever retention does meanwhile
    for (const std::string& name : othersImages)
        EXPECT_TRUE(FileExists(shared.File(name))) << "the other camera's " << name;
    EXPECT_EQ(gate.Files().size() + othersImages.size(), unlimited->ImagesWritten())
        << "no limit deletes nothing";

    // What retention deleted is logged at most once an hour, summed (and once more when the camera
    // closes); nothing for the camera without limits.
    renamed->Cancel();
    unlimited->Cancel();
    EXPECT_TRUE(PumpUntil([&] { return main.dialog().OpenSessions().empty(); }, 3000));
    const std::string log = EventLogText().substr(logStart);
    EXPECT_GE(CountOf(log, "[" + kLimitedCamera + "]  retention deleted "), 1u) << log;
    EXPECT_LE(CountOf(log, "[" + kLimitedCamera + "]  retention deleted "), 2u) << log;
    EXPECT_EQ(CountOf(log, "[" + kUnlimitedCamera + "]  retention"), 0u) << log;
    for (const std::string& name : {kLimitedCamera, kUnlimitedCamera, kRenamedCamera}) {
        DeleteCameraKey(name);
        ::DeleteFileW(ImageRecordPath(name).c_str());
    }
}
