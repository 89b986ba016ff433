#pragma once
// What the service says about the cameras of the roster: the page of all of them side by side, their
// part of status.json, and the addresses /cameras/<name>/latest.jpg and /cameras/<name>/stream.mjpg.

#include "web/ImageHub.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace lumetra::web {

inline constexpr std::string_view kCamerasPrefix = "/cameras/";

// The page at "/" while the roster lists cameras: every one of them, following every change.
std::string RenderCamerasPage(const ServiceStatus& status);
// The "cameras" list of status.json.
nlohmann::ordered_json CamerasJson(const ServiceStatus& status);
// The sentence shown for a camera instead of (or under) its image; empty while all is well.
std::string CameraNote(const CameraStatus& camera);

// "/cameras/<name>/latest.jpg" with the name percent-encoded.
std::string CameraAddress(std::string_view name, std::string_view page);
// The name of a percent-encoded address part; nullopt unless it decodes to valid UTF-8 without
// control characters, '/' or '\'.
std::optional<std::string> DecodeCameraName(std::string_view encoded);

} // namespace lumetra::web
