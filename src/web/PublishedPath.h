#pragma once
// Follows one published path and the file it names: a new image as soon as the file is completely
// written, a plain sentence for everything else. Used for the path of Lumetra's first block and
// for each camera of the roster alike.

#include "web/ImageHub.h"
#include "web/PublishedFile.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace lumetra::web {

class PublishedPath {
  public:
    using Clock = std::chrono::steady_clock;

    // `imageCount` numbers the images read; paths whose images may follow one another on a stream
    // share one, so that a stream never takes a new image for one it has sent.
    explicit PublishedPath(std::uint64_t& imageCount) : imageCount_(&imageCount) {}

    // The path is named now; a path other than the one before is followed afresh.
    void Name(const std::wstring& path, Clock::time_point now);
    const std::wstring& Path() const { return path_; }
    // The cameras' folders changed: the file served now is judged again.
    void Rejudge() { settled_ = false; }
    // ReadPublishedFile, or a read of the same file made a moment ago.
    using FileReader = std::function<FileRead(const std::wstring& path)>;
    // Looks at the named file; nullopt while the status before still stands.
    std::optional<ImageStatus> Look(Clock::time_point now, const FileReader& read);

  private:
    ImageStatus Status(PublicationState state, std::string message,
                       std::shared_ptr<const ServedImage> image) const;

    std::uint64_t* imageCount_;
    std::wstring path_;
    Clock::time_point changedAt_{}; // when it was named, or its file last changed
    FileStamp lastStamp_{};         // of the named file at the last look
    bool haveStamp_ = false;
    bool settled_ = false;                     // the file with lastStamp_ was judged for good
    std::shared_ptr<const ServedImage> image_; // the newest image read
};

} // namespace lumetra::web
