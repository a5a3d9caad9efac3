#include "tools/zqfixture/lib/fixture_picture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/frame.h>
}

namespace ZQFixture {

namespace {

constexpr int glyph_w = 5;
constexpr int glyph_h = 7;
constexpr int glyph_advance = 6;
constexpr int line_advance = 9;
// Widest line we draw: "yyyy-MM-dd HH:mm:ss.zzz".
constexpr int widest_line_chars = 23;

struct Glyph {
    char c;
    uint8_t rows[glyph_h]; // five bits per row, most significant bit on the left
};

constexpr Glyph glyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
};

const Glyph* glyph_of(char c)
{
    for (const Glyph& g : glyphs)
        if (g.c == c)
            return &g;
    return nullptr;
}

struct Yuv {
    int y, u, v;
};

// BT.601 colour of a three-bit block colour, at video or JPEG levels.
Yuv yuv_of(uint8_t colour, bool full_range)
{
    const double r = (colour & 1) ? 255 : 0;
    const double g = (colour & 2) ? 255 : 0;
    const double b = (colour & 4) ? 255 : 0;
    double y = 0.299 * r + 0.587 * g + 0.114 * b;
    double u = -0.168736 * r - 0.331264 * g + 0.5 * b;
    double v = 0.5 * r - 0.418688 * g - 0.081312 * b;
    if (!full_range) {
        y = 16 + y * 219.0 / 255.0;
        u = u * 224.0 / 255.0;
        v = v * 224.0 / 255.0;
    }
    auto clip = [](double x) { return std::clamp(int(std::lround(x)), 0, 255); };
    return {clip(y), clip(u + 128), clip(v + 128)};
}

} // namespace

PicturePainter::PicturePainter(int width, int height, bool full_range)
    : m_width(width), m_height(height), m_full_range(full_range)
{
    m_y_dark = full_range ? 0 : 16;
    m_y_light = full_range ? 255 : 235;
    m_text_top = pattern_bottom(height);
    // Two lines with a margin, as large as the area below the blocks allows.
    const int area = height - m_text_top;
    const int by_height = area / (2 * line_advance + 2);
    const int by_width = (width * 92 / 100) / (widest_line_chars * glyph_advance);
    m_scale = std::max(1, std::min(by_height, by_width));
    m_text_bottom = std::min(height, m_text_top + m_scale * (1 + 2 * line_advance + 1));
}

void PicturePainter::fill_rect(AVFrame* frame, int x0, int y0, int x1, int y1, int y, int u, int v) const
{
    x0 = std::clamp(x0, 0, m_width);
    x1 = std::clamp(x1, 0, m_width);
    y0 = std::clamp(y0, 0, m_height);
    y1 = std::clamp(y1, 0, m_height);
    if (x1 <= x0 || y1 <= y0)
        return;
    for (int row = y0; row < y1; ++row)
        std::memset(frame->data[0] + qint64(row) * frame->linesize[0] + x0, y, size_t(x1 - x0));
    if (u < 0)
        return;
    const int cx0 = x0 / 2, cx1 = (x1 + 1) / 2, cy0 = y0 / 2, cy1 = (y1 + 1) / 2;
    for (int row = cy0; row < cy1; ++row) {
        std::memset(frame->data[1] + qint64(row) * frame->linesize[1] + cx0, u, size_t(cx1 - cx0));
        std::memset(frame->data[2] + qint64(row) * frame->linesize[2] + cx0, v, size_t(cx1 - cx0));
    }
}

void PicturePainter::paint_background(AVFrame* frame)
{
    fill_rect(frame, 0, 0, m_width, m_height, m_y_dark, 128, 128);
    m_shown.fill(0xFF);
}

void PicturePainter::draw_text(AVFrame* frame, int x, int y, const QByteArray& text) const
{
    for (char c : text) {
        if (const Glyph* g = glyph_of(c)) {
            for (int gy = 0; gy < glyph_h; ++gy) {
                for (int gx = 0; gx < glyph_w; ++gx) {
                    if (g->rows[gy] & (0x10 >> gx)) {
                        const int px = x + gx * m_scale;
                        const int py = y + gy * m_scale;
                        fill_rect(frame, px, py, px + m_scale, py + m_scale, m_y_light, -1, -1);
                    }
                }
            }
        }
        x += glyph_advance * m_scale;
        if (x >= m_width)
            break;
    }
}

void PicturePainter::paint(AVFrame* frame, const PatternValue& value, const QByteArray& line1,
                           const QByteArray& line2)
{
    const auto colours = pattern_colours(value);
    for (int cell = 0; cell < pattern_cells; ++cell) {
        if (m_shown[size_t(cell)] == colours[size_t(cell)])
            continue;
        m_shown[size_t(cell)] = colours[size_t(cell)];
        const CellRect r = pattern_cell(cell, m_width, m_height);
        const Yuv c = yuv_of(colours[size_t(cell)], m_full_range);
        fill_rect(frame, r.x0, r.y0, r.x1, r.y1, c.y, c.u, c.v);
    }
    // Clear only the luma of the text band; its chroma stays neutral.
    fill_rect(frame, 0, m_text_top, m_width, m_text_bottom, m_y_dark, -1, -1);
    const int x = std::max(0, m_width * 4 / 100);
    draw_text(frame, x, m_text_top + m_scale, line1);
    draw_text(frame, x, m_text_top + m_scale * (1 + line_advance), line2);
}

} // namespace ZQFixture
