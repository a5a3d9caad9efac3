// Playback reader: reading coded frames from the data file, decoding them (with the cache of
// decoded pictures for backward play) and delivering pictures, slider positions and times.

#include "playback/zq_stream_read_and_control.h"
#include "playback/zq_stream_read_and_control_p.h"

#include "app/zq_log.h"
#include "playback/ff_audio_decoder_sdl_player.h"
#include "playback/video_decoder.h"

#include <QMetaObject>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

extern "C" {
#include <libavutil/frame.h>
}

#include <chrono>
#include <cmath>
#include <limits>

using namespace zq_reader_detail;

void ZQStreamReadAndControl::close_data_file()
{
    m_data.close();
    m_data.size = 0;
}

bool ZQStreamReadAndControl::read_coded(int index, QByteArray* out)
{
    return read_coded_frame(&m_data, m_frames.at(index), out);
}

AVFrame* ZQStreamReadAndControl::decode_entry(int index, const QByteArray& bytes)
{
    // Anything but the next entry is a jump: the codec starts clean.
    if (index != m_lastDecoded + 1 || m_lastDecoded < 0)
        m_decoder->flush();
    m_lastDecoded = index;
    return m_decoder->decode_frame(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()), false);
}

bool ZQStreamReadAndControl::read_frame(bool probe, int index, const QString& streamId)
{
    if (index < 0) {
        zlog(QStringLiteral("[WARN] read frame :: invalid index"));
        return false;
    }
    if (m_frames.isEmpty()) {
        zlog(QStringLiteral("[WARN] read frame :: framelist empty"));
        return false;
    }
    if (index >= m_frames.size()) {
        zlog(QStringLiteral("[WARN] read frame :: index out of bounds"));
        return false;
    }
    const ZQFrame entry = m_frames.at(index);
    if (entry.get_stream() != streamId) {
        zlog(QStringLiteral("[WARN] read frame :: frame stream mismatch. want=") + streamId + QStringLiteral(" got=")
             + entry.get_stream());
        return false;
    }
    // Only the entry asked for counts as read: the entries decoded on the way
    // to it (and ahead of it when playing backward) do not move the steps.
    m_lastReadIndex = index;
    QByteArray bytes;
    if (!read_coded(index, &bytes))
        return false;
    if (m_keepCodedBytes) {
        m_codedBytes = bytes;
        return true;
    }
    if (!ensure_decoder(entry.get_codec())) {
        zlog(QStringLiteral("[WARN] read frame :: decoder not open"));
        return false;
    }
    // An entry that does not follow the one the codec decoded last (a step
    // back and play again, a read that failed) cannot be decoded alone unless
    // it is a keyframe: the codec is brought there from its keyframe first.
    if (index != m_lastDecoded + 1 && !entry.keyframe_contains_one()) {
        int k = index;
        while (k >= 0 && !m_frames.at(k).keyframe_contains_one())
            --k;
        if (k >= 0)
            decode_before(k, index, false);
    }
    AVFrame* picture = decode_entry(index, bytes);
    if (!picture)
        return !probe;
    if (probe)
        return true;
    const bool keyframe = m_decoder->is_keyframe();
    const QImage image = m_decoder->convert_frame(picture);
    if (!image.isNull())
        emit_picture(index, image, keyframe);
    return true;
}

void ZQStreamReadAndControl::emit_picture(int index, const QImage& image, bool keyframe)
{
    emit set_display_frame(image, int(image.bytesPerLine()), image.width(), image.height(),
                           display_timestamp(m_frames.at(index)), QString(), false, index, m_speed, keyframe);
    // Audio hook: the sound follows the picture shown.
    if (m_audioPlayer)
        m_audioPlayer->get_video_frame_timestamp(m_frames.at(index).get_timestamp());
}

void ZQStreamReadAndControl::clear_cache()
{
    for (auto it = m_cache.begin(); it != m_cache.end(); ++it)
        av_frame_free(&it->frame);
    m_cache.clear();
    m_cacheBytes = 0;
}

void ZQStreamReadAndControl::drop_cached(int index)
{
    auto it = m_cache.find(index);
    if (it == m_cache.end())
        return;
    m_cacheBytes -= frame_bytes(it->frame);
    av_frame_free(&it->frame);
    m_cache.erase(it);
}

bool ZQStreamReadAndControl::cache_decoded(int index, AVFrame* picture)
{
    if (!picture || m_cache.contains(index))
        return false;
    AVFrame* kept = av_frame_clone(picture);
    if (!kept)
        return false;
    m_cache.insert(index, CachedPicture{kept, m_decoder->is_keyframe()});
    m_cacheBytes += frame_bytes(kept);
    while (m_cacheBytes > kBackwardCacheBytes && !m_cache.isEmpty())
        drop_cached(m_cache.firstKey());
    return true;
}

void ZQStreamReadAndControl::predecode_previous_group(int keyframe, int budget)
{
    int previous = keyframe - 1;
    while (previous >= 0 && !m_frames.at(previous).keyframe_contains_one())
        --previous;
    if (previous < 0 || m_cacheBytes >= kBackwardCacheBytes)
        return;
    int first = previous;
    while (first < keyframe && m_cache.contains(first))
        ++first;
    if (first >= keyframe)
        return;
    // The codec must hold the picture just before the first missing one;
    // otherwise the group is decoded again from its keyframe.
    if (first != previous && m_lastDecoded != first - 1)
        first = previous;
    for (int i = first; i < keyframe && budget > 0; ++i) {
        const ZQFrame& entry = m_frames.at(i);
        if (entry.get_stream() != m_streamId || !m_decoder || !m_decoderOpen
            || QString::fromStdString(m_decoder->get_codec_name()) != entry.get_codec())
            return;
        QByteArray bytes;
        if (!read_coded(i, &bytes))
            return;
        AVFrame* picture = decode_entry(i, bytes);
        cache_decoded(i, picture);
        --budget;
    }
}

void ZQStreamReadAndControl::jumped()
{
    clear_cache();
    m_lastDecoded = -2;
    if (m_decoder)
        m_decoder->flush();
}

void ZQStreamReadAndControl::emit_position(int i)
{
    if (m_stopRequest || i < 0 || i >= m_frames.size())
        return;
    const ZQFrame& f = m_frames.at(i);
    emit slidervalue(i, f.get_timestamp());
    emit setTime(frame_time(f));
}

void ZQStreamReadAndControl::show_entry(int i)
{
    read_frame(false, i, m_streamId);
    emit_position(i);
}

void ZQStreamReadAndControl::decode_up_to(int k, int e, bool useCache)
{
    if (e < 0 || e >= m_frames.size())
        return;
    if (useCache) {
        auto hit = m_cache.find(e);
        if (hit != m_cache.end() && m_decoder) {
            m_lastReadIndex = e;
            const QImage image = m_decoder->convert_frame(hit->frame);
            if (!image.isNull())
                emit_picture(e, image, hit->keyframe);
            emit_position(e);
            return;
        }
    }
    decode_before(k, e, useCache);
    show_entry(e);
}

void ZQStreamReadAndControl::decode_before(int k, int e, bool useCache)
{
    // Going on from the picture the codec already holds saves decoding the
    // start of the group again.
    int start = k;
    if (m_lastDecoded >= k && m_lastDecoded < e)
        start = m_lastDecoded + 1;
    for (int i = start; i < e; ++i) {
        const ZQFrame& entry = m_frames.at(i);
        if (entry.get_stream() != m_streamId)
            continue;
        QByteArray bytes;
        // A frame that cannot be read breaks the chain: what follows cannot
        // be decoded right anyway, and trying every entry again on each tick
        // would repeat the failure for the whole group.
        if (!read_coded(i, &bytes))
            return;
        if (!ensure_decoder(entry.get_codec()))
            return;
        AVFrame* picture = decode_entry(i, bytes);
        if (useCache)
            cache_decoded(i, picture);
    }
}

bool ZQStreamReadAndControl::ensure_decoder(const QString& codec)
{
    if (!m_decoder || QString::fromStdString(m_decoder->get_codec_name()) != codec) {
        zlog(QStringLiteral("[INFO] read frame :: decoder change/open to ") + codec);
        m_decoderOpen = init_decoder_for_codec(codec);
    }
    return m_decoderOpen;
}
