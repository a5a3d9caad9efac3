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
            // The probe showed nothing: a step from here shows the recording's first picture.
            m_lastReadIndex = -1;
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
        offer_streams(load.info.streams, load.info.unlistedLines);
    return load.frames;
}

QList<ZQFrame> ZQStreamReadAndControl::read_seek_file(const QList<QFileInfo>& files, const QString& streamId)
{
    m_frames.clear();
    jumped();
    m_files = files;
    m_currentPos = locate(m_currentFile);
    take_load(load_recording(m_currentFile, m_currentPos, streamId));
    return m_frames;
}

ZQStreamReadAndControl::Loaded ZQStreamReadAndControl::load_recording(const QFileInfo& file, int pos,
                                                                      const QString& streamId)
{
    Loaded load;
    load.stream = streamId;
    auto keep = [&load](const QList<ZQFrame>& parsed) {
        for (const ZQFrame& f : parsed)
            if (f.get_in_range() == 1 && f.get_stream() == load.stream)
                load.frames.append(f);
    };

    // The file being loaded is already being parsed ahead: take that parse.
    if (m_forward.active && !m_forward.future.isFinished() && pos >= 0 && m_forward.targetPos == pos
        && m_forward.stream == streamId) {
        m_forward.future.waitForFinished();
        m_prefetchedFrames = result_of(m_forward).frames;
        keep(m_prefetchedFrames);
        if (!load.frames.isEmpty()) {
            m_forward.active = false;
            m_forward.future = QFuture<ZQSeekLoad>();
            load.prefetched = true;
            return load;
        }
    }

    ZQSeekLoad parsed = zq_load_seek_index(file.absoluteFilePath(), load.stream, m_cameras, nullptr);
    load.parses << parsed.info;
    if (parsed.frames.isEmpty() && !parsed.info.detectedStream.isEmpty()) {
        load.stream = parsed.info.detectedStream;
        parsed = zq_load_seek_index(file.absoluteFilePath(), load.stream, m_cameras, nullptr);
        load.parses << parsed.info;
    }
    keep(parsed.frames);
    return load;
}

void ZQStreamReadAndControl::take_load(const Loaded& load)
{
    m_frames = load.frames;
    if (load.prefetched) {
        take_frame_rate();
        return;
    }
    // The streams each parse named, then the one played.
    for (qsizetype i = 0; i < load.parses.size(); ++i) {
        if (i == 1) {
            m_streamId = load.stream;
            zlog(kName + QStringLiteral("ID STREAM NOT FOUND, set to ") + load.stream);
        }
        if (load.parses.at(i).opened)
            offer_streams(load.parses.at(i).streams, load.parses.at(i).unlistedLines);
    }
    offer_streams(QStringList{load.stream});
    reset_forward_prefetch();
    triggerPrefetch(load.stream);

    if (m_frames.isEmpty()) {
        zlog(QStringLiteral("[ERROR] ZQStream read & control :: Read Seek File :: no frame found"));
        emit error(-10);
    } else {
        take_frame_rate();
    }
}

void ZQStreamReadAndControl::take_frame_rate()
{
    m_fps = get_fps();
    m_speed = m_rateAsked == -1.0 ? -5.0 : m_rateAsked * m_fps;
    m_backwardInterval = qRound(period_for(m_rate, m_fps));
}

double ZQStreamReadAndControl::get_fps()
{
    if (m_frames.isEmpty())
        return m_fps;
    // The typical spacing of the entries: counting changes of second would
    // give 50 for a two-second recording of 25 frames per second, and frames
    // over the time they span would slow a recording with an outage inside.
    double fps = seek_index_frame_rate(m_frames);
    if (fps <= 0.0)
        fps = std::numeric_limits<double>::infinity();
    zlog(kName + QStringLiteral(" get FPS :: ") + QString::number(fps, 'f', 2));
    return fps;
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

// ---------------------------------------------------------------- pacing

// ---------------------------------------------------------------- single steps

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
    anchor_content_clock();
    if (index >= 0 && index < m_frames.size()) {
        if (m_frames.at(index).keyframe_contains_one())
            read_frame(false, index, m_streamId);
        emit setTime(frame_time(m_frames.at(index)));
    }
}

// ---------------------------------------------------------------- files and prefetch

bool ZQStreamReadAndControl::continue_read(const QString& path, const QString& streamId, bool start,
                                           const QString& direction)
{
    zlog(kName + QStringLiteral("continue read :: filename ") + path);
    const bool paused = m_paused;
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
    const int pos = locate(seek);
    zlog(kName
         + (pos >= 0 ? QStringLiteral("continue read :: seek ready :: ")
                     : QStringLiteral("continue read :: seek not ready :: "))
         + seek.filePath());
    // Loaded before anything changes: a recording whose seek index yields no entry is a time
    // without recordings, and the reader goes on with what it was doing (or stays paused).
    const Loaded load = load_recording(pos >= 0 ? m_files.at(pos) : seek, pos, m_streamId);
    if (load.frames.isEmpty()) {
        zlog(QStringLiteral("[ERROR] ZQStream read & control :: continue read :: frame list is empty"));
        emit error(-10);
        m_paused = paused;
        return false;
    }
    init_audio_and_start(seek);
    ++m_generation;
    if (pos >= 0) {
        m_currentFile = m_files.at(pos);
        m_currentPos = pos;
    } else {
        // Played alone: the next switch finds no following file.
        reset_prefetch(m_backward);
        m_currentFile = seek;
        m_files = QList<QFileInfo>{seek};
        m_currentPos = 0;
    }
    m_frames.clear();
    jumped();
    take_load(load);
    zlog(kName + QStringLiteral("continue read :: frame List size :: ") + QString::number(m_frames.size())
         + QStringLiteral(" / ") + direction);
    // As at a switch: nothing of this recording has been shown yet, and a step starts at the end
    // reading enters it by.
    if (direction.contains(QLatin1String("next"))) {
        m_index = 0;
        m_lastReadIndex = -1;
        if (start)
            read_forward();
    } else {
        m_index = int(m_frames.size()) - 1;
        m_lastReadIndex = int(m_frames.size());
        if (start)
            read_backward();
    }
    anchor_content_clock();
    return true;
}
