#include "delivery/Retention.h"

#include "delivery/SaveTarget.h"
#include "framework/AnsiText.h"
#include "framework/EventLog.h"
#include "framework/Handles.h"

#include <windows.h>
#include <winnetwk.h>

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace lumetra {

namespace {
constexpr std::int64_t SecondsPerDay = 86400;
constexpr std::uint64_t BytesPerMegabyte = 1024 * 1024;
constexpr ULONGLONG CheckEveryMs = 60 * 1000;
// The folder is read again this often even when nothing seems due: the user or another program may
// have put images there or taken them away.
constexpr ULONGLONG ReadEveryMs = 60 * 60 * 1000;
// What retention deleted goes to the event log at most this often.
constexpr ULONGLONG LogEveryMs = 60 * 60 * 1000;
// Images a run could not delete that are named in the log; the rest are counted in one line, so a
// share that refuses every delete does not write a line for each image.
constexpr size_t NamedFailuresPerRun = 5;

bool SameIgnoringCase(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength) {
    return ::CompareStringOrdinal(a, static_cast<int>(aLength), b, static_cast<int>(bLength), TRUE) ==
           CSTR_EQUAL;
}

bool SameIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return SameIgnoringCase(a.data(), a.size(), b.data(), b.size());
}

std::wstring FoldCase(std::wstring text) {
    if (!text.empty())
        ::CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

std::wstring NameOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring LongPathOf(const std::wstring& path) {
    const DWORD needed = ::GetLongPathNameW(path.c_str(), nullptr, 0);
    if (needed == 0)
        return path;
    std::wstring longPath(needed, L'\0');
    const DWORD length = ::GetLongPathNameW(path.c_str(), longPath.data(), needed);
    longPath.resize(length < needed ? length : 0);
    return longPath.empty() ? path : longPath;
}

// Where the folder really is, as the file system names it after following every link; empty when
// the file system cannot tell.
std::wstring FinalPathOf(const std::wstring& folder) {
    UniqueFile handle(::CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle)
        return {};
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(handle.get(), path.data(), static_cast<DWORD>(path.size()),
                                               FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length >= path.size()) {
        path.resize(length + 1);
        length = ::GetFinalPathNameByHandleW(handle.get(), path.data(), static_cast<DWORD>(path.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    if (length == 0 || length >= path.size())
        return {};
    path.resize(length);
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0)
        return L"\\\\" + path.substr(8);
    if (path.rfind(L"\\\\?\\", 0) == 0)
        return path.substr(4);
    return path;
}

// A path on a mapped network drive as the file system names it: the share (\\server\share) in
// place of the drive letter. Empty for any other path.
std::wstring ShareNameOf(const std::wstring& path) {
    if (path.size() < 2 || path[1] != L':')
        return {};
    const std::wstring drive = path.substr(0, 2);
    if (::GetDriveTypeW((drive + L"\\").c_str()) != DRIVE_REMOTE)
        return {};
    wchar_t share[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    if (::WNetGetConnectionW(drive.c_str(), share, &length) != NO_ERROR)
        return {};
    return share + path.substr(2);
}

std::uint64_t FileTimeValue(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The images of `place` that the record holds, by their names with the letters folded.
// Which of the record's folders are the place's folder (however each was typed).
std::vector<bool> FoldersAt(const RecordContents& contents, const SavePlace& place) {
    const std::wstring folder = FolderKey(place.folder);
    std::vector<bool> here;
    for (const RecordedFolder& entry : contents.folders)
        here.push_back(FolderKey(entry.folder) == folder);
    return here;
}

// The images of the place's folder that the record holds, by their names with the letters folded.
std::unordered_map<std::wstring, const RecordedImage*> RecordedAt(const RecordContents& contents,
                                                                  const std::vector<bool>& here) {
    std::unordered_map<std::wstring, const RecordedImage*> recorded;
    for (size_t i = 0; i < contents.folders.size(); ++i)
        if (here[i])
            for (const RecordedImage& image : contents.folders[i].images)
                recorded[FoldCase(image.name)] = &image;
    return recorded;
}

void DropTrailingSeparators(std::wstring& path) {
    // "C:\" keeps its backslash: without it, it would name the drive's current folder.
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
}
} // namespace

std::optional<std::int64_t> RetainedImageStamp(const std::wstring& name, const std::wstring& stem) {
    if (name.size() != stem.size() + TimeStampSuffixLength || !IsTimeStampedName(name) ||
        !SameIgnoringCase(name.data(), stem.size(), stem.data(), stem.size()))
        return std::nullopt;
    std::int64_t stamp = 0;
    for (size_t i = stem.size(); i < stem.size() + TimeStampDigits; ++i)
        stamp = stamp * 10 + (name[i] - L'0');
    return stamp;
}

std::optional<SavePlace> PlaceOfImage(const std::wstring& folder, const std::wstring& name) {
    if (!IsTimeStampedName(name))
        return std::nullopt;
    return SavePlace{folder, name.substr(0, name.size() - TimeStampSuffixLength)};
}

RetentionFolder ResolveRetentionFolder(const std::wstring& typed) {
    if (typed.empty())
        return {{}, "no folder is set"};
    for (size_t start = 0; start <= typed.size();) {
        const size_t end = std::min(typed.find_first_of(L"\\/", start), typed.size());
        if (typed.compare(start, end - start, L"..") == 0)
            return {{}, "the folder path goes up through \"..\""};
        start = end + 1;
    }
    std::wstring full = FullPathOf(typed);
    if (full.empty())
        return {{}, "the folder name is not valid"};
    DropTrailingSeparators(full);
    const DWORD attributes = ::GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return {{}, FileErrorText(::GetLastError())};
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return {{}, "it is not a folder"};
    full = LongPathOf(full);
    // The folder and every folder above it: none may be a link (symbolic link, junction, mount).
    for (size_t slash = full.find(L'\\', 3);; slash = full.find(L'\\', slash + 1)) {
        const std::wstring level = full.substr(0, slash);
        const DWORD levelAttributes = ::GetFileAttributesW(level.c_str());
        if (levelAttributes != INVALID_FILE_ATTRIBUTES && (levelAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return {{}, "the folder is reached through a link"};
        if (slash == std::wstring::npos)
            break;
    }
    // A link the attributes do not show (Wine shows none) still changes where the folder really is.
    std::wstring final = FinalPathOf(full);
    DropTrailingSeparators(final);
    if (!final.empty() && !SameIgnoringCase(final, full) && !SameIgnoringCase(final, ShareNameOf(full)))
        return {{}, "the folder is reached through a link"};
    return {full, {}};
}

std::vector<RetainedImage> ListRetainedImages(const std::wstring& folder, const std::wstring& stem) {
    std::vector<RetainedImage> images;
    const std::wstring pattern = folder + (folder.ends_with(L'\\') ? L"*" : L"\\*");
    WIN32_FIND_DATAW found{};
    UniqueFind find(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                       nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find)
        return images;
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        if (const auto stamp = RetainedImageStamp(found.cFileName, stem))
            images.push_back({found.cFileName, *stamp,
                              (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow,
                              FileTimeValue(found.ftLastWriteTime)});
    } while (::FindNextFileW(find.get(), &found));
    std::sort(images.begin(), images.end(), [](const RetainedImage& a, const RetainedImage& b) {
        return a.stamp != b.stamp ? a.stamp < b.stamp : a.name < b.name;
    });
    return images;
}

std::vector<size_t> ImagesToDelete(const std::vector<RetainedImage>& images, const RetentionRules& rules,
                                   std::int64_t now, const std::set<std::wstring>& protectedNames,
                                   std::uint64_t headroom) {
    std::set<std::wstring> kept;
    for (const std::wstring& name : protectedNames)
        kept.insert(FoldCase(name));
    const auto mayGo = [&](const RetainedImage& image) { return !kept.count(FoldCase(image.name)); };

    std::vector<size_t> doomed;
    std::vector<bool> going(images.size(), false);
    std::uint64_t left = 0;
    for (const RetainedImage& image : images)
        left += image.bytes;
    const auto take = [&](size_t index) {
        going[index] = true;
        doomed.push_back(index);
        left -= images[index].bytes;
    };
    if (rules.days > 0) {
        const std::int64_t oldestAllowed = now - static_cast<std::int64_t>(rules.days) * SecondsPerDay;
        for (size_t i = 0; i < images.size() && images[i].stamp < oldestAllowed; ++i)
            if (mayGo(images[i]))
                take(i);
    }
    if (rules.megabytes > 0) {
        const std::uint64_t limit = static_cast<std::uint64_t>(rules.megabytes) * BytesPerMegabyte;
        if (left + headroom > limit) {
            // Under 90 %, and room for the headroom below the limit.
            const std::uint64_t target =
                std::min(limit / 10 * 9 + limit % 10 * 9 / 10, limit - std::min(limit, headroom));
            for (size_t i = 0; i < images.size() && left >= target; ++i)
                if (!going[i] && mayGo(images[i]))
                    take(i);
        }
    }
    // Already oldest first: the age limit takes a run from the oldest, the size limit goes on after it.
    return doomed;
}

RetentionRun RunRetention(ImageRecord& record, const std::optional<SavePlace>& place,
                          const RetentionRules& rules, std::int64_t now,
                          const std::set<std::wstring>& protectedNames, const std::atomic<bool>& cancel,
                          std::uint64_t headroom) {
    RetentionRun run;
    const RecordContents contents = record.Read();
    run.place = place ? place : PlaceOfImage(contents.lastFolder, contents.lastName);
    if (!run.place)
        return run;
    const RetentionFolder folder = ResolveRetentionFolder(run.place->folder);
    if (!folder.refusal.empty()) {
        run.refusal = folder.refusal;
        return run;
    }
    // Only what the camera wrote, still as it wrote it: a file of the same name that someone else
    // put there, or wrote over, is not the camera's any more.
    const std::vector<bool> here = FoldersAt(contents, *run.place);
    const std::unordered_map<std::wstring, const RecordedImage*> recorded = RecordedAt(contents, here);
    std::vector<RetainedImage> images;
    std::unordered_set<std::wstring> stillOwn; // folded names
    for (RetainedImage& image : ListRetainedImages(folder.path, run.place->stem)) {
        const auto found = recorded.find(FoldCase(image.name));
        if (found == recorded.end() || found->second->bytes != image.bytes ||
            found->second->writeTime != image.writeTime)
            continue;
        stillOwn.insert(found->first);
        images.push_back(std::move(image));
    }
    std::vector<bool> gone(images.size(), false);
    const std::wstring prefix = folder.path + (folder.path.ends_with(L'\\') ? L"" : L"\\");
    for (size_t index : ImagesToDelete(images, rules, now, protectedNames, headroom)) {
        if (cancel.load(std::memory_order_relaxed)) {
            run.stopped = true;
            break;
        }
        const RetainedImage& image = images[index];
        if (::DeleteFileW((prefix + image.name).c_str())) {
            ++run.deletedFiles;
            run.freedBytes += image.bytes;
            gone[index] = true;
            continue;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) // someone else took it away meanwhile
            gone[index] = true;
        else
            run.notDeleted.emplace_back(image.name, FileErrorText(error));
    }
    for (size_t i = 0; i < images.size(); ++i) {
        if (gone[i]) {
            stillOwn.erase(FoldCase(images[i].name));
            continue;
        }
        ++run.keptFiles;
        run.keptBytes += images[i].bytes;
        if (!run.oldestKept)
            run.oldestKept = images[i].stamp;
    }

    // The record forgets this place's images that are gone or no longer as written; images of other
    // names and folders stay as they are.
    std::vector<RecordedFolder> kept;
    size_t forgotten = 0;
    for (size_t i = 0; i < contents.folders.size(); ++i) {
        const RecordedFolder& entry = contents.folders[i];
        kept.push_back({entry.folder, {}});
        for (const RecordedImage& image : entry.images) {
            // Of a name recorded twice (saved twice in one second) only the entry of the file stays.
            const auto gone = [&] {
                const std::wstring name = FoldCase(image.name);
                return !stillOwn.count(name) || recorded.at(name) != &image;
            };
            if (here[i] && RetainedImageStamp(image.name, run.place->stem) && gone())
                ++forgotten;
            else
                kept.back().images.push_back(image);
        }
    }
    if (forgotten > 0)
        record.Rewrite(contents, kept);
    return run;
}

ImageRetention::ImageRetention(std::string cameraName, std::shared_ptr<ImageRecord> record,
                               ProtectedPaths protectedPaths, SecondsClock clock)
    : cameraName_(std::move(cameraName)), record_(std::move(record)),
      protectedPaths_(std::move(protectedPaths)), clock_(std::move(clock)) {}

ImageRetention::~ImageRetention() {
    if (cancel_)
        cancel_->store(true);
    LogDeleted(true);
}

std::uint64_t ImageRetention::LimitBytes() const {
    return static_cast<std::uint64_t>(std::max(rules_.megabytes, 0)) * BytesPerMegabyte;
}

bool ImageRetention::Due(std::int64_t now) const {
    if (rules_.days > 0 && oldest_ && *oldest_ < now - static_cast<std::int64_t>(rules_.days) * SecondsPerDay)
        return true;
    return rules_.megabytes > 0 && bytes_ + Headroom() > LimitBytes();
}

// Room kept below the size limit for the next image, even at twice the last one's size: the run
// comes before that image, so the folder never holds more than the limit.
std::uint64_t ImageRetention::Headroom() const {
    return 2 * lastImageBytes_;
}

void ImageRetention::Restart() {
    ++generation_;
    // A run of the old rules or place stops where it is: it might delete what the new ones keep.
    if (cancel_)
        cancel_->store(true);
    known_ = false;
    writtenDuringRun_.clear();
    runAgain_ = stuckOverLimit_ = false;
    logged_.refusal.clear();
}

void ImageRetention::Tick(const RetentionRules& rules) {
    if (!(rules == rules_)) {
        rules_ = rules;
        Restart();
    }
    if (!rules_.Active() || job_.Running())
        return;
    const ULONGLONG now = ::GetTickCount64();
    if (!known_ || runAgain_ || now >= nextRead_) {
        StartRun();
        return;
    }
    if (now >= nextCheck_)
        CheckNow();
}

bool ImageRetention::CheckNow() {
    if (!rules_.Active() || job_.Running())
        return false;
    nextCheck_ = ::GetTickCount64() + CheckEveryMs;
    stuckOverLimit_ = false;
    if (!Due(clock_()))
        return false;
    StartRun();
    return true;
}

void ImageRetention::ImageWritten(const std::string& path) {
    const std::wstring widePath = AnsiToWide(path);
    const std::wstring name = NameOf(widePath);
    const std::wstring folder =
        widePath.substr(0, widePath.size() - std::min(widePath.size(), name.size() + 1));
    const std::optional<SavePlace> place = PlaceOfImage(folder, name);
    const std::optional<RecordedImage> written = place ? RecordedImageOf(widePath) : std::nullopt;
    if (!written)
        return;
    const std::uint64_t bytes = written->bytes;
    // Recorded whatever the limits: limits set later clean what was saved before them.
    if (record_)
        record_->Add(folder, {*written});
    if (place != place_) {
        // The camera saves elsewhere now: that is the folder to clean, read afresh.
        place_ = place;
        Restart();
        return;
    }
    if (!rules_.Active())
        return;
    const auto stamp = RetainedImageStamp(name, place->stem);
    lastImageBytes_ = bytes;
    const auto nextWouldPass = [&](std::uint64_t total) {
        return rules_.megabytes > 0 && total + Headroom() > LimitBytes();
    };
    if (job_.Running()) {
        writtenDuringRun_.emplace_back(name, bytes);
        std::uint64_t total = bytes_;
        for (const auto& written : writtenDuringRun_)
            total += written.second;
        if (known_ && nextWouldPass(total))
            runAgain_ = true;
        return;
    }
    if (!known_)
        return;
    bytes_ += bytes;
    if (!oldest_)
        oldest_ = stamp;
    if (nextWouldPass(bytes_) && !stuckOverLimit_)
        StartRun();
}

void ImageRetention::StartRun() {
    if (!record_)
        return;
    runAgain_ = false;
    writtenDuringRun_.clear();
    const ULONGLONG now = ::GetTickCount64();
    nextCheck_ = now + CheckEveryMs;
    nextRead_ = now + ReadEveryMs;
    std::set<std::wstring> protectedNames;
    if (protectedPaths_)
        for (const std::string& path : protectedPaths_())
            if (!path.empty())
                protectedNames.insert(NameOf(AnsiToWide(path)));
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    auto result = std::make_shared<RetentionRun>();
    const std::uint64_t generation = generation_;
    const bool started = job_.Start(
        [record = record_, place = place_, rules = rules_, at = static_cast<std::int64_t>(clock_()),
         headroom = Headroom(), protectedNames, cancel, result](JobStop& stop) {
            // The end of the program stops a long run between two files.
            JobOutcome outcome;
            if (!stop.SetInterrupt([cancel] { cancel->store(true); }))
                return outcome;
            *result = RunRetention(*record, place, rules, at, protectedNames, *cancel, headroom);
            stop.ClearInterrupt();
            outcome.succeeded = true;
            return outcome;
        },
        [this, result, generation](const JobOutcome&) { Finished(*result, generation); });
    if (started)
        cancel_ = std::move(cancel);
}

void ImageRetention::LogDeleted(bool evenWithinTheHour) {
    if (logged_.unloggedFiles == 0)
        return;
    const ULONGLONG now = ::GetTickCount64();
    if (!evenWithinTheHour && logged_.lastLoggedAt != 0 && now - logged_.lastLoggedAt < LogEveryMs)
        return;
    LogEvent(cameraName_, "retention deleted " + std::to_string(logged_.unloggedFiles) + " images, " +
                              std::to_string(logged_.unloggedBytes) + " bytes freed, in " +
                              WideToAnsi(logged_.unloggedFolder));
    logged_.lastLoggedAt = now;
    logged_.unloggedFiles = logged_.unloggedBytes = 0;
}

// Each image that cannot be deleted is logged once while it stays so. Only the names failing now are
// kept: an image deleted later, or taken away by someone else, is forgotten, so a camera that saves
// into a folder where deletes keep failing does not hold a name for every image it ever saved.
void ImageRetention::LogNotDeleted(const RetentionRun& run) {
    std::set<std::wstring> failing;
    size_t named = 0, unnamed = 0;
    for (const auto& [name, why] : run.notDeleted) {
        std::wstring folded = FoldCase(name);
        if (!logged_.failures.count(folded)) {
            if (named++ < NamedFailuresPerRun)
                LogEvent(cameraName_, "retention could not delete " + WideToAnsi(name) + ": " + why);
            else
                ++unnamed;
        }
        failing.insert(std::move(folded));
    }
    if (unnamed > 0 && run.place)
        LogEvent(cameraName_, "retention could not delete " + std::to_string(unnamed) + " more images in " +
                                  WideToAnsi(run.place->folder));
    // A stopped run did not try every image: those it did not reach may still be failing.
    if (run.stopped)
        logged_.failures.merge(failing);
    else
        logged_.failures = std::move(failing);
}

void ImageRetention::Finished(const RetentionRun& run, std::uint64_t generation) {
    ++runsFinished_;
    if (run.deletedFiles > 0 && run.place) {
        // A line for each run would fill the log with a busy camera: one an hour, summed.
        if (logged_.unloggedFiles > 0 && !SameIgnoringCase(logged_.unloggedFolder, run.place->folder))
            LogDeleted(true);
        logged_.unloggedFolder = run.place->folder;
        logged_.unloggedFiles += run.deletedFiles;
        logged_.unloggedBytes += run.freedBytes;
    }
    LogDeleted(false);
    LogNotDeleted(run);
    if (generation != generation_ || run.stopped)
        return; // the rules or the place changed meanwhile: the next tick reads the folder again
    if (!run.refusal.empty() && run.refusal != logged_.refusal && rules_.Active() && run.place)
        LogEvent(cameraName_,
                 "retention deletes nothing in " + WideToAnsi(run.place->folder) + ": " + run.refusal);
    logged_.refusal = run.refusal;
    if (!place_)
        place_ = run.place;
    known_ = true;
    bytes_ = run.keptBytes;
    oldest_ = run.oldestKept;
    // Images written while the run read the folder count in full, seen or not (it may have seen one
    // half written): counting one twice only brings the next run sooner.
    for (const auto& [name, bytes] : writtenDuringRun_) {
        bytes_ += bytes;
        if (!oldest_ && place_)
            oldest_ = RetainedImageStamp(name, place_->stem);
    }
    writtenDuringRun_.clear();
    stuckOverLimit_ = rules_.megabytes > 0 && bytes_ + Headroom() > LimitBytes();
}

} // namespace lumetra
