#include "dialogs/PolygonWatermarkDialog.h"

#include "framework/DataExchange.h"
#include "resources/resource.h"

namespace lumetra {

using namespace special_watermark_ids;

PolygonWatermarkDialog::PolygonWatermarkDialog(int minSides, int maxSides)
    : Dialog(IDD_SPECIAL_WATERMARK), minSides_(minSides), maxSides_(maxSides) {
    SetNotifications({
        {PaintInPolygon, BN_CLICKED, [this] { UpdateData(true); }},
        {PolygonSides, EN_CHANGE, [this] { UpdateData(true); }},
    });
}

void PolygonWatermarkDialog::DoDataExchange(DataExchange& exchange) {
    exchange.Check(PaintInPolygon, check);
    exchange.IntRange(PolygonSides, sides, minSides_, maxSides_);
}

} // namespace lumetra
