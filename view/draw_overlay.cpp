#include "view/draw_overlay.h"

#include <QHash>

#include <cmath>

namespace {

int read_int(const QString& v)
{
    bool ok = false;
    const qlonglong n = v.toLongLong(&ok, 10);
    if (!ok)
        return 0;
    return int(qBound(qlonglong(-DrawOverlay::max_coordinate), n, qlonglong(DrawOverlay::max_coordinate)));
}

float read_size(const QString& v, float cap)
{
    bool ok = false;
    const float f = v.toFloat(&ok);
    if (!ok || !std::isfinite(f) || f < 0.f)
        return 0.f;
    return f > cap ? cap : f;
}

QColor read_color(const QString& v)
{
    if (v.isEmpty() || v.size() > 64)
        return QColor();
    return QColor::fromString(v);
}

} // namespace

bool DrawOverlay::parse_entry(const QString& type, const QString& params, DrawOverlayPrimitive* out)
{
    DrawOverlayPrimitive p;
    if (type == QLatin1String("LINE"))
        p.kind = DrawOverlayPrimitive::Line;
    else if (type == QLatin1String("TEXT"))
        p.kind = DrawOverlayPrimitive::Text;
    else if (type == QLatin1String("F_RECT"))
        p.kind = DrawOverlayPrimitive::FilledRect;
    else if (type == QLatin1String("L_RECT"))
        p.kind = DrawOverlayPrimitive::Rect;
    else if (type == QLatin1String("L_CIRC"))
        p.kind = DrawOverlayPrimitive::Ellipse;
    else
        return false;

    // A piece without "=" (an empty one too) cancels the whole entry; a later
    // key overrides an earlier one.
    QHash<QString, QString> kv;
    const QStringList pieces = params.split(QLatin1Char(';'), Qt::KeepEmptyParts);
    for (const QString& piece : pieces) {
        const int eq = piece.indexOf(QLatin1Char('='));
        if (eq < 0)
            return false;
        const int eq2 = piece.indexOf(QLatin1Char('='), eq + 1);
        kv.insert(piece.left(eq), eq2 < 0 ? piece.mid(eq + 1) : piece.mid(eq + 1, eq2 - eq - 1));
    }
    auto get = [&](const char* key) { return kv.value(QLatin1String(key)); };

    switch (p.kind) {
    case DrawOverlayPrimitive::Line:
    case DrawOverlayPrimitive::FilledRect:
    case DrawOverlayPrimitive::Rect:
        p.x1 = read_int(get("x1"));
        p.y1 = read_int(get("y1"));
        p.x2 = read_int(get("x2"));
        p.y2 = read_int(get("y2"));
        p.border_color = read_color(get("border-color"));
        p.border_size = read_size(get("border-size"), max_border_size);
        if (p.kind == DrawOverlayPrimitive::FilledRect) {
            p.color = read_color(get("color"));
            p.alpha = qBound(0, read_int(get("alpha")), 255);
        }
        break;
    case DrawOverlayPrimitive::Text:
        p.x = read_int(get("x"));
        p.y = read_int(get("y"));
        p.value = get("value").left(max_value_length);
        p.color = read_color(get("color"));
        p.font_size = qBound(0, read_int(get("font-size")), max_font_size);
        break;
    case DrawOverlayPrimitive::Ellipse:
        p.x = read_int(get("x"));
        p.y = read_int(get("y"));
        p.w = qBound(0, read_int(get("w")), max_coordinate);
        p.h = qBound(0, read_int(get("h")), max_coordinate);
        p.border_color = read_color(get("border-color"));
        p.border_size = read_size(get("border-size"), max_border_size);
        break;
    }
    *out = p;
    return true;
}

QList<DrawOverlayPrimitive> DrawOverlay::parse(const QString& input)
{
    QList<DrawOverlayPrimitive> result;
    if (input.size() > max_text_length)
        return result;
    QString text = input;
    if (text.size() > 1 && text.startsWith(QLatin1Char(' ')))
        text.remove(0, 1);

    QStringList entries;
    if (!text.contains(QLatin1Char(':'))) {
        if (text.size() > 1)
            entries = text.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    } else {
        entries = text.split(QLatin1Char(':'), Qt::KeepEmptyParts);
    }

    for (const QString& e : std::as_const(entries)) {
        if (result.size() >= max_entries)
            break;
        const int open = e.indexOf(QLatin1Char('{'));
        const int close = e.indexOf(QLatin1Char('}'));
        const QString type = open < 0 ? e : e.left(open);
        QString params = open < 0 ? QString() : e.mid(open + 1, close < 0 ? -1 : close);
        params.remove(QLatin1Char('}'));
        DrawOverlayPrimitive p;
        if (parse_entry(type, params, &p))
            result.append(p);
    }
    return result;
}
