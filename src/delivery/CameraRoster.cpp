#include "delivery/CameraRoster.h"

#include <nlohmann/json.hpp>

#include <cstring>

namespace lumetra {
namespace {

CameraRosterHeader* HeaderOf(void* view) {
    return static_cast<CameraRosterHeader*>(view);
}

char* TextOf(void* view) {
    return static_cast<char*>(view) + sizeof(CameraRosterHeader);
}

} // namespace

const char* CameraHealthName(CameraHealth health) {
    switch (health) {
    case CameraHealth::Waiting:
        return "waiting";
    case CameraHealth::Failing:
        return "failing";
    case CameraHealth::Live:
        break;
    }
    return "live";
}

std::string CameraRosterText(const std::vector<PublishedCamera>& cameras) {
    nlohmann::json list = nlohmann::json::array();
    for (const PublishedCamera& camera : cameras)
        list.push_back({{"name", camera.name},
                        {"image", camera.image},
                        {"state", CameraHealthName(camera.health)},
                        {"reason", camera.reason},
                        {"lastSave", camera.lastSave},
                        {"lastFailure", camera.lastFailure},
                        {"lastFailureReason", camera.lastFailureReason}});
    // Names and paths come from ANSI text converted to UTF-8; anything broken is replaced, not thrown.
    return nlohmann::json{{"cameras", std::move(list)}}.dump(-1, ' ', false,
                                                             nlohmann::json::error_handler_t::replace);
}

bool CameraRoster::Open() {
    Close();
    if (block_.Create(kCameraRosterName, kCameraRosterSize) == SharedBlock::Opened::Failed)
        return false;
    // A block left by an earlier run (the service keeps it open) names cameras that are not open.
    published_.clear();
    writtenAt_ = 0;
    Publish({});
    return true;
}

void CameraRoster::Close() {
    if (!block_)
        return;
    // No camera is open any more; the service says so rather than showing them as live.
    Publish({});
    block_.Close();
}

void CameraRoster::Publish(const std::vector<PublishedCamera>& cameras) {
    if (!block_)
        return;
    const ULONGLONG now = ::GetTickCount64();
    if (writtenAt_ != 0 && cameras == published_ && now - writtenAt_ < kCameraRosterHeartbeatMs)
        return;
    std::vector<PublishedCamera> fitting = cameras;
    std::string text = CameraRosterText(fitting);
    while (text.size() > kCameraRosterTextLimit && !fitting.empty()) {
        fitting.pop_back();
        text = CameraRosterText(fitting);
    }
    Write(text);
    // Kept as asked, so that an unchanged roster is not written again.
    published_ = cameras;
    writtenAt_ = now;
}

void CameraRoster::Write(std::string_view text) {
    CameraRosterHeader* header = HeaderOf(block_.Data());
    auto* sequence = reinterpret_cast<volatile LONG*>(&header->sequence);
    // Odd while the text changes: a reader that sees it, or a change of it, reads again.
    if (::InterlockedIncrement(sequence) % 2 == 0)
        ::InterlockedIncrement(sequence); // someone else left it even in the middle: make it odd
    const std::uint32_t previousLength = header->length;
    header->magic = kCameraRosterMagic;
    header->version = kCameraRosterVersion;
    std::memcpy(TextOf(block_.Data()), text.data(), text.size());
    if (previousLength > text.size() && previousLength <= kCameraRosterTextLimit)
        std::memset(TextOf(block_.Data()) + text.size(), 0, previousLength - text.size());
    header->length = static_cast<std::uint32_t>(text.size());
    ::InterlockedIncrement(sequence);
}

} // namespace lumetra
