// The draw-overlay text sent with each stream frame: any text gives at most max_entries
// primitives with capped coordinates, sizes and texts.
#include "harness.h"

#include "view/draw_overlay.h"

#include <QString>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QList<DrawOverlayPrimitive> list = DrawOverlay::parse(text);
    if (list.size() > DrawOverlay::max_entries)
        std::abort();
    const int cap = DrawOverlay::max_coordinate;
    for (const DrawOverlayPrimitive& p : list) {
        for (int v : {p.x1, p.y1, p.x2, p.y2, p.x, p.y, p.w, p.h})
            if (v > cap || v < -cap)
                std::abort();
        if (p.value.size() > DrawOverlay::max_value_length || p.font_size > DrawOverlay::max_font_size
            || !(p.border_size <= DrawOverlay::max_border_size) || p.border_size < 0.f)
            std::abort();
    }
    return 0;
}
