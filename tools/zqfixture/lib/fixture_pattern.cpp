#include "tools/zqfixture/lib/fixture_pattern.h"

#include <QImage>

namespace ZQFixture {

namespace {

// Bit layout of the 60 data bits, least significant first.
constexpr int camera_bits = 12;
constexpr int frame_bits = 20;
constexpr int start_bits = 17; // seconds of the day
constexpr int fps_bits = 10;
constexpr int stream_bits = 1;
static_assert(camera_bits + frame_bits + start_bits + fps_bits + stream_bits == 2 * pattern_cells);

quint64 clamp_field(qint64 v, int bits)
{
    const qint64 max = (qint64(1) << bits) - 1;
    return quint64(qBound<qint64>(0, v, max));
}

quint64 gray(quint64 n)
{
    return n ^ (n >> 1);
}

quint64 from_gray(quint64 g)
{
    quint64 n = g;
    for (quint64 m = g >> 1; m; m >>= 1)
        n ^= m;
    return n;
}

} // namespace

int pattern_bottom(int height)
{
    return int(qint64(3) * height / 5) & ~1;
}

CellRect pattern_cell(int index, int width, int height)
{
    const int col = index % pattern_columns;
    const int row = index / pattern_columns;
    CellRect r;
    r.x0 = int(qint64(col) * width / pattern_columns) & ~1;
    r.x1 = col == pattern_columns - 1 ? width : int(qint64(col + 1) * width / pattern_columns) & ~1;
    r.y0 = int(qint64(row) * height / 5) & ~1;
    r.y1 = row == pattern_rows - 1 ? pattern_bottom(height) : int(qint64(row + 1) * height / 5) & ~1;
    return r;
}

std::array<uint8_t, pattern_cells> pattern_colours(const PatternValue& value)
{
    quint64 bits = clamp_field(value.camera, camera_bits);
    int shift = camera_bits;
    bits |= gray(clamp_field(value.frame_index, frame_bits)) << shift;
    shift += frame_bits;
    bits |= clamp_field(value.recording_start_ms / 1000, start_bits) << shift;
    shift += start_bits;
    bits |= clamp_field(value.fps, fps_bits) << shift;
    shift += fps_bits;
    bits |= quint64(value.stream == 2 ? 1 : 0) << shift;

    std::array<uint8_t, pattern_cells> colours{};
    for (int cell = 0; cell < pattern_cells; ++cell) {
        const uint8_t r = (bits >> (2 * cell)) & 1;
        const uint8_t g = (bits >> (2 * cell + 1)) & 1;
        const uint8_t b = (r ^ g) ^ 1;
        colours[size_t(cell)] = uint8_t(r | (g << 1) | (b << 2));
    }
    return colours;
}

PatternValue read_pattern(const QImage& source)
{
    PatternValue result;
    result.frame_index = -1;
    if (source.isNull() || source.width() < pattern_columns * 2 || source.height() < 10)
        return result;
    const QImage image = source.format() == QImage::Format_RGB32 || source.format() == QImage::Format_ARGB32
                             ? source
                             : source.convertToFormat(QImage::Format_RGB32);

    quint64 bits = 0;
    for (int cell = 0; cell < pattern_cells; ++cell) {
        const CellRect r = pattern_cell(cell, image.width(), image.height());
        // Only the middle of the block: its edges bleed into the neighbours
        // after subsampling, scaling and coding.
        const int w = r.x1 - r.x0, h = r.y1 - r.y0;
        const int sx0 = r.x0 + w / 4, sx1 = qMax(sx0 + 1, r.x1 - w / 4);
        const int sy0 = r.y0 + h / 4, sy1 = qMax(sy0 + 1, r.y1 - h / 4);
        qint64 sum[3] = {0, 0, 0};
        qint64 n = 0;
        for (int y = sy0; y < sy1; ++y) {
            const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = sx0; x < sx1; ++x) {
                sum[0] += qRed(line[x]);
                sum[1] += qGreen(line[x]);
                sum[2] += qBlue(line[x]);
                ++n;
            }
        }
        int on[3];
        for (int c = 0; c < 3; ++c) {
            const qint64 mean = sum[c] / n;
            if (mean > 64 && mean < 192)
                return result; // neither on nor off: not one of our blocks
            on[c] = mean >= 128 ? 1 : 0;
        }
        if (on[2] != ((on[0] ^ on[1]) ^ 1))
            return result;
        bits |= quint64(on[0]) << (2 * cell);
        bits |= quint64(on[1]) << (2 * cell + 1);
    }

    auto take = [&bits](int n) {
        const quint64 v = bits & ((quint64(1) << n) - 1);
        bits >>= n;
        return v;
    };
    const int camera = int(take(camera_bits));
    const int frame = int(from_gray(take(frame_bits)));
    const qint64 start_s = qint64(take(start_bits));
    const int fps = int(take(fps_bits));
    const int stream = take(stream_bits) ? 2 : 1;
    if (start_s >= 86400 || fps < 1 || fps > 1000)
        return result;
    result.camera = camera;
    result.frame_index = frame;
    result.recording_start_ms = start_s * 1000;
    result.fps = fps;
    result.stream = stream;
    result.valid = true;
    return result;
}

} // namespace ZQFixture
