// The overlay-shapes description (a JSON array of shapes in picture fractions): any text gives at
// most max_shapes shapes of at most max_points points, with finite coordinates.
#include "harness.h"

#include "view/shapes_overlay.h"

#include <QString>

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Shapes_Overlay* overlay = new Shapes_Overlay;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QList<ShapeRecord> shapes = overlay->parse(text, 10, 20, 640, 480);
    if (shapes.size() > Shapes_Overlay::max_shapes)
        std::abort();
    for (const ShapeRecord& s : shapes) {
        if (s.polygon.size() > Shapes_Overlay::max_points)
            std::abort();
        for (const QPointF& p : s.polygon)
            if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
                std::abort();
        const QRectF& r = s.rectangle;
        if (!std::isfinite(r.x()) || !std::isfinite(r.y()) || !std::isfinite(r.width()) || !std::isfinite(r.height()))
            std::abort();
    }
    return 0;
}
