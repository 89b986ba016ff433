#pragma once
// "Special Water Mark ": confirms painting the watermark as a polygon and sets its number of sides.

#include "resources/ControlIds.h"

#include "framework/Dialog.h"

namespace lumetra {

namespace special_watermark_ids {
constexpr int PaintInPolygon = IDC_POLYGON_PAINT_IN_POLYGON;
constexpr int PolygonSides = IDC_POLYGON_POLYGON_SIDES;
} // namespace special_watermark_ids

class PolygonWatermarkDialog : public Dialog {
  public:
    // Modal, without a parent window; the number of sides is taken only within minSides..maxSides.
    PolygonWatermarkDialog(int minSides, int maxSides);

    // Set by the caller before DoModal and read after it.
    int check = 0; // check box 1041, 0 or 1
    int sides = 0; // edit 1042

  protected:
    void DoDataExchange(DataExchange& exchange) override;

  private:
    int minSides_;
    int maxSides_;
};

} // namespace lumetra
