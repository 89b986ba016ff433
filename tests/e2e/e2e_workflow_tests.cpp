// A user's whole job with lumetra.exe as shipped: two cameras with their own folders, names,
// texts, watermarks, FTP and mail; manual and automatic saving, uploading and mailing; closing
// and reopening cameras and the program.
#include "Evidence.h"
#include "LumetraRun.h"
#include "TestCameras.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <set>

using namespace lumetra::e2e;

namespace {

constexpr char kCameraA[] = "E2E Camera A";
constexpr char kCameraB[] = "E2E Camera B";
constexpr char kCameraC[] = "E2E Camera C";
constexpr char kFtpUser[] = "camuser";
constexpr char kFtpPassword[] = "s3cret";

// The test pattern's reference patches (testcam/TestPattern.h): the white one gets the
// watermark, the green one the text.
constexpr int kWhitePatchX = 320, kGreenPatchX = 128, kPatchY = 256, kPatchSize = 64;

bool Near(double value, double expected, double tolerance = 40) {
    return std::fabs(value - expected) <= tolerance;
}

class Workflow : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        gdiplus = std::make_unique<GdiplusSession>();
        cameras = std::make_unique<lumetra::test::TestCameras>();
        for (const char* name : {kCameraA, kCameraB, kCameraC})
            cameras->Register(std::string(name));
        if (FtpServer::PortCanBeBound(LumetraFtpPort))
            ftp = std::make_unique<FtpServer>(kFtpUser, kFtpPassword, LumetraFtpPort);
    }
    static void TearDownTestSuite() {
        ftp.reset();
        for (const char* name : {kCameraA, kCameraB, kCameraC})
            cameras->Unregister(std::string(name));
        cameras.reset();
        gdiplus.reset();
    }

    void SetUp() override {
        ASSERT_TRUE(cameras->loaded()) << "lumetra_testcam.dll not found under %LUMETRA_BUILD_DIR%";
        for (const char* name : {kCameraA, kCameraB, kCameraC})
            DeleteCameraKey(name);
        work = FreshWorkFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
        mailLog = work + "\\mail.log";
        watermark = work + "\\blue.bmp";
        ASSERT_TRUE(WriteFlatBitmap(watermark, 32, 32, 0, 0, 255));
        // The font a user picked in "choose font" in an earlier run: the text overlay needs one.
        const LOGFONTA font = TextFont(20);
        for (const char* name : {kCameraA, kCameraB})
            WriteCameraValue(name, "LFN", REG_BINARY, &font, sizeof font);
        if (ftp) {
            RemoveTree(ftp->Root() + "\\up");
            ::CreateDirectoryA((ftp->Root() + "\\up").c_str(), nullptr);
        }
        ASSERT_TRUE(run.Start(TestedProgram(), mailLog)) << "lumetra.exe did not show its camera list";
    }
    void TearDown() override {
        if (run.Process().Running()) {
            EXPECT_TRUE(run.Exit()) << "Exit did not end the program";
        }
        EXPECT_EQ(run.Process().ExitCode(), 0u);
    }

    CameraSetup SetupFor(const std::string& folder, const std::string& name, const std::string& text) const {
        CameraSetup setup;
        setup.directory = folder;
        setup.fileName = name;
        setup.text = text;
        setup.watermarkPath = watermark;
        setup.watermarkX = kWhitePatchX + 8;
        setup.watermarkY = kPatchY + 8;
        setup.watermarkWidth = 48;
        setup.watermarkHeight = 48;
        setup.textX = kGreenPatchX;
        setup.textY = kPatchY + 16;
        setup.ftpServer = "127.0.0.1";
        setup.ftpPath = "up";
        setup.ftpUser = kFtpUser;
        setup.ftpPassword = kFtpPassword;
        setup.emailAddresses = "night@example.org;day@example.org";
        setup.useWatermark = true;
        setup.mirror = true;
        return setup;
    }

    // The saved image is a 640x480 JPEG with the text on the green patch and the watermark from
    // the white patch on. The drawn rectangle is as wide as offset plus desired width (and as high
    // as offset plus desired height), so from (328, 264) it reaches the frame's edges.
    static void ExpectComposedImage(const std::string& path) {
        ASSERT_TRUE(WaitForImage(path)) << path << " was not written";
        const auto picture = LoadPicture(path);
        ASSERT_TRUE(picture);
        EXPECT_TRUE(picture->isJpeg) << path;
        EXPECT_EQ(picture->width, 640);
        EXPECT_EQ(picture->height, 480);
        auto expectColour = [&](int x, int y, double r, double g, double b, const char* what) {
            double mr, mg, mb;
            picture->Mean(x, y, 4, 4, mr, mg, mb);
            EXPECT_TRUE(Near(mr, r) && Near(mg, g) && Near(mb, b))
                << what << " at " << x << "," << y << ": " << mr << "," << mg << "," << mb << " in " << path;
        };
        expectColour(kWhitePatchX + 12, kPatchY + 20, 0, 0, 255, "watermark");
        expectColour(630, 470, 0, 0, 255, "watermark");
        expectColour(kWhitePatchX + 2, kPatchY + 20, 255, 255, 255, "white patch left of the watermark");
        expectColour(kWhitePatchX + 20, kPatchY + 2, 255, 255, 255, "white patch above the watermark");
        int dark = 0; // black text on green
        for (int y = kPatchY; y < kPatchY + kPatchSize; ++y)
            for (int x = kGreenPatchX; x < kGreenPatchX + kPatchSize; ++x) {
                const std::uint32_t pixel = picture->At(x, y);
                dark += ((pixel >> 16) & 0xFF) < 70 && ((pixel >> 8) & 0xFF) < 70 && (pixel & 0xFF) < 70;
            }
        EXPECT_GT(dark, 40) << "no text drawn on the green patch of " << path;
    }

    static std::unique_ptr<GdiplusSession> gdiplus;
    static std::unique_ptr<lumetra::test::TestCameras> cameras;
    static std::unique_ptr<FtpServer> ftp;
    LumetraRun run;
    std::string work, mailLog, watermark;
};
std::unique_ptr<GdiplusSession> Workflow::gdiplus;
std::unique_ptr<lumetra::test::TestCameras> Workflow::cameras;
std::unique_ptr<FtpServer> Workflow::ftp;

// lumetra.exe always uploads to port 21: without the right to bind it, only the FTP steps are
// left out. A server that could bind but did not start is a failure.
#define SKIP_WITHOUT_FTP()                                                                                   \
    if (ftp) {                                                                                               \
        ASSERT_TRUE(ftp->Ready()) << "pyftpdlib did not start on 127.0.0.1:21";                              \
    } else                                                                                                   \
        GTEST_SKIP() << "FTP steps skipped: port 21 on 127.0.0.1 cannot be bound here (run the tests as "    \
                        "root)"

} // namespace

TEST_F(Workflow, TwoCamerasSaveUploadAndMailByHand) {
    const std::string folderA = work + "\\door", folderB = work + "\\yard";
    ::CreateDirectoryA(folderA.c_str(), nullptr);
    ::CreateDirectoryA(folderB.c_str(), nullptr);
    const CameraWindows a = run.Open(kCameraA);
    const CameraWindows b = run.Open(kCameraB);
    ASSERT_TRUE(a.liveView && a.camAction && b.liveView && b.camAction);
    ASSERT_TRUE(run.Configure(a.camAction, SetupFor(folderA, "door", "Front door")));
    ASSERT_TRUE(run.Configure(b.camAction, SetupFor(folderB, "yard", "Yard")));

    ASSERT_TRUE(Press(a.camAction, ids::SaveCurrentImage));
    ExpectComposedImage(folderA + "\\door.jpg");
    EXPECT_EQ(ReadMirror().value_or("(none)"), "PATH=" + folderA + "\\door.jpg\n");
    ASSERT_TRUE(Press(b.camAction, ids::SaveCurrentImage));
    ExpectComposedImage(folderB + "\\yard.jpg");
    EXPECT_EQ(ReadMirror().value_or("(none)"), "PATH=" + folderB + "\\yard.jpg\n");
    EXPECT_EQ(FilesIn(folderA), std::vector<std::string>{"door.jpg"});

    // Mails go out on threads of their own, one camera's independently of the other's.
    std::vector<RecordedMail> mails;
    const auto waitForMails = [&](size_t count) {
        for (int wait = 0; wait < 100 && (mails = ReadMailLog(mailLog)).size() < count; ++wait)
            ::Sleep(50);
    };
    ASSERT_TRUE(Press(a.camAction, ids::EmailLastImage));
    waitForMails(1);
    ASSERT_TRUE(Press(b.camAction, ids::EmailLastImage));
    waitForMails(2);
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_EQ(mails[0].subject, "door.jpg");
    EXPECT_EQ(mails[0].note, "door.jpg");
    EXPECT_EQ(mails[0].attachments, std::vector<std::string>{folderA + "\\door.jpg"});
    EXPECT_EQ(mails[0].recipients, (std::vector<std::string>{"night@example.org", "day@example.org"}));
    EXPECT_EQ(mails[1].attachments, std::vector<std::string>{folderB + "\\yard.jpg"});

    SKIP_WITHOUT_FTP();
    ASSERT_TRUE(Press(a.camAction, ids::FtpLastImage));
    ASSERT_TRUE(Press(b.camAction, ids::FtpLastImage));
    EXPECT_FALSE(WaitForMessageBox(run.Id(), 300)) << "an upload reported an error";
    for (int wait = 0; wait < 100 && ReadWholeFile(ftp->Root() + "\\up\\yard.jpg").empty(); ++wait)
        ::Sleep(50);
    EXPECT_EQ(ReadWholeFile(ftp->Root() + "\\up\\door.jpg"), ReadWholeFile(folderA + "\\door.jpg"));
    EXPECT_EQ(ReadWholeFile(ftp->Root() + "\\up\\yard.jpg"), ReadWholeFile(folderB + "\\yard.jpg"));
}

TEST_F(Workflow, AutomaticSavingUploadingAndMailingFollowTheIntervals) {
    const std::string folder = work + "\\auto";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    const CameraWindows a = run.Open(kCameraA);
    ASSERT_TRUE(a.camAction);
    ASSERT_TRUE(run.Configure(a.camAction, SetupFor(folder, "gate", "Gate")));
    ASSERT_TRUE(SetChecked(a.camAction, ids::AppendTime, true));
    ASSERT_TRUE(Type(a.camAction, ids::SaveSeconds, "2"));
    ASSERT_TRUE(Type(a.camAction, ids::FtpSeconds, "1"));
    ASSERT_TRUE(Type(a.camAction, ids::EmailSeconds, "1"));
    const bool withFtp = ftp && ftp->Ready();
    ASSERT_TRUE(SetChecked(a.camAction, ids::FtpAuto, withFtp));
    ASSERT_TRUE(SetChecked(a.camAction, ids::EmailAuto, true));
    ASSERT_TRUE(SetChecked(a.camAction, ids::SaveAuto, true));
    ::Sleep(6500);
    ASSERT_TRUE(SetChecked(a.camAction, ids::SaveAuto, false));
    ::Sleep(1000); // the last requested frame is written

    // One save every two seconds: 3 or 4 in 6.5 s, named gate<seconds>.jpg.
    const std::vector<std::string> saved = FilesIn(folder, "gate*.jpg");
    EXPECT_GE(saved.size(), 3u);
    EXPECT_LE(saved.size(), 4u);
    long previous = 0;
    for (const std::string& name : saved) {
        const long stamp = std::strtol(name.c_str() + 4, nullptr, 10);
        EXPECT_EQ(name, "gate" + std::to_string(stamp) + ".jpg");
        EXPECT_GT(stamp, 1600000000L);
        if (previous) {
            EXPECT_GE(stamp - previous, 2) << name;
        }
        previous = stamp;
        ExpectComposedImage(folder + "\\" + name);
    }
    // Mails go out on saving ticks only, each with the image that tick named; one still being sent
    // when the next save comes makes that save go without a mail.
    const std::vector<RecordedMail> mails = ReadMailLog(mailLog);
    ASSERT_GE(mails.size(), 2u);
    EXPECT_LE(mails.size(), saved.size());
    EXPECT_EQ(mails[0].subject, saved[0]);
    size_t next = 0;
    for (const RecordedMail& mail : mails) {
        while (next < saved.size() && saved[next] != mail.subject)
            ++next;
        ASSERT_LT(next, saved.size()) << mail.subject << " was mailed out of order or never saved";
        EXPECT_EQ(mail.attachments, std::vector<std::string>{folder + "\\" + saved[next]});
        ++next;
    }
    const std::string mirrored = ReadMirror().value_or("");
    EXPECT_EQ(mirrored, "PATH=" + folder + "\\" + saved.back() + "\n");
    EXPECT_FALSE(WaitForMessageBox(run.Id(), 200));

    SKIP_WITHOUT_FTP();
    // Every automatic save is uploaded after it was written, whole (the last one may still be on its way).
    for (int wait = 0; wait < 100 && FilesIn(ftp->Root() + "\\up", "gate*.jpg").size() < saved.size(); ++wait)
        ::Sleep(50);
    EXPECT_EQ(FilesIn(ftp->Root() + "\\up", "gate*.jpg"), saved);
    for (const std::string& name : saved)
        EXPECT_EQ(ReadWholeFile(ftp->Root() + "\\up\\" + name), ReadWholeFile(folder + "\\" + name)) << name;
}

TEST_F(Workflow, SettingsSurviveClosingReopeningAndRestarting) {
    const std::string folderA = work + "\\a", folderB = work + "\\b";
    CameraWindows a = run.Open(kCameraA);
    CameraWindows b = run.Open(kCameraB);
    ASSERT_TRUE(a.camAction && b.camAction);
    CameraSetup setupA = SetupFor(folderA, "alpha", "Alpha text");
    CameraSetup setupB = SetupFor(folderB, "beta", "Beta text");
    setupB.watermarkX = 11;
    setupB.emailAddresses = "b@example.org";
    ASSERT_TRUE(run.Configure(a.camAction, setupA));
    ASSERT_TRUE(run.Configure(b.camAction, setupB));
    ASSERT_TRUE(Type(a.camAction, ids::HighRed, "200"));
    ASSERT_TRUE(Type(a.camAction, ids::SaveSeconds, "15"));
    ASSERT_TRUE(SetChecked(a.camAction, ids::AppendTime, true));

    // One from its Live View, one from CAM ACTION.
    ASSERT_TRUE(run.CloseWith(a.liveView, a));
    ASSERT_TRUE(run.CloseWith(b.camAction, b));
    EXPECT_EQ(StoredText(kCameraA, "FIL").value_or("(none)"), folderA);
    EXPECT_EQ(StoredText(kCameraB, "FIL").value_or("(none)"), folderB);

    auto expectShown = [](HWND camAction, const CameraSetup& setup) {
        EXPECT_EQ(ItemText(camAction, ids::Directory), setup.directory);
        EXPECT_EQ(ItemText(camAction, ids::FileName), setup.fileName);
        EXPECT_EQ(ItemText(camAction, ids::Text), setup.text);
        EXPECT_EQ(ItemText(camAction, ids::WatermarkPath), setup.watermarkPath);
        EXPECT_EQ(ItemText(camAction, ids::WatermarkX), std::to_string(setup.watermarkX));
        EXPECT_EQ(ItemText(camAction, ids::WatermarkWidth), std::to_string(setup.watermarkWidth));
        EXPECT_EQ(ItemText(camAction, ids::TextY), std::to_string(setup.textY));
        EXPECT_EQ(ItemText(camAction, ids::FtpUrl), setup.ftpServer);
        EXPECT_EQ(ItemText(camAction, ids::FtpPath), setup.ftpPath);
        EXPECT_EQ(ItemText(camAction, ids::FtpUser), setup.ftpUser);
        EXPECT_EQ(ItemText(camAction, ids::FtpPassword), ""); // never stored
        EXPECT_EQ(ItemText(camAction, ids::EmailAddresses), setup.emailAddresses);
        EXPECT_TRUE(IsChecked(camAction, ids::UseWatermark));
        EXPECT_FALSE(IsChecked(camAction, ids::MirrorToHttp)); // not stored
    };
    a = run.Open(kCameraA);
    b = run.Open(kCameraB);
    ASSERT_TRUE(a.camAction && b.camAction);
    expectShown(a.camAction, setupA);
    expectShown(b.camAction, setupB);
    EXPECT_EQ(ItemText(a.camAction, ids::HighRed), "200");
    EXPECT_EQ(ItemText(a.camAction, ids::SaveSeconds), "15");
    EXPECT_TRUE(IsChecked(a.camAction, ids::AppendTime));

    // Changed, then Exit with both cameras open: the changes are kept for the next start.
    ASSERT_TRUE(Type(a.camAction, ids::FileName, "alpha2"));
    ASSERT_TRUE(Type(b.camAction, ids::Text, "Beta text, second day"));
    ASSERT_TRUE(run.Exit()) << "Exit did not end the program";
    EXPECT_EQ(run.Process().ExitCode(), 0u);
    ASSERT_TRUE(run.Start(TestedProgram(), mailLog));
    a = run.Open(kCameraA);
    b = run.Open(kCameraB);
    ASSERT_TRUE(a.camAction && b.camAction);
    setupA.fileName = "alpha2";
    setupB.text = "Beta text, second day";
    expectShown(a.camAction, setupA);
    expectShown(b.camAction, setupB);
}
