#include <winsock2.h>

#include "BoxWatcher.h"
#include "FtpServer.h"
#include "TempFiles.h"
#include "delivery/FtpUploader.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace lumetra;
using lumetra::test::BoxWatcher;
using lumetra::test::CountOf;
using lumetra::test::FileExists;
using lumetra::test::FreeLoopbackPort;
using lumetra::test::FtpServer;
using lumetra::test::ReadWholeFile;
using lumetra::test::SeenBox;

namespace {

constexpr char kUser[] = "camuser";
constexpr char kPassword[] = "s3cret";

class FtpUpload : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server = std::make_unique<FtpServer>(kUser, kPassword); }
    static void TearDownTestSuite() { server.reset(); }
    void SetUp() override {
        ASSERT_TRUE(server->Ready()) << "FTP server did not start on port " << server->Port();
        server->Clear();
        local_ = server->Root() + "\\..\\local.jpg";
        // Every byte value and line ends, which a text-mode transfer would change.
        content_.clear();
        for (int round = 0; round < 40; ++round) {
            for (int value = 0; value < 256; ++value)
                content_.push_back(static_cast<char>(value));
            content_ += "\r\n\n\r";
        }
        std::ofstream(local_, std::ios::binary)
            .write(content_.data(), static_cast<std::streamsize>(content_.size()));
        owner_ = ::CreateWindowExA(0, "STATIC", "session", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                   nullptr, nullptr);
    }
    void TearDown() override {
        if (owner_)
            ::DestroyWindow(owner_);
        ::DeleteFileA(local_.c_str());
    }

    static std::unique_ptr<FtpServer> server;
    std::string local_;
    std::string content_;
    HWND owner_ = nullptr;
};
std::unique_ptr<FtpServer> FtpUpload::server;

// Starts an upload as the session does and pumps this thread's messages until it and its box
// are over (the upload runs on a thread of its own).
void Upload(FtpUploader& uploader, HWND owner, const std::string& local, const std::string& name,
            const std::string& server, const std::string& directory, const std::string& user,
            const std::string& password, bool activeMode = false) {
    uploader.Upload(owner, UploadRequest{local, name, server, directory, user, password, activeMode});
    const DWORD start = ::GetTickCount();
    MSG msg;
    while (uploader.Busy() && ::GetTickCount() - start < 60000) {
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageA(&msg);
        ::Sleep(5);
    }
    ASSERT_FALSE(uploader.Busy()) << "the upload ended";
}

FtpUploader* timerUploader = nullptr;
HWND timerOwner = nullptr;
std::string timerLocal;
void CALLBACK UploadAgain(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    timerUploader->Upload(timerOwner,
                          UploadRequest{timerLocal, "second.jpg", "127.0.0.1", "", kUser, kPassword});
}

} // namespace

TEST_F(FtpUpload, UploadsTheFileByteForByteIntoTheLoginFolder) {
    FtpUploader uploader(server->Port());
    BoxWatcher watcher;
    Upload(uploader, owner_, local_, "door1000000000.jpg", "127.0.0.1", "", kUser, kPassword);
    EXPECT_TRUE(watcher.Seen().empty());
    EXPECT_EQ(ReadWholeFile(server->Root() + "\\door1000000000.jpg"),
              std::vector<char>(content_.begin(), content_.end()));
    EXPECT_FALSE(uploader.Busy());
}

TEST_F(FtpUpload, UploadsIntoTheGivenFolder) {
    ::CreateDirectoryA((server->Root() + "\\cams").c_str(), nullptr);
    FtpUploader uploader(server->Port());
    BoxWatcher watcher;
    Upload(uploader, owner_, local_, "image.jpg", "127.0.0.1", "cams", kUser, kPassword);
    EXPECT_TRUE(watcher.Seen().empty());
    EXPECT_EQ(ReadWholeFile(server->Root() + "\\cams\\image.jpg").size(), content_.size());
    EXPECT_FALSE(FileExists(server->Root() + "\\image.jpg"));
}

TEST_F(FtpUpload, MissingRemoteFolderIsToldWithTheServersWords) {
    FtpUploader uploader(server->Port());
    std::vector<SeenBox> seen;
    {
        BoxWatcher watcher;
        Upload(uploader, owner_, local_, "image.jpg", "127.0.0.1", "no-such-folder", kUser, kPassword);
        seen = watcher.Seen();
    }
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "Error");
    EXPECT_NE(seen[0].text.find("no-such-folder"), std::string::npos) << seen[0].text;
    EXPECT_NE(seen[0].text.find("550"), std::string::npos) << seen[0].text;
    EXPECT_FALSE(FileExists(server->Root() + "\\image.jpg"));
    EXPECT_FALSE(FileExists(server->Root() + "\\no-such-folder"));
}

// A server on a port of its own, named in the server field, that refuses active mode: the upload
// goes passive, arrives under a temporary name and is renamed over the older image once complete.
TEST(FtpUploadModes, PassiveByDefaultOnTheNamedPortAndNeverHalfWrittenUnderItsName) {
    FtpServer passiveOnly(kUser, kPassword, 0, FtpServer::Modes::PassiveOnly);
    ASSERT_TRUE(passiveOnly.Ready());
    const std::string local = passiveOnly.Root() + "\\..\\local.jpg";
    const std::string named = "127.0.0.1:" + std::to_string(passiveOnly.Port());
    FtpUploader uploader; // port 21 unless the server names one
    for (const std::string& content : {std::string(300000, 'a'), std::string(1000, 'b')}) {
        std::ofstream(local, std::ios::binary)
            .write(content.data(), static_cast<std::streamsize>(content.size()));
        BoxWatcher watcher;
        Upload(uploader, nullptr, local, "door.jpg", named, "", kUser, kPassword);
        EXPECT_TRUE(watcher.Seen().empty());
        EXPECT_EQ(ReadWholeFile(passiveOnly.Root() + "\\door.jpg"),
                  std::vector<char>(content.begin(), content.end()));
    }
    const std::string transcript = passiveOnly.Transcript();
    EXPECT_EQ(CountOf(transcript, "STOR door.jpg.part"), 2u) << transcript;
    EXPECT_EQ(CountOf(transcript, "RNTO door.jpg"), 2u) << transcript;
    EXPECT_EQ(CountOf(transcript, "STOR door.jpg"), 2u) << "only under the temporary name";
    EXPECT_FALSE(FileExists(passiveOnly.Root() + "\\door.jpg.part"));

    // Active mode, for the servers that need it, is refused by this one with its own words.
    std::vector<SeenBox> seen;
    {
        BoxWatcher watcher;
        Upload(uploader, nullptr, local, "active.jpg", named, "", kUser, kPassword, true);
        seen = watcher.Seen();
    }
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, " Send Error");
    EXPECT_FALSE(FileExists(passiveOnly.Root() + "\\active.jpg"));
    ::DeleteFileA(local.c_str());
}

TEST(FtpServerField, HostAndPort) {
    struct Row {
        const char* field;
        std::optional<std::pair<std::string, INTERNET_PORT>> split;
    };
    const Row rows[] = {
        {"ftp.example.org", std::pair<std::string, INTERNET_PORT>{"ftp.example.org", 21}},
        {"ftp.example.org:2121", std::pair<std::string, INTERNET_PORT>{"ftp.example.org", 2121}},
        {"[::1]:2121", std::pair<std::string, INTERNET_PORT>{"::1", 2121}},
        {"[::1]", std::pair<std::string, INTERNET_PORT>{"::1", 21}},
        {"fe80::1", std::pair<std::string, INTERNET_PORT>{"fe80::1", 21}},
        {"host:0", std::nullopt},
        {"host:65536", std::nullopt},
        {"host:ftp", std::nullopt},
        {"host:", std::nullopt},
        {"[::1", std::nullopt},
        {"[::1]x", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.field);
        const std::optional<FtpHost> split = SplitFtpServer(row.field, 21);
        ASSERT_EQ(split.has_value(), row.split.has_value());
        if (split) {
            EXPECT_EQ(split->host, row.split->first);
            EXPECT_EQ(split->port, row.split->second);
        }
    }
}

TEST_F(FtpUpload, EmptyServerOrNameDoesNothing) {
    FtpUploader uploader(server->Port());
    BoxWatcher watcher;
    Upload(uploader, owner_, local_, "image.jpg", "", "", kUser, kPassword);
    Upload(uploader, owner_, local_, "", "127.0.0.1", "", kUser, kPassword);
    ::Sleep(200);
    EXPECT_TRUE(watcher.Seen().empty());
    EXPECT_FALSE(FileExists(server->Root() + "\\image.jpg"));
}

TEST_F(FtpUpload, WrongPasswordShowsErrorWithText) {
    FtpUploader uploader(server->Port());
    std::vector<SeenBox> seen;
    {
        BoxWatcher watcher;
        Upload(uploader, owner_, local_, "image.jpg", "127.0.0.1", "", kUser, "wrong");
        seen = watcher.Seen();
    }
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "Error");
    EXPECT_NE(seen[0].text.find("530"), std::string::npos)
        << "the server's answer is shown: " << seen[0].text;
    EXPECT_EQ(seen[0].owner, owner_);
    EXPECT_FALSE(FileExists(server->Root() + "\\image.jpg"));
    EXPECT_FALSE(uploader.Busy());
}

TEST_F(FtpUpload, MissingLocalFileShowsSendError) {
    FtpUploader uploader(server->Port());
    std::vector<SeenBox> seen;
    {
        BoxWatcher watcher;
        Upload(uploader, owner_, local_ + ".missing", "image.jpg", "127.0.0.1", "", kUser, kPassword);
        seen = watcher.Seen();
    }
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, " Send Error");
    EXPECT_FALSE(seen[0].text.empty());
    EXPECT_EQ(seen[0].text.find("Error "), std::string::npos) << "the system's text for a missing file";
    EXPECT_EQ(seen[0].owner, owner_);
}

TEST_F(FtpUpload, RefusedConnectionShowsWinInetText) {
    FtpUploader uploader(FreeLoopbackPort());
    std::vector<SeenBox> seen;
    {
        BoxWatcher watcher;
        Upload(uploader, owner_, local_, "image.jpg", "127.0.0.1", "", kUser, kPassword);
        seen = watcher.Seen();
    }
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "Error");
    EXPECT_NE(seen[0].text.find("connect"), std::string::npos) << seen[0].text;
}

TEST_F(FtpUpload, SecondUploadWhileTheFirstIsOpenIsRefused) {
    FtpUploader uploader(server->Port());
    timerUploader = &uploader;
    timerOwner = owner_;
    timerLocal = local_;
    std::vector<SeenBox> seen;
    {
        BoxWatcher watcher(std::chrono::milliseconds(400));
        // The first upload fails its transfer and holds the uploader while its box is open; the
        // timer then asks for another upload from that box's message loop, as a user's click can.
        ::SetTimer(nullptr, 0, 50, UploadAgain);
        Upload(uploader, owner_, local_ + ".missing", "first.jpg", "127.0.0.1", "", kUser, kPassword);
        seen = watcher.Seen();
    }
    // Both boxes may be found by the same look, in either order.
    ASSERT_EQ(seen.size(), 2u);
    const auto duplicate = std::find_if(seen.begin(), seen.end(),
                                        [](const SeenBox& box) { return box.caption == " Duplicate"; });
    ASSERT_NE(duplicate, seen.end());
    const SeenBox& first = seen[duplicate == seen.begin() ? 1 : 0];
    EXPECT_EQ(first.caption, " Send Error");
    EXPECT_EQ(duplicate->text, "Previus connection running");
    EXPECT_EQ(duplicate->owner, owner_);
    EXPECT_FALSE(FileExists(server->Root() + "\\second.jpg"));
    EXPECT_FALSE(uploader.Busy());

    // Once the first has closed, the next upload goes through.
    BoxWatcher watcher;
    Upload(uploader, owner_, local_, "third.jpg", "127.0.0.1", "", kUser, kPassword);
    EXPECT_TRUE(watcher.Seen().empty());
    EXPECT_TRUE(FileExists(server->Root() + "\\third.jpg"));
}

TEST(FtpErrorText, NeverEmpty) {
    EXPECT_NE(FtpErrorText(ERROR_INTERNET_CANNOT_CONNECT).find("connect"), std::string::npos);
    for (DWORD code = INTERNET_ERROR_BASE; code <= INTERNET_ERROR_LAST; ++code)
        EXPECT_FALSE(FtpErrorText(code).empty()) << code;
    EXPECT_EQ(FtpErrorText(0x20001234), "Error 536875572");
}
