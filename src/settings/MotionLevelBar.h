#pragma once
// The live bar of CAM ACTION's "Motion" group: how much of the picture changed at the last look,
// against the share that makes a motion save.

#include <windows.h>

#include <optional>
#include <string>

namespace lumetra {

// The bar's text: the share changed now and the share that saves, in percent ("" while not
// watching).
std::string MotionLevelText(std::optional<double> changedShare, double savingShare);

// Paints the owner-drawn bar: empty while not watching; otherwise filled to the share changed, the
// whole bar being twice the saving share, with a mark at the saving share, green below it and red
// from it on, and the text over it.
void DrawMotionLevel(const DRAWITEMSTRUCT& item, std::optional<double> changedShare, double savingShare);

} // namespace lumetra
