#pragma once

#include <QByteArray>
#include <QString>
#include <deque>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace ZQFixture {

enum class Codec { H264, H265, MJPEG, MPEG4 };

// One coded frame as the encoder returned it.
struct CodedFrame {
    QByteArray bytes;
    bool key = false;
    qint64 index = 0; // index of the input frame it codes
};

// A libavcodec video encoder set up for recordings like the server's: no
// B-frames, a keyframe every `gop` frames exactly, parameter sets in-band on
// every keyframe (no global header), one coded frame per picture in order.
class FrameEncoder {
public:
    FrameEncoder() = default;
    ~FrameEncoder();
    FrameEncoder(const FrameEncoder&) = delete;
    FrameEncoder& operator=(const FrameEncoder&) = delete;

    bool open(Codec codec, int width, int height, int fps, int gop, int threads, QString* error);
    bool full_range() const;

    // A writable frame of the encoder's size and format, kept between calls;
    // its earlier content is preserved so that only what changes is repainted.
    AVFrame* next_frame(bool* fresh, QString* error);
    // Encodes the frame from next_frame(); coded frames that are ready are
    // appended to `out` (an encoder may hold a few back until flush()).
    bool encode(qint64 index, std::deque<CodedFrame>* out, QString* error);
    bool flush(std::deque<CodedFrame>* out, QString* error);

private:
    bool drain(std::deque<CodedFrame>* out, QString* error);

    AVCodecContext* m_ctx = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    qint64 m_next_out = 0;
};

QString av_error_text(int err);

} // namespace ZQFixture
