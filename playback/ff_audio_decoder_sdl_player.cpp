#include "playback/ff_audio_decoder_sdl_player.h"

#include "app/monotonic_clock.h"
#include "app/zq_log.h"
#include "playback/audio_decode_resample.h"
#include "recordings/seek_index.h"
#include "recordings/time_text.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <SDL2/SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

namespace {

const QString kName = QStringLiteral("[INFO] Audio Streamdecoder :: ");
const QString kError = QStringLiteral("[ERROR] Audio Streamdecoder :: ");
const QString kWarn = QStringLiteral("[WARN] Audio Streamdecoder :: ");

constexpr qint64 kDayMs = 86400000;
constexpr int kIoBufferSize = 4096;
constexpr qint64 kStallMs = 10000;
constexpr qint64 kMaxQueueMs = 2000;
constexpr qint64 kLiveQueueCap = 4 << 20;

// SDL's audio subsystem is initialised and quit in pairs, one caller at a time.
std::mutex g_sdl_mutex;

struct SdlAudioUse {
    bool ok = false;
    SdlAudioUse()
    {
        std::lock_guard<std::mutex> lock(g_sdl_mutex);
        ok = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
        if (!ok)
            ZQLog::log(kError + QStringLiteral("SDL audio init :: ") + QString::fromUtf8(SDL_GetError()));
    }
    ~SdlAudioUse()
    {
        if (!ok)
            return;
        std::lock_guard<std::mutex> lock(g_sdl_mutex);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
};

} // namespace

// ---------------------------------------------------------------------------
// Pure helpers

bool Http_header_parser::parse(const QByteArray& header)
{
    m_content_type.clear();
    m_multipart = false;
    if (header.size() > max_header_bytes)
        return false;
    QString type;
    bool multipart = false;
    const QList<QByteArray> lines = header.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty()) {
            if (i == 0)
                continue; // the line end that closed the previous part
            break;        // end of the header
        }
        for (char c : line)
            if ((uchar(c) < 0x20 && c != '\t') || c == 0x7f)
                return false;
        if (line.startsWith("--") && !line.contains(':')) {
            multipart = true; // the boundary line
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return false;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-type") {
            const QByteArray bare = value.split(';').first().trimmed().toLower();
            // A media type is one token of visible ASCII: blanks, tabs or other bytes make it malformed.
            for (char c : bare)
                if (uchar(c) <= 0x20 || uchar(c) >= 0x7f)
                    return false;
            type = QString::fromLatin1(bare);
            if (bare.startsWith("multipart/"))
                multipart = true;
        }
    }
    m_content_type = type;
    m_multipart = multipart;
    return true;
}

qint64 ff_audio_decoder_sdl_player::timestamp_ms(const QString& text)
{
    QDate date;
    qint64 ms = 0;
    if (!TimeText::parse_yyyymmddhhmmsszzz(text, &date, &ms))
        return -1;
    return date.toJulianDay() * kDayMs + ms;
}

QString ff_audio_decoder_sdl_player::bandwidth_text(qint64 value)
{
    QString unit;
    if (value < 1024) {
        unit = tr("bytes");
    } else if (value >= 1048576) {
        value /= 1048576;
        unit = tr("MB");
    } else {
        value /= 1024;
        unit = tr("kB");
    }
    return QStringLiteral("%1 %2/s").arg(QString::number(value), unit);
}

ff_audio_decoder_sdl_player::SyncStep ff_audio_decoder_sdl_player::sync_decision(qint64 d, bool gap, bool* hold)
{
    // At a gap in the recording, the sound waits for the picture to reach it.
    if (gap && d < -1000)
        return SyncStep::Wait;
    if (*hold) {
        if (d > -500 && d < 500) {
            *hold = false;
            return SyncStep::Play;
        }
        if (d > 3000) { // the picture jumped past the held sound
            *hold = false;
            return SyncStep::Jump;
        }
        return SyncStep::Hold;
    }
    if (d < -3000) {
        *hold = true;
        return SyncStep::Hold;
    }
    if (d <= 3000)
        return SyncStep::Play;
    return SyncStep::Jump;
}

int ff_audio_decoder_sdl_player::entry_for_time(const QList<ZQFrame>& entries, qint64 ms)
{
    const int n = int(entries.size());
    if (n == 0 || ms < 0)
        return n == 0 ? -1 : 0;
    std::vector<qint64> t(size_t(n), -1);
    for (int i = 0; i < n; ++i)
        t[size_t(i)] = timestamp_ms(entries[i].get_timestamp());
    // Typical entry length: the median spacing; a spacing well beyond it is a gap.
    std::vector<qint64> spacing;
    for (int i = 1; i < n; ++i)
        if (t[size_t(i)] >= 0 && t[size_t(i - 1)] >= 0 && t[size_t(i)] > t[size_t(i - 1)])
            spacing.push_back(t[size_t(i)] - t[size_t(i - 1)]);
    qint64 typical = 1000;
    if (!spacing.empty()) {
        std::nth_element(spacing.begin(), spacing.begin() + spacing.size() / 2, spacing.end());
        typical = spacing[spacing.size() / 2];
    }
    const qint64 cap = std::max<qint64>(1000, 2 * typical);
    for (int i = 0; i < n; ++i) {
        if (t[size_t(i)] < 0)
            continue;
        if (ms < t[size_t(i)])
            return i; // before it: in a gap or before the first
        qint64 next = -1;
        for (int j = i + 1; j < n && next < 0; ++j)
            next = t[size_t(j)];
        const qint64 end = next >= 0 ? std::min(next, t[size_t(i)] + cap) : t[size_t(i)] + std::min(typical, cap);
        if (ms < end)
            return i;
    }
    return -1;
}

// ---------------------------------------------------------------------------

ff_audio_decoder_sdl_player::ff_audio_decoder_sdl_player(const QString& zqaudioFile, QObject* parent)
    : ff_audio_decoder_sdl_player(zqaudioFile, false, parent)
{
}

ff_audio_decoder_sdl_player::ff_audio_decoder_sdl_player(const QString& location, bool live, QObject* parent)
    : QThread(parent), m_live(live)
{
    if (live) {
        m_stream_location = location;
    } else if (!location.isEmpty()) {
        m_requested_file = location;
        m_file_request = true;
    }
}

ff_audio_decoder_sdl_player* ff_audio_decoder_sdl_player::for_stream(const QString& streamLocation, QObject* parent)
{
    return new ff_audio_decoder_sdl_player(streamLocation, true, parent);
}

ff_audio_decoder_sdl_player::~ff_audio_decoder_sdl_player()
{
    m_stop = true;
    {
        QMutexLocker lock(&m_mutex);
        m_wake.wakeAll();
    }
    wait();
}

void ff_audio_decoder_sdl_player::begin_stream()
{
    // Every five seconds the bandwidth line and the buffer level, while the thread plays.
    if (!m_bandwidth_timer) {
        m_bandwidth_timer = new QTimer(this);
        m_bandwidth_timer->setInterval(int(bandwidth_period_ms));
        connect(m_bandwidth_timer, &QTimer::timeout, this, &ff_audio_decoder_sdl_player::calculate_bandwidth);
        connect(this, &QThread::finished, this, &ff_audio_decoder_sdl_player::stop_and_delete_timer,
                Qt::UniqueConnection);
    }
    m_byte_counter = 0;
    m_counting = true;
    m_bandwidth_timer->start();
    start(QThread::InheritPriority);
}

void ff_audio_decoder_sdl_player::stop_stream()
{
    emit stop_timer();
    emit send_message(QStringLiteral("WHITE"), QStringLiteral("Audio stream closing."));
    m_stop = true;
    QMutexLocker lock(&m_mutex);
    m_wake.wakeAll();
}

void ff_audio_decoder_sdl_player::change_zqaudio_file(const QString& path)
{
    ZQLog::log(kName + QStringLiteral("change zqaudio file :: ") + path);
    QMutexLocker lock(&m_mutex);
    m_requested_file = path;
    m_file_request = true;
    m_following = true;
    m_wake.wakeAll();
}

void ff_audio_decoder_sdl_player::get_video_frame_timestamp(QString timestamp)
{
    // Kept while not following too: following again starts from the picture's time.
    const qint64 ms = timestamp_ms(timestamp);
    if (ms >= 0)
        m_video_ms = ms;
}

void ff_audio_decoder_sdl_player::set_new_timestamp(const QString& audioTimestamp, const QString& videoTimestamp)
{
    ZQLog::log(kName + QStringLiteral("set audio timestamp :: ") + audioTimestamp +
               QStringLiteral(" :: video timestamp :: ") + videoTimestamp);
    const qint64 audio = timestamp_ms(audioTimestamp);
    const qint64 video = timestamp_ms(videoTimestamp);
    const qint64 target = audio >= 0 ? audio : video;
    if (target < 0)
        return;
    m_video_ms = target;
    QMutexLocker lock(&m_mutex);
    m_jump_target = target;
    m_reposition = true;
    m_wake.wakeAll();
}

void ff_audio_decoder_sdl_player::set_stop_framereader_timer()
{
    ZQLog::log(kName + QStringLiteral("stop frame reader"));
    m_following = false;
    QMutexLocker lock(&m_mutex);
    m_wake.wakeAll();
}

void ff_audio_decoder_sdl_player::set_start_framereader_timer()
{
    if (m_following)
        return;
    ZQLog::log(kName + QStringLiteral("set_start_framereader_timer :: audio_framerate->start @ 1036"));
    QMutexLocker lock(&m_mutex);
    m_following = true;
    m_reposition = true; // the picture moved on while the sound was silent
    m_wake.wakeAll();
}

void ff_audio_decoder_sdl_player::calculate_bandwidth()
{
    m_counting = false;
    // The bytes of the last five seconds, per second, times eight.
    const qint64 value = (m_byte_counter.exchange(0) / (bandwidth_period_ms / 1000)) * 8;
    emit send_message(QStringLiteral("GREEN"), QStringLiteral("Audio playing : ") + bandwidth_text(value));
    // The device's buffer: two channels, level 0 = the seconds of sound queued.
    emit send_buffer_level(AudioDecodeResample::out_channels, 0, double(m_queued_now_ms.load()) / 1000.0);
    m_counting = true;
}

void ff_audio_decoder_sdl_player::stop_and_delete_timer()
{
    ZQLog::log(kName + QStringLiteral("stop_and_delete_timer"));
    if (m_bandwidth_timer) {
        m_bandwidth_timer->stop();
        delete m_bandwidth_timer;
        m_bandwidth_timer = nullptr;
    }
}

void ff_audio_decoder_sdl_player::read_next_audio_frame()
{
    // Entries are paced by the device queue on the player thread; a tick only wakes it.
    QMutexLocker lock(&m_mutex);
    m_wake.wakeAll();
}

void ff_audio_decoder_sdl_player::read_stream(char* buffer_curl, int array_size)
{
    m_counting = true;
    if (!buffer_curl) {
        ZQLog::log(QStringLiteral("[ERROR] Audio Streamdecode :: get stream :: buffer curl is null"));
        return;
    }
    if (array_size <= 0)
        return;
    m_byte_counter += array_size;
    // Only the parts of the server's multipart stream carry sound we know;
    // anything else opens nothing.
    if (!m_part_header.is_multipart()) {
        if (!m_live_not_multipart.exchange(true))
            ZQLog::log(kWarn + QStringLiteral("read stream :: part is not multipart, not played"));
        return;
    }
    const QString type = m_part_header.get_content_type();
    if (type != QLatin1String("audio/aac") && type != QLatin1String("audio/mpeg")) {
        QMutexLocker lock(&m_mutex);
        if (m_live_refused)
            return;
        m_live_refused = true;
        lock.unlock();
        ZQLog::log(kName + QStringLiteral("DO MULTIPART STREAMING + ") + m_stream_location);
        m_stop = true;
        emit send_message(QStringLiteral("RED"), QStringLiteral("Audio stream error : Format too old."));
        emit stop_timer();
        return;
    }
    QMutexLocker lock(&m_mutex);
    // Bounded: the receiving thread waits while the player is behind.
    while (m_live_bytes + array_size > kLiveQueueCap && !m_stop)
        m_wake.wait(&m_mutex, 100);
    if (m_stop)
        return;
    m_live_parts.emplace_back(buffer_curl, array_size);
    m_live_bytes += array_size;
    m_wake.wakeAll();
}

// ---------------------------------------------------------------------------
// Player thread

void ff_audio_decoder_sdl_player::update_heard()
{
    const qint64 queued = queued_ms();
    m_queued_now_ms = queued;
    if (!m_device || m_device_paused || queued <= 0 || m_queued_end_ms < 0)
        m_heard_ms = -1; // nothing is playing
    else
        m_heard_ms = m_queued_end_ms - queued;
}

void ff_audio_decoder_sdl_player::wait_ms(int ms)
{
    update_heard();
    QMutexLocker lock(&m_mutex);
    if (!m_stop && !m_file_request && !m_reposition)
        m_wake.wait(&m_mutex, ms);
}

void ff_audio_decoder_sdl_player::report_error(const QString& logLine, const QString& text)
{
    ZQLog::log(logLine);
    emit send_message(QStringLiteral("RED"), text);
    emit stop_timer();
}

void ff_audio_decoder_sdl_player::run()
{
    SdlAudioUse sdl;
    if (!sdl.ok) {
        report_error(kError + QStringLiteral("Open device :: ") + QString::fromUtf8(SDL_GetError()),
                     QStringLiteral("Audio stream error :  Open device"));
    } else {
        m_packet = av_packet_alloc();
        if (m_live)
            live_loop();
        else
            file_loop();
        close_input();
        av_packet_free(&m_packet);
        close_device();
    }
    m_playing = false;
    emit stopped();
}

bool ff_audio_decoder_sdl_player::load_index(const QString& path)
{
    m_audio_file = path;
    SeekIndexOptions o;
    o.stream = QStringLiteral("1");
    o.deriveCodecName = false;
    SeekIndexResult r;
    m_entries = parse_seek_index(path, o, &r);
    if (m_entries.isEmpty() && !r.detectedStream.isEmpty()) {
        o.stream = r.detectedStream;
        m_entries = parse_seek_index(path, o, &r);
    }
    if (r.kind != QLatin1String("audio"))
        m_entries.clear();
    m_data.reset();
    ZQLog::log(kName + QStringLiteral("file ready :: ") + QString::number(m_entries.size()) +
               QStringLiteral(" entries"));
    return !m_entries.isEmpty();
}

// Takes the owner's requests; true when the current input must be closed.
bool ff_audio_decoder_sdl_player::take_requests()
{
    QMutexLocker lock(&m_mutex);
    bool reopen = false;
    if (m_file_request) {
        const QString path = m_requested_file;
        m_file_request = false;
        lock.unlock();
        load_index(path);
        lock.relock();
        reopen = true;
        m_file_done = false;
        m_finished_sent = false;
        m_device_lost = false; // a lost device is tried again at each hand-over
    }
    if (m_reposition) {
        m_reposition = false;
        reopen = true;
        m_file_done = false;
        m_finished_sent = false;
        m_drop_before_ms = -1;
        lock.unlock();
        silence();
    }
    return reopen;
}

void ff_audio_decoder_sdl_player::silence()
{
    if (!m_device)
        return;
    SDL_PauseAudioDevice(m_device, 1);
    SDL_ClearQueuedAudio(m_device);
    m_device_paused = true;
    m_queued_end_ms = -1;
    m_heard_ms = -1;
}

void ff_audio_decoder_sdl_player::file_loop()
{
    bool was_following = true;
    while (!m_stop) {
        if (take_requests())
            close_input();
        const bool following = m_following;
        if (!following) {
            if (was_following) {
                silence();
                close_input();
            }
            was_following = false;
            wait_ms(100);
            continue;
        }
        was_following = true;
        if (m_entries.isEmpty() || m_file_done || m_device_lost) {
            wait_ms(100);
            continue;
        }
        if (!m_format) {
            qint64 target;
            {
                QMutexLocker lock(&m_mutex);
                target = m_jump_target >= 0 ? m_jump_target : m_video_ms.load();
                m_jump_target = -1;
            }
            if (target < 0) { // no picture shown yet
                wait_ms(100);
                continue;
            }
            const int index = entry_for_time(m_entries, target);
            ZQLog::log(kName + QStringLiteral("read audio at timestamp ") +
                       (index >= 0 ? m_entries[index].get_timestamp() : QStringLiteral("-")));
            if (index < 0) {
                m_file_done = true;
                if (!m_finished_sent) {
                    m_finished_sent = true;
                    emit send_parsing_finished();
                }
                continue;
            }
            m_feed_index = index;
            m_drop_before_ms = target;
            m_hold = false;
            if (open_audio_input(false)) {
                close_input();
                m_file_done = true; // reported once; the next file or jump tries again
            }
            continue;
        }
        if (!decode_and_play_data(false)) {
            // End of the entries (or a reposition/jump asked for): the input is done.
            close_input();
        }
    }
    silence();
}

void ff_audio_decoder_sdl_player::live_loop()
{
    while (!m_stop) {
        {
            QMutexLocker lock(&m_mutex);
            if (m_live_parts.empty() && !m_stop) {
                m_wake.wait(&m_mutex, 100);
                continue;
            }
        }
        // The received parts are what plays: open once, play until the input ends or stalls.
        if (open_audio_input(true) || !m_format)
            break;
        while (!m_stop && decode_and_play_data(true)) {
        }
        break;
    }
    silence();
}

bool ff_audio_decoder_sdl_player::open_device(int rate)
{
    if (m_device && m_device_rate == rate)
        return true;
    close_device();
    ZQLog::log(kName + QStringLiteral("List audio devices"));
    const int count = SDL_GetNumAudioDevices(0);
    for (int i = 0; i < count; ++i) {
        const char* name = SDL_GetAudioDeviceName(i, 0);
        ZQLog::log(kName + QStringLiteral("Audio device ") + QString::number(i) + QStringLiteral(" : ") +
                   QString::fromUtf8(name ? name : ""));
    }
    SDL_AudioSpec want;
    std::memset(&want, 0, sizeof want);
    want.freq = rate;
    want.format = AUDIO_S16LSB;
    want.channels = 2;
    want.samples = 1024;
    want.callback = nullptr; // queued audio: no SDL thread runs our code
    SDL_AudioSpec have;
    m_device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (!m_device) {
        report_error(kError + QStringLiteral("Open device :: ") + QString::fromUtf8(SDL_GetError()),
                     QStringLiteral("Audio stream error :  Open device"));
        return false;
    }
    m_device_rate = rate;
    m_device_paused = true;
    ZQLog::log(kName + QStringLiteral("Device open :: ") + QString::number(m_device));
    return true;
}

void ff_audio_decoder_sdl_player::close_device()
{
    if (!m_device)
        return;
    SDL_CloseAudioDevice(m_device);
    m_device = 0;
    m_device_rate = 0;
    m_queued_end_ms = -1;
    m_heard_ms = -1;
}

void ff_audio_decoder_sdl_player::close_input()
{
    m_packet_pending = false;
    if (m_packet)
        av_packet_unref(m_packet);
    m_decoder.reset();
    if (m_format)
        avformat_close_input(&m_format); // frees the context; our I/O context stays ours
    if (m_io) {
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
    m_input.clear();
    m_input_at = 0;
    m_fed.clear();
    m_fed_bytes = 0;
    m_current_entry = -1;
    m_clock_ms = -1;
}

// Appends the next valid entry of the file to the input; false at the end.
bool ff_audio_decoder_sdl_player::feed_entry()
{
    if (!m_data) {
        const QString data = seek_index_companions(m_audio_file).dataFile;
        m_data = std::make_unique<QFile>(data);
        if (!m_data->open(QIODevice::ReadOnly)) {
            ZQLog::log(kWarn + QStringLiteral("read frame :: Error Opening Audio File ") + data);
            m_feed_index = int(m_entries.size());
            m_data.reset();
            return false;
        }
    }
    while (m_feed_index < m_entries.size()) {
        const int i = m_feed_index++;
        const ZQFrame& e = m_entries[i];
        const qint64 fileSize = m_data->size();
        const qint64 size = e.get_size();
        const qint64 offset = e.get_offset();
        if (size <= 0 || size > max_entry_bytes || offset < 0 || offset + size > fileSize) {
            ZQLog::log(kWarn + QStringLiteral("read frame :: entry ") + QString::number(i) +
                       QStringLiteral(" skipped :: offset ") + QString::number(offset) + QStringLiteral(" size ") +
                       QString::number(size) + QStringLiteral(" file size ") + QString::number(fileSize));
            continue;
        }
        QByteArray bytes;
        if (!m_data->seek(offset) || (bytes = m_data->read(size)).size() != size) {
            ZQLog::log(kWarn + QStringLiteral("read frame :: entry ") + QString::number(i) +
                       QStringLiteral(" could not be read"));
            continue;
        }
        if (m_input_at > 0) {
            m_input.remove(0, m_input_at);
            m_input_at = 0;
        }
        Fed f;
        f.pos = m_fed_bytes;
        f.time = timestamp_ms(e.get_timestamp());
        f.index = i;
        m_fed.push_back(f);
        while (m_fed.size() > 256)
            m_fed.pop_front();
        m_fed_bytes += size;
        m_input += bytes;
        return true;
    }
    return false;
}

int ff_audio_decoder_sdl_player::read_input(uint8_t* buf, int size)
{
    m_last_activity_ms = zq::monotonic_ms();
    if (!m_live) {
        while (m_input_at >= m_input.size()) {
            if (m_stop)
                return AVERROR_EXIT;
            if (!feed_entry())
                return AVERROR_EOF;
        }
    } else {
        QMutexLocker lock(&m_mutex);
        while (m_input_at >= m_input.size()) {
            if (m_stop)
                return AVERROR_EXIT;
            if (!m_live_parts.empty()) {
                m_input = std::move(m_live_parts.front());
                m_input_at = 0;
                m_live_parts.pop_front();
                m_live_bytes -= m_input.size();
                m_wake.wakeAll();
                break;
            }
            if (zq::monotonic_ms() - m_last_activity_ms >= kStallMs) {
                ZQLog::log(kName + QStringLiteral("timeout read frame ") +
                           QString::number(zq::monotonic_ms() - m_last_activity_ms));
                m_timed_out = true;
                return AVERROR_EXIT;
            }
            m_wake.wait(&m_mutex, 100);
        }
        m_last_activity_ms = zq::monotonic_ms();
    }
    const int n = int(std::min<qsizetype>(size, m_input.size() - m_input_at));
    std::memcpy(buf, m_input.constData() + m_input_at, size_t(n));
    m_input_at += n;
    return n;
}

int ff_audio_decoder_sdl_player::read_callback(void* opaque, uint8_t* buf, int size)
{
    return static_cast<ff_audio_decoder_sdl_player*>(opaque)->read_input(buf, size);
}

int64_t ff_audio_decoder_sdl_player::seek_callback(void*, int64_t, int)
{
    // The input is a queue of bytes: neither its size nor a position can be had.
    return AVERROR(ENOSYS);
}

int ff_audio_decoder_sdl_player::interrupt_callback(void* opaque)
{
    auto* self = static_cast<ff_audio_decoder_sdl_player*>(opaque);
    if (self->m_stop)
        return 1;
    if (self->m_live && zq::monotonic_ms() - self->m_last_activity_ms >= kStallMs) {
        self->m_timed_out = true;
        return 1;
    }
    return 0;
}

bool ff_audio_decoder_sdl_player::open_audio_input(bool mpegOutput)
{
    const QString name = m_live ? m_stream_location : QStringLiteral("STREAM");
    ZQLog::log(kName + QStringLiteral("DO DIRECT STREAMING ::  ") + name);
    m_last_activity_ms = zq::monotonic_ms();
    m_timed_out = false;

    AVDictionary* options = nullptr;
    // No "nobuffer": it throws away the packets read while probing, which
    // are the first seconds of sound.
    av_dict_set(&options, "flags", "low_delay", 0);
    av_dict_set(&options, "analyzeduration", "0", 0);
    av_dict_set(&options, "flush_packets", "1", 0);
    av_dict_set(&options, "probesize", "10000", 0);
    m_format = avformat_alloc_context();
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize + 64));
    if (m_format && buffer)
        m_io = avio_alloc_context(buffer, kIoBufferSize, 0, this, &read_callback, nullptr, &seek_callback);
    if (!m_format || !m_io) {
        av_free(buffer);
        av_dict_free(&options);
        report_error(kName + QStringLiteral("avio_alloc_context() failed."),
                     QStringLiteral("Audio stream error : Could not open stream."));
        return true;
    }
    m_io->seekable = 0;
    m_format->pb = m_io;
    m_format->flags |= AVFMT_FLAG_CUSTOM_IO;
    m_format->interrupt_callback.callback = &interrupt_callback;
    m_format->interrupt_callback.opaque = this;

    ZQLog::log(kName + QStringLiteral("open input ") + name);
    int err = avformat_open_input(&m_format, nullptr, nullptr, &options);
    av_dict_free(&options);
    if (err < 0) {
        // avformat_open_input freed the context on failure.
        report_error(kError + QStringLiteral("Could not open ") + name + QStringLiteral(" // error ") +
                         QString::number(err),
                     QStringLiteral("Audio stream error : Could not open stream."));
        return true;
    }
    ZQLog::log(kName + QStringLiteral("find stream info"));
    if (avformat_find_stream_info(m_format, nullptr) < 0) {
        report_error(kError + QStringLiteral("Could not retrieve stream info from ") + name,
                     QStringLiteral("Audio stream error : Could not retrieve stream info."));
        return true;
    }
    ZQLog::log(kName + QStringLiteral("streams ") + QString::number(m_format->nb_streams));
    const int index = av_find_best_stream(m_format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    ZQLog::log(kName + QStringLiteral("stream index ") + QString::number(std::max(index, -1)));
    if (index < 0) {
        report_error(kError + QStringLiteral("Could not retrieve audio stream from ") + name,
                     QStringLiteral("Audio stream error : Could not retrieve audio stream."));
        return true;
    }
    const AVCodecParameters* par = m_format->streams[index]->codecpar;
    // The stream's rate (8000 Hz when it names none) for the live MPEG/AAC parts, 48000 Hz otherwise.
    const int inRate = par->sample_rate > 0 ? par->sample_rate : 8000;
    const int inChannels = par->ch_layout.nb_channels > 0 ? par->ch_layout.nb_channels : 1;
    if (mpegOutput)
        ZQLog::log(kName + QStringLiteral("Define specific out formats for MPEG"));
    const int outRate = mpegOutput ? inRate : 48000;
    m_decoder = std::make_unique<AudioDecodeResample>(std::min(outRate, AudioDecodeResample::max_sample_rate));
    QString why;
    if (!m_decoder->open(par, &why)) {
        using F = AudioDecodeResample::OpenFailure;
        switch (m_decoder->failure()) {
        case F::NoCodec:
            report_error(kError + QStringLiteral("Failed to open codec id ") + QString::number(int(par->codec_id)),
                         QStringLiteral("Audio stream error : Failed to open codec."));
            break;
        case F::NoContext:
            report_error(kError + QStringLiteral("Failed to allocate context in ") + name,
                         QStringLiteral("Audio stream error : Failed to allocate context."));
            break;
        case F::NoParameters:
            report_error(kError + QStringLiteral("Failed to set parameters in ") + name,
                         QStringLiteral("Audio stream error : Failed to to set parameters."));
            break;
        case F::NoDecodeFrame:
            report_error(kError + QStringLiteral("Error allocating the decode frame"),
                         QStringLiteral("Audio stream error :  Error allocating the decode frame."));
            break;
        case F::NoTranscodeFrame:
            report_error(kError + QStringLiteral("Error allocating the transcode frame"),
                         QStringLiteral("Audio stream error :  Error allocating the transcode frame."));
            break;
        case F::NoResampler:
            report_error(kError + QStringLiteral("ERROR OPEN RESAMPLE"),
                         QStringLiteral("Audio stream error :  Error open resampler."));
            break;
        case F::None:
        case F::Refused:
        case F::NoDecoder:
            report_error(kError + QStringLiteral("Failed to open decoder for stream ") + QString::number(index) +
                             QStringLiteral(" in ") + name + QStringLiteral(" :: ") + why,
                         QStringLiteral("Audio stream error : Failed to open decoder for stream."));
            break;
        }
        return true;
    }
    char layoutName[128] = {};
    AVChannelLayout inLayout;
    av_channel_layout_default(&inLayout, inChannels);
    av_channel_layout_describe(&inLayout, layoutName, sizeof layoutName);
    av_channel_layout_uninit(&inLayout);
    ZQLog::log(kName + QStringLiteral("in_channel_layout ") + QString::fromLatin1(layoutName));
    ZQLog::log(kName + QStringLiteral("in sample rate ") + QString::number(inRate));
    ZQLog::log(kName + QStringLiteral("in_channels ") + QString::number(inChannels));
    if (!m_device_lost && !open_device(m_decoder->out_rate()))
        return true;
    if (m_device_lost)
        return true;
    m_last_activity_ms = zq::monotonic_ms();
    if (!m_live)
        ZQLog::log(kName + QStringLiteral("Init done. Flush audio data"));
    m_playing = true;
    return false;
}

qint64 ff_audio_decoder_sdl_player::queued_ms() const
{
    if (!m_device || m_device_rate <= 0)
        return 0;
    return qint64(SDL_GetQueuedAudioSize(m_device)) * 1000 / (qint64(m_device_rate) * 4);
}

void ff_audio_decoder_sdl_player::mix_onto_itself(QByteArray& pcm)
{
    if (pcm.isEmpty())
        return;
    // Mixed onto itself at full volume: twice the decoded level, clipped at full scale.
    auto* samples = reinterpret_cast<Uint8*>(pcm.data());
    SDL_MixAudioFormat(samples, samples, AUDIO_S16LSB, Uint32(pcm.size()), SDL_MIX_MAXVOLUME);
}

bool ff_audio_decoder_sdl_player::queue_samples(QByteArray pcm, qint64 startMs)
{
    if (pcm.isEmpty())
        return true;
    const qint64 rate = m_decoder->out_rate();
    qsizetype skip = 0;
    // A start or a jump drops the sound before the picture's time.
    if (m_drop_before_ms >= 0 && startMs < m_drop_before_ms) {
        skip = qsizetype((m_drop_before_ms - startMs) * rate / 1000) * AudioDecodeResample::bytes_per_sample;
        if (skip >= pcm.size())
            return true;
    }
    m_drop_before_ms = -1;
    mix_onto_itself(pcm);
    if (SDL_QueueAudio(m_device, pcm.constData() + skip, Uint32(pcm.size() - skip)) != 0) {
        ZQLog::log(kError + QStringLiteral("decode and play data :: SDL_QueueAudio ") + QString::fromUtf8(SDL_GetError()));
        std::printf(" %s\n", SDL_GetError());
        return false;
    }
    if (m_device_paused) {
        SDL_PauseAudioDevice(m_device, 0);
        m_device_paused = false;
    }
    if (SDL_GetAudioDeviceStatus(m_device) == SDL_AUDIO_STOPPED) {
        // SDL drops what is queued on a lost device without a word.
        m_device_lost = true;
        report_error(kError + QStringLiteral("decode and play data :: audio device lost"),
                     QStringLiteral("Audio stream error : Audio device lost."));
        close_device();
        return false;
    }
    return true;
}

// Plays packets while the device queue is short. Returns false when the input
// ended or must be reopened (a jump, a reposition, a new file, a stop).
bool ff_audio_decoder_sdl_player::decode_and_play_data(bool)
{
    while (!m_stop) {
        {
            QMutexLocker lock(&m_mutex);
            if (m_file_request || m_reposition)
                return false;
        }
        if (!m_live && !m_following)
            return false;
        const qint64 queued = queued_ms();
        m_max_queued_ms = std::max(m_max_queued_ms.load(), queued);
        update_heard();
        if (queued >= queue_target_ms) {
            wait_ms(20);
            continue;
        }
        if (!m_packet_pending) {
            m_timed_out = false;
            const int r = av_read_frame(m_format, m_packet);
            if (r < 0) {
                QByteArray pcm;
                m_decoder->decode(nullptr, &pcm);
                queue_samples(pcm, m_clock_ms);
                if (!m_live) {
                    m_file_done = true;
                    if (!m_finished_sent) {
                        m_finished_sent = true;
                        ZQLog::log(kWarn + QStringLiteral("read next audio frame :: index out of bounds"));
                        emit send_parsing_finished();
                    }
                    return false;
                }
                if (m_timed_out || r != AVERROR_EOF)
                    ZQLog::log(kName + QStringLiteral("audio interrupted return true"));
                return false;
            }
            m_packet_pending = true;
            m_last_activity_ms = zq::monotonic_ms();
            if (m_counting)
                m_byte_counter += m_packet->size;
            // The entry the packet came from sets the clock; within it, decoded samples advance it.
            if (!m_live && m_packet->pos >= 0 && !m_fed.empty()) {
                auto it = std::upper_bound(m_fed.begin(), m_fed.end(), m_packet->pos,
                                           [](qint64 pos, const Fed& f) { return pos < f.pos; });
                if (it != m_fed.begin()) {
                    --it;
                    if (it->index != m_current_entry && it->time >= 0) {
                        m_current_entry = it->index;
                        m_last_entry_ms = m_clock_ms;
                        m_clock_ms = it->time;
                        const QString ts = m_entries.value(it->index).get_timestamp();
                        emit send_slidervalue(it->index, ts);
                        emit send_settime(QTime::fromMSecsSinceStartOfDay(int(it->time % kDayMs)));
                    }
                }
            }
        }

        if (!m_live && m_clock_ms >= 0) {
            const qint64 video = m_video_ms;
            const qint64 heard = m_clock_ms - queued;
            const qint64 d = video >= 0 ? video - heard : 0;
            const bool gap = m_last_entry_ms >= 0 && m_clock_ms - m_last_entry_ms > 1000;
            switch (sync_decision(d, gap, &m_hold)) {
            case SyncStep::Play:
                break;
            case SyncStep::Hold:
            case SyncStep::Wait:
                wait_ms(50);
                continue;
            case SyncStep::Jump: {
                ZQLog::log(kName + QStringLiteral("read next audio frame :: too much variation"));
                QMutexLocker lock(&m_mutex);
                m_jump_target = video;
                m_reposition = true;
                return false;
            }
            }
        }

        m_packet_pending = false;
        QByteArray pcm;
        const int r = m_decoder->decode(m_packet, &pcm);
        av_packet_unref(m_packet);
        if (r == AudioDecodeResample::resampler_failed) {
            report_error(kError + QStringLiteral("ERROR OPEN RESAMPLE"),
                         QStringLiteral("Audio stream error :  Error open resampler."));
            m_file_done = true;
            return false;
        }
        if (r < 0 && r != AVERROR_INVALIDDATA) {
            report_error(kError + QStringLiteral("decode and play data :: Error during decoding"),
                         QStringLiteral("Audio stream error :  Error decode frame."));
            m_file_done = true;
            return false;
        }
        const qint64 start = m_clock_ms;
        const qint64 samples = pcm.size() / AudioDecodeResample::bytes_per_sample;
        if (m_clock_ms >= 0) {
            m_clock_ms += samples * 1000 / m_decoder->out_rate();
            m_last_entry_ms = m_clock_ms;
        }
        if (!queue_samples(pcm, start))
            return false;
        if (start >= 0 && (m_drop_before_ms < 0))
            m_queued_end_ms = m_clock_ms;
    }
    return false;
}
