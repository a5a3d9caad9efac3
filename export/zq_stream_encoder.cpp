#include "export/zq_stream_encoder.h"

#include "app/zq_log.h"
#include "recordings/seek_index.h"
#include "recordings/time_text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <cmath>
#include <cstdio>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace {


constexpr int kMaxSide = 16384;
// Times further than this from the first picture are not taken as times.
constexpr qint64 kMaxSpanMs = 2LL * 86400000;
// Overlay texts come from storage metadata: a camera name longer than this is cut.
constexpr int kMaxOverlay = 1000;
// Intervals that say what the current frame period is.
constexpr qsizetype kRecentIntervals = 16;

// Encoder by the export's codec name; the speed settings suit an export that
// should run near the decoder's pace.
struct EncoderChoice
{
    AVCodecID id = AV_CODEC_ID_NONE;
    QList<const char*> names;
    const char* forcedContainer = nullptr;
};

bool choose_encoder(const QString& name, EncoderChoice* c)
{
    if (name == QLatin1String("mjpeg"))
        *c = {AV_CODEC_ID_MJPEG, {"mjpeg"}, "mjpeg"};
    else if (name == QLatin1String("libx264"))
        *c = {AV_CODEC_ID_H264, {"libx264"}, "h264"};
    else if (name == QLatin1String("mpeg4"))
        *c = {AV_CODEC_ID_MPEG4, {"mpeg4"}, "m4v"};
    else if (name == QLatin1String("hevc"))
        *c = {AV_CODEC_ID_HEVC, {"libx265"}, "hevc"};
    else if (name == QLatin1String("av1"))
        *c = {AV_CODEC_ID_AV1, {"libsvtav1", "libaom-av1"}, "av1"};
    else if (name == QLatin1String("vp9"))
        *c = {AV_CODEC_ID_VP9, {"libvpx-vp9"}, "vp9"};
    else if (name == QLatin1String("raw"))
        *c = {AV_CODEC_ID_RAWVIDEO, {"rawvideo"}, nullptr};
    else
        return false;
    return true;
}

QString av_text(int err)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(err, buf, sizeof(buf));
    return QString::fromLocal8Bit(buf);
}

bool is_420(int format)
{
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(format));
    return d && (d->log2_chroma_w == 1 || d->log2_chroma_h == 1);
}

} // namespace

ZQStreamEncoder::ZQStreamEncoder()
    : QObject(nullptr)
{
}

ZQStreamEncoder::~ZQStreamEncoder()
{
    if (!m_ended)
        abort_encoding();
    av_frame_free(&m_encoderFrame);
    av_packet_free(&m_packet);
    av_packet_free(&m_pending);
    avcodec_free_context(&m_codecContext);
    sws_freeContext(m_mainScaler);
    sws_freeContext(m_bandScaler);
    ZQLog::log("[INFO] ZQStream Encoder :: destruct");
}

AVRational ZQStreamEncoder::rate_for(double fps)
{
    if (!std::isfinite(fps) || fps <= 0.0)
        return AVRational{25, 1};
    fps = qBound(1.0, fps, 120.0);
    AVRational r = av_d2q(fps, 100000);
    if (r.num <= 0 || r.den <= 0)
        return AVRational{25, 1};
    return r;
}

QString ZQStreamEncoder::band_text(const QString& timestamp, const QString& overlay)
{
    QDate date;
    qint64 ms = 0;
    QString when;
    if (TimeText::parse_yyyymmddhhmmsszzz(timestamp, &date, &ms)) {
        when = TimeText::make_display_time(date, ms);
        // Milliseconds after a colon, as the band has always shown them.
        when[when.size() - 4] = QLatin1Char(':');
    } else {
        when = timestamp;
    }
    if (overlay.isEmpty())
        return when;
    return overlay.left(kMaxOverlay) + QStringLiteral(" | ") + when;
}

bool ZQStreamEncoder::fail(int code, const QString& line)
{
    ZQLog::log(line);
    m_lastError = code;
    if (code != 0)
        emit error(code);
    close_output();
    return false;
}

bool ZQStreamEncoder::init_encoder(const QString& outputPath, const QString& codecName, int bitRate, double fps,
                                   int width, int height, bool band, const QString& bandSize, int sourcePixelFormat)
{
    ZQLog::log(QStringLiteral("[INFO] ZQStream Encoder :: init encoder :: video codec ") + codecName);
    m_codecName = codecName;
    m_outputPath = outputPath;
    m_band = band;
    m_ended = false;

    EncoderChoice choice;
    if (!choose_encoder(codecName, &choice))
        return fail(0, QStringLiteral("[ERROR] ZQStream Encoder :: init encoder :: Failed to set video codec ")
                           + codecName);

    if (bandSize == QLatin1String("small"))
        m_fontSize = 12;
    else if (bandSize == QLatin1String("normal"))
        m_fontSize = 16;
    else if (bandSize == QLatin1String("large"))
        m_fontSize = 20;
    else if (bandSize == QLatin1String("extralarge"))
        m_fontSize = 26;
    m_bitRate = bitRate;
    m_rate = rate_for(fps);
    ZQLog::log(QStringLiteral("[INFO] ZQStream Encoder :: init encoder :: fps ") + QString::number(av_q2d(m_rate)));

    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide
        || av_image_check_size(unsigned(width), unsigned(height), 0, nullptr) < 0)
        return fail(-6, QStringLiteral("[ERROR] ZQStream Encoder :: init encoder :: picture size refused ")
                            + QString::number(width) + QStringLiteral("x") + QString::number(height));
    Q_UNUSED(sourcePixelFormat);

    const QByteArray path8 = QFile::encodeName(outputPath);
    if (outputPath.isEmpty())
        return fail(-9, QStringLiteral("[ERROR] ZQStream Encoder :: Could not open ") + outputPath);
    avformat_alloc_output_context2(&m_formatContext, nullptr, nullptr, path8.constData());
    if (!m_formatContext && choice.forcedContainer)
        avformat_alloc_output_context2(&m_formatContext, nullptr, choice.forcedContainer, path8.constData());
    if (!m_formatContext)
        return fail(-8, QStringLiteral("[ERROR] ZQStream Encoder :: init encoder :: Output format allocation error"));
    if (m_formatContext->oformat->video_codec == AV_CODEC_ID_NONE)
        return fail(-8, QStringLiteral("[ERROR] ZQStream Encoder :: init encoder :: container without video"));

    ZQLog::log("[INFO] ZQStream Encoder :: init encoder :: Add video stream");
    const AVCodec* codec = nullptr;
    for (const char* n : choice.names) {
        codec = avcodec_find_encoder_by_name(n);
        if (codec)
            break;
    }
    if (!codec)
        codec = avcodec_find_encoder(choice.id);
    if (!codec)
        return fail(-6, QStringLiteral("[ERROR] ZQStream Encoder :: init encoder :: Could not find encoder"));
    m_encoder = codec;
    m_stream = avformat_new_stream(m_formatContext, nullptr);
    if (!m_stream)
        return fail(0, QStringLiteral("[ERROR] ZQStream Encoder :: add video stream :: Could not allocate stream"));
    m_stream->id = int(m_formatContext->nb_streams) - 1;
    m_codecContext = avcodec_alloc_context3(codec);
    if (!m_codecContext)
        return fail(0, QStringLiteral("[ERROR] ZQStream Encoder :: add video stream :: Could not alloc an encoding context"));

    const AVPixelFormat format = codecName == QLatin1String("mjpeg") ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    m_encoderPixelFormat = format;
    if (is_420(format)) {
        // 4:2:0 encoders refuse odd sides; the last row or column is dropped.
        width = qMax(2, width & ~1);
        height = qMax(2, height & ~1);
    }
    m_width = width;
    m_height = height;
    ZQLog::log(QStringLiteral("[INFO] ZQStream Encoder :: init encoder :: codec size ") + QString::number(width)
               + QStringLiteral("x") + QString::number(height));

    AVCodecContext* c = m_codecContext;
    c->codec_type = AVMEDIA_TYPE_VIDEO;
    c->codec_id = codec->id;
    c->width = width;
    c->height = height;
    // A container that stores a time per picture gets the pictures' own times
    // in milliseconds (their resolution in the recordings), so a change of
    // rate within the range keeps the clock. AVI and bare streams have one
    // fixed rate: one tick per period of the first recording.
    m_variableRate = !(m_formatContext->oformat->flags & AVFMT_NOTIMESTAMPS)
                     && qstrcmp(m_formatContext->oformat->name, "avi") != 0;
    c->time_base = m_variableRate ? AVRational{1, 1000} : AVRational{m_rate.den, m_rate.num};
    c->framerate = m_rate;
    c->gop_size = qMax(1, int(std::lround(av_q2d(m_rate))));
    c->pix_fmt = format;
    c->thread_count = 0;
    if (codecName == QLatin1String("libx264") || codecName == QLatin1String("hevc")
        || codecName == QLatin1String("av1")) {
        ZQLog::log(QStringLiteral("[INFO] ZQStream Encoder :: init encoder :: init codec context for ") + codecName);
    } else {
        c->qmin = 2;
        c->qmax = 31;
        c->max_qdiff = 1;
        c->rc_min_rate = 0;
        c->rc_max_rate = 0;
    }
    if (codec->id == AV_CODEC_ID_MJPEG) {
        // The library's default bit rate (200 kb/s) makes a large picture unreadable: fixed quality instead.
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = FF_QP2LAMBDA * 3;
    }
    const QByteArray encName(codec->name);
    if (codec->id == AV_CODEC_ID_H264 || codec->id == AV_CODEC_ID_HEVC || codec->id == AV_CODEC_ID_VP9)
        av_opt_set(c->priv_data, "crf", "10", 0);
    if (encName == "libx264") {
        av_opt_set(c->priv_data, "preset", "veryfast", 0);
    } else if (encName == "libx265") {
        av_opt_set(c->priv_data, "preset", "superfast", 0);
        av_opt_set(c->priv_data, "x265-params", "log-level=error", 0);
    } else if (encName == "libvpx-vp9") {
        c->bit_rate = 0; // constant quality with crf
        av_opt_set(c->priv_data, "deadline", "realtime", 0);
        av_opt_set(c->priv_data, "cpu-used", "8", 0);
        av_opt_set(c->priv_data, "row-mt", "1", 0);
    } else if (encName == "libsvtav1") {
        av_opt_set(c->priv_data, "preset", "10", 0);
    } else if (encName == "libaom-av1") {
        av_opt_set(c->priv_data, "usage", "realtime", 0);
        av_opt_set(c->priv_data, "cpu-used", "8", 0);
        av_opt_set(c->priv_data, "row-mt", "1", 0);
    }
    if (m_formatContext->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    ZQLog::log(QStringLiteral("[INFO] ZQStream Encoder :: init encoder :: Find for encoder ") + codecName);
    int rc = avcodec_open2(c, codec, nullptr);
    if (rc < 0)
        return fail(-6, QStringLiteral("[ERROR] ZQStream Encoder :: init encoder :: Could not open encoder ")
                            + av_text(rc));
    if (avcodec_parameters_from_context(m_stream->codecpar, c) < 0)
        return fail(0, QStringLiteral("[ERROR] ZQStream Encoder :: init encoder :: fail to copy parameters "));
    m_stream->time_base = c->time_base;
    if (!m_variableRate) {
        // A declared rate would make the muxer give every picture one nominal period.
        m_stream->avg_frame_rate = m_rate;
        m_stream->r_frame_rate = m_rate;
    }

    ZQLog::log("[INFO] ZQStream Encoder :: init encoder :: IO Open");
    const QFileInfo target(outputPath);
    const QString dir = target.absolutePath();
    if (target.isDir() || !QFileInfo(dir).isDir())
        return fail(-9, QStringLiteral("[ERROR] ZQStream Encoder :: Could not open ") + outputPath);
    m_tempPath = QDir(dir).filePath(QStringLiteral(".") + target.fileName() + QStringLiteral(".")
                                    + QString::number(QRandomGenerator::global()->generate64(), 16)
                                    + QStringLiteral(".part"));
    rc = avio_open(&m_formatContext->pb, QFile::encodeName(m_tempPath).constData(), AVIO_FLAG_WRITE);
    if (rc < 0) {
        m_tempPath.clear();
        return fail(-9, QStringLiteral("[ERROR] ZQStream Encoder :: Could not open ") + outputPath);
    }
    rc = avformat_write_header(m_formatContext, nullptr);
    if (rc < 0)
        return fail(-4, QStringLiteral("[ERROR] ZQStream Encoder :: init encoder :: header not written ") + av_text(rc));
    m_headerWritten = true;

    m_encoderFrame = av_frame_alloc();
    m_packet = av_packet_alloc();
    m_pending = av_packet_alloc();
    if (!m_encoderFrame || !m_packet || !m_pending)
        return fail(0, QStringLiteral("[ERROR] ZQStream Encoder :: Error on packet alloc"));
    m_encoderFrame->format = format;
    m_encoderFrame->width = width;
    m_encoderFrame->height = height;
    if (av_frame_get_buffer(m_encoderFrame, 0) < 0)
        return fail(0, QStringLiteral("[ERROR] ZQStream Encoder :: frame alloc failed"));
    ZQLog::log("[INFO] ZQStream Encoder :: init encoder :: Initialisation DONE");
    return true;
}

bool ZQStreamEncoder::paint_band(const QString& timestamp, const QString& overlay)
{
    QFont font;
    if (m_fontSize > 0)
        font.setPointSize(m_fontSize);
    const int lineHeight = QFontMetrics(font).height();
    int bandHeight = (lineHeight * 3) / 2;
    bandHeight = qMin(m_height, (bandHeight + 1) & ~1);
    if (bandHeight <= 0)
        return true;
    // Only the band's rows are painted and converted; the band covers them
    // whole, so the picture under it is never needed in RGB.
    QImage band(m_width, bandHeight, QImage::Format_RGB32);
    band.fill(Qt::black);
    {
        QPainter painter(&band);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRect(2, lineHeight / 4, m_width, lineHeight), Qt::AlignLeft | Qt::AlignTop,
                         band_text(timestamp, overlay));
    }
    m_bandScaler = sws_getCachedContext(m_bandScaler, m_width, bandHeight, AV_PIX_FMT_BGRA, m_width, bandHeight,
                                        AVPixelFormat(m_encoderPixelFormat), SWS_SPLINE, nullptr, nullptr, nullptr);
    if (!m_bandScaler)
        return false;
    const uint8_t* src[4] = {band.constBits(), nullptr, nullptr, nullptr};
    const int srcStride[4] = {int(band.bytesPerLine()), 0, 0, 0};
    sws_scale(m_bandScaler, src, srcStride, 0, bandHeight, m_encoderFrame->data, m_encoderFrame->linesize);
    return true;
}

bool ZQStreamEncoder::encode_frame(const AVFrame* picture, int width, int height, const QString& timestamp,
                                   const QString& overlay, qint64 pts)
{
    Q_UNUSED(width);
    Q_UNUSED(height);
    if (!m_codecContext || !m_headerWritten || m_writeFailed || m_ended)
        return false;
    if (!picture || !picture->data[0] || picture->width <= 0 || picture->height <= 0
        || picture->width > kMaxSide || picture->height > kMaxSide || picture->format < 0
        || av_image_check_size(unsigned(picture->width), unsigned(picture->height), 0, nullptr) < 0) {
        ZQLog::log("[WARN] ZQStream Encoder :: encode frame :: picture refused");
        return false;
    }
    // The picture's time first: a fixed-rate output passes over a picture
    // whose slot is already taken before any work is done on it.
    const qint64 periodTicks = m_variableRate ? qMax<qint64>(1, std::llround(1000.0 * m_rate.den / m_rate.num)) : 1;
    QDate date;
    qint64 ms = 0;
    qint64 next = m_lastPts < 0 ? 0 : m_lastPts + periodTicks;
    if (TimeText::parse_yyyymmddhhmmsszzz(timestamp, &date, &ms)) {
        const qint64 t = date.toJulianDay() * 86400000LL + ms;
        if (m_firstMs < 0)
            m_firstMs = t;
        const qint64 since = t - m_firstMs;
        if (since > kMaxSpanMs) {
            // Not a time of this export (an export spans at most a day): it
            // follows the previous picture rather than opening a hole of years.
        } else if (m_variableRate) {
            // A time repeated or going back moves by one millisecond: it never pushes the rest.
            next = qMax(m_lastPts + 1, since);
        } else {
            // A picture takes the period it falls in; a later picture of the
            // same period is passed over, an empty period repeats the one
            // before. The millisecond the stamp was cut to counts as inside.
            next = since < 0 ? -1 : (since + 1) * m_rate.num / (qint64(m_rate.den) * 1000);
            if (next <= m_lastPts) {
                ++m_framesDropped;
                return true;
            }
        }
    } else if (m_lastPts < 0 && pts > 0) {
        next = pts * periodTicks;
    }

    // An encoder that still holds the previous picture keeps its buffer; the
    // new picture gets a fresh one (nothing of the old one is needed: the
    // scaler writes every pixel).
    if (!av_frame_is_writable(m_encoderFrame)) {
        av_frame_unref(m_encoderFrame);
        m_encoderFrame->format = m_encoderPixelFormat;
        m_encoderFrame->width = m_width;
        m_encoderFrame->height = m_height;
        if (av_frame_get_buffer(m_encoderFrame, 0) < 0)
            return false;
    }
    // Each picture is scaled from its own size and format, so a change of
    // either in the middle of an export is converted, never overrun.
    m_mainScaler = sws_getCachedContext(m_mainScaler, picture->width, picture->height, AVPixelFormat(picture->format),
                                        m_width, m_height, AVPixelFormat(m_encoderPixelFormat), SWS_SPLINE, nullptr,
                                        nullptr, nullptr);
    if (!m_mainScaler) {
        ZQLog::log("[WARN] ZQStream Encoder :: encode frame :: no scaler for the picture");
        return false;
    }
    sws_scale(m_mainScaler, picture->data, picture->linesize, 0, picture->height, m_encoderFrame->data,
              m_encoderFrame->linesize);
    if (m_band && !paint_band(timestamp, overlay))
        return false;

    m_encoderFrame->pts = next;
    m_encoderFrame->key_frame = 0;
    m_encoderFrame->pict_type = AV_PICTURE_TYPE_NONE;

    const int rc = avcodec_send_frame(m_codecContext, m_encoderFrame);
    if (rc == AVERROR_EOF) {
        ZQLog::log("[INFO] ZQStream Encoder :: send frame EOF.");
        return true;
    }
    if (rc < 0) {
        ZQLog::log("[ERROR] ZQStream Encoder :: Error sending a frame for encoding");
        return false;
    }
    if (m_lastPts >= 0) {
        const qint64 interval = next - m_lastPts;
        m_durations[m_lastPts] = interval;
        m_recentIntervals << interval;
        if (m_recentIntervals.size() > kRecentIntervals)
            m_recentIntervals.removeFirst();
        // Bounded: an encoder that never returns some picture leaves its entry behind.
        while (m_durations.size() > 1024)
            m_durations.erase(m_durations.begin());
    }
    m_lastPts = next;
    ++m_framesEncoded;
    return write_packets(false);
}

bool ZQStreamEncoder::write_packets(bool draining)
{
    for (;;) {
        const int rc = avcodec_receive_packet(m_codecContext, m_packet);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return true;
        if (m_raw && rc >= 0) {
            const bool written = write_raw_packet(m_packet);
            av_packet_unref(m_packet);
            if (!written)
                return false;
            continue;
        }
        if (rc < 0) {
            ZQLog::log(QStringLiteral("[ERROR] ZQStream Encoder :: receive packet :: ") + av_text(rc));
            return draining ? false : true;
        }
        // Written once the next packet is there: by then the picture after
        // this one has been sent, so its span is known, also from encoders
        // that give each packet back at once.
        if (!flush_pending(false))
            return false;
        av_packet_move_ref(m_pending, m_packet);
    }
}

bool ZQStreamEncoder::flush_pending(bool last)
{
    if (!m_pending || (!m_pending->data && m_pending->size == 0 && !m_pending->side_data_elems))
        return true;
    AVPacket* p = m_pending;
    if (p->pts != AV_NOPTS_VALUE) {
        // Each picture lasts until the next one; one whose next is not known
        // (the last one) for one frame period. The interval before it may be
        // a gap: it says nothing of how long the picture lasts.
        const auto it = m_durations.find(p->pts);
        if (it != m_durations.end()) {
            p->duration = it->second;
            m_durations.erase(it);
        } else {
            p->duration = frame_period_ticks();
        }
        m_minPts = m_minPts == AV_NOPTS_VALUE ? p->pts : qMin(m_minPts, p->pts);
        m_endPts = m_endPts == AV_NOPTS_VALUE ? p->pts + p->duration : qMax(m_endPts, p->pts + p->duration);
    }
    if (last && p->dts != AV_NOPTS_VALUE && p->pts != AV_NOPTS_VALUE && m_startDts != AV_NOPTS_VALUE) {
        // The stream's decoding span must end where its presentation ends,
        // less the decoder's delay at the start (as at every ordinary end).
        // A reordering encoder dates the final packet from the pictures
        // before it, so after a gap near the end that date lags the picture
        // by the gap: the packet is dated again, between the packet before
        // it and its own presentation, which leaves every presentation time
        // as it is.
        const qint64 end = m_endPts + (m_startDts - m_minPts);
        const qint64 floor = m_lastDts == AV_NOPTS_VALUE ? p->dts : m_lastDts + 1;
        const qint64 dts = qBound(floor, end - p->duration, qMax(floor, p->pts));
        p->duration = qMax(p->duration, end - dts);
        p->dts = dts;
    }
    return write_container_packet(p);
}

bool ZQStreamEncoder::write_container_packet(AVPacket* packet)
{
    if (packet->dts != AV_NOPTS_VALUE) {
        if (m_startDts == AV_NOPTS_VALUE)
            m_startDts = packet->dts;
        m_lastDts = packet->dts;
    }
    av_packet_rescale_ts(packet, m_codecContext->time_base, m_stream->time_base);
    packet->stream_index = m_stream->index;
    const int wrc = av_write_frame(m_formatContext, packet);
    av_packet_unref(packet);
    if (wrc < 0) {
        ZQLog::log(QStringLiteral("[ERROR] ZQStream Encoder :: write packet failed :: ") + av_text(wrc));
        m_writeFailed = true;
        m_lastError = -4;
        emit error(-4);
        return false;
    }
    return true;
}

qint64 ZQStreamEncoder::frame_period_ticks() const
{
    // A fixed-rate output counts in periods.
    if (!m_variableRate)
        return 1;
    // The pictures' own period, which a change of rate within the range
    // changes; the declared rate's before two pictures are known.
    const double typical = typical_spacing(m_recentIntervals);
    if (typical > 0.0)
        return qMax<qint64>(1, std::llround(typical));
    return qMax<qint64>(1, std::llround(1000.0 * m_rate.den / m_rate.num));
}

bool ZQStreamEncoder::end_encoding()
{
    ZQLog::log("[INFO] ZQStream Encoder :: end_encoding");
    if (m_ended)
        return false;
    if (!m_codecContext || !m_headerWritten || m_writeFailed) {
        abort_encoding();
        return false;
    }
    bool ok = true;
    // Packets the encoder still holds (look-ahead) belong to the file.
    if (avcodec_send_frame(m_codecContext, nullptr) >= 0)
        ok = write_packets(true);
    if (ok)
        ok = flush_pending(true);
    if (ok && m_framesEncoded > 0) {
        const int rc = av_write_trailer(m_formatContext);
        if (rc < 0) {
            ZQLog::log(QStringLiteral("[ERROR] ZQStream Encoder :: trailer not written :: ") + av_text(rc));
            ok = false;
        }
    } else if (m_framesEncoded == 0) {
        ok = false;
    }
    if (m_formatContext && m_formatContext->pb) {
        const int rc = avio_closep(&m_formatContext->pb);
        if (rc < 0) {
            ZQLog::log(QStringLiteral("[ERROR] ZQStream Encoder :: close failed :: ") + av_text(rc));
            ok = false;
        }
    }
    if (ok) {
        // rename() replaces an existing target (a link is replaced, never followed).
        if (std::rename(QFile::encodeName(m_tempPath).constData(), QFile::encodeName(m_outputPath).constData()) != 0) {
            ZQLog::log(QStringLiteral("[ERROR] ZQStream Encoder :: rename failed :: ") + m_outputPath);
            ok = false;
        } else {
            m_tempPath.clear();
        }
    }
    if (!ok) {
        if (m_framesEncoded > 0) {
            m_lastError = -4;
            emit error(-4);
        }
        abort_encoding();
        m_ended = true;
        return false;
    }
    avformat_free_context(m_formatContext);
    m_formatContext = nullptr;
    m_ended = true;
    return true;
}

void ZQStreamEncoder::close_output()
{
    if (m_formatContext) {
        if (m_formatContext->pb)
            avio_closep(&m_formatContext->pb);
        avformat_free_context(m_formatContext);
        m_formatContext = nullptr;
        m_stream = nullptr;
    }
    if (!m_tempPath.isEmpty()) {
        QFile::remove(m_tempPath);
        m_tempPath.clear();
    }
}

void ZQStreamEncoder::abort_encoding()
{
    close_output();
    m_ended = true;
}
