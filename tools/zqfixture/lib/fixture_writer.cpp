#include "tools/zqfixture/lib/fixture_writer.h"

#include "recordings/storage_layout.h"
#include "tools/zqfixture/lib/fixture_picture.h"

#include <QDir>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <atomic>
#include <memory>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

namespace ZQFixture {

namespace {

constexpr qint64 day_ms = 24LL * 3600 * 1000;

QString two_digits_join(const char* fmt, int a, int b, int c)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, fmt, a, b, c);
    return QString::fromLatin1(buf);
}

QString day_folder_name(const QDate& d)
{
    return two_digits_join("%04d-%02d-%02d", d.year(), d.month(), d.day());
}

QString day_word(const QDate& d)
{
    return two_digits_join("%04d%02d%02d", d.year(), d.month(), d.day());
}

QString time_word(const QTime& t)
{
    return two_digits_join("%02d%02d%02d", t.hour(), t.minute(), t.second());
}

// Clock line a person reads: "yyyy-MM-dd HH:mm:ss.zzz".
QByteArray clock_line(const QDate& d, qint64 ms)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", d.year(), d.month(), d.day(),
                  int(ms / 3600000), int(ms / 60000 % 60), int(ms / 1000 % 60), int(ms % 1000));
    return QByteArray(buf);
}

QByteArray camera_line(int camera, int index, int stream)
{
    char buf[48];
    if (stream == 1)
        std::snprintf(buf, sizeof buf, "CAM %d  F %d", camera, index);
    else
        std::snprintf(buf, sizeof buf, "CAM %d V2 F %d", camera, index);
    return QByteArray(buf);
}

void fill_noise(QByteArray* bytes, quint32 seed)
{
    quint32 x = seed * 2654435761u + 12345u;
    for (char& c : *bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char(x >> 24);
    }
}

QSize default_second_size(QSize s)
{
    return QSize(std::max(16, (s.width() / 2) & ~1), std::max(16, (s.height() / 2) & ~1));
}

// "video1" frames of one recording.
qint64 frames_per_recording(const Options& o)
{
    if (o.stamp_period_ms > 0)
        return qint64(std::ceil(o.seconds_per_recording * 1000.0 / o.stamp_period_ms - 1e-9));
    return qint64(o.seconds_per_recording) * o.fps;
}

// Milliseconds from the start of a recording to the stamp of frame index.
qint64 stamp_offset_ms(const Options& o, qint64 index)
{
    if (o.stamp_period_ms > 0) {
        const double exact = double(index) * o.stamp_period_ms;
        return o.round_stamps ? qint64(std::llround(exact)) : qint64(std::floor(exact + 1e-9));
    }
    // In integers, so that the usual rates give the same stamps on every machine.
    if (o.round_stamps)
        return (index * 2000 + o.fps) / (2 * qint64(o.fps));
    return index * 1000 / o.fps;
}

bool valid_size(QSize s)
{
    return s.width() >= 16 && s.height() >= 16 && s.width() <= 8192 && s.height() <= 8192 && s.width() % 2 == 0 &&
           s.height() % 2 == 0;
}

struct Job {
    WrittenFile* file = nullptr;
    qint64 start_ms = 0;
    bool corrupt = false;
    bool truncate = false;
    bool outage = false;
};

class RecordingWriter {
public:
    RecordingWriter(const Options& o, const QSize& second, const QString& codec_text, int encoder_threads)
        : m_o(o), m_second(second), m_codec_text(codec_text.toUtf8()), m_threads(encoder_threads)
    {
    }

    bool write(const Job& job, QString* error);

private:
    struct Stream {
        int id = 1;
        QSize size;
        FrameEncoder encoder;
        std::unique_ptr<PicturePainter> painter;
        std::deque<CodedFrame> queue;
        QByteArray size_word;
    };

    // Time of day of frame index, with the outage when the recording has one.
    qint64 frame_time(const Job& job, qint64 index) const
    {
        qint64 t = job.start_ms + stamp_offset_ms(m_o, index);
        if (job.outage && index >= m_o.outage_frame)
            t += qint64(m_o.outage_seconds) * 1000;
        return t;
    }
    bool paint_and_encode(Stream& s, const Job& job, int index, qint64 time_ms, QString* error);
    bool emit_ready(const Job& job, QString* error);
    bool emit_frame(Stream& s, CodedFrame& f, const Job& job, QString* error);

    const Options& m_o;
    QSize m_second;
    QByteArray m_codec_text;
    int m_threads;

    std::vector<std::unique_ptr<Stream>> m_streams;
    QSaveFile* m_data = nullptr;
    QByteArray m_seek;
    qint64 m_offset = 0;
    qint64 m_lines_total = 0;
    qint64 m_lines_done = 0;
};

bool RecordingWriter::paint_and_encode(Stream& s, const Job& job, int index, qint64 time_ms, QString* error)
{
    bool fresh = false;
    AVFrame* frame = s.encoder.next_frame(&fresh, error);
    if (!frame)
        return false;
    if (fresh)
        s.painter->paint_background(frame);
    PatternValue v;
    v.camera = job.file->camera;
    v.frame_index = index;
    v.stream = s.id;
    v.recording_start_ms = job.start_ms;
    v.fps = m_o.fps;
    s.painter->paint(frame, v, camera_line(job.file->camera, index, s.id), clock_line(job.file->date, time_ms));
    return s.encoder.encode(index, &s.queue, error);
}

bool RecordingWriter::emit_frame(Stream& s, CodedFrame& f, const Job& job, QString* error)
{
    WrittenFile& file = *job.file;
    const qint64 time_ms = frame_time(job, f.index);
    const int size = int(f.bytes.size());
    if (s.id == 1 && job.corrupt && f.index == m_o.corrupt_frame) {
        fill_noise(&f.bytes, quint32(f.index));
        file.corrupted_frame = int(f.index);
    }
    ++m_lines_done;
    qint64 to_write = size;
    if (job.truncate && m_lines_done == m_lines_total) {
        to_write = size / 2;
        file.truncated = true;
    }
    if (m_data->write(f.bytes.constData(), to_write) != to_write) {
        *error = QStringLiteral("cannot write %1: %2").arg(file.data_path, m_data->errorString());
        return false;
    }

    const QString ts = timestamp_text(file.date, time_ms);
    m_seek += ts.toLatin1();
    m_seek += s.id == 1 ? ":video1:" : ":video2:";
    m_seek += m_codec_text;
    m_seek += ':';
    m_seek += s.size_word;
    m_seek += f.key ? ":1:" : ":0:";
    m_seek += QByteArray::number(size);
    m_seek += '\n';

    FrameEntry e;
    e.time_ms = time_ms;
    e.stream = s.id;
    e.index = int(f.index);
    e.key = f.key;
    e.offset = m_offset;
    e.size = size;
    file.frames.append(e);
    m_offset += size;
    if (file.first_timestamp.isEmpty())
        file.first_timestamp = ts;
    file.last_timestamp = ts;
    if (s.id == 1)
        ++file.frame_count;
    else
        ++file.second_stream_frames;
    return true;
}

// Lines go out in pairs when there is a second stream: "video1" then
// "video2" of the same picture time.
bool RecordingWriter::emit_ready(const Job& job, QString* error)
{
    for (;;) {
        bool all = true;
        for (auto& s : m_streams)
            all = all && !s->queue.empty();
        if (!all)
            return true;
        for (auto& s : m_streams) {
            CodedFrame f = std::move(s->queue.front());
            s->queue.pop_front();
            if (!emit_frame(*s, f, job, error))
                return false;
        }
    }
}

bool RecordingWriter::write(const Job& job, QString* error)
{
    WrittenFile& file = *job.file;
    const int n = int(frames_per_recording(m_o));

    m_streams.clear();
    auto add_stream = [&](int id, QSize size) {
        auto s = std::make_unique<Stream>();
        s->id = id;
        s->size = size;
        s->size_word = QByteArray::number(size.width()) + 'x' + QByteArray::number(size.height());
        if (!s->encoder.open(m_o.codec, size.width(), size.height(), m_o.fps, m_o.gop, m_threads, error))
            return false;
        s->painter = std::make_unique<PicturePainter>(size.width(), size.height(), s->encoder.full_range());
        m_streams.push_back(std::move(s));
        return true;
    };
    if (!add_stream(1, m_o.size))
        return false;
    if (m_o.second_stream && !add_stream(2, m_second))
        return false;

    QSaveFile data(file.data_path);
    if (!data.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot create %1: %2").arg(file.data_path, data.errorString());
        return false;
    }
    m_data = &data;
    m_seek.clear();
    m_seek.reserve(n * int(m_streams.size()) * 48);
    m_offset = 0;
    m_lines_done = 0;
    m_lines_total = qint64(n) * qint64(m_streams.size());
    file.frames.reserve(int(m_lines_total));

    for (int i = 0; i < n; ++i) {
        const qint64 t = frame_time(job, i);
        for (auto& s : m_streams)
            if (!paint_and_encode(*s, job, i, t, error))
                return false;
        if (!emit_ready(job, error))
            return false;
    }
    for (auto& s : m_streams)
        if (!s->encoder.flush(&s->queue, error))
            return false;
    if (!emit_ready(job, error))
        return false;
    if (m_lines_done != m_lines_total) {
        *error = QStringLiteral("encoder returned %1 frames for %2 pictures").arg(m_lines_done).arg(m_lines_total);
        return false;
    }
    file.data_size = m_offset;
    if (!data.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(file.data_path, data.errorString());
        return false;
    }

    QSaveFile seek(file.seek_path);
    if (!seek.open(QIODevice::WriteOnly) || seek.write(m_seek) != m_seek.size() || !seek.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(file.seek_path, seek.errorString());
        return false;
    }
    m_data = nullptr;

    if (m_o.audio.codec != AudioCodec::None) {
        const QString base = file.data_path.left(file.data_path.size() - int(qstrlen(".zqvideo")));
        file.audio_data_path = base + QStringLiteral(".zqaudio");
        file.audio_seek_path = base + QStringLiteral(".zqaudioseek");
        if (!write_audio(m_o.audio, base, file.date, job.start_ms, m_o.seconds_per_recording, &file.audio_entries,
                         error))
            return false;
    }
    return true;
}

QString check_options(const Options& o)
{
    if (o.output_parent.isEmpty())
        return QStringLiteral("no output folder given");
    if (!is_root_name(o.root_id))
        return QStringLiteral("root id \"%1\" is not zqcore_ followed by four groups of four hexadecimal digits")
            .arg(o.root_id);
    if (o.dates.isEmpty())
        return QStringLiteral("no date given");
    for (const QDate& d : o.dates)
        if (!d.isValid() || d.year() < 1000 || d.year() > 9999)
            return QStringLiteral("invalid date");
    if (o.cameras.isEmpty())
        return QStringLiteral("no camera given");
    for (int c : o.cameras)
        if (c < 0 || c > 4095)
            return QStringLiteral("camera id %1 out of range 0..4095").arg(c);
    if (!o.start_time.isValid() || o.start_time.msec() != 0)
        return QStringLiteral("invalid start time (whole seconds)");
    if (o.recordings_per_camera < 1 || o.recordings_per_camera > 100000)
        return QStringLiteral("the number of recordings must be at least 1");
    if (o.seconds_per_recording < 1 || o.seconds_per_recording > 86400)
        return QStringLiteral("the recording length must be at least one second");
    if (o.gap_seconds < 0)
        return QStringLiteral("the gap cannot be negative");
    if (!valid_size(o.size))
        return QStringLiteral("picture size must be even and between 16 and 8192");
    if (o.second_stream && o.second_size.isValid() && !o.second_size.isEmpty() && !valid_size(o.second_size))
        return QStringLiteral("second picture size must be even and between 16 and 8192");
    if (o.fps < 1 || o.fps > 1000)
        return QStringLiteral("frame rate must be between 1 and 1000");
    if (o.gop < 1)
        return QStringLiteral("GOP length must be at least 1");
    if (!(o.stamp_period_ms == 0 || (o.stamp_period_ms >= 1 && o.stamp_period_ms <= 60000)))
        return QStringLiteral("stamp period must be between 1 and 60000 ms");
    const qint64 frames = frames_per_recording(o);
    if (frames >= (1 << 20))
        return QStringLiteral("too many frames in one recording");
    const qint64 start = o.start_time.msecsSinceStartOfDay();
    if (o.outage_frame >= 0 && (o.outage_seconds < 1 || o.outage_seconds > 86400))
        return QStringLiteral("the outage must last between 1 and 86400 seconds");
    const qint64 outage = o.outage_frame >= 0 ? qint64(o.outage_seconds) * 1000 : 0;
    const qint64 end = start + qint64(o.recordings_per_camera - 1) * (o.seconds_per_recording + o.gap_seconds) * 1000 +
                       qint64(o.seconds_per_recording) * 1000 + outage;
    if (end > day_ms)
        return QStringLiteral("the recordings run past midnight");
    const qint64 count = qint64(o.dates.size()) * o.cameras.size() * o.recordings_per_camera;
    if ((o.corrupt_frame >= 0 || o.truncate || o.outage_frame >= 0) && (o.damaged_recording < 0 || o.damaged_recording >= count))
        return QStringLiteral("damaged recording %1 does not exist").arg(o.damaged_recording);
    if (o.corrupt_frame >= frames)
        return QStringLiteral("frame %1 to corrupt does not exist").arg(o.corrupt_frame);
    if (o.outage_frame >= frames)
        return QStringLiteral("frame %1 after the outage does not exist").arg(o.outage_frame);
    if (o.audio.codec != AudioCodec::None) {
        if (o.audio.rate != 8000 && o.audio.rate != 16000 && o.audio.rate != 48000)
            return QStringLiteral("audio rate must be 8000, 16000 or 48000");
        if (o.audio.channels != 1 && o.audio.channels != 2)
            return QStringLiteral("audio channels must be 1 or 2");
        if (o.audio.entry_ms < 0 || o.audio.entry_ms > 60000)
            return QStringLiteral("audio entry length must be between 0 and 60000 ms");
    }
    return QString();
}

} // namespace

QString timestamp_text(const QDate& d, qint64 ms)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d%03d", d.year(), d.month(), d.day(), int(ms / 3600000),
                  int(ms / 60000 % 60), int(ms / 1000 % 60), int(ms % 1000));
    return QString::fromLatin1(buf);
}

bool is_root_name(const QString& name)
{
    // The player finds its roots by this one rule; a fixture it would not find is of no use.
    return StorageLayout::is_root_folder_name(name);
}

QString default_codec_text(Codec codec)
{
    // The readers pick their decoder by case-sensitive containment of "264",
    // "MPEG4" and "265" and fall back to Motion JPEG for anything else.
    switch (codec) {
    case Codec::H264: return QStringLiteral("frame/h264");
    case Codec::H265: return QStringLiteral("frame/h265");
    case Codec::MJPEG: return QStringLiteral("frame/jpeg");
    case Codec::MPEG4: return QStringLiteral("frame/MPEG4");
    }
    return QString();
}

QString codec_word(Codec codec)
{
    switch (codec) {
    case Codec::H264: return QStringLiteral("h264");
    case Codec::H265: return QStringLiteral("h265");
    case Codec::MJPEG: return QStringLiteral("mjpeg");
    case Codec::MPEG4: return QStringLiteral("mpeg4");
    }
    return QString();
}

bool parse_codec(const QString& word, Codec* codec)
{
    const QString w = word.trimmed().toLower();
    if (w == QLatin1String("h264"))
        *codec = Codec::H264;
    else if (w == QLatin1String("h265") || w == QLatin1String("hevc"))
        *codec = Codec::H265;
    else if (w == QLatin1String("mjpeg") || w == QLatin1String("jpeg"))
        *codec = Codec::MJPEG;
    else if (w == QLatin1String("mpeg4"))
        *codec = Codec::MPEG4;
    else
        return false;
    return true;
}

Result write(const Options& o)
{
    Result result;
    result.error = check_options(o);
    if (!result.error.isEmpty())
        return result;

    const QDir parent(o.output_parent);
    result.root_path = QDir::cleanPath(parent.absolutePath() + QLatin1Char('/') + o.root_id);

    QList<QDate> dates = o.dates;
    std::sort(dates.begin(), dates.end());
    dates.erase(std::unique(dates.begin(), dates.end()), dates.end());
    QList<int> cameras = o.cameras;
    std::sort(cameras.begin(), cameras.end());
    cameras.erase(std::unique(cameras.begin(), cameras.end()), cameras.end());

    // Sorted by date, start time, camera: the order players list them in.
    std::vector<Job> jobs;
    const qint64 step_ms = qint64(o.seconds_per_recording + o.gap_seconds) * 1000;
    for (const QDate& d : dates) {
        const QString day_path = result.root_path + QLatin1Char('/') + day_folder_name(d);
        result.day_folders << day_path;
        for (int k = 0; k < o.recordings_per_camera; ++k) {
            const qint64 start_ms = o.start_time.msecsSinceStartOfDay() + k * step_ms;
            const QTime start = QTime::fromMSecsSinceStartOfDay(int(start_ms));
            const QString folder = day_path + QLatin1Char('/') + time_word(start);
            if (!QDir().mkpath(folder)) {
                result.error = QStringLiteral("cannot create folder %1").arg(folder);
                return result;
            }
            for (int cam : cameras) {
                WrittenFile f;
                f.camera = cam;
                f.date = d;
                f.start = start;
                const QString base =
                    folder + QLatin1Char('/') + QString::number(cam) + QLatin1Char('_') + day_word(d) + QLatin1Char('_') +
                    time_word(start);
                f.data_path = base + QStringLiteral(".zqvideo");
                f.seek_path = base + QStringLiteral(".zqseek");
                result.files.append(f);
                Job j;
                j.start_ms = start_ms;
                jobs.push_back(j);
            }
        }
    }
    for (size_t i = 0; i < jobs.size(); ++i) {
        jobs[i].file = &result.files[qsizetype(i)];
        jobs[i].corrupt = o.corrupt_frame >= 0 && int(i) == o.damaged_recording;
        jobs[i].truncate = o.truncate && int(i) == o.damaged_recording;
        jobs[i].outage = o.outage_frame >= 0 && int(i) == o.damaged_recording;
    }

    const int cores = std::max(1u, std::thread::hardware_concurrency());
    const int workers = std::clamp(o.threads > 0 ? o.threads : cores, 1, int(jobs.size()));
    // Few recordings on many cores: let each encoder use some of the rest.
    const int encoder_threads = std::clamp(cores / workers, 1, 4);
    const QSize second = o.second_size.isValid() && !o.second_size.isEmpty() ? o.second_size
                                                                            : default_second_size(o.size);
    const QString codec_text = o.codec_text.isEmpty() ? default_codec_text(o.codec) : o.codec_text;

    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex error_mutex;
    auto work = [&] {
        RecordingWriter writer(o, second, codec_text, encoder_threads);
        while (!failed) {
            const size_t i = next++;
            if (i >= jobs.size())
                return;
            QString error;
            if (!writer.write(jobs[i], &error)) {
                std::lock_guard<std::mutex> lock(error_mutex);
                if (!failed.exchange(true))
                    result.error = error;
                return;
            }
        }
    };
    std::vector<std::thread> threads;
    for (int t = 1; t < workers; ++t)
        threads.emplace_back(work);
    work();
    for (auto& t : threads)
        t.join();

    result.ok = !failed;
    return result;
}

} // namespace ZQFixture
