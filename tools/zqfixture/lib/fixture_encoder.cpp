#include "tools/zqfixture/lib/fixture_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

// libx265 3.5 never frees a few of the blocks that x265_encoder_open
// allocates (a spare parameter set, and per-row filter state when SAO is
// off). Nothing of ours leaks there, so processes built with the leak
// checker that code H.265 pictures are not failed for it.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libx265.so\n";
}

extern "C" const char* __lsan_default_options()
{
    return "print_suppressions=0";
}

namespace ZQFixture {

QString av_error_text(int err)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return QString::fromUtf8(buf);
}

FrameEncoder::~FrameEncoder()
{
    av_packet_free(&m_packet);
    av_frame_free(&m_frame);
    avcodec_free_context(&m_ctx);
}

bool FrameEncoder::full_range() const
{
    return m_ctx && m_ctx->pix_fmt == AV_PIX_FMT_YUVJ420P;
}

bool FrameEncoder::open(Codec codec, int width, int height, int fps, int gop, int threads, QString* error)
{
    const char* name = nullptr;
    switch (codec) {
    case Codec::H264: name = "libx264"; break;
    case Codec::H265: name = "libx265"; break;
    case Codec::MJPEG: name = "mjpeg"; break;
    case Codec::MPEG4: name = "mpeg4"; break;
    }
    const AVCodec* enc = avcodec_find_encoder_by_name(name);
    if (!enc) {
        *error = QStringLiteral("encoder %1 is not available").arg(QString::fromLatin1(name));
        return false;
    }
    m_ctx = avcodec_alloc_context3(enc);
    m_packet = av_packet_alloc();
    if (!m_ctx || !m_packet) {
        *error = QStringLiteral("out of memory");
        return false;
    }
    m_ctx->width = width;
    m_ctx->height = height;
    m_ctx->time_base = AVRational{1, fps};
    m_ctx->framerate = AVRational{fps, 1};
    m_ctx->gop_size = gop;
    m_ctx->keyint_min = gop;
    m_ctx->max_b_frames = 0;
    m_ctx->pix_fmt = codec == Codec::MJPEG ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    m_ctx->color_range = codec == Codec::MJPEG ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    m_ctx->colorspace = AVCOL_SPC_SMPTE170M;
    m_ctx->thread_count = threads > 0 ? threads : 1;

    AVDictionary* opts = nullptr;
    const QByteArray g = QByteArray::number(gop);
    switch (codec) {
    case Codec::H264:
        av_dict_set(&opts, "preset", "ultrafast", 0);
        av_dict_set(&opts, "tune", "zerolatency", 0);
        // A constant quantiser spares the rate control; flat pictures need no more.
        av_dict_set(&opts, "x264-params", "scenecut=0:bframes=0:open-gop=0:qp=23:log=-1", 0);
        break;
    case Codec::H265: {
        av_dict_set(&opts, "preset", "ultrafast", 0);
        av_dict_set(&opts, "tune", "zerolatency", 0);
        const QByteArray params = "keyint=" + g + ":min-keyint=" + g +
                                  ":scenecut=0:bframes=0:open-gop=0:repeat-headers=1:info=0"
                                  ":log-level=none:frame-threads=1";
        av_dict_set(&opts, "x265-params", params.constData(), 0);
        break;
    }
    case Codec::MJPEG:
    case Codec::MPEG4:
        // Fixed quantiser: a plain bit rate would smear 1080p pictures.
        m_ctx->flags |= AV_CODEC_FLAG_QSCALE;
        m_ctx->global_quality = FF_QP2LAMBDA * 3;
        av_dict_set(&opts, "sc_threshold", "1000000000", 0);
        break;
    }
    const int err = avcodec_open2(m_ctx, enc, &opts);
    av_dict_free(&opts);
    if (err < 0) {
        *error = QStringLiteral("cannot open encoder %1: %2").arg(QString::fromLatin1(name), av_error_text(err));
        return false;
    }
    return true;
}

AVFrame* FrameEncoder::next_frame(bool* fresh, QString* error)
{
    *fresh = false;
    if (!m_frame) {
        m_frame = av_frame_alloc();
        if (!m_frame) {
            *error = QStringLiteral("out of memory");
            return nullptr;
        }
        m_frame->format = m_ctx->pix_fmt;
        m_frame->width = m_ctx->width;
        m_frame->height = m_ctx->height;
        m_frame->color_range = m_ctx->color_range;
        m_frame->colorspace = m_ctx->colorspace;
        const int err = av_frame_get_buffer(m_frame, 0);
        if (err < 0) {
            *error = QStringLiteral("cannot allocate a picture: %1").arg(av_error_text(err));
            return nullptr;
        }
        *fresh = true;
        return m_frame;
    }
    // Copies the picture only when the encoder still holds the previous one.
    const int err = av_frame_make_writable(m_frame);
    if (err < 0) {
        *error = QStringLiteral("cannot allocate a picture: %1").arg(av_error_text(err));
        return nullptr;
    }
    return m_frame;
}

bool FrameEncoder::encode(qint64 index, std::deque<CodedFrame>* out, QString* error)
{
    m_frame->pts = index;
    m_frame->pict_type = index % m_ctx->gop_size == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    const int err = avcodec_send_frame(m_ctx, m_frame);
    if (err < 0) {
        *error = QStringLiteral("encoding failed: %1").arg(av_error_text(err));
        return false;
    }
    return drain(out, error);
}

bool FrameEncoder::flush(std::deque<CodedFrame>* out, QString* error)
{
    const int err = avcodec_send_frame(m_ctx, nullptr);
    if (err < 0 && err != AVERROR_EOF) {
        *error = QStringLiteral("encoding failed: %1").arg(av_error_text(err));
        return false;
    }
    return drain(out, error);
}

bool FrameEncoder::drain(std::deque<CodedFrame>* out, QString* error)
{
    for (;;) {
        const int err = avcodec_receive_packet(m_ctx, m_packet);
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
            return true;
        if (err < 0) {
            *error = QStringLiteral("encoding failed: %1").arg(av_error_text(err));
            return false;
        }
        // Readers take the n-th line of a seek index for the n-th picture.
        if (m_packet->pts != m_next_out) {
            *error = QStringLiteral("encoder returned frame %1 where %2 was expected")
                         .arg(m_packet->pts)
                         .arg(m_next_out);
            av_packet_unref(m_packet);
            return false;
        }
        CodedFrame f;
        f.bytes = QByteArray(reinterpret_cast<const char*>(m_packet->data), m_packet->size);
        f.key = (m_packet->flags & AV_PKT_FLAG_KEY) != 0;
        f.index = m_next_out++;
        out->push_back(std::move(f));
        av_packet_unref(m_packet);
    }
}

} // namespace ZQFixture
