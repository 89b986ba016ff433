// lumetra.exe as shipped with a careless user: letters in number fields, out-of-range colours,
// folders that do not exist or are too long, a watermark that is no picture, an FTP server that
// is down, a camera name that matches no device and one camera too many. The program answers
// with its messages, keeps running, loses no setting and writes no image where it was not asked to.
#include "Evidence.h"
#include "LumetraRun.h"
#include "TestCameras.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>

using namespace lumetra::e2e;

namespace {

constexpr char kCameraA[] = "E2E Careless A";
constexpr char kCameraB[] = "E2E Careless B";
constexpr char kCameraC[] = "E2E Careless C";
constexpr char kNoDevice[] = "No video capture device fouind.\r\n\r\na device like a USB web cam is needed.";

class Careless : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        gdiplus = std::make_unique<GdiplusSession>();
        cameras = std::make_unique<lumetra::test::TestCameras>();
        for (const char* name : {kCameraA, kCameraB, kCameraC})
            cameras->Register(std::string(name));
    }
    static void TearDownTestSuite() {
        for (const char* name : {kCameraA, kCameraB, kCameraC})
            cameras->Unregister(std::string(name));
        cameras.reset();
        gdiplus.reset();
    }
    void SetUp() override {
        ASSERT_TRUE(cameras->loaded()) << "lumetra_testcam.dll not found under %LUMETRA_BUILD_DIR%";
        for (const char* name : {kCameraA, kCameraB, kCameraC})
            DeleteCameraKey(name);
        work = FreshWorkFolder(std::string("careless-") +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_TRUE(run.Start(TestedProgram(), work + "\\mail.log"));
    }
    void TearDown() override {
        if (run.Process().Running()) {
            EXPECT_TRUE(run.Exit()) << "Exit did not end the program";
        }
        EXPECT_EQ(run.Process().ExitCode(), 0u);
    }

    // Types into an edit whose handler is expected to complain; returns the message.
    std::string TypeExpectingBox(HWND dialog, int id, const std::string& text) {
        Type(dialog, id, text, 300);
        auto box = WaitForMessageBox(run.Id(), 5000);
        if (!box)
            return "(no message)";
        AnswerBox(*box);
        return box->caption + ": " + box->text;
    }
    // Presses a button whose handler is expected to complain; returns the message.
    std::string PressExpectingBox(HWND dialog, int id) {
        PressLater(dialog, id);
        auto box = WaitForMessageBox(run.Id(), 8000);
        if (!box)
            return "(no message)";
        AnswerBox(*box);
        return box->caption + ": " + box->text;
    }
    // The program still answers its camera list.
    bool StillResponding() {
        DWORD_PTR result = 0;
        return run.Process().Running() &&
               ::SendMessageTimeoutA(run.CameraList(), WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result) != 0;
    }

    static std::unique_ptr<GdiplusSession> gdiplus;
    static std::unique_ptr<lumetra::test::TestCameras> cameras;
    LumetraRun run;
    std::string work;
};
std::unique_ptr<GdiplusSession> Careless::gdiplus;
std::unique_ptr<lumetra::test::TestCameras> Careless::cameras;

} // namespace

TEST_F(Careless, LettersInNumberEditsAndColour256AreRefusedAndNothingIsLost) {
    const CameraWindows a = run.Open(kCameraA);
    ASSERT_TRUE(a.camAction);
    CameraSetup setup;
    setup.directory = work;
    setup.fileName = "shot";
    setup.watermarkX = 12;
    ASSERT_TRUE(run.Configure(a.camAction, setup));
    ASSERT_TRUE(Type(a.camAction, ids::HighRed, "40"));

    EXPECT_EQ(TypeExpectingBox(a.camAction, ids::WatermarkX, "1x2"), "Lumetra: Please enter an integer.");
    EXPECT_EQ(TypeExpectingBox(a.camAction, ids::WatermarkX, ""), "Lumetra: Please enter an integer.");
    ASSERT_TRUE(Type(a.camAction, ids::WatermarkX, "12", 2000)) << "a correct entry still complains";
    EXPECT_FALSE(WaitForMessageBox(run.Id(), 300));
    EXPECT_EQ(TypeExpectingBox(a.camAction, ids::HighRed, "256"),
              "Lumetra: Please enter an integer between 0 and 255.");
    // The colour edit still shows 256; the next action that takes the values complains again and
    // still saves the image (the folder is taken before the colours).
    EXPECT_EQ(PressExpectingBox(a.camAction, ids::SaveCurrentImage),
              "Lumetra: Please enter an integer between 0 and 255.");
    EXPECT_TRUE(WaitForImage(work + "\\shot.jpg"));

    // An interval of letters is refused: Save Auto stays off and saves nothing.
    ASSERT_TRUE(Type(a.camAction, ids::HighRed, "40"));
    ASSERT_TRUE(Type(a.camAction, ids::SaveSeconds, "abc"));
    ASSERT_TRUE(Type(a.camAction, ids::FileName, "auto"));
    SetChecked(a.camAction, ids::SaveAuto, true, 300);
    auto refused = WaitForMessageBox(run.Id(), 5000);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->text, "Please enter an integer between 1 and 86400.");
    AnswerBox(*refused);
    EXPECT_FALSE(IsChecked(a.camAction, ids::SaveAuto));
    ::Sleep(1500);
    EXPECT_TRUE(FilesIn(work, "auto*.jpg").empty());

    // Letters in the e-mail interval (no change handler): closing complains, naming the field, and
    // still saves the rest.
    ASSERT_TRUE(Type(a.camAction, ids::EmailSeconds, "soon"));
    ASSERT_TRUE(Type(a.camAction, ids::EmailAddresses, "x@example.org"));
    ::PostMessageA(a.camAction, WM_CLOSE, 0, 0);
    auto box = WaitForMessageBox(run.Id(), 5000);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text, "Email seconds between: Please enter an integer.");
    AnswerBox(*box);
    EXPECT_TRUE(WaitForGone(a.camAction) && WaitForGone(a.liveView));
    EXPECT_TRUE(StillResponding());
    EXPECT_EQ(StoredNumber(kCameraA, "WXX").value_or(999), 12u);
    EXPECT_EQ(StoredNumber(kCameraA, "HIR").value_or(999), 40u);
    EXPECT_EQ(StoredNumber(kCameraA, "ETL").value_or(999), 0u);
    EXPECT_EQ(StoredText(kCameraA, "FIL").value_or("(none)"), work);
    EXPECT_EQ(StoredText(kCameraA, "FIN").value_or("(none)"), "auto");
    EXPECT_EQ(StoredText(kCameraA, "OFS").value_or("(none)"), "abc");
}

TEST_F(Careless, MissingAndOverlongFoldersAndABadWatermarkLoseNoImage) {
    const std::string good = work + "\\good";
    ::CreateDirectoryA(good.c_str(), nullptr);
    const std::string notAPicture = work + "\\notes.jpg";
    std::ofstream(notAPicture) << "this is not a picture";
    const CameraWindows a = run.Open(kCameraA);
    ASSERT_TRUE(a.camAction);
    CameraSetup setup;
    setup.directory = work + "\\not\\there";
    setup.fileName = "shot";
    setup.watermarkPath = notAPicture;
    setup.useWatermark = true;
    ASSERT_TRUE(run.Configure(a.camAction, setup));
    ASSERT_TRUE(SetChecked(a.camAction, ids::AppendTime, true));

    // A folder that does not exist: nothing is written, and a box says where and why.
    const std::string told = PressExpectingBox(a.camAction, ids::SaveCurrentImage);
    EXPECT_EQ(told.rfind("Lumetra: Could not save the image to " + setup.directory + "\\shot", 0), 0u)
        << told;
    EXPECT_NE(told.find(".jpg: the folder does not exist."), std::string::npos) << told;
    EXPECT_FALSE(FileExists(work + "\\not"));

    // A good folder: the image is written without the watermark that is no picture.
    ASSERT_TRUE(Type(a.camAction, ids::Directory, good));
    ASSERT_TRUE(Press(a.camAction, ids::SaveCurrentImage));
    ASSERT_TRUE(WaitUntil([&] { return FilesIn(good).size() == 1; }, 8000));
    const std::string first = good + "\\" + FilesIn(good)[0];
    ASSERT_TRUE(WaitForImage(first));
    const auto picture = LoadPicture(first);
    EXPECT_TRUE(picture->isJpeg);
    EXPECT_EQ(picture->width, 640);
    EXPECT_EQ(picture->height, 480);

    // 300 characters: refused, and nothing goes to the folder last taken.
    ::Sleep(1100);
    const std::string overlong = "Z:\\" + std::string(297, 'd');
    Type(a.camAction, ids::Directory, overlong, 300);
    EXPECT_EQ(PressExpectingBox(a.camAction, ids::SaveCurrentImage),
              "Lumetra: Please enter no more than 255 characters.");
    ::Sleep(1500);
    EXPECT_EQ(FilesIn(good).size(), 1u);
    EXPECT_TRUE(StillResponding());

    ::PostMessageA(a.liveView, WM_CLOSE, 0, 0);
    if (auto box = WaitForMessageBox(run.Id(), 5000)) {
        EXPECT_EQ(box->text, "Directory: Please enter no more than 255 characters.");
        AnswerBox(*box);
    }
    EXPECT_TRUE(WaitForGone(a.camAction));
    EXPECT_EQ(StoredText(kCameraA, "FIL").value_or("(none)"), good);
    EXPECT_EQ(StoredText(kCameraA, "WTP").value_or("(none)"), notAPicture);
}

TEST_F(Careless, AnFtpServerThatIsDownIsReportedAndTheCameraGoesOn) {
    if (CanConnect(LumetraFtpPort))
        GTEST_SKIP() << "something listens on 127.0.0.1:21; the server-down case needs the port closed";
    const CameraWindows a = run.Open(kCameraA);
    ASSERT_TRUE(a.camAction);
    CameraSetup setup;
    setup.directory = work;
    setup.fileName = "up";
    setup.ftpServer = "127.0.0.1";
    setup.ftpUser = "camuser";
    setup.ftpPassword = "s3cret";
    ASSERT_TRUE(run.Configure(a.camAction, setup));
    ASSERT_TRUE(Press(a.camAction, ids::SaveCurrentImage));
    ASSERT_TRUE(WaitForImage(work + "\\up.jpg"));

    PressLater(a.camAction, ids::FtpLastImage);
    auto box = WaitForMessageBox(run.Id(), 30000);
    ASSERT_TRUE(box) << "no message for the refused connection";
    EXPECT_EQ(box->caption, "Error");
    EXPECT_FALSE(box->text.empty());
    AnswerBox(*box);
    EXPECT_TRUE(StillResponding());
    ::DeleteFileA((work + "\\up.jpg").c_str());
    ASSERT_TRUE(Press(a.camAction, ids::SaveCurrentImage));
    EXPECT_TRUE(WaitForImage(work + "\\up.jpg"));
}

TEST_F(Careless, AnUnknownCameraNameAndATwentyFirstCamera) {
    std::vector<MessageBoxSeen> boxes;
    const CameraWindows ghost = run.Open("No Such Camera", &boxes);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error!");
    EXPECT_EQ(boxes[0].text, kNoDevice);
    ASSERT_TRUE(ghost.liveView && ghost.camAction) << "the session window stays open without a picture";
    const std::vector<std::string> listed = ListedCameras(run.CameraList());
    EXPECT_NE(std::find(listed.begin(), listed.end(), "No Such Camera"), listed.end());
    // Its frames never come: a save writes nothing and says nothing.
    ASSERT_TRUE(Type(ghost.camAction, ids::Directory, work));
    ASSERT_TRUE(Press(ghost.camAction, ids::SaveCurrentImage));
    EXPECT_FALSE(WaitForMessageBox(run.Id(), 500));
    EXPECT_TRUE(FilesIn(work, "*.jpg").empty());

    for (const char* name : {kCameraA, kCameraB, kCameraC})
        ASSERT_TRUE(run.Open(name).camAction) << name;
    for (int i = 1; i <= 16; ++i) {
        boxes.clear();
        ASSERT_TRUE(run.Open("Ghost " + std::to_string(i), &boxes).camAction) << i;
        EXPECT_EQ(boxes.size(), 1u);
    }
    EXPECT_EQ(WindowsOf(run.Id(), "Live View").size(), 20u);

    // The 21st: refused with a message; nothing opens.
    Type(run.CameraList(), ids::CamEdit, "Ghost 17");
    PressLater(run.CameraList(), ids::OpenCam);
    auto box = WaitForMessageBox(run.Id(), 10000);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->caption, "Lumetra");
    EXPECT_EQ(box->text, "All 20 camera slots are in use.");
    AnswerBox(*box);
    EXPECT_EQ(WindowsOf(run.Id(), "Live View").size(), 20u);
    EXPECT_EQ(WindowsOf(run.Id(), "CAM ACTION").size(), 20u);

    // Closing one makes room again.
    const CameraWindows b = WaitForCamera(run.Id(), kCameraB, 2000);
    ASSERT_TRUE(run.CloseWith(b.liveView, b));
    boxes.clear();
    EXPECT_TRUE(run.Open("Ghost 17", &boxes).camAction);
    EXPECT_EQ(WindowsOf(run.Id(), "Live View").size(), 20u);
    EXPECT_TRUE(StillResponding());
}
