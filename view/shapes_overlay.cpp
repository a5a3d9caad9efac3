#include "view/shapes_overlay.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

// A fraction of the picture; NaN and absurd values are refused.
bool fraction(const QJsonValue& v, double* out)
{
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    if (!std::isfinite(d) || d < -1.0 || d > 2.0)
        return false;
    *out = d;
    return true;
}

} // namespace

Shapes_Overlay::Shapes_Overlay() = default;

Shapes_Overlay::~Shapes_Overlay()
{
    m_shapes.clear();
}

QList<ShapeRecord> Shapes_Overlay::parse(const QString& description, int x, int y, int width, int height)
{
    m_shapes.clear();
    if (description.size() > max_description_bytes || width <= 0 || height <= 0)
        return m_shapes;
    const QJsonDocument doc = QJsonDocument::fromJson(description.toUtf8());
    if (!doc.isArray())
        return m_shapes;
    const QJsonArray arr = doc.array();
    for (const QJsonValue& v : arr) {
        if (m_shapes.size() >= max_shapes)
            break;
        if (!v.isObject())
            continue;
        const QJsonObject o = v.toObject();
        ShapeRecord r;
        r.kind = o.value(QLatin1String("type")).toString();
        r.id = o.value(QLatin1String("id")).toInt();
        auto px = [&](double f) { return x + f * width; };
        auto py = [&](double f) { return y + f * height; };
        if (r.kind == QLatin1String("polygon")) {
            const QJsonArray pts = o.value(QLatin1String("points")).toArray();
            if (pts.size() < 3 || pts.size() > max_points)
                continue;
            bool ok = true;
            for (const QJsonValue& pv : pts) {
                const QJsonArray xy = pv.toArray();
                double fx = 0, fy = 0;
                if (xy.size() != 2 || !fraction(xy.at(0), &fx) || !fraction(xy.at(1), &fy)) {
                    ok = false;
                    break;
                }
                r.polygon << QPointF(px(fx), py(fy));
            }
            if (!ok)
                continue;
        } else if (r.kind == QLatin1String("rect")) {
            double fx, fy, fw, fh;
            if (!fraction(o.value(QLatin1String("x")), &fx) || !fraction(o.value(QLatin1String("y")), &fy)
                || !fraction(o.value(QLatin1String("w")), &fw) || !fraction(o.value(QLatin1String("h")), &fh))
                continue;
            r.rectangle = QRectF(px(fx), py(fy), fw * width, fh * height).normalized();
        } else if (r.kind == QLatin1String("ellipse") || r.kind == QLatin1String("circle")) {
            double cx, cy, rx = 0, ry = 0;
            if (!fraction(o.value(QLatin1String("cx")), &cx) || !fraction(o.value(QLatin1String("cy")), &cy))
                continue;
            if (r.kind == QLatin1String("circle")) {
                if (!fraction(o.value(QLatin1String("r")), &rx))
                    continue;
                ry = rx;
            } else if (!fraction(o.value(QLatin1String("rx")), &rx)
                       || !fraction(o.value(QLatin1String("ry")), &ry)) {
                continue;
            }
            r.centre = QPointF(px(cx), py(cy)).toPoint();
            r.radius1 = int(std::abs(rx) * width);
            r.radius2 = int(std::abs(r.kind == QLatin1String("circle") ? rx * width / height : ry) * height);
        } else {
            continue;
        }
        m_shapes.append(r);
    }
    return m_shapes;
}
