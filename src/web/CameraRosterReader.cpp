#include "web/CameraRosterReader.h"

#include "framework/AnsiText.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <optional>

namespace lumetra::web {
namespace {

using Json = nlohmann::json;

// 9999-12-31T23:59:59Z: a later time cannot be written as an ISO 8601 date.
constexpr std::int64_t kLatestTime = 253402300799;

std::optional<std::string> TextField(const Json& camera, const char* key) {
    const auto found = camera.find(key);
    if (found == camera.end() || !found->is_string())
        return std::nullopt;
    return found->get_ref<const std::string&>();
}

std::optional<std::int64_t> TimeField(const Json& camera, const char* key) {
    const auto found = camera.find(key);
    if (found == camera.end())
        return std::nullopt;
    if (found->is_number_unsigned()) {
        const auto value = found->get<std::uint64_t>();
        return value <= static_cast<std::uint64_t>(kLatestTime) ? std::optional<std::int64_t>(value)
                                                                : std::nullopt;
    }
    if (found->is_number_integer()) {
        const auto value = found->get<std::int64_t>();
        return value >= 0 && value <= kLatestTime ? std::optional<std::int64_t>(value) : std::nullopt;
    }
    return std::nullopt;
}

std::optional<CameraHealth> HealthOf(const std::string& word) {
    for (const CameraHealth health : {CameraHealth::Live, CameraHealth::Waiting, CameraHealth::Failing})
        if (word == CameraHealthName(health))
            return health;
    return std::nullopt;
}

// A name that can stand in an address (/cameras/<name>/...) and on a page.
bool UsableName(const std::string& name) {
    if (name.empty() || name.size() > kLongestCameraName)
        return false;
    return std::none_of(name.begin(), name.end(), IsForbiddenInCameraName);
}

std::optional<RosterCamera> CameraOf(const Json& entry) {
    if (!entry.is_object())
        return std::nullopt;
    const auto name = TextField(entry, "name"), image = TextField(entry, "image"),
               state = TextField(entry, "state"), reason = TextField(entry, "reason"),
               failureReason = TextField(entry, "lastFailureReason");
    const auto lastSave = TimeField(entry, "lastSave"), lastFailure = TimeField(entry, "lastFailure");
    if (!name || !image || !state || !reason || !failureReason || !lastSave || !lastFailure ||
        !UsableName(*name))
        return std::nullopt;
    const auto health = HealthOf(*state);
    if (!health)
        return std::nullopt;
    RosterCamera camera;
    camera.name = *name;
    // The parser took only valid UTF-8, so the conversion loses nothing.
    camera.image = Utf8ToWide(image->data(), image->size());
    camera.health = *health;
    camera.reason = *reason;
    camera.lastSave = *lastSave;
    camera.lastFailure = *lastFailure;
    camera.lastFailureReason = *failureReason;
    return camera;
}

} // namespace

std::vector<RosterCamera> ParseCameraRoster(std::string_view text) {
    std::vector<RosterCamera> cameras;
    // The parser would take a NUL for the end of the text and the part before it for all of it.
    if (text.find('\0') != std::string_view::npos)
        return cameras;
    const Json roster = Json::parse(text.begin(), text.end(), nullptr, false);
    if (roster.is_discarded() || !roster.is_object())
        return cameras;
    const auto list = roster.find("cameras");
    if (list == roster.end() || !list->is_array())
        return cameras;
    for (const Json& entry : *list) {
        if (cameras.size() == kMostCamerasShown)
            break;
        auto camera = CameraOf(entry);
        if (!camera)
            continue;
        const bool taken = std::any_of(cameras.begin(), cameras.end(),
                                       [&](const RosterCamera& other) { return other.name == camera->name; });
        if (!taken)
            cameras.push_back(std::move(*camera));
    }
    return cameras;
}

RosterContent CameraRosterReader::Read(std::vector<RosterCamera>& cameras) {
    // A block made by another program may be smaller than Lumetra's, even smaller than the header.
    if (!block_ && !block_.OpenForReading(kCameraRosterName, kCameraRosterSize, sizeof(CameraRosterHeader)))
        return RosterContent::Absent;
    const char* bytes = static_cast<const char*>(block_.Data());
    const auto header = [&] {
        CameraRosterHeader copy;
        std::atomic_thread_fence(std::memory_order_acquire);
        std::memcpy(&copy, bytes, sizeof copy);
        return copy;
    };
    const CameraRosterHeader before = header();
    if (before.magic != kCameraRosterMagic || before.version != kCameraRosterVersion)
        return RosterContent::Absent;
    if (before.sequence != lastSequence_ || heardAt_ == std::chrono::steady_clock::time_point{}) {
        lastSequence_ = before.sequence;
        heardAt_ = std::chrono::steady_clock::now();
    }
    if (before.sequence % 2 != 0)
        return RosterContent::Unsettled;
    // A length beyond the block is a block being written by someone else, or a lie.
    if (before.length > block_.Size() - sizeof(CameraRosterHeader))
        return RosterContent::Unsettled;
    std::string text(before.length, '\0');
    std::memcpy(text.data(), bytes + sizeof(CameraRosterHeader), text.size());
    const CameraRosterHeader after = header();
    if (after.sequence != before.sequence || after.length != before.length)
        return RosterContent::Unsettled;
    if (text != lastText_) {
        lastCameras_ = ParseCameraRoster(text);
        lastText_ = std::move(text);
    }
    cameras = lastCameras_;
    return RosterContent::Cameras;
}

std::chrono::steady_clock::duration
CameraRosterReader::SilentFor(std::chrono::steady_clock::time_point now) const {
    return heardAt_ == std::chrono::steady_clock::time_point{} ? std::chrono::steady_clock::duration::zero()
                                                               : now - heardAt_;
}

} // namespace lumetra::web
