#pragma once
// Names of a camera's saved images: directory + "\" + base + optional time stamp + ".jpg".

#include <cstdint>
#include <functional>
#include <string>

namespace lumetra {

// Whole seconds since 1970-01-01 UTC as a signed 32-bit number.
using SecondsClock = std::function<std::int32_t()>;
std::int32_t SecondsSince1970();

struct ImagePath {
    std::string fullPath; // directory, a backslash, bare name
    std::string bareName; // base, stamp, ".jpg"
};

// directory is used as typed (a trailing backslash stays); an empty fileName means "image";
// the stamp is `now` in decimal when appendTime is set. ".jpg" is always added.
ImagePath MakeImagePath(const std::string& directory, const std::string& fileName, bool appendTime,
                        std::int32_t now);

// The last image asked for of one camera, kept by its action dialog.
class ImagePathBuilder {
  public:
    explicit ImagePathBuilder(SecondsClock clock = SecondsSince1970);

    // directory = FIL, fileName = FIN, appendTime = AVI. With an empty directory no path is made: the
    // result is empty, the last path stays and bareName is left untouched (an image must never go to
    // a path the fields do not hold). The clock is read only when appendTime is non-zero. Nothing on
    // disk is touched.
    std::string BuildImagePath(const std::string& directory, const std::string& fileName, int appendTime,
                               std::string& bareName);

    const std::string& LastImagePath() const { return lastImagePath_; }
    const std::string& LastImageName() const { return lastImageName_; }

  private:
    SecondsClock clock_;
    std::string lastImagePath_;
    std::string lastImageName_;
};

} // namespace lumetra
