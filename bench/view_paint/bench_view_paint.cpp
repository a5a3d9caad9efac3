// Paints decoded 1080p pictures into a 1920 x 1080 display tile (centred,
// status band on) and prints the cost per picture beside the cost of decoding
// the same pictures with the program's decoder, measured in the same run.

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <deque>

extern "C" {
#include <libavutil/frame.h>
}

#include "playback/video_decoder.h"
#include "tools/zqfixture/lib/fixture_encoder.h"
#include "view/canvas.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 100;

// Moving gradients and noise so that every picture costs a real decode.
void fill_frame(AVFrame* f, int n)
{
    quint32 seed = 12345u + quint32(n) * 7919u;
    for (int y = 0; y < f->height; ++y) {
        uint8_t* row = f->data[0] + y * f->linesize[0];
        for (int x = 0; x < f->width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            row[x] = uint8_t(((x + n * 4) ^ (y + n)) + ((seed >> 28) & 7));
        }
    }
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < f->height / 2; ++y) {
            uint8_t* row = f->data[p] + y * f->linesize[p];
            for (int x = 0; x < f->width / 2; ++x)
                row[x] = uint8_t(128 + ((x * p + y + n) & 63));
        }
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    ZQFixture::FrameEncoder encoder;
    QString error;
    if (!encoder.open(ZQFixture::Codec::H264, kWidth, kHeight, 25, 25, 1, &error)) {
        std::fprintf(stderr, "encoder: %s\n", qPrintable(error));
        return 1;
    }
    std::deque<ZQFixture::CodedFrame> coded;
    for (int i = 0; i < kFrames; ++i) {
        bool fresh = false;
        AVFrame* f = encoder.next_frame(&fresh, &error);
        if (!f) {
            std::fprintf(stderr, "frame: %s\n", qPrintable(error));
            return 1;
        }
        fill_frame(f, i);
        if (!encoder.encode(i, &coded, &error)) {
            std::fprintf(stderr, "encode: %s\n", qPrintable(error));
            return 1;
        }
    }
    encoder.flush(&coded, &error);

    // Decode (and convert to the tile's RGB32 form), as the playback reader does.
    VideoDecoder decoder;
    if (!decoder.open_decoder("h264")) {
        std::fprintf(stderr, "decoder did not open\n");
        return 1;
    }
    std::vector<QImage> pictures;
    QElapsedTimer t;
    t.start();
    for (const auto& c : coded) {
        QImage img = decoder.decode_image(reinterpret_cast<const uint8_t*>(c.bytes.constData()), int(c.bytes.size()));
        if (!img.isNull())
            pictures.push_back(img);
    }
    const double decode_ms = t.nsecsElapsed() / 1e6;
    if (pictures.empty()) {
        std::fprintf(stderr, "no picture decoded\n");
        return 1;
    }

    auto paint_run = [&](int tw, int th) {
        Canvas tile;
        tile.set_stream_start(false);
        tile.set_external_source();
        tile.set_center_image(true);
        tile.set_overlay_enabled(true);
        tile.resize(tw, th);
        tile.set_stream_start(true);
        QImage target(tw, th, QImage::Format_RGB32);
        int id = 0;
        tile.render(&target); // first paint starts the display
        QElapsedTimer pt;
        pt.start();
        for (const QImage& img : pictures) {
            tile.displayFrame(img, int(img.bytesPerLine()), img.width(), img.height(),
                              QStringLiteral("2026-12-10 10:00:00.000"), QString(), false, id++, 25.0, false);
            tile.render(&target);
        }
        return pt.nsecsElapsed() / 1e6;
    };
    const double paint_ms = paint_run(kWidth, kHeight);
    const double paint_scaled_ms = paint_run(1280, 720);

    const double n = double(pictures.size());
    std::printf("pictures: %zu of %dx%d (H.264)\n", pictures.size(), kWidth, kHeight);
    std::printf("decode + convert (reference): %.3f ms/picture\n", decode_ms / n);
    std::printf("tile paint 1920x1080:          %.3f ms/picture  ratio %.3f (target <= 0.333)\n", paint_ms / n,
                paint_ms / decode_ms);
    std::printf("tile paint 1280x720 (scaled):  %.3f ms/picture  ratio %.3f\n", paint_scaled_ms / n,
                paint_scaled_ms / decode_ms);
    return 0;
}
