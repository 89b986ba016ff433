#include <winsock2.h>

#include "BoxWatcher.h"
#include "delivery/FtpUploader.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

using namespace lumetra;
using lumetra::test::BoxWatcher;
using lumetra::test::SeenBox;

namespace {

constexpr char kUser[] = "camuser";
constexpr char kPassword[] = "s3cret";

std::string ToWindowsPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

std::vector<char> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool FileExists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::string& directory) {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((directory + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string path = directory + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                ::DeleteFileA(path.c_str());
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryA(directory.c_str());
}

bool CanConnect(unsigned short port) {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    address.sin_port = ::htons(port);
    const bool connected = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::closesocket(s);
    return connected;
}

unsigned short FreeLoopbackPort() {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    int length = sizeof(address);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    ::closesocket(s);
    return ::ntohs(address.sin_port);
}

// pyftpdlib on a port of its own, serving a fresh folder under /tmp. Wine starts the Linux
// program but gives no handle to it, so it is stopped through a stop file.
class FtpServer {
  public:
    FtpServer() {
        // Wine's process ids repeat across prefixes; the port just taken does not.
        port_ = FreeLoopbackPort();
        const std::string base = "/tmp/lumetra-delivery-ftp-" + std::to_string(port_);
        unixRoot_ = base + "/root";
        windowsBase_ = ToWindowsPath(base);
        RemoveTree(windowsBase_);
        ::CreateDirectoryA(windowsBase_.c_str(), nullptr);
        ::CreateDirectoryA(Root().c_str(), nullptr);
        stopFile_ = base + "/stop";
        logFile_ = base + "/commands.log";
        std::string commandLine = "Z:\\usr\\bin\\python3 " LUMETRA_FTP_SERVER_SCRIPT " " +
                                  std::to_string(port_) + " " + unixRoot_ + " " + kUser + " " + kPassword +
                                  " " + stopFile_ + " " + logFile_;
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        started_ = ::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                    &startup, &process) != FALSE;
        if (process.hThread)
            ::CloseHandle(process.hThread);
        if (process.hProcess)
            ::CloseHandle(process.hProcess);
        for (int i = 0; started_ && i < 300 && !CanConnect(port_); ++i)
            ::Sleep(50);
        ready_ = started_ && CanConnect(port_);
    }
    ~FtpServer() {
        std::ofstream(ToWindowsPath(stopFile_)).put('x');
        for (int i = 0; i < 100 && CanConnect(port_); ++i)
            ::Sleep(50);
        RemoveTree(windowsBase_);
    }
    bool Ready() const { return ready_; }
    unsigned short Port() const { return port_; }
    std::string Root() const { return windowsBase_ + "\\root"; }
    // The commands the server has received so far.
    std::string Transcript() const {
        const std::vector<char> log = ReadFile(ToWindowsPath(logFile_));
        return {log.begin(), log.end()};
    }
    void Clear() {
        RemoveTree(Root());
        ::CreateDirectoryA(Root().c_str(), nullptr);
    }

  private:
    std::string unixRoot_, windowsBase_, stopFile_, logFile_;
    unsigned short port_ = 0;
    bool started_ = false, ready_ = false;
};

class FtpUpload : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        server = std::make_unique<FtpServer>();
    }
    static void TearDownTestSuite() {
        server.reset();
        ::WSACleanup();
    }
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

FtpUploader* timerUploader = nullptr;
HWND timerOwner = nullptr;
std::string timerLocal;
void CALLBACK UploadAgain(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    timerUploader->UploadByFtp(timerOwner, timerLocal, "second.jpg", "127.0.0.1", "", kUser, kPassword);
}

} // namespace

TEST_F(FtpUpload, UploadsTheFileByteForByteIntoTheLoginFolder) {
    FtpUploader uploader(server->Port());
    BoxWatcher watcher;
    uploader.UploadByFtp(owner_, local_, "door1000000000.jpg", "127.0.0.1", "", kUser, kPassword);
    EXPECT_TRUE(watcher.Seen().empty());
    EXPECT_EQ(ReadFile(server->Root() + "\\door1000000000.jpg"),
              std::vector<char>(content_.begin(), content_.end()));
    EXPECT_FALSE(uploader.IsBusy());
}

TEST_F(FtpUpload, UploadsIntoTheGivenFolder) {
    ::CreateDirectoryA((server->Root() + "\\cams").c_str(), nullptr);
    FtpUploader uploader(server->Port());
    BoxWatcher watcher;
    uploader.UploadByFtp(owner_, local_, "image.jpg", "127.0.0.1", "cams", kUser, kPassword);
    EXPECT_TRUE(watcher.Seen().empty());
    EXPECT_EQ(ReadFile(server->Root() + "\\cams\\image.jpg").size(), content_.size());
    EXPECT_FALSE(FileExists(server->Root() + "\\image.jpg"));
}

TEST_F(FtpUpload, MissingRemoteFolderUploadsNothingSilently) {
    FtpUploader uploader(server->Port());
    BoxWatcher watcher;
    uploader.UploadByFtp(owner_, local_, "image.jpg", "127.0.0.1", "no-such-folder", kUser, kPassword);
    ::Sleep(200);
    EXPECT_TRUE(watcher.Seen().empty());
    EXPECT_FALSE(FileExists(server->Root() + "\\image.jpg"));
    EXPECT_FALSE(FileExists(server->Root() + "\\no-such-folder"));
}

TEST_F(FtpUpload, EmptyServerOrNameDoesNothing) {
    FtpUploader uploader(server->Port());
    BoxWatcher watcher;
    uploader.UploadByFtp(owner_, local_, "image.jpg", "", "", kUser, kPassword);
    uploader.UploadByFtp(owner_, local_, "", "127.0.0.1", "", kUser, kPassword);
    ::Sleep(200);
    EXPECT_TRUE(watcher.Seen().empty());
    EXPECT_FALSE(FileExists(server->Root() + "\\image.jpg"));
}

TEST_F(FtpUpload, WrongPasswordShowsErrorWithText) {
    FtpUploader uploader(server->Port());
    std::vector<SeenBox> seen;
    {
        BoxWatcher watcher;
        uploader.UploadByFtp(owner_, local_, "image.jpg", "127.0.0.1", "", kUser, "wrong");
        seen = watcher.Seen();
    }
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "Error");
    EXPECT_NE(seen[0].text.find("530"), std::string::npos)
        << "the server's answer is shown: " << seen[0].text;
    EXPECT_EQ(seen[0].owner, owner_);
    EXPECT_FALSE(FileExists(server->Root() + "\\image.jpg"));
    EXPECT_FALSE(uploader.IsBusy());
}

TEST_F(FtpUpload, MissingLocalFileShowsSendError) {
    FtpUploader uploader(server->Port());
    std::vector<SeenBox> seen;
    {
        BoxWatcher watcher;
        uploader.UploadByFtp(owner_, local_ + ".missing", "image.jpg", "127.0.0.1", "", kUser, kPassword);
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
        uploader.UploadByFtp(owner_, local_, "image.jpg", "127.0.0.1", "", kUser, kPassword);
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
        // The first upload fails its transfer and holds its connection while its box is open; the
        // timer then asks for another upload from that box's message loop, as the session tick does.
        ::SetTimer(nullptr, 0, 50, UploadAgain);
        uploader.UploadByFtp(owner_, local_ + ".missing", "first.jpg", "127.0.0.1", "", kUser, kPassword);
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
    EXPECT_FALSE(uploader.IsBusy());

    // Once the first has closed, the next upload goes through.
    BoxWatcher watcher;
    uploader.UploadByFtp(owner_, local_, "third.jpg", "127.0.0.1", "", kUser, kPassword);
    EXPECT_TRUE(watcher.Seen().empty());
    EXPECT_TRUE(FileExists(server->Root() + "\\third.jpg"));
}

TEST(FtpErrorText, NeverEmpty) {
    EXPECT_NE(FtpErrorText(ERROR_INTERNET_CANNOT_CONNECT).find("connect"), std::string::npos);
    for (DWORD code = INTERNET_ERROR_BASE; code <= INTERNET_ERROR_LAST; ++code)
        EXPECT_FALSE(FtpErrorText(code).empty()) << code;
    EXPECT_EQ(FtpErrorText(0x20001234), "Error 536875572");
}
