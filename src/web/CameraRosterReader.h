#pragma once
// Reads the cameras Lumetra publishes in its second shared-memory block, "lumetracameras" (see
// delivery/CameraRoster.h). Any local program can create or write that block, so nothing in it is
// trusted: a header that does not match, a text that does not parse or a camera with a bad field is
// skipped, never acted on.

#include "delivery/CameraRoster.h"
#include "framework/SharedBlock.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumetra::web {

inline constexpr std::size_t kMostCamerasShown = 20;
inline constexpr std::size_t kLongestCameraName = 128; // bytes of UTF-8

// Characters no camera name on the web holds: control characters, and the slash and backslash, which
// an address could not name.
inline bool IsForbiddenInCameraName(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '/' || c == '\\';
}

struct RosterCamera {
    std::string name;   // UTF-8, 1 to kLongestCameraName bytes, no control characters, '/' or '\'
    std::wstring image; // its last saved image; empty before the first
    CameraHealth health = CameraHealth::Live;
    std::string reason;
    std::int64_t lastSave = 0; // seconds since 1970 (UTC), 0 for never
    std::int64_t lastFailure = 0;
    std::string lastFailureReason;
};

enum class RosterContent {
    Absent,    // no block, or one that is not Lumetra's roster: no camera is published
    Unsettled, // being written (or changing while read): read again later
    Cameras,
};

// The cameras of a roster text, in its order: at most kMostCamerasShown, the first of each name,
// and none with a field that is missing or of the wrong kind.
std::vector<RosterCamera> ParseCameraRoster(std::string_view text);

class CameraRosterReader {
  public:
    // Opens the block when it exists (and keeps it open) and reads it.
    RosterContent Read(std::vector<RosterCamera>& cameras);
    // How long the block's sequence has stood still, as seen by the reads (none before the first).
    std::chrono::steady_clock::duration SilentFor(std::chrono::steady_clock::time_point now) const;

  private:
    SharedBlock block_;
    std::uint32_t lastSequence_ = 0;
    std::chrono::steady_clock::time_point heardAt_{}; // when the sequence last moved
    std::string lastText_; // the text parsed last, so an unchanged one is not parsed again
    std::vector<RosterCamera> lastCameras_;
};

} // namespace lumetra::web
