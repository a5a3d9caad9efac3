#pragma once

#include <QColor>
#include <QList>
#include <QString>

// One drawable entry of the server's draw-overlay text, in frame pixels.
struct DrawOverlayPrimitive
{
    enum Kind { Line, Text, FilledRect, Rect, Ellipse };
    Kind kind = Line;
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;   // LINE, rectangles
    int x = 0, y = 0, w = 0, h = 0;       // TEXT, L_CIRC
    QColor border_color;
    float border_size = 0.f;
    QColor color;
    int alpha = 0;
    int font_size = 0;
    QString value;
};

// Parser of the draw-overlay text sent with each stream frame:
//   TYPE{key=value;...}:TYPE{...}
// The text comes from the server and is untrusted: entries, text lengths,
// sizes and coordinates are capped.
class DrawOverlay
{
public:
    static constexpr int max_text_length = 256 * 1024;
    static constexpr int max_entries = 512;
    static constexpr int max_value_length = 256;
    static constexpr int max_coordinate = 65536;
    static constexpr float max_border_size = 64.f;
    static constexpr int max_font_size = 200;

    static QList<DrawOverlayPrimitive> parse(const QString& text);
    // One entry ("LINE", "x1=0;...") to a primitive; false when it draws nothing.
    static bool parse_entry(const QString& type, const QString& params, DrawOverlayPrimitive* out);
};
