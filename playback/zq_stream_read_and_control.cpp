#include "playback/zq_stream_read_and_control.h"

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

namespace {

void zlog(const QString& text)
{
    ZQLog::log(text);
}

const QString kName = QStringLiteral("[INFO] ZQStream read & control :: ");

struct BusyGuard
{
    bool& flag;
    explicit BusyGuard(bool& f) : flag(f) { flag = true; }
    ~BusyGuard() { flag = false; }
};

// "yyyy-MM-dd HH:mm:ss.zzz" of an entry, read from its digits.
QString display_timestamp(const ZQFrame& frame)
{
    if (!frame.has_valid_timestamp())
        return QString();
    const QString s = frame.get_timestamp();
    QString r;
    r.reserve(23);
    r += QStringView(s).mid(0, 4);
    r += QLatin1Char('-');
    r += QStringView(s).mid(4, 2);
    r += QLatin1Char('-');
    r += QStringView(s).mid(6, 2);
    r += QLatin1Char(' ');
    r += QStringView(s).mid(8, 2);
    r += QLatin1Char(':');
    r += QStringView(s).mid(10, 2);
    r += QLatin1Char(':');
    r += QStringView(s).mid(12, 2);
    r += QLatin1Char('.');
    r += QStringView(s).mid(14, 3);
    return r;
}

QTime frame_time(const ZQFrame& frame)
{
    const qint64 ms = frame.time_of_day_ms();
    return ms < 0 ? QTime() : QTime::fromMSecsSinceStartOfDay(int(ms));
}

qint64 frame_bytes(const AVFrame* frame)
{
    qint64 bytes = 0;
    for (int i = 0; i < AV_NUM_DATA_POINTERS; ++i)
        if (frame->buf[i])
            bytes += qint64(frame->buf[i]->size);
    return bytes;
}

} // namespace

ZQSeekLoad zq_load_seek_index(const QString& path, const QString& stream, const QHash<int, QString>& cameras,
                              std::shared_ptr<std::atomic<bool>> cancel)
{
    ZQSeekLoad load;
    SeekIndexOptions options;
    options.stream = stream;
    options.deriveCodecName = true;
    options.cameras = &cameras;
    options.cancel = cancel.get();
    load.frames = parse_seek_index(path, options, &load.info);
    if (load.info.cancelled)
        load.frames.clear();
    return load;
}

ZQStreamReadAndControl::ZQStreamReadAndControl()
{
    m_clock = [] {
        return qint64(std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::steady_clock::now().time_since_epoch()).count());
    };
}

ZQStreamReadAndControl::~ZQStreamReadAndControl()
{
    zlog(kName + QStringLiteral("destruct"));
    if (m_timer) {
        m_timer->stop();
        delete m_timer;
        m_timer = nullptr;
    }
    // Prefetch jobs own their inputs, but the reader still waits for them so
    // that no parse outlives it; the cancel flags make that short.
    reset_prefetch(m_forward);
    reset_prefetch(m_backward);
    for (QFuture<ZQSeekLoad>& f : m_abandoned)
        f.waitForFinished();
    m_abandoned.clear();
    clear_cache();
    delete m_decoder;
    m_decoder = nullptr;
    if (m_audioPlayer) {
        // The player's destructor stops its thread and waits for it (at most one 100 ms wait).
        zlog(kName + QStringLiteral("destruct ;; stop audio stream"));
        m_audioPlayer->stop_stream();
        delete m_audioPlayer;
        m_audioPlayer = nullptr;
    }
}

void ZQStreamReadAndControl::set_clock(std::function<qint64()> nowNs)
{
    if (nowNs)
        m_clock = std::move(nowNs);
}

qint64 ZQStreamReadAndControl::now_ns() const
{
    return m_clock();
}

// ---------------------------------------------------------------- loading

int ZQStreamReadAndControl::locate(const QFileInfo& file) const
{
    const QString path = file.absoluteFilePath();
    for (int i = 0; i < m_files.size(); ++i)
        if (m_files.at(i).absoluteFilePath() == path)
            return i;
    const QString canonical = file.canonicalFilePath();
    if (!canonical.isEmpty())
        for (int i = 0; i < m_files.size(); ++i)
            if (m_files.at(i).canonicalFilePath() == canonical)
                return i;
    return -1;
}

bool ZQStreamReadAndControl::init_displayer_for_stream(const QFileInfo& seekFile, const QString& streamId,
                                                       const QList<QFileInfo>& dayFiles)
{
    zlog(kName + QStringLiteral(" init displayer for stream ") + streamId + QStringLiteral(" with ") + seekFile.fileName());
    ++m_generation;
    reset_prefetch(m_forward);
    reset_prefetch(m_backward);

    // A new start replaces the list: appending would list every recording
    // again and the walk to the next file would loop.
    m_files.clear();
    for (const QFileInfo& f : dayFiles) {
        const SeekCompanions c = seek_index_companions(f.absoluteFilePath());
        if (c.kind == QLatin1String("video"))
            m_files.append(QFileInfo(c.seekPath));
    }
    m_currentFile = QFileInfo(seekFile.absoluteFilePath());
    m_currentPos = locate(m_currentFile);
    close_data_file();

    const SeekCompanions c = seek_index_companions(seekFile.absoluteFilePath());
    if (c.kind != QLatin1String("audio")) {
        init_audio_and_start(seekFile);
        return init_displayer_for_file(streamId);
    }
    init_audio_and_start(seekFile);
    return true;
}

bool ZQStreamReadAndControl::init_displayer_for_file(const QString& streamId)
{
    zlog(kName + QStringLiteral(" init displayer for stream ") + streamId);
    m_streamId = streamId;
    m_index = 0;
    const QList<ZQFrame> frames = read_seek_file(m_files, m_streamId);
    if (frames.isEmpty()) {
        zlog(QStringLiteral("[ERROR] ZQStream read & control ::  init displayer for stream :: failed to read SEEK file"));
        return false;
    }
    m_decoderOpen = init_decoder_for_codec(m_frames.first().get_codec());
    if (!m_decoderOpen) {
        zlog(QStringLiteral("[ERROR] ZQStream read & control ::  init displayer for stream :: failed to init decoder"));
        return false;
    }
    for (int i = m_index; i < m_frames.size(); ++i) {
        if (!m_frames.at(i).keyframe_contains_one())
            continue;
        if (read_frame(true, i, m_streamId)) {
            m_index = 0;
            return true;
        }
    }
    zlog(QStringLiteral("[ERROR] ZQStream read & control ::  init displayer for stream :: failed to read first frame"));
    return false;
}

bool ZQStreamReadAndControl::init_decoder_for_codec(const QString& codec)
{
    zlog(kName + QStringLiteral("init decoder for codec ") + codec);
    clear_cache();
    delete m_decoder;
    m_decoder = new VideoDecoder;
    m_lastDecoded = -2;
    bool ok = false;
    if (!m_stopRequest && !codec.isEmpty()) {
        ok = m_decoder->open_decoder(codec.toStdString());
        if (!ok)
            ok = m_decoder->open_decoder(codec.toStdString());
    }
    return ok;
}

QList<ZQFrame> ZQStreamReadAndControl::parse_seek_files(const QFileInfo& file, const QString& streamId,
                                                        QString& detectedStream)
{
    const ZQSeekLoad load = zq_load_seek_index(file.absoluteFilePath(), streamId, m_cameras, nullptr);
    detectedStream = load.info.detectedStream;
    if (load.info.opened)
        offer_streams(load.info.streams);
    return load.frames;
}

QList<ZQFrame> ZQStreamReadAndControl::read_seek_file(const QList<QFileInfo>& files, const QString& streamId)
{
    QString stream = streamId;
    m_frames.clear();
    jumped();
    m_files = files;
    m_currentPos = locate(m_currentFile);

    // The file being loaded is already being parsed ahead: take that parse.
    if (m_forward.active && !m_forward.future.isFinished() && m_currentPos >= 0 && m_forward.targetPos == m_currentPos
        && m_forward.stream == stream) {
        m_forward.future.waitForFinished();
        m_prefetchedFrames = result_of(m_forward).frames;
        for (const ZQFrame& f : m_prefetchedFrames)
            if (f.get_in_range() == 1 && f.get_stream() == stream)
                m_frames.append(f);
        if (!m_frames.isEmpty()) {
            m_forward.active = false;
            m_forward.future = QFuture<ZQSeekLoad>();
            m_fps = get_fps();
            m_speed = m_rate * m_fps;
            return m_frames;
        }
    }

    QString detected;
    QList<ZQFrame> parsed = parse_seek_files(m_currentFile, stream, detected);
    if (parsed.isEmpty() && !detected.isEmpty()) {
        stream = detected;
        m_streamId = detected;
        zlog(kName + QStringLiteral("ID STREAM NOT FOUND, set to ") + detected);
        QString again;
        parsed = parse_seek_files(m_currentFile, stream, again);
    }
    for (const ZQFrame& f : parsed)
        if (f.get_in_range() == 1 && f.get_stream() == stream)
            m_frames.append(f);

    offer_streams(QStringList{stream});
    reset_forward_prefetch();
    triggerPrefetch(stream);

    if (m_frames.isEmpty()) {
        zlog(QStringLiteral("[ERROR] ZQStream read & control :: Read Seek File :: no frame found"));
        emit error(-10);
    } else {
        m_fps = get_fps();
        m_speed = m_rate * m_fps;
    }
    return m_frames;
}

double ZQStreamReadAndControl::get_fps()
{
    if (m_frames.isEmpty())
        return m_fps;
    // Frames over the time they span. Counting changes of second instead
    // would give 50 for a two-second recording of 25 frames per second.
    double fps = std::numeric_limits<double>::infinity();
    const qint64 first = m_frames.first().absolute_ms();
    const qint64 last = m_frames.last().absolute_ms();
    if (m_frames.size() > 1 && first >= 0 && last > first)
        fps = double(m_frames.size() - 1) * 1000.0 / double(last - first);
    zlog(kName + QStringLiteral(" get FPS :: ") + QString::number(fps, 'f', 2));
    return fps;
}

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

QTime ZQStreamReadAndControl::time_from_timestamp(const QString& timestamp)
{
    ZQFrame f;
    f.set_timestamp(timestamp);
    return frame_time(f);
}

void ZQStreamReadAndControl::stop()
{
    zlog(kName + QStringLiteral("stop"));
    // Ends the ticks for good: no timer, no queued tick, no pending prefetch.
    ++m_generation;
    if (m_timer) {
        m_timer->stop();
        m_timer->deleteLater();
        m_timer = nullptr;
    }
    reset_prefetch(m_forward);
    reset_prefetch(m_backward);
    clear_cache();
    m_files.clear();
    // A stopped reader holds no records: a later rate change only stores the rate, and nothing
    // ticks on the old file until a file is loaded again.
    m_frames.clear();
    m_index = 0;
    m_currentPos = -1;
    m_streamId.clear();
    m_paused = false;
    end_audio_player();
}

bool ZQStreamReadAndControl::init_audio_and_start(const QFileInfo& seekFile)
{
    zlog(kName + QStringLiteral("init audio & start :: ") + seekFile.fileName());
    const QString path = seekFile.absoluteFilePath();
    const SeekCompanions c = seek_index_companions(path);
    if (!path.endsWith(QLatin1String(".zqseek")) && !path.endsWith(QLatin1String(".zqaudioseek")))
        return false;
    const QString audio = replace_suffix(c.seekPath, QStringLiteral("zqaudio"));
    const bool exists = QFileInfo::exists(audio);
    // Audio hook: start the player, hand it the recording, or stop following.
    if (exists && m_audioEnabled) {
        if (!m_audioPlayer) {
            m_audioPlayer = new ff_audio_decoder_sdl_player(QString());
            m_audioPlayer->begin_stream();
        }
        if (audio != m_audioFile) { // the same recording again keeps its sound going
            zlog(kName + QStringLiteral("init audio & start :: set new audio file :: ") + audio);
            m_audioFile = audio;
            m_audioPlayer->change_zqaudio_file(audio);
        }
        if (m_paused || m_rate != 1)
            m_audioPlayer->set_stop_framereader_timer();
    } else if (!exists && m_audioPlayer) {
        zlog(kName + QStringLiteral("init audio & start :: stop"));
        m_audioFile.clear();
        m_audioPlayer->set_stop_framereader_timer();
    }
    return exists;
}

void ZQStreamReadAndControl::set_audio_enabled(bool enabled)
{
    m_audioEnabled = enabled;
    if (!enabled)
        end_audio_player();
}

void ZQStreamReadAndControl::end_audio_player()
{
    if (!m_audioPlayer)
        return;
    zlog(kName + QStringLiteral("stop : stop audio stream"));
    ff_audio_decoder_sdl_player* player = m_audioPlayer;
    m_audioPlayer = nullptr;
    m_audioFile.clear();
    player->stop_stream();
    // Deleting a running QThread aborts: a running player goes once its thread has ended.
    connect(player, &QThread::finished, player, &QObject::deleteLater);
    if (!player->isRunning())
        delete player;
}

// ---------------------------------------------------------------- picture cache

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

// ---------------------------------------------------------------- pacing

int ZQStreamReadAndControl::interval_for(int rate, double fps, int* divisor)
{
    const int r = std::abs(rate);
    int d = 1;
    if (r <= 1) {
        // Clamped before the conversion: a seek index can give any rate, and a double beyond
        // the int range does not convert. A tick below a millisecond is not possible anyway.
        if (std::isfinite(fps) && fps >= 1.0)
            d = qMax(1, int(std::trunc(std::min(fps, 1001.0) - 1.0)));
    } else {
        d = 2 * r;
    }
    if (divisor)
        *divisor = d;
    return qMax(1, 1000 / d);
}

void ZQStreamReadAndControl::recreate_timer(bool forward)
{
    if (m_timer) {
        m_timer->stop();
        m_timer->deleteLater();
        m_timer = nullptr;
    }
    m_timer = new QTimer(this);
    m_timer->setTimerType(Qt::PreciseTimer);
    if (forward)
        connect(m_timer, &QTimer::timeout, this, [this] { read_and_display_next_frame(false); });
    else
        connect(m_timer, &QTimer::timeout, this, [this] { read_and_display_previous_frame(false); });
}

void ZQStreamReadAndControl::end_reading()
{
    ++m_generation;
    if (!m_timer)
        return; // already ended, or a step with no reading going on
    m_timer->stop();
    m_timer->deleteLater();
    m_timer = nullptr;
    emit reading_ended();
}

void ZQStreamReadAndControl::queue_tick(bool forward, bool step)
{
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation, forward, step] {
            if (generation != m_generation)
                return;
            if (forward)
                read_and_display_next_frame(step);
            else
                read_and_display_previous_frame(step);
        },
        Qt::QueuedConnection);
}

void ZQStreamReadAndControl::read_forward()
{
    m_paused = false;
    clear_cache();
    recreate_timer(true);
    int divisor = 1;
    const int interval = interval_for(m_rate, m_fps, &divisor);
    zlog(kName + (std::abs(m_rate) <= 1 ? QStringLiteral("read forward (all frames) :: ")
                                        : QStringLiteral("read forward (keyframes) :: "))
         + QString::number(divisor) + QStringLiteral(" fps"));
    m_timer->start(interval);
}

void ZQStreamReadAndControl::read_backward()
{
    recreate_timer(false);
    m_backwardInterval = interval_for(m_rate, m_fps);
    zlog(kName + QStringLiteral("read backward :: interval ") + QString::number(m_backwardInterval)
         + QStringLiteral(" ms"));
    m_timer->start(m_backwardInterval);
    // The first tick measures from here, not from an older tick.
    m_lastBackwardTick = now_ns();
    m_backwardCarry = 0.0;
    reset_backward_prefetch();
    triggerPrefetchPrev(m_streamId);
}

void ZQStreamReadAndControl::change_rate(double rate)
{
    zlog(kName + QStringLiteral(" change rate :: ") + QString::number(rate, 'g', 6));
    // Audio hook: sound at the normal rate only.
    if (m_audioPlayer) {
        if (rate == 1.0)
            m_audioPlayer->set_start_framereader_timer();
        else
            m_audioPlayer->set_stop_framereader_timer();
    }
    if ((m_rate > 0 && rate < 0) || (m_rate < 0 && rate > 0)) {
        reset_forward_prefetch();
        reset_backward_prefetch();
    }
    // A rate between -1 and 1 plays every frame, like 1 (or -1).
    int stored = int(std::trunc(rate));
    if (stored == 0 && rate > 0)
        stored = 1;
    else if (stored == 0 && rate < 0)
        stored = -1;
    m_rate = stored;
    m_waitForKeyframe = true;
    m_speed = rate * m_fps;
    if (m_timer)
        m_timer->stop();
    if (m_frames.isEmpty()) {
        zlog(kName + QStringLiteral(" change rate  :: no frame"));
        return;
    }
    if (m_speed > 0) {
        read_forward();
    } else {
        m_speed = (rate == -1.0) ? -5.0 : rate * m_fps;
        read_backward();
    }
}

void ZQStreamReadAndControl::setup_fps(double fps)
{
    m_fps = fps;
    m_speed = m_rate * fps;
}

void ZQStreamReadAndControl::set_pause()
{
    if (!m_timer)
        return;
    if (m_timer->isActive()) {
        zlog(kName + QStringLiteral("set pause"));
        m_paused = true;
        m_timer->stop();
        if (m_audioPlayer) // audio hook: a paused picture is silent
            m_audioPlayer->set_stop_framereader_timer();
    } else {
        zlog(kName + QStringLiteral("unset pause"));
        m_paused = false;
        // Time spent paused is not time to catch up on.
        m_lastBackwardTick = now_ns();
        m_backwardCarry = 0.0;
        m_timer->start();
        if (m_audioPlayer && m_rate == 1 && m_speed > 0) // audio hook
            m_audioPlayer->set_start_framereader_timer();
    }
}

void ZQStreamReadAndControl::slider_pressed()
{
    zlog(kName + QStringLiteral("slider pressed"));
    set_pause();
}

void ZQStreamReadAndControl::read_and_display_next_frame()
{
    read_and_display_next_frame(false);
}

void ZQStreamReadAndControl::read_and_display_previous_frame()
{
    read_and_display_previous_frame(false);
}

void ZQStreamReadAndControl::read_and_display_next_frame(bool step)
{
    if (m_busy)
        return;
    BusyGuard guard(m_busy);
    if (m_stopRequest) {
        zlog(kName + QStringLiteral("next :: stop thread detected"));
        end_reading();
        return;
    }
    if (m_frames.isEmpty()) {
        zlog(kName + QStringLiteral("next :: no frame"));
        return;
    }
    if (step)
        step_forward();
    else
        tick_forward();
}

void ZQStreamReadAndControl::read_and_display_previous_frame(bool step)
{
    if (m_busy)
        return;
    BusyGuard guard(m_busy);
    if (m_frames.isEmpty()) {
        zlog(kName + QStringLiteral("prev :: no frame"));
        return;
    }
    if (m_stopRequest) {
        zlog(kName + QStringLiteral("prev :: stop thread detected"));
        end_reading();
        return;
    }
    if (step)
        step_backward();
    else
        tick_backward();
}

void ZQStreamReadAndControl::tick_forward()
{
    if (m_index < 0) // set_index() takes any value
        m_index = 0;
    if (m_index >= m_frames.size()) {
        switch_to_next_file();
        return;
    }
    if (std::abs(m_rate) <= 1) {
        const int i = m_index;
        if (m_waitForKeyframe) {
            if (m_frames.at(i).keyframe_contains_one()) {
                read_frame(false, i, m_streamId);
                // Every frame from here on, also when the stored rate is -1
                // (read_forward() called after a backward rate): waiting on
                // would show one picture per group at normal pace.
                m_waitForKeyframe = false;
            }
        } else {
            read_frame(false, i, m_streamId);
        }
        emit_position(i);
        ++m_index;
        return;
    }
    for (int j = qMax(0, m_index); j < m_frames.size(); ++j) {
        if (m_frames.at(j).keyframe_starts_with_one()) {
            show_entry(j);
            m_index = j + 1;
            return;
        }
    }
    switch_to_next_file();
}

void ZQStreamReadAndControl::tick_backward()
{
    if (std::abs(m_rate) <= 1) {
        // Every entry in turn, as forward: a late tick shows the next picture
        // late rather than skipping pictures to catch up (the group before
        // the current one is decoded ahead a little on each tick, so ticks
        // stay short). The tick right after a file switch shows the new
        // file's last entry itself: it comes at once, owing nothing.
        const qint64 now = now_ns();
        const double elapsed = double(now - m_lastBackwardTick) / 1e6;
        m_lastBackwardTick = now;
        // Rounded, with the remainder carried to the next tick: timer jitter
        // (one tick a little early, the next a little late) then neither
        // repeats an entry nor holds one twice.
        const double owed = qMax(0.0, elapsed / double(qMax(1, m_backwardInterval)) + m_backwardCarry);
        const int skip = qMin(1, int(std::floor(owed + 0.5)));
        m_backwardCarry = qBound(-0.5, owed - skip, 0.5);
        if (m_index <= 0) {
            switch_to_previous_file();
            return;
        }
        const int t = qMin(m_index - skip, int(m_frames.size()) - 1);
        if (t < 0) {
            switch_to_previous_file();
            return;
        }
        int k = t;
        while (k >= 0 && !m_frames.at(k).keyframe_contains_one())
            --k;
        if (k < 0) {
            switch_to_previous_file();
            return;
        }
        decode_up_to(k, t, true);
        m_index = t;
        // Pictures after t are behind us now; the group before this one is
        // decoded a little on every tick, so that reaching it costs no stall.
        while (!m_cache.isEmpty() && m_cache.lastKey() > t)
            drop_cached(m_cache.lastKey());
        predecode_previous_group(k, 2);
        return;
    }
    const int j = qMin(m_index - 1, int(m_frames.size()) - 1);
    if (j < 0) {
        switch_to_previous_file();
        return;
    }
    int k = j;
    while (k >= 0 && !m_frames.at(k).keyframe_starts_with_one())
        --k;
    if (k < 0) {
        switch_to_previous_file();
        return;
    }
    if (read_frame(false, k, m_streamId)) {
        emit_position(k);
        m_index = k;
    }
}

// ---------------------------------------------------------------- single steps

void ZQStreamReadAndControl::step_forward()
{
    const int size = int(m_frames.size());
    const int t = m_lastReadIndex + 1;
    if (t >= 0 && t < size) {
        int j = 0;
        while (j < size && !m_frames.at(j).keyframe_starts_with_one())
            ++j;
        if (j < size) {
            const int e = qMax(j, t);
            int k = e;
            while (k > 0 && !m_frames.at(k).keyframe_starts_with_one())
                --k;
            decode_up_to(k, e, false);
            m_index = e + 1;
            return;
        }
        const QFileInfo next = get_next_file();
        if (next.filePath().isEmpty() || check_next_prefetch(next)) {
            switch_to_next_file();
        } else {
            reset_forward_prefetch();
            start_prefetch(m_forward, m_currentPos + 1, m_streamId);
        }
        return;
    }

    const QFileInfo next = get_next_file();
    if (next.filePath().isEmpty()) {
        zlog(QStringLiteral("[INFO] next step :: end of list reached"));
        return;
    }
    if (!check_next_prefetch(next)) {
        reset_forward_prefetch();
        start_prefetch(m_forward, m_currentPos + 1, m_streamId);
        zlog(QStringLiteral("[INFO] next step :: prefetch restarted for expected next: ") + next.fileName());
        return;
    }
    if (!m_forward.future.isFinished()) {
        zlog(QStringLiteral("[DBG] next step :: prefetch consistent but not finished yet"));
        return;
    }
    const ZQSeekLoad load = result_of(m_forward);
    if (load.frames.isEmpty()) {
        // Nothing to play in that file: look further, as the timer would.
        switch_to_next_file();
        return;
    }
    const QFileInfo target = m_forward.target;
    take_file(m_forward.targetPos, target, load.frames, load.info.streams);
    m_index = 0;
    m_lastReadIndex = -1;
    m_waitForKeyframe = false;
    zlog(QStringLiteral("[INFO] next step :: switched to next (prefetched): ") + target.fileName());
    reset_forward_prefetch();
    triggerPrefetch(m_streamId);
    queue_tick(true, true);
}

void ZQStreamReadAndControl::step_backward()
{
    const int size = int(m_frames.size());
    // One past the end marks a file just entered from its successor: the step
    // then shows its last entry.
    m_index = qBound(0, m_lastReadIndex, size);
    bool noKeyframe = false;
    if (m_index > 0) {
        const int t = m_index - 1;
        int k = t;
        while (k >= 0 && !m_frames.at(k).keyframe_starts_with_one())
            --k;
        if (k >= 0) {
            decode_up_to(k, t, true);
            m_index = t;
            return;
        }
        noKeyframe = true;
    }

    const QFileInfo previous = get_previous_file();
    if (previous.filePath().isEmpty()) {
        zlog(noKeyframe ? QStringLiteral("[INFO] prev step :: no previous file (no KF before target)")
                        : QStringLiteral("[INFO] prev step :: start of list reached"));
        return;
    }
    if (!check_prev_prefetch(previous)) {
        reset_backward_prefetch();
        start_prefetch(m_backward, m_currentPos - 1, m_streamId);
        if (!noKeyframe)
            zlog(QStringLiteral("[INFO] prev step :: prefetch restarted for expected prev: ") + previous.fileName());
        return;
    }
    if (!m_backward.future.isFinished()) {
        zlog(noKeyframe ? QStringLiteral("[DBG] prev step :: prefetch consistent but not finished (no KF before target)")
                        : QStringLiteral("[DBG] prev step :: prefetch consistent but not finished yet"));
        return;
    }
    const ZQSeekLoad load = result_of(m_backward);
    if (load.frames.isEmpty()) {
        switch_to_previous_file();
        return;
    }
    const QFileInfo target = m_backward.target;
    take_file(m_backward.targetPos, target, load.frames, load.info.streams);
    m_index = int(m_frames.size()) - 1;
    m_lastReadIndex = int(m_frames.size());
    m_waitForKeyframe = false;
    zlog(noKeyframe ? QStringLiteral("[INFO] prev step :: switched to previous (prefetched, no KF before target)")
                    : QStringLiteral("[INFO] prev step :: switched to previous (prefetched): ") + target.fileName());
    reset_backward_prefetch();
    triggerPrefetchPrev(m_streamId);
    queue_tick(false, true);
}

// ---------------------------------------------------------------- positioning

void ZQStreamReadAndControl::set_read_timestamp(QString timestamp)
{
    zlog(kName + QStringLiteral("set read timestamp :: timestamp ") + timestamp);
    m_waitForKeyframe = true;
    ZQFrame requested;
    requested.set_timestamp(timestamp + QStringLiteral("000"));
    const qint64 t = timestamp.size() == 14 ? requested.absolute_ms() : -1;

    int chosen = -1;
    int lastKeyframe = -1;
    for (int i = 0; i < m_frames.size(); ++i) {
        const ZQFrame& f = m_frames.at(i);
        if (!f.keyframe_contains_one())
            continue;
        const qint64 e = f.absolute_ms();
        const qint64 diff = (t < 0 || e < 0) ? 0 : e - t;
        if (diff >= 0) {
            chosen = i;
            break;
        }
        lastKeyframe = i;
    }
    // The recording was chosen as the one that holds the time: past its last
    // keyframe, that keyframe is the nearest picture.
    if (chosen < 0)
        chosen = lastKeyframe;
    if (chosen >= 0)
        set_index(chosen);
    // Audio hook: the sound moves to the picture's new time.
    if (m_audioPlayer) {
        const QString shown = chosen >= 0 ? m_frames.at(chosen).get_timestamp() : QString();
        m_audioPlayer->set_new_timestamp(shown.isEmpty() ? timestamp + QStringLiteral("000") : shown, shown);
    }
}

void ZQStreamReadAndControl::set_index(int index)
{
    m_index = index;
    m_waitForKeyframe = true;
    zlog(kName + QStringLiteral("set index :: ") + QString::number(index));
    jumped();
    if (index >= 0 && index < m_frames.size()) {
        if (m_frames.at(index).keyframe_contains_one())
            read_frame(false, index, m_streamId);
        emit setTime(frame_time(m_frames.at(index)));
    }
}

// ---------------------------------------------------------------- files and prefetch

void ZQStreamReadAndControl::start_prefetch(Prefetch& slot, int pos, const QString& streamId)
{
    if (pos < 0 || pos >= m_files.size())
        return;
    reset_prefetch(slot);
    slot.active = true;
    slot.target = m_files.at(pos);
    slot.targetPos = pos;
    slot.stream = streamId;
    slot.cancel = std::make_shared<std::atomic<bool>>(false);
    slot.future = QtConcurrent::run(QThreadPool::globalInstance(), &zq_load_seek_index, slot.target.absoluteFilePath(),
                                    streamId, m_cameras, slot.cancel);
}

void ZQStreamReadAndControl::reset_prefetch(Prefetch& slot)
{
    if (slot.active && !slot.future.isFinished()) {
        if (slot.cancel)
            slot.cancel->store(true);
        // Finished ones need no waiting any more.
        for (qsizetype i = m_abandoned.size() - 1; i >= 0; --i)
            if (m_abandoned.at(i).isFinished())
                m_abandoned.removeAt(i);
        m_abandoned.append(slot.future);
    }
    slot.active = false;
    slot.future = QFuture<ZQSeekLoad>();
    slot.target = QFileInfo();
    slot.targetPos = -1;
    slot.cancel.reset();
}

void ZQStreamReadAndControl::triggerPrefetch(const QString& streamId)
{
    if (m_currentPos < 0 || m_currentPos + 1 >= m_files.size())
        return;
    zlog(QStringLiteral("[DEBUG] Triggering prefetch for: ") + m_files.at(m_currentPos + 1).fileName());
    start_prefetch(m_forward, m_currentPos + 1, streamId);
}

void ZQStreamReadAndControl::triggerPrefetchPrev(const QString& streamId)
{
    if (m_currentPos <= 0 || m_currentPos >= m_files.size())
        return;
    start_prefetch(m_backward, m_currentPos - 1, streamId);
}

void ZQStreamReadAndControl::reset_forward_prefetch()
{
    zlog(kName + QStringLiteral("reset Forward Prefetch"));
    reset_prefetch(m_forward);
}

void ZQStreamReadAndControl::reset_backward_prefetch()
{
    zlog(kName + QStringLiteral("reset backward Prefetch"));
    reset_prefetch(m_backward);
}

bool ZQStreamReadAndControl::check_next_prefetch(const QFileInfo& expected) const
{
    if (!m_forward.active) {
        zlog(QStringLiteral("[DBG] next step :: prefetch invalid"));
        return false;
    }
    if (!expected.filePath().isEmpty() && expected.absoluteFilePath() == m_forward.target.absoluteFilePath()
        && m_forward.stream == m_streamId)
        return true;
    zlog(QStringLiteral("[WARN] next step :: prefetch target mismatch: expected=") + expected.fileName()
         + QStringLiteral(" got=") + m_forward.target.fileName());
    return false;
}

bool ZQStreamReadAndControl::check_prev_prefetch(const QFileInfo& expected) const
{
    if (!m_backward.active) {
        zlog(QStringLiteral("[DBG] prev step :: prefetch invalid"));
        return false;
    }
    if (!expected.filePath().isEmpty() && expected.absoluteFilePath() == m_backward.target.absoluteFilePath()
        && m_backward.stream == m_streamId)
        return true;
    zlog(QStringLiteral("[WARN] prev step :: prefetch target mismatch: expected=") + expected.fileName()
         + QStringLiteral(" got=") + m_backward.target.fileName());
    return false;
}

bool ZQStreamReadAndControl::is_forward_prefetch_finished() const
{
    return m_forward.active && m_forward.future.isFinished();
}

bool ZQStreamReadAndControl::is_backward_prefetch_finished() const
{
    return m_backward.active && m_backward.future.isFinished();
}

void ZQStreamReadAndControl::wait_for_prefetches()
{
    if (m_forward.active)
        m_forward.future.waitForFinished();
    if (m_backward.active)
        m_backward.future.waitForFinished();
    for (QFuture<ZQSeekLoad>& f : m_abandoned)
        f.waitForFinished();
    m_abandoned.clear();
}

QFileInfo ZQStreamReadAndControl::get_next_file() const
{
    if (m_currentPos >= 0 && m_currentPos + 1 < m_files.size())
        return m_files.at(m_currentPos + 1);
    return QFileInfo();
}

QFileInfo ZQStreamReadAndControl::get_previous_file() const
{
    if (m_currentPos > 0 && m_currentPos - 1 < m_files.size())
        return m_files.at(m_currentPos - 1);
    return QFileInfo();
}

void ZQStreamReadAndControl::take_file(int pos, const QFileInfo& file, const QList<ZQFrame>& frames,
                                       const QStringList& streams)
{
    m_currentPos = pos;
    m_currentFile = file;
    m_frames = frames;
    close_data_file();
    jumped();
    init_audio_and_start(file); // audio hook: every recording taken, its own switches included
    if (!streams.isEmpty())
        offer_streams(streams);
}

void ZQStreamReadAndControl::offer_streams(const QStringList& streams)
{
    qsizetype dropped = 0;
    const QStringList kept = plausible_stream_ids(streams, &dropped);
    const QString file = m_currentFile.absoluteFilePath();
    if (dropped > 0 && m_streamsTrimmedFor != file) {
        m_streamsTrimmedFor = file;
        zlog(QStringLiteral("[WARN] ZQStream read & control :: %1 stream ids of %2 not offered (at most %3 short numbers)")
                 .arg(dropped)
                 .arg(file)
                 .arg(kMaxOfferedStreams));
    }
    emit send_available_videostream(kept);
}

ZQSeekLoad ZQStreamReadAndControl::result_of(const Prefetch& slot)
{
    if (slot.future.isCanceled() || slot.future.resultCount() == 0)
        return ZQSeekLoad();
    return slot.future.result();
}

ZQSeekLoad ZQStreamReadAndControl::load_for_switch(const QFileInfo& file, const QString& direction)
{
    zlog(kName + direction + QStringLiteral(" :: synchronously loading: ") + file.fileName());
    ZQSeekLoad load = zq_load_seek_index(file.absoluteFilePath(), m_streamId, m_cameras, nullptr);
    const QString detected = load.info.detectedStream;
    if (load.frames.isEmpty() && !detected.isEmpty() && detected != m_streamId) {
        zlog(kName + direction + QStringLiteral(" :: requested stream '") + m_streamId
             + QStringLiteral("' not found, retry with detected '") + detected + QStringLiteral("'"));
        load = zq_load_seek_index(file.absoluteFilePath(), detected, m_cameras, nullptr);
        if (!load.frames.isEmpty()) {
            // The other stream is played from here on; a load ahead for the
            // old one is of no use.
            m_streamId = detected;
            reset_prefetch(m_forward);
        }
    }
    return load;
}

void ZQStreamReadAndControl::switch_to_next_file()
{
    zlog(kName + QStringLiteral("next :: end reached, checking next prefetch..."));
    if (m_forward.active && m_forward.future.isFinished() && m_forward.targetPos == m_currentPos + 1
        && m_currentPos >= 0 && m_forward.stream == m_streamId) {
        const ZQSeekLoad load = result_of(m_forward);
        if (!load.frames.isEmpty()) {
            const QFileInfo target = m_forward.target;
            take_file(m_forward.targetPos, target, load.frames, load.info.streams);
            m_index = 0;
            zlog(kName + QStringLiteral("next :: switching to next file (prefetched): ") + target.fileName());
            reset_forward_prefetch();
            triggerPrefetch(m_streamId);
            queue_tick(true, false);
            return;
        }
    }
    if (m_currentPos < 0) {
        zlog(QStringLiteral("[WARN] ZQStream read & control :: next :: current file not found in list"));
        end_reading();
        return;
    }
    if (m_currentPos >= m_files.size() - 1) {
        zlog(kName + QStringLiteral("next :: end of list reached"));
        end_reading();
        return;
    }
    for (int p = m_currentPos + 1; p < m_files.size(); ++p) {
        const QFileInfo f = m_files.at(p);
        const ZQSeekLoad load = load_for_switch(f, QStringLiteral("next"));
        if (load.frames.isEmpty())
            continue;
        take_file(p, f, load.frames, load.info.streams);
        m_index = 0;
        zlog(kName + QStringLiteral("next :: switched to next file (sync): ") + f.fileName()
             + QStringLiteral(" (stream=") + m_streamId + QStringLiteral(")"));
        reset_forward_prefetch();
        triggerPrefetch(m_streamId);
        queue_tick(true, false);
        return;
    }
    zlog(QStringLiteral("[WARN] ZQStream read & control :: next :: no usable next file found (sync fallback failed)"));
    end_reading();
}

void ZQStreamReadAndControl::switch_to_previous_file()
{
    zlog(kName + QStringLiteral("prev :: begin reached, checking prev prefetch..."));
    if (m_backward.active && m_backward.future.isFinished() && m_backward.targetPos == m_currentPos - 1
        && m_currentPos > 0 && m_backward.stream == m_streamId) {
        const ZQSeekLoad load = result_of(m_backward);
        if (!load.frames.isEmpty()) {
            const QFileInfo target = m_backward.target;
            take_file(m_backward.targetPos, target, load.frames, load.info.streams);
            m_index = int(m_frames.size()) - 1;
            zlog(kName + QStringLiteral("prev :: switching to previous file (prefetched): ") + target.fileName());
            reset_backward_prefetch();
            triggerPrefetchPrev(m_streamId);
            queue_tick(false, false);
            return;
        }
    }
    if (m_currentPos <= 0) {
        zlog(kName + QStringLiteral("prev :: no previous file available (start of list reached)"));
        end_reading();
        return;
    }
    for (int p = m_currentPos - 1; p >= 0; --p) {
        const QFileInfo f = m_files.at(p);
        const ZQSeekLoad load = load_for_switch(f, QStringLiteral("prev"));
        if (load.frames.isEmpty())
            continue;
        take_file(p, f, load.frames, load.info.streams);
        m_index = int(m_frames.size()) - 1;
        zlog(kName + QStringLiteral("prev :: switched to previous file (sync): ") + f.fileName()
             + QStringLiteral(" (stream=") + m_streamId + QStringLiteral(")"));
        reset_backward_prefetch();
        triggerPrefetchPrev(m_streamId);
        queue_tick(false, false);
        return;
    }
    zlog(QStringLiteral("[WARN] ZQStream read & control :: prev :: no usable previous file found (sync fallback failed)"));
    end_reading();
}

bool ZQStreamReadAndControl::continue_read(const QString& path, const QString& streamId, bool start,
                                           const QString& direction)
{
    zlog(kName + QStringLiteral("continue read :: filename ") + path);
    m_paused = false;
    const SeekCompanions c = seek_index_companions(path);
    if (c.kind == QLatin1String("audio")) {
        zlog(QStringLiteral("[INFO] Zqplayer Canvas :: continue decoding :: audio only"));
        init_audio_and_start(QFileInfo(c.seekPath));
        return true;
    }
    if (streamId != m_streamId) {
        zlog(QStringLiteral("[ERROR] ZQStream read & control :: continue read :: idstream not match"));
        return false;
    }
    const QFileInfo seek(c.valid() ? c.seekPath : path);
    init_audio_and_start(seek);
    ++m_generation;

    m_currentFile = seek;
    const int pos = locate(seek);
    if (pos >= 0) {
        zlog(kName + QStringLiteral("continue read :: seek ready :: ") + seek.filePath());
        m_currentFile = m_files.at(pos);
        m_currentPos = pos;
        read_seek_file(m_files, m_streamId);
    } else {
        zlog(kName + QStringLiteral("continue read :: seek not ready :: ") + seek.filePath());
        reset_prefetch(m_backward);
        read_seek_file(QList<QFileInfo>{seek}, m_streamId);
        if (m_frames.isEmpty()) {
            zlog(QStringLiteral("[ERROR] ZQStream read & control :: continue read :: frame list is empty"));
            return false;
        }
    }
    zlog(kName + QStringLiteral("continue read :: frame List size :: ") + QString::number(m_frames.size())
         + QStringLiteral(" / ") + direction);
    if (direction.contains(QLatin1String("next"))) {
        m_index = 0;
        if (start)
            read_forward();
    } else {
        m_index = int(m_frames.size()) - 1;
        if (start)
            read_backward();
    }
    return true;
}
