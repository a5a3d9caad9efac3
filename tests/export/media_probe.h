#pragma once

// Reads back what an export wrote, through libavformat: container, codec,
// frame count, start, duration and rate of the first video stream; and its
// pictures, decoded, with their presentation times.

#include <QImage>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <cmath>
#include <cstdio>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

struct MediaProbe
{
    bool ok = false;
    QString container;   // short name of the demuxer ("mov,mp4,...", "avi", "matroska,webm")
    QString codec;       // "h264", "hevc", "mjpeg", "vp9", "av1", "rawvideo"
    int width = 0;
    int height = 0;
    int frames = 0;      // packets of the video stream
    double start = -1;   // seconds
    double duration = -1;// last packet end minus first packet start, seconds
    double rate = 0;     // avg_frame_rate, or r_frame_rate when unset
    double file_duration = -1; // the container's duration (what ffprobe shows as format duration), seconds
    // The video stream's own declared duration (ffprobe's stream duration, or
    // the stream's DURATION tag in Matroska and WebM), seconds; -1 when none.
    double stream_duration = -1;
};

// "HH:MM:SS.fraction" of a Matroska DURATION tag, in seconds; -1 when unreadable.
inline double tag_seconds(const char* text)
{
    int h = 0, m = 0;
    double s = 0;
    if (!text || std::sscanf(text, "%d:%d:%lf", &h, &m, &s) != 3)
        return -1;
    return h * 3600.0 + m * 60.0 + s;
}

inline MediaProbe probe_media(const QString& path)
{
    MediaProbe p;
    AVFormatContext* fc = nullptr;
    if (avformat_open_input(&fc, path.toLocal8Bit().constData(), nullptr, nullptr) < 0)
        return p;
    if (avformat_find_stream_info(fc, nullptr) < 0) {
        avformat_close_input(&fc);
        return p;
    }
    const int vi = av_find_best_stream(fc, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (vi < 0) {
        avformat_close_input(&fc);
        return p;
    }
    AVStream* st = fc->streams[vi];
    p.container = QString::fromLatin1(fc->iformat->name);
    p.codec = QString::fromLatin1(avcodec_get_name(st->codecpar->codec_id));
    p.width = st->codecpar->width;
    p.height = st->codecpar->height;
    AVRational r = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    p.rate = r.den > 0 ? av_q2d(r) : 0;
    if (fc->duration != AV_NOPTS_VALUE)
        p.file_duration = double(fc->duration) / AV_TIME_BASE;
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        p.stream_duration = st->duration * av_q2d(st->time_base);
    else if (const AVDictionaryEntry* tag = av_dict_get(st->metadata, "DURATION", nullptr, 0))
        p.stream_duration = tag_seconds(tag->value);
    AVPacket* pkt = av_packet_alloc();
    qint64 minPts = INT64_MAX, maxEnd = INT64_MIN;
    while (av_read_frame(fc, pkt) >= 0) {
        if (pkt->stream_index == vi) {
            ++p.frames;
            const qint64 t = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
            if (t != AV_NOPTS_VALUE) {
                minPts = qMin(minPts, t);
                maxEnd = qMax(maxEnd, t + qMax<qint64>(pkt->duration, 0));
            }
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    if (minPts != INT64_MAX) {
        p.start = minPts * av_q2d(st->time_base);
        p.duration = (maxEnd - minPts) * av_q2d(st->time_base);
    }
    avformat_close_input(&fc);
    p.ok = true;
    return p;
}

struct DecodedPicture
{
    double time = -1; // presentation time, seconds
    QImage image;     // RGB32
};

// Every picture of the first video stream, decoded, in presentation order.
inline QList<DecodedPicture> decode_pictures(const QString& path)
{
    QList<DecodedPicture> out;
    AVFormatContext* fc = nullptr;
    if (avformat_open_input(&fc, path.toLocal8Bit().constData(), nullptr, nullptr) < 0)
        return out;
    const AVCodec* codec = nullptr;
    const int vi = avformat_find_stream_info(fc, nullptr) < 0 ? -1
                                                               : av_find_best_stream(fc, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    AVCodecContext* cc = vi >= 0 && codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!cc || avcodec_parameters_to_context(cc, fc->streams[vi]->codecpar) < 0 || avcodec_open2(cc, codec, nullptr) < 0) {
        avcodec_free_context(&cc);
        avformat_close_input(&fc);
        return out;
    }
    const AVRational tb = fc->streams[vi]->time_base;
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    SwsContext* sws = nullptr;
    const auto drain = [&]() {
        while (avcodec_receive_frame(cc, frame) >= 0) {
            DecodedPicture d;
            const qint64 ts = frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
            d.time = ts != AV_NOPTS_VALUE ? ts * av_q2d(tb) : -1;
            d.image = QImage(frame->width, frame->height, QImage::Format_RGB32);
            sws = sws_getCachedContext(sws, frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                                       frame->height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
            uint8_t* dst[4] = {d.image.bits(), nullptr, nullptr, nullptr};
            const int dstStride[4] = {int(d.image.bytesPerLine()), 0, 0, 0};
            sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
            out << d;
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(fc, pkt) >= 0) {
        if (pkt->stream_index == vi && pkt->size > 0 && avcodec_send_packet(cc, pkt) >= 0)
            drain();
        av_packet_unref(pkt);
    }
    avcodec_send_packet(cc, nullptr);
    drain();
    sws_freeContext(sws);
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&cc);
    avformat_close_input(&fc);
    return out;
}
