#pragma once
// Publishes every camera the owner shows on the web (its "Mirror file path to HTTP service" ticked)
// to the local HTTP service through a second named shared-memory block, "lumetracameras": each
// camera's name, its last saved image and its health. The block of HttpMirror stays as it is.
//
// Layout (little-endian), written only by the user-interface thread, read by anyone:
//   CameraRosterHeader, then `length` bytes of UTF-8 JSON text:
//   {"cameras":[{"name":"door","image":"C:\\shots\\door.jpg","state":"live","reason":"",
//                "lastSave":1765170000,"lastFailure":0,"lastFailureReason":""}, ...]}
//   "state" is "live", "waiting" (lost, waiting for the camera to be listed again) or "failing"
//   (its saves fail, "reason" says why); the times are seconds since 1970 (UTC), 0 for never.
// `sequence` is odd while the writer changes the block: a reader copies the text and takes it only
// when the sequence was even and the same before and after. A reader trusts nothing else either:
// any local program can create or write the block.
// Lumetra writes the block at least every kCameraRosterHeartbeatMs, unchanged or not, so that a
// sequence standing still much longer tells a reader that Lumetra was stopped without closing
// (killed, or hung) and its cameras are no longer watched.

#include "framework/SharedBlock.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumetra {

inline constexpr char kCameraRosterName[] = "lumetracameras";
inline constexpr std::size_t kCameraRosterSize = 64 * 1024;
inline constexpr std::uint32_t kCameraRosterMagic = 0x4D41434C; // "LCAM"
inline constexpr std::uint32_t kCameraRosterVersion = 1;
inline constexpr unsigned kCameraRosterHeartbeatMs = 5000;

struct CameraRosterHeader {
    std::uint32_t magic;
    std::uint32_t version;
    std::uint32_t sequence;
    std::uint32_t length; // of the text after the header
};
inline constexpr std::size_t kCameraRosterTextLimit = kCameraRosterSize - sizeof(CameraRosterHeader);

enum class CameraHealth { Live, Waiting, Failing };
// "live", "waiting", "failing": the words of the block and of the service's status.json.
const char* CameraHealthName(CameraHealth health);

struct PublishedCamera {
    std::string name;  // UTF-8
    std::string image; // UTF-8 full path of its last saved image; empty before the first
    CameraHealth health = CameraHealth::Live;
    std::string reason;            // why its saves fail, while Failing
    std::int64_t lastSave = 0;     // of the last image written
    std::int64_t lastFailure = 0;  // of the last save that failed
    std::string lastFailureReason; // its reason

    bool operator==(const PublishedCamera&) const = default;
};

// The block's text for these cameras.
std::string CameraRosterText(const std::vector<PublishedCamera>& cameras);

class CameraRoster {
  public:
    CameraRoster() = default;
    ~CameraRoster() { Close(); }
    CameraRoster(const CameraRoster&) = delete;
    CameraRoster& operator=(const CameraRoster&) = delete;

    // Maps the block, creating it when missing, and publishes no camera. Returns whether it is mapped.
    bool Open();
    void Close();
    bool IsMapped() const { return static_cast<bool>(block_); }

    // Writes the block when `cameras` differ from what it holds, or the heartbeat is due. Cameras
    // that would not fit are left out, the last ones first.
    void Publish(const std::vector<PublishedCamera>& cameras);

  private:
    void Write(std::string_view text);

    SharedBlock block_;
    std::vector<PublishedCamera> published_;
    unsigned long long writtenAt_ = 0; // GetTickCount64 of the last write; 0: none since Open
};

} // namespace lumetra
