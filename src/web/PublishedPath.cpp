#include "web/PublishedPath.h"

#include <cstdio>

namespace lumetra::web {
namespace {

using namespace std::chrono_literals;

// A path can be named before its file is complete (a writer may publish first); a file still missing
// or unfinished this long after it was named (or last changed) is reported as it is.
constexpr auto kWriteGrace = 3s;
// A file that begins as a JPEG but never gets its end marker is served once it stops changing.
constexpr auto kSettleTime = 1s;

std::string EntityTag(const std::string& bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : bytes)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char text[48];
    std::snprintf(text, sizeof text, "\"%016llx-%llx\"", static_cast<unsigned long long>(hash),
                  static_cast<unsigned long long>(bytes.size()));
    return text;
}

} // namespace

void PublishedPath::Name(const std::wstring& path, Clock::time_point now) {
    if (path == path_)
        return;
    path_ = path;
    changedAt_ = now;
    haveStamp_ = false;
    settled_ = false;
}

ImageStatus PublishedPath::Status(PublicationState state, std::string message,
                                  std::shared_ptr<const ServedImage> image) const {
    ImageStatus status;
    status.state = state;
    status.message = std::move(message);
    status.published = state == PublicationState::Waiting ? std::string() : Utf8(path_);
    status.image = std::move(image);
    return status;
}

std::optional<ImageStatus> PublishedPath::Look(Clock::time_point now, const FileReader& readFile) {
    const std::string shown = Utf8(path_);
    if (const auto refusal = RefusalOf(path_))
        return Status(PublicationState::Refused,
                      "The published path " + shown + " is not served: " + *refusal + ".", nullptr);
    const bool young = now - changedAt_ < kWriteGrace;
    const auto pending = [&] {
        const std::size_t slash = shown.find_last_of('\\');
        return Status(PublicationState::Pending,
                      "Waiting for Lumetra to finish writing " +
                          shown.substr(slash == std::string::npos ? 0 : slash + 1) + ".",
                      image_);
    };
    const auto unusable = [&](const std::string& why) {
        return Status(PublicationState::Unusable, "The published file " + shown + " " + why + ".", nullptr);
    };

    const FileRead look = StampOf(path_);
    if (look.check == FileCheck::Missing) {
        haveStamp_ = false;
        if (young)
            return pending();
        return Status(PublicationState::Missing, "The published image " + shown + " does not exist.",
                      nullptr);
    }
    if (look.check == FileCheck::Folder)
        return unusable("is a folder, not an image file");
    if (look.check == FileCheck::Unreadable)
        return young ? pending() : unusable("cannot be read: " + SystemMessage(look.systemError));

    if (!haveStamp_ || look.stamp != lastStamp_) {
        lastStamp_ = look.stamp;
        haveStamp_ = true;
        settled_ = false;
        changedAt_ = now;
    }
    if (settled_)
        return std::nullopt;

    FileRead read = readFile(path_);
    if (read.stamp != lastStamp_ && read.check != FileCheck::Unreadable)
        return std::nullopt; // changed while being read: look again at the next poll
    switch (read.check) {
    case FileCheck::Unfinished:
        if (now - changedAt_ < kSettleTime || read.bytes.size() < 3) {
            if (young)
                return pending();
            return unusable("is not a JPEG image");
        }
        [[fallthrough]];
    case FileCheck::Jpeg: {
        const std::string etag = EntityTag(read.bytes);
        settled_ = true;
        // Judged again as it was (the cameras' folders changed): not a new image for the streams.
        if (image_ && image_->path == shown && image_->etag == etag &&
            image_->lastModified == HttpDate(read.stamp.lastWrite))
            return Status(PublicationState::Ready, {}, image_);
        auto image = std::make_shared<ServedImage>();
        image->etag = etag;
        image->bytes = std::move(read.bytes);
        image->path = shown;
        const std::size_t slash = shown.find_last_of('\\');
        image->name = shown.substr(slash == std::string::npos ? 0 : slash + 1);
        image->sequence = ++*imageCount_;
        image->modifiedIso = IsoTime(read.stamp.lastWrite);
        image->lastModified = HttpDate(read.stamp.lastWrite);
        image_ = std::move(image);
        return Status(PublicationState::Ready, {}, image_);
    }
    case FileCheck::NotJpeg:
        settled_ = true;
        return unusable("is not a JPEG image");
    case FileCheck::Refused:
        settled_ = true;
        return Status(PublicationState::Refused,
                      "The published path " + shown + " is not served: " + read.refusal + ".", nullptr);
    case FileCheck::TooLarge:
        settled_ = true;
        return unusable("is larger than 64 MB");
    case FileCheck::NotRegular:
        settled_ = true;
        return unusable("is not a regular file");
    case FileCheck::Folder:
        return unusable("is a folder, not an image file");
    case FileCheck::Missing:
        return std::nullopt; // removed a moment ago: the next poll tells
    case FileCheck::Unreadable:
        return young ? pending() : unusable("cannot be read: " + SystemMessage(read.systemError));
    }
    return std::nullopt;
}

} // namespace lumetra::web
