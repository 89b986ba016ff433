// The picture size of a test camera, chosen in CAM ACTION: the size of its saved images, after a
// reopen, for a key stored before there was a choice, and for a size the camera does not offer.
#include "SessionHarness.h"
#include "TestPattern.h"
#include "WindowDriver.h"

#include <gtest/gtest.h>

using namespace lumetra;
using namespace lumetra::test;
namespace ids = lumetra::cam_action_ids;

namespace {

const std::string kCamera = "Picture Size Cam";
using Size = std::pair<UINT, UINT>;
const Size kDefault{640, 480};

class PictureSizeTest : public OneCameraTest {
  protected:
    PictureSizeTest() : OneCameraTest(kCamera) {}
    // Saves one image with Save Current Image and returns its size.
    static std::optional<Size> SaveOne(LiveView* session, const TempFolder& folder) {
        const std::uint64_t before = session->ImagesWritten();
        SetEdit(session->ActionDialog(), ids::Directory, folder.path());
        PressButton(session->ActionDialog(), ids::SaveCurrentImage);
        if (!PumpUntil([&] { return session->ImagesWritten() > before; }, 5000))
            return std::nullopt;
        return ImageSizeOf(folder.File("image.jpg"));
    }
};

TEST_F(PictureSizeTest, AChosenSizeIsSavedAtAndKeptWhenTheCameraIsOpenedAgain) {
    TempFolder folder("chosen");
    for (const bool reopened : {false, true}) {
        SCOPED_TRACE(reopened ? "reopened" : "chosen");
        MainWindow main;
        LiveView* session = main.Open(kCamera);
        ASSERT_NE(session, nullptr);
        if (!reopened) {
            EXPECT_EQ(ShownInList(session->ActionDialog(), ids::PictureSize), "Camera default");
            ASSERT_TRUE(ChooseInList(session->ActionDialog(), ids::PictureSize, "1280 x 720 (30 fps)"));
        }
        EXPECT_EQ(ShownInList(session->ActionDialog(), ids::PictureSize), "1280 x 720 (30 fps)");
        EXPECT_EQ(SaveOne(session, folder), Size(1280, 720));
        for (const testcam::ReferencePatch& patch : testcam::ReferencePatches()) {
            COLORREF colour = 0;
            ASSERT_TRUE(ImagePixel(folder.File("image.jpg"), patch.x + patch.size / 2,
                                   patch.y + patch.size / 2, colour));
            EXPECT_TRUE(Near(colour, RGB(patch.r, patch.g, patch.b), 24))
                << patch.x << ": " << std::hex << colour;
        }
        main.Exit();
        EXPECT_EQ(StoredText(kCamera, "PSZ").value_or("<missing>"), "1280x720");
    }
}

TEST_F(PictureSizeTest, AnOlderKeyAndASizeNotOfferedOpenAtTheDefaultSize) {
    for (const char* stored : {static_cast<const char*>(nullptr), "4000x3000"}) { // none: an older key
        SCOPED_TRACE(stored ? stored : "older key");
        DeleteCameraKey(kCamera);
        ASSERT_TRUE(WriteCameraValue(kCamera, "FIN", REG_SZ, "image", 6));
        if (stored) {
            ASSERT_TRUE(WriteCameraValue(kCamera, "PSZ", REG_SZ, stored, 10));
        }
        const size_t logBefore = EventLogText().size();
        TempFolder folder("default");
        MainWindow main;
        LiveView* session = main.Open(kCamera);
        ASSERT_NE(session, nullptr);
        EXPECT_EQ(ShownInList(session->ActionDialog(), ids::PictureSize), "Camera default");
        EXPECT_EQ(SaveOne(session, folder), kDefault);
        main.Exit();
        const std::string log = EventLogText().substr(logBefore);
        EXPECT_EQ(log.find("picture size") != std::string::npos, stored != nullptr) << log;
        EXPECT_EQ(log.find("picture size 4000x3000 is not offered") != std::string::npos, stored != nullptr);
        // The stored choice stays for a camera that offers it again.
        EXPECT_EQ(StoredText(kCamera, "PSZ").value_or("<missing>"), stored ? stored : "");
    }
}

TEST_F(PictureSizeTest, ChangingTheSizeWhileSavingStartsTheCameraAgainAndSavingGoesOnAtIt) {
    TempFolder folder("while");
    MainWindow main(/*keepTimer*/ true);
    LiveView* session = main.Open(kCamera);
    ASSERT_NE(session, nullptr);
    CamActionDialog* action = session->ActionDialog();
    SetEdit(action, ids::Directory, folder.path());
    SetEdit(action, ids::SaveSeconds, "1");
    SetCheck(action, ids::SaveAuto, true);
    ASSERT_TRUE(PumpUntil([&] { return session->ImagesWritten() >= 2; }, 5000));
    EXPECT_EQ(ImageSizeOf(folder.File("image.jpg")), kDefault);

    ASSERT_TRUE(ChooseInList(action, ids::PictureSize, "1920 x 1080 (30 fps)"));
    EXPECT_TRUE(session->Graph().running());
    const std::uint64_t written = session->ImagesWritten();
    ASSERT_TRUE(PumpUntil([&] { return session->ImagesWritten() >= written + 2; }, 6000));
    EXPECT_EQ(ImageSizeOf(folder.File("image.jpg")), Size(1920, 1080));
    EXPECT_EQ(session->SavesFailed(), 0u);
}

} // namespace
