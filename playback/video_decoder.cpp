#include "playback/video_decoder.h"

#include "app/zq_log.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <exception>
#include <new>

namespace {

const AVCodec* find_software_decoder(const std::string& name)
{
    if (name == "libx264" || name == "h264" || name == "h.264")
        return avcodec_find_decoder(AV_CODEC_ID_H264);
    if (name == "hevc" || name == "h265" || name == "h.265")
        return avcodec_find_decoder(AV_CODEC_ID_HEVC);
    if (name == "mpeg4")
        return avcodec_find_decoder(AV_CODEC_ID_MPEG4);
    if (name == "jpeg" || name == "mjpeg")
        return avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    return nullptr;
}

// The full-range JPEG formats are their plain counterparts with a full range.
AVPixelFormat plain_format(AVPixelFormat format, bool* fullRange)
{
    *fullRange = true;
    switch (format) {
    case AV_PIX_FMT_YUVJ420P: return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: return AV_PIX_FMT_YUV411P;
    default:
        *fullRange = false;
        return format;
    }
}

bool size_acceptable(int width, int height)
{
    return width > 0 && height > 0 && width <= VideoDecoder::kMaxPictureSide
           && height <= VideoDecoder::kMaxPictureSide
           && qint64(width) * height <= VideoDecoder::kMaxPicturePixels
           && av_image_check_size(unsigned(width), unsigned(height), 0, nullptr) >= 0;
}

} // namespace

VideoDecoder::VideoDecoder() = default;

VideoDecoder::~VideoDecoder()
{
    ZQLog::log("[INFO] Video Decoder :: Destruct");
    close_codec();
    av_frame_free(&m_decoded);
    av_packet_free(&m_packet);
    sws_freeContext(m_scaler);
    m_scaler = nullptr;
    m_image = QImage();
    ZQLog::log("[INFO] Video Decoder :: Destroyed");
}

void VideoDecoder::close_codec()
{
    avcodec_free_context(&m_context);
}

bool VideoDecoder::open_decoder(std::string codecName)
{
    m_codecName = codecName;
    m_hardware = false;
    m_cuda = false;
    ZQLog::log(QStringLiteral("[INFO] Video Decoder :: hardware decoder enable : ") + QString::number(int(m_hardware)));
    // An earlier codec, open or half-open, is released before a new one.
    close_codec();
    if (m_blocked)
        return false;

    const AVCodec* codec = find_software_decoder(codecName);
    if (!codec) {
        ZQLog::log("[ERROR] Video Decoder :: Codec decode NULL");
        m_cuda = false;
        return false;
    }

    m_context = avcodec_alloc_context3(codec);
    if (!m_context) {
        ZQLog::log(QStringLiteral("[ERROR] Video Decoder :: Could not open ") + QString::fromStdString(m_label));
        return false;
    }
    m_context->codec_type = AVMEDIA_TYPE_VIDEO;
    m_context->time_base = AVRational{25, 1};
    // One picture out for every coded frame in, in order: the readers step
    // frame by frame and match each picture to its seek-index entry, which
    // frame threading (a delay of one frame per thread) would break. Slice
    // threading keeps that and still uses the cores on multi-slice streams.
    m_context->thread_type = FF_THREAD_SLICE;
    m_context->thread_count = 0;
    m_context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    // A coded frame that claims an absurd picture size is refused before
    // anything that size is allocated.
    // The codec refuses far larger pictures itself (with its own log line); those up to this
    // bound come out and are refused below with ours.
    m_context->max_pixels = int64_t(kMaxPictureSide) * kMaxPictureSide;

    AVDictionary* options = nullptr;
    av_dict_set(&options, "discardcorrupt", "1", 0);
    const int rc = avcodec_open2(m_context, codec, &options);
    av_dict_free(&options);
    if (rc < 0) {
        ZQLog::log(QStringLiteral("[ERROR] Video Decoder :: Could not open ") + QString::fromStdString(m_label));
        m_cuda = false;
        close_codec();
        return false;
    }

    av_frame_free(&m_decoded);
    m_decoded = av_frame_alloc();
    if (!m_packet)
        m_packet = av_packet_alloc();
    if (!m_decoded || !m_packet) {
        close_codec();
        return false;
    }
    m_firstFrameDone = 0;
    m_keyframe = false;
    m_image = QImage();
    return true;
}

void VideoDecoder::flush()
{
    if (m_context)
        avcodec_flush_buffers(m_context);
    if (m_decoded)
        av_frame_unref(m_decoded);
}

int VideoDecoder::get_pixel_format() const
{
    return m_context ? int(m_context->pix_fmt) : int(AV_PIX_FMT_NONE);
}

void VideoDecoder::set_scaler_flags(int flags)
{
    if (flags != -1)
        m_scalerFlags = flags;
}

void VideoDecoder::setup_scaler(int width, int height)
{
    if (width <= 0 || height <= 0)
        return;
    build_scaler(width, height, m_context ? int(m_context->pix_fmt) : int(AV_PIX_FMT_NONE));
}

bool VideoDecoder::build_scaler(int width, int height, int format)
{
    ZQLog::log(QStringLiteral("[INFO]  Video Decoder :: setup_scaler :: ") + QString::number(width) + QStringLiteral("x")
               + QString::number(height));
    sws_freeContext(m_scaler);
    m_scaler = nullptr;
    m_scalerWidth = -1;
    m_scalerHeight = -1;
    m_scalerSrcFormat = -1;
    if (format < 0 || !size_acceptable(width, height))
        return false;
    bool fullRange = false;
    const AVPixelFormat src = plain_format(AVPixelFormat(format), &fullRange);
    m_scaler = sws_getContext(width, height, src, width, height, AV_PIX_FMT_BGRA, m_scalerFlags, nullptr, nullptr, nullptr);
    if (!m_scaler)
        return false;
    if (fullRange) {
        int* inv = nullptr; int* tab = nullptr; int srcRange = 0, dstRange = 0, b = 0, c = 0, s = 0;
        if (sws_getColorspaceDetails(m_scaler, &inv, &srcRange, &tab, &dstRange, &b, &c, &s) >= 0)
            sws_setColorspaceDetails(m_scaler, inv, 1, tab, dstRange, b, c, s);
    }
    m_scalerWidth = width;
    m_scalerHeight = height;
    m_scalerSrcFormat = format;
    return true;
}

bool VideoDecoder::convert(const AVFrame* frame)
{
    // The scaler follows each picture's own size and pixel format.
    if (!m_scaler || m_scalerWidth != frame->width || m_scalerHeight != frame->height || m_scalerSrcFormat != frame->format) {
        if (!size_acceptable(frame->width, frame->height) || frame->format < 0) {
            ZQLog::log(QStringLiteral("[WARN] Video Decoder :: decode frame :: picture size refused :: ")
                       + QString::number(frame->width) + QStringLiteral("x") + QString::number(frame->height));
            return false;
        }
        if (!build_scaler(frame->width, frame->height, frame->format)) {
            ZQLog::log("[WARN] Video Decoder :: decode frame :: scaler not set");
            return false;
        }
    }

    // The scaler writes straight into a fresh image that the caller keeps.
    QImage image(frame->width, frame->height, QImage::Format_RGB32);
    if (image.isNull())
        throw std::bad_alloc();
    uint8_t* dst[4] = {image.bits(), nullptr, nullptr, nullptr};
    int dstStride[4] = {int(image.bytesPerLine()), 0, 0, 0};
    const int rows = sws_scale(m_scaler, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
    if (rows <= 0) {
        ZQLog::log("[WARN] Video Decoder :: decode frame :: failed to scale frame");
        return false;
    }
    m_image = std::move(image);
    return true;
}

AVFrame* VideoDecoder::decode_frame(const uint8_t* data, int size, bool convertPicture)
{
    if (!data) {
        ZQLog::log("[ERROR] Video Decoder :: decode frame :: buffer image is NULL");
        return nullptr;
    }
    if (m_blocked || !m_context || !m_decoded || !m_packet)
        return nullptr;
    // An empty packet would put the codec into draining for good.
    if (size <= 0) {
        ZQLog::log(QStringLiteral("[WARN] Video Decoder :: decode frame :: empty packet refused :: size ")
                   + QString::number(size));
        return nullptr;
    }
    m_image = QImage();

    try {
        av_frame_unref(m_decoded);
        av_packet_unref(m_packet);
        m_packet->data = const_cast<uint8_t*>(data);
        m_packet->size = size;
        int rc = avcodec_send_packet(m_context, m_packet);
        if (rc == AVERROR(EAGAIN)) {
            // A picture the codec still holds is dropped so this frame gets in.
            avcodec_receive_frame(m_context, m_decoded);
            av_frame_unref(m_decoded);
            rc = avcodec_send_packet(m_context, m_packet);
        }
        m_packet->data = nullptr;
        m_packet->size = 0;
        rc = avcodec_receive_frame(m_context, m_decoded);
        m_lastDecodeOk = rc >= 0 ? 1 : 0;
        if (rc < 0) {
            // The codec refuses a picture over max_pixels itself, after reading its size.
            if (m_context->width > 0 && m_context->height > 0 && !size_acceptable(m_context->width, m_context->height))
                ZQLog::log(QStringLiteral("[WARN] Video Decoder :: decode frame :: picture size refused :: ")
                           + QString::number(m_context->width) + QStringLiteral("x")
                           + QString::number(m_context->height));
            return nullptr;
        }

        if (!size_acceptable(m_decoded->width, m_decoded->height)) {
            ZQLog::log(QStringLiteral("[WARN] Video Decoder :: decode frame :: picture size refused :: ")
                       + QString::number(m_decoded->width) + QStringLiteral("x") + QString::number(m_decoded->height));
            av_frame_unref(m_decoded);
            return nullptr;
        }

        if (m_context->width != m_decoded->width || m_context->height != m_decoded->height) {
            ZQLog::log(QStringLiteral("[INFO] Video Decoder :: decode frame :: frame size :: ")
                       + QString::number(m_decoded->width) + QStringLiteral("x") + QString::number(m_decoded->height));
            ZQLog::log(QStringLiteral("[INFO] Video Decoder :: decode frame :: codec context size :: ")
                       + QString::number(m_context->width) + QStringLiteral("x") + QString::number(m_context->height));
            // The picture itself is whole; it is returned at its own size below.
            m_firstFrameDone = 0;
        }

        if (m_decoded->flags & AV_FRAME_FLAG_CORRUPT)
            ZQLog::log("[WARN] Video Decoder :: decode frame :: FRAME IS CORRUPTED");

        m_keyframe = m_decoded->key_frame != 0;

        if (convertPicture && !convert(m_decoded))
            return nullptr;
        if (!m_firstFrameDone)
            ZQLog::log(convertPicture
                           ? "[INFO] Video Decoder :: decode frame :: decode success :: return first frame after scale"
                           : "[INFO] Video Decoder :: decode frame :: decode success :: return first frame");
        m_width = m_decoded->width;
        m_height = m_decoded->height;
        m_firstFrameDone = 1;
        return m_decoded;
    } catch (const char*) {
        ZQLog::log("[INFO]  Video Decoder :: decode frame :: SCALE CATCHED on generic char exception");
    } catch (const std::bad_alloc&) {
        ZQLog::log("[INFO]  Video Decoder :: decode frame :: SCALE CATCHED");
        sws_freeContext(m_scaler);
        m_scaler = nullptr;
    } catch (const std::exception&) {
        ZQLog::log("[INFO]  Video Decoder :: decode frame :: SCALE CATCHED on generic std exception");
    }
    ZQLog::log("[WARN] Video Decoder :: decode frame :: failed to scale frame");
    m_image = QImage();
    return nullptr;
}

QImage VideoDecoder::decode_image(const uint8_t* data, int size)
{
    if (!decode_frame(data, size, true))
        return QImage();
    return m_image;
}

QImage VideoDecoder::convert_frame(const AVFrame* frame)
{
    if (!frame || !frame->data[0])
        return QImage();
    try {
        if (!convert(frame))
            return QImage();
    } catch (const std::exception&) {
        sws_freeContext(m_scaler);
        m_scaler = nullptr;
        ZQLog::log("[WARN] Video Decoder :: decode frame :: failed to scale frame");
        return QImage();
    }
    QImage image = std::move(m_image);
    m_image = QImage();
    return image;
}
