#pragma once

#include <QtGlobal>
#include <array>
#include <cstdint>

class QImage;

namespace ZQFixture {

// What every generated picture carries in its coloured blocks: which camera,
// which frame of which recording, and so the frame's time.
struct PatternValue {
    bool valid = false;
    int camera = -1;               // 0 .. 4095
    int frame_index = -1;          // index of the frame inside its stream of the recording, 0 .. 1048575
    int stream = 1;                // 1 for "video1", 2 for "video2"
    qint64 recording_start_ms = 0; // start of the recording, time of day in whole seconds (as milliseconds)
    int fps = 25;                  // 1 .. 1000
    // Time of day of the frame, milliseconds since midnight, as the seek index states it; for
    // the frames after an outage (Options::outage_frame) the index states it that much later.
    qint64 time_ms() const { return recording_start_ms + qint64(frame_index) * 1000 / qMax(1, fps); }
};

// The picture is cut into a grid of flat blocks in its upper part. Each block
// carries two bits in its red and green channels (fully on or off) and their
// check in the blue one, so its colour is one of red, green, blue and white:
// far apart enough to survive scaling, chroma subsampling and lossy coding.
// The frame index is Gray-coded, so from one picture to the next only about
// one block changes and the encoder has little to redo.
constexpr int pattern_columns = 10;
constexpr int pattern_rows = 3;
constexpr int pattern_cells = pattern_columns * pattern_rows;

struct CellRect {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0; // [x0, x1) x [y0, y1)
};

// Block `index` of a picture of the given size; edges are even so that the
// half-resolution chroma planes hold the same blocks. The blocks take the top
// three fifths of the picture; the clock sits below pattern_bottom().
CellRect pattern_cell(int index, int width, int height);
int pattern_bottom(int height);

// Colour of each block (bit 0 red, bit 1 green, bit 2 blue) for a value.
// Fields out of range are clamped.
std::array<uint8_t, pattern_cells> pattern_colours(const PatternValue& value);

// Reads the blocks back from a picture (any size, any format that converts to
// RGB32). Returns valid = false when a block is not one of the four colours or
// a field is out of range (not one of our pictures, or damaged too much).
PatternValue read_pattern(const QImage& image);

} // namespace ZQFixture
