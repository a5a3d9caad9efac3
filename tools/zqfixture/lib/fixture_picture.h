#pragma once

#include "tools/zqfixture/lib/fixture_pattern.h"

#include <QByteArray>

#include <array>

struct AVFrame;

namespace ZQFixture {

// Paints the test picture straight into the planes of a YUV 4:2:0 frame:
// the coloured blocks of the pattern on top and, below them, a clock drawn
// with a small built-in bitmap font. Painting in YUV avoids a full-picture
// colour conversion per frame, and the font needs no GUI application.
class PicturePainter {
public:
    // full_range: the frame uses JPEG (0-255) levels instead of video (16-235) levels.
    PicturePainter(int width, int height, bool full_range);

    // Fills the whole frame with the background; call once on a fresh frame
    // (paint() keeps track of what the frame shows from then on).
    void paint_background(AVFrame* frame);
    // Redraws the blocks and the two text lines (only digits, space, ":", "-",
    // ".", and the letters A C F M V are drawn; others show as blanks).
    void paint(AVFrame* frame, const PatternValue& value, const QByteArray& line1, const QByteArray& line2);

    int text_scale() const { return m_scale; }

private:
    void fill_rect(AVFrame* frame, int x0, int y0, int x1, int y1, int y, int u, int v) const;
    void draw_text(AVFrame* frame, int x, int y, const QByteArray& text) const;

    int m_width;
    int m_height;
    bool m_full_range;
    int m_scale = 1;
    int m_text_top = 0;
    int m_text_bottom = 0;
    int m_y_dark = 16;
    int m_y_light = 235;
    // Colours now in the frame: a block is only repainted when it changes.
    std::array<uint8_t, pattern_cells> m_shown{};
};

} // namespace ZQFixture
