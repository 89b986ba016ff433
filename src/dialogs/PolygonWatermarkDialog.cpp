#include "dialogs/PolygonWatermarkDialog.h"

#include "framework/DataExchange.h"
#include "resources/resource.h"
#include "settings/CameraSettings.h"

namespace lumetra {

using namespace special_watermark_ids;

SpecialWatermark::SpecialWatermark() : Dialog(IDD_SPECIAL_WATERMARK) {
    SetNotifications({
        {PaintInPolygon, BN_CLICKED, [this] { UpdateData(true); }},
        {PolygonSides, EN_CHANGE, [this] { UpdateData(true); }},
    });
}

void SpecialWatermark::DoDataExchange(DataExchange& exchange) {
    exchange.Check(PaintInPolygon, check);
    exchange.IntRange(PolygonSides, sides, MinPolygonSides, MaxPolygonSides);
}

} // namespace lumetra
