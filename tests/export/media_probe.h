#pragma once

// Reads back what an export wrote, through libavformat: container, codec,
// frame count, start, duration and rate of the first video stream.

#include <QString>
#include <QtGlobal>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
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
};

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
