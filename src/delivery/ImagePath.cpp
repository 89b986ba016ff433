#include "delivery/ImagePath.h"

#include <chrono>

namespace lumetra {

std::int32_t SecondsSince1970() {
    using namespace std::chrono;
    return static_cast<std::int32_t>(duration_cast<seconds>(system_clock::now().time_since_epoch()).count());
}

ImagePath MakeImagePath(const std::string& directory, const std::string& fileName, bool appendTime,
                        std::int32_t now) {
    ImagePath path;
    path.bareName = fileName.empty() ? std::string("image") : fileName;
    if (appendTime)
        path.bareName += std::to_string(now);
    path.bareName += ".jpg";
    path.fullPath = directory + "\\" + path.bareName;
    return path;
}

ImagePathBuilder::ImagePathBuilder(SecondsClock clock) : clock_(std::move(clock)) {}

std::string ImagePathBuilder::BuildImagePath(const std::string& directory, const std::string& fileName,
                                             int appendTime, std::string& bareName) {
    if (directory.empty())
        return {};
    const std::int32_t now = appendTime != 0 ? clock_() : 0;
    ImagePath path = MakeImagePath(directory, fileName, appendTime != 0, now);
    lastImagePath_ = std::move(path.fullPath);
    lastImageName_ = std::move(path.bareName);
    bareName = lastImageName_;
    return lastImagePath_;
}

} // namespace lumetra
