#pragma once
// "Special Water Mark ": confirms painting the watermark as a polygon and sets its number of sides.

#include "framework/Dialog.h"

namespace lumetra {

namespace special_watermark_ids {
constexpr int PaintInPolygon = 1041;
constexpr int PolygonSides = 1042;
} // namespace special_watermark_ids

class SpecialWatermark : public Dialog {
  public:
    // Modal, without a parent window.
    SpecialWatermark();

    // Set by the caller before DoModal and read after it.
    int check = 0; // check box 1041, 0 or 1
    int sides = 0; // edit 1042, taken only within 3..21

  protected:
    void DoDataExchange(DataExchange& exchange) override;
};

} // namespace lumetra
