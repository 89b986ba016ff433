#pragma once
// Control ids of the Live View window.

namespace lumetra {

namespace live_view_ids {
constexpr int CameraNameEdit = 1008;
constexpr int VideoHost = 1003;
} // namespace live_view_ids

} // namespace lumetra
