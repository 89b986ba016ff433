#include "StartProcess.h"
#include "delivery/HttpMirror.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace lumetra;
using lumetra::test::ChildProcess;

namespace {

std::string ProgramDirectory() {
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length);
    return directory.substr(0, directory.find_last_of('\\'));
}

struct ReaderResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::vector<unsigned char> block;
};

// What another process sees in the block.
ReaderResult ReadBlockFromAnotherProcess() {
    const std::string directory = ProgramDirectory();
    const std::string outFile =
        directory + "\\mirror_block_" + std::to_string(::GetCurrentProcessId()) + ".bin";
    ::DeleteFileA(outFile.c_str());
    std::string commandLine = "\"" + directory + "\\delivery_mirror_reader.exe\" \"" + outFile + "\"";
    ChildProcess reader;
    ReaderResult result;
    if (!reader.Start(commandLine)) {
        ADD_FAILURE() << "cannot start the reader, error " << ::GetLastError();
        return result;
    }
    if (!reader.WaitForExit(30000))
        ADD_FAILURE() << "reader did not finish";
    result.exitCode = reader.ExitCode();
    std::ifstream in(outFile, std::ios::binary);
    result.block.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    in.close();
    ::DeleteFileA(outFile.c_str());
    return result;
}

std::vector<unsigned char> ExpectedBlock(const std::u16string& path) {
    std::vector<unsigned char> block(kMirrorBlockSize, 0);
    const std::u16string text = u"PATH=" + path + u"\n";
    std::size_t offset = 0;
    for (char16_t unit : text) {
        block[offset++] = static_cast<unsigned char>(unit & 0xFF);
        block[offset++] = static_cast<unsigned char>(unit >> 8);
    }
    return block;
}

} // namespace

TEST(HttpMirror, PublishedPathIsWhatTheServiceReads) {
    HttpMirror mirror;
    ASSERT_TRUE(mirror.Open());
    EXPECT_TRUE(mirror.IsMapped());

    ReaderResult fresh = ReadBlockFromAnotherProcess();
    ASSERT_EQ(fresh.exitCode, 0u);
    EXPECT_EQ(fresh.block, std::vector<unsigned char>(kMirrorBlockSize, 0)) << "a new block starts all zeros";

    EXPECT_TRUE(mirror.MirrorImagePath(true, "C:\\cams\\door1000000000.jpg"));
    EXPECT_TRUE(mirror.MirrorImagePath(true, "C:\\cams\\image.jpg"));
    ReaderResult published = ReadBlockFromAnotherProcess();
    ASSERT_EQ(published.exitCode, 0u);
    EXPECT_EQ(published.block, ExpectedBlock(u"C:\\cams\\image.jpg")) << "a shorter path leaves no tail";
}

TEST(HttpMirror, DisabledMirrorLeavesTheBlockAlone) {
    HttpMirror mirror;
    ASSERT_TRUE(mirror.Open());
    ASSERT_TRUE(mirror.MirrorImagePath(true, "C:\\cams\\image.jpg"));
    EXPECT_FALSE(mirror.MirrorImagePath(false, "C:\\cams\\other.jpg"));
    EXPECT_FALSE(mirror.MirrorImagePath(false, "C:\\cams\\third.jpg"));
    EXPECT_EQ(ReadBlockFromAnotherProcess().block, ExpectedBlock(u"C:\\cams\\image.jpg"));
}

TEST(HttpMirror, UnmappedMirrorNeverWrites) {
    HttpMirror never;
    EXPECT_FALSE(never.IsMapped());
    EXPECT_FALSE(never.MirrorImagePath(true, "C:\\cams\\image.jpg"));
}

TEST(HttpMirror, ExistingBlockIsSharedNotCleared) {
    HttpMirror first;
    ASSERT_TRUE(first.Open());
    ASSERT_TRUE(first.MirrorImagePath(true, "C:\\cams\\first.jpg"));

    HttpMirror second;
    ASSERT_TRUE(second.Open());
    EXPECT_EQ(ReadBlockFromAnotherProcess().block, ExpectedBlock(u"C:\\cams\\first.jpg"));
    ASSERT_TRUE(second.MirrorImagePath(true, "C:\\cams\\second.jpg"));
    EXPECT_EQ(ReadBlockFromAnotherProcess().block, ExpectedBlock(u"C:\\cams\\second.jpg"));
}

TEST(HttpMirror, CloseReleasesTheBlock) {
    HttpMirror mirror;
    ASSERT_TRUE(mirror.Open());
    mirror.Close();
    EXPECT_FALSE(mirror.IsMapped());
    EXPECT_FALSE(mirror.MirrorImagePath(true, "C:\\cams\\image.jpg"));
    EXPECT_EQ(ReadBlockFromAnotherProcess().exitCode, 2u) << "no process holds the block any more";
}

TEST(HttpMirror, PathsTooLongForTheBlockAreNotPublished) {
    HttpMirror mirror;
    ASSERT_TRUE(mirror.Open());
    // 4095 code units of text fit before the terminator: "PATH=", the path, a line feed.
    const std::string longest = "C:\\" + std::string(4089 - 3, 'a');
    ASSERT_TRUE(mirror.MirrorImagePath(true, longest));
    const std::vector<unsigned char> full = ReadBlockFromAnotherProcess().block;
    EXPECT_EQ(full, ExpectedBlock(u"C:\\" + std::u16string(4089 - 3, u'a')));
    ASSERT_EQ(full.size(), kMirrorBlockSize);
    EXPECT_EQ(full[kMirrorBlockSize - 4], '\n');
    EXPECT_EQ(full[kMirrorBlockSize - 2], 0);
    EXPECT_EQ(full[kMirrorBlockSize - 1], 0);

    EXPECT_FALSE(mirror.MirrorImagePath(true, longest + "b"));
    EXPECT_FALSE(mirror.MirrorImagePath(true, std::string(100000, 'x')));
    EXPECT_EQ(ReadBlockFromAnotherProcess().block, full) << "the last published path stays";
}

TEST(HttpMirror, AnsiTextIsConvertedToUtf16) {
    if (::GetACP() != 1252)
        GTEST_SKIP() << "needs code page 1252, have " << ::GetACP();
    HttpMirror mirror;
    ASSERT_TRUE(mirror.Open());
    ASSERT_TRUE(mirror.MirrorImagePath(true, "C:\\caf\xE9\\\x80.jpg"));
    EXPECT_EQ(ReadBlockFromAnotherProcess().block, ExpectedBlock(u"C:\\caf\u00E9\\\u20AC.jpg"));
}
