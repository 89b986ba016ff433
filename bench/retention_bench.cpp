// Retention under load: a backlog of 100,000 of a camera's recorded images (beside 1,000 files named
// as its images that it never wrote) worked off from the camera timer's ticks, and the once-a-minute
// check of 20 cameras with nothing to delete.
// Each figure is set beside a reference measured in the same run: deleting files in a bare loop, and
// reading one file's attributes per camera. Exits with 1 when a file it must keep is gone.
//
// Usage: retention_bench [images] (default 100000)
#include "BenchClock.h"
#include "StartProcess.h"
#include "delivery/Retention.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using namespace lumetra;
using lumetra::bench::Median;
using lumetra::bench::Now;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kDay = 86400;

void MakeFile(const fs::path& path) {
    static const std::string content(512, 'x');
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    ::CloseHandle(file);
}

// Files named prefix + (first - i) + suffix for i below count. Under Wine each new file costs a
// search of the whole folder for other letter cases, so large folders are filled from the Linux
// side, by Python, when Wine can name the folder's Linux path.
void MakeFiles(const fs::path& folder, const std::string& prefix, std::int64_t first, int count,
               const std::string& suffix) {
    using UnixName = char*(CDECL*)(const WCHAR*);
    const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* linuxFolder = unixName ? unixName(folder.c_str()) : nullptr;
    if (!linuxFolder) {
        for (int i = 0; i < count; ++i)
            MakeFile(folder / (prefix + std::to_string(first - i) + suffix));
        return;
    }
    const std::string done = std::string(linuxFolder) + "/.made";
    ::HeapFree(::GetProcessHeap(), 0, linuxFolder);
    const std::string linuxPath = done.substr(0, done.size() - 6) + "/" + prefix + "%d" + suffix;
    const std::string command = "Z:\\usr\\bin\\python3 -c \"[open('" + linuxPath + "' % (" +
                                std::to_string(first) + " - i), 'wb').write(b'x' * 512) for i in range(" +
                                std::to_string(count) + ")]; open('" + done + "', 'w').close()\"";
    lumetra::test::ChildProcess python;
    if (!python.Start(command))
        return;
    python.Detach();
    // Wine cannot wait for a Linux process: its last file is looked for instead.
    const fs::path marker = folder / ".made";
    for (int tries = 0; tries < 1200 && !fs::exists(marker); ++tries)
        ::Sleep(100);
    fs::remove(marker);
}

fs::path Folder(const std::string& name) {
    const fs::path folder = fs::temp_directory_path() / ("lumetra-retention-bench-" + name);
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

// Dispatches what is queued, timing each message; returns the longest in milliseconds.
double PumpTimed() {
    double longest = 0;
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        const double start = Now();
        ::DispatchMessageW(&message);
        longest = std::max(longest, (Now() - start) * 1000);
    }
    return longest;
}

// Records every file named prefix<digits>.jpg in the folder as the camera's own, as its saves would.
std::shared_ptr<ImageRecord> RecordImages(const fs::path& folder, const std::string& prefix) {
    auto record = std::make_shared<ImageRecord>(
        ImageRecord::AtPath((folder.parent_path() / (folder.filename().wstring() + L".record")).wstring()));
    ::DeleteFileW(record->Path().c_str());
    std::vector<RecordedImage> images;
    WIN32_FIND_DATAW found{};
    HANDLE find = ::FindFirstFileW((folder / (prefix + "*.jpg")).c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return record;
    do
        images.push_back({found.cFileName,
                          (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow,
                          (static_cast<std::uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                              found.ftLastWriteTime.dwLowDateTime});
    while (::FindNextFileW(find, &found));
    ::FindClose(find);
    record->Add(folder.wstring(), images);
    return record;
}

std::int64_t WallSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

int main(int argc, char** argv) {
    const int images = argc > 1 ? std::max(100, std::atoi(argv[1])) : 100000;
    const std::int64_t now = WallSeconds();
    bool pass = true;

    // The reference: the same files deleted in a bare loop, a tenth as many.
    const fs::path bareFolder = Folder("bare");
    const int bareCount = images / 10;
    MakeFiles(bareFolder, "bare", bareCount, bareCount, "");
    double start = Now();
    for (int i = 0; i < bareCount; ++i)
        ::DeleteFileW((bareFolder / ("bare" + std::to_string(bareCount - i))).c_str());
    const double barePerFileMs = (Now() - start) * 1000 / bareCount;

    std::printf("making %d images of the camera, all older than a day, and 1,000 look-alikes it did not "
                "write...\n",
                images);
    const fs::path folder = Folder("backlog");
    MakeFiles(folder, "cam", now - 2 * kDay, images, ".jpg");
    const std::shared_ptr<ImageRecord> record = RecordImages(folder, "cam");
    MakeFiles(folder, "cam", now - 2 * kDay - images, 1000, ".jpg");

    // The backlog, from the camera timer's ticks (every 200 ms) with the windows' messages between.
    ImageRetention retention("bench", record, [] { return std::vector<std::string>{}; });
    const RetentionRules rules{1, 0};
    double longestStepMs = 0;
    start = Now();
    double nextTick = start;
    while (retention.RunsFinished() == 0 && Now() - start < 600) {
        if (Now() >= nextTick) {
            const double tickStart = Now();
            retention.Tick(rules);
            longestStepMs = std::max(longestStepMs, (Now() - tickStart) * 1000);
            nextTick += 0.2;
        }
        longestStepMs = std::max(longestStepMs, PumpTimed());
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    const double backlogSeconds = Now() - start;
    size_t left = 0, others = 0;
    const std::int64_t firstLookAlike = now - 2 * kDay - images;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        (std::stoll(name.substr(3, 10)) > firstLookAlike ? left : others) += 1;
    }
    const double perFileMs = backlogSeconds * 1000 / images;
    std::printf("backlog of %d images: %.1f s (goal < 60 s: %s), %.3f ms a file against %.3f ms for a bare "
                "delete: ratio %.2f\n",
                images, backlogSeconds, backlogSeconds < 60 ? "met" : "NOT met", perFileMs, barePerFileMs,
                perFileMs / barePerFileMs);
    std::printf("longest step of the user-interface thread: %.2f ms (goal <= 20 ms: %s)\n", longestStepMs,
                longestStepMs <= 20 ? "met" : "NOT met");
    if (left != 0 || others != 1000) {
        std::printf("WRONG: %zu of the camera's images left, %zu of 1000 look-alikes kept\n", left, others);
        pass = false;
    }
    fs::remove_all(folder);
    ::DeleteFileW(record->Path().c_str());

    // The minute check of 20 cameras whose folders hold nothing to delete.
    constexpr int kCameras = 20;
    std::vector<std::unique_ptr<ImageRetention>> cameras;
    std::vector<fs::path> folders;
    for (int c = 0; c < kCameras; ++c) {
        folders.push_back(Folder("check" + std::to_string(c)));
        for (int i = 0; i < 50; ++i)
            MakeFile(folders.back() / ("cam" + std::to_string(now - i * 60) + ".jpg"));
        cameras.push_back(std::make_unique<ImageRetention>("bench", RecordImages(folders.back(), "cam"),
                                                           [] { return std::vector<std::string>{}; }));
        cameras.back()->Tick({30, 1000});
    }
    const double readStart = Now();
    while (Now() - readStart < 60) {
        PumpTimed();
        bool read = true;
        for (const auto& camera : cameras)
            read = read && camera->RunsFinished() > 0;
        if (read)
            break;
        ::Sleep(5);
    }
    std::vector<double> checks, stats;
    const std::wstring statPath = (folders[0] / ("cam" + std::to_string(now) + ".jpg")).wstring();
    int started = 0;
    for (int round = 0; round < 1000; ++round) {
        start = Now();
        for (const auto& camera : cameras)
            started += camera->CheckNow() ? 1 : 0;
        checks.push_back((Now() - start) * 1e6);
        start = Now();
        WIN32_FILE_ATTRIBUTE_DATA data;
        for (int c = 0; c < kCameras; ++c)
            ::GetFileAttributesExW(statPath.c_str(), GetFileExInfoStandard, &data);
        stats.push_back((Now() - start) * 1e6);
    }
    const double check = Median(checks), stat = Median(stats);
    std::printf(
        "minute check of %d cameras with nothing to delete: %.2f us (goal < 1 ms: %s), against %.1f us "
        "for reading one file's attributes per camera: ratio %.3f\n",
        kCameras, check, check < 1000 ? "met" : "NOT met", stat, check / stat);
    if (started != 0) {
        std::printf("WRONG: the check started %d runs with nothing to delete\n", started);
        pass = false;
    }
    cameras.clear();
    for (const fs::path& path : folders) {
        fs::remove_all(path);
        fs::remove(path.parent_path() / (path.filename().wstring() + L".record"));
    }
    return pass ? 0 : 1;
}
