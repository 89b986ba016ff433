#pragma once
// Control ids of the Live View window.

namespace lumetra {

namespace live_view_ids {
constexpr int CameraNameEdit = 1008;
constexpr int VideoHost = 1003;
constexpr int SaveStatus = 1009; // "Last save failed: ..." until a save works again
} // namespace live_view_ids

} // namespace lumetra
