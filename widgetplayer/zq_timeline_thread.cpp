#include "widgetplayer/zq_timeline_thread.h"

#include "app/zq_log.h"
#include "recordings/seek_index.h"
#include "widgetplayer/day_media.h"

ZQTimelinethread::ZQTimelinethread() = default;

namespace {

QStringList paths_of(const QFileInfoList& files)
{
    QStringList out;
    out.reserve(files.size());
    for (const QFileInfo& f : files)
        out.append(f.filePath());
    return out;
}

QFileInfoList infos_of(const QStringList& paths)
{
    QFileInfoList out;
    out.reserve(paths.size());
    for (const QString& p : paths)
        out.append(QFileInfo(p));
    return out;
}

} // namespace

ZQTimelinethread::ZQTimelinethread(int camera_id, const QFileInfoList& video_files, const QFileInfoList& audio_files)
    : m_camera_id(camera_id), m_video(paths_of(video_files)), m_audio(paths_of(audio_files))
{
}

ZQTimelinethread::~ZQTimelinethread()
{
    cancel();
    wait();
}

QStringList ZQTimelinethread::stream_ids() const
{
    return m_stream_ids;
}

QSharedPointer<TimelineFill> ZQTimelinethread::compute(int camera_id, const QFileInfoList& video_files,
                                                       const QFileInfoList& audio_files,
                                                       const std::atomic<bool>* cancel)
{
    auto fill = QSharedPointer<TimelineFill>::create();
    int camera = camera_id;
    double minutes = -1.0;
    for (const QFileInfoList* list : {&video_files, &audio_files}) {
        // The camera's recordings of this kind, in start order.
        QVector<DayMedia::Entry> own;
        for (const DayMedia::Entry& e : DayMedia::entries_of(*list)) {
            if (camera == -1)
                camera = e.camera;
            if (e.camera == camera)
                own.append(e);
        }
        std::stable_sort(own.begin(), own.end(),
                         [](const DayMedia::Entry& a, const DayMedia::Entry& b) { return a.start_ms < b.start_ms; });
        // Each recording is bounded by its own last picture, so that a pause
        // between two recordings never shows as recorded. The stream tokens
        // come from the head of every video recording's seek index, in the
        // order they first appear (a stream that starts later in the day is
        // offered too).
        QVector<qint64> starts(own.size(), -1);
        QVector<qint64> lasts(own.size(), -1);
        QVector<bool> read(own.size(), false);
        // The readings are said until one gives the minutes a recording covers.
        bool tell = minutes < 0;
        for (int i = 0; i < own.size(); ++i) {
            if (cancel && cancel->load())
                return {};
            const DayMedia::Entry& e = own[i];
            starts[i] = e.start_ms;
            const SeekCompanions c = seek_index_companions(e.path);
            if (!c.valid())
                continue;
            read[i] = true;
            if (tell)
                ZQLog::log(QStringLiteral("[INFO] ZQTimelinethread :: get minute diff :: file ") + e.path);
            const DayMedia::LastLine last =
                DayMedia::seek_last_line(c.seekPath, e.audio ? nullptr : &fill->stream_ids);
            if (!last.opened) {
                ZQLog::log(QStringLiteral("[WARN] ZQTimelinethread :: seek last frame :: Error Opening Seek File ") +
                           c.seekPath);
                continue;
            }
            if (last.read < 1) {
                // Nothing to read: a recording whose index is not written yet.
                ZQLog::log(QStringLiteral("[WARN] ZQTimelinethread :: seek last frame :: read return value  :: ") +
                           QString::number(last.read));
                ZQLog::log(QStringLiteral("[WARN] ZQTimelinethread :: seek last frame :: buffer check       :: 1"));
                ZQLog::log(QStringLiteral("[WARN] ZQTimelinethread :: seek last frame :: return empty frame"));
                continue;
            }
            if (!last.found) {
                ZQLog::log(QStringLiteral("[WARN] ZQTimelinethread :: seek last frame :: no valid last line :: ") +
                           c.seekPath);
                continue;
            }
            if (tell)
                ZQLog::log(QStringLiteral("[INFO] ZQTimelinethread :: get minute diff :: last frame ") +
                           last.timestamp);
            lasts[i] = last.time_ms;
            if (DayMedia::minutes_from_last_frame(e.start_ms, last.time_ms) > 0)
                tell = false;
        }
        if (cancel && cancel->load())
            return {};
        const QVector<qint64> ends = DayMedia::recording_ends(starts, lasts, &minutes);
        fill->lasts.reserve(fill->lasts.size() + own.size());
        for (int i = 0; i < own.size(); ++i)
            if (read[i])
                fill->lasts.insert(own[i].path, lasts[i]);
        for (int i = 0; i < own.size(); ++i) {
            if (ends[i] <= starts[i])
                continue;
            const int first = int(starts[i] / 60000);
            const int last = int((ends[i] - 1) / 60000);
            for (int m = first; m <= last && m < 1440; ++m) {
                fill->rows[m / 60][m % 60] = 1;
                fill->day[m] = 1;
            }
        }
    }
    fill->camera = camera;
    fill->minutes_per_file = minutes;
    return fill;
}

void ZQTimelinethread::run()
{
    QSharedPointer<TimelineFill> result = compute(m_camera_id, infos_of(m_video), infos_of(m_audio), &m_cancel);
    if (!result || m_cancel.load())
        return;
    m_stream_ids = result->stream_ids;
    emit filled(result);
}
