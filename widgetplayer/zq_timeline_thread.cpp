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
        QVector<qint64> starts;
        starts.reserve(own.size());
        for (const DayMedia::Entry& e : own)
            starts.append(e.start_ms);
        const double from_gaps = DayMedia::minutes_from_gaps(starts);
        if (from_gaps > 0 && (minutes < 0 || minutes > from_gaps))
            minutes = from_gaps;
        // The stream tokens come from the head of every video recording's
        // seek index, in the order they first appear (a stream that starts
        // later in the day is offered too); the last frames are read only
        // while no estimate exists.
        for (const DayMedia::Entry& e : own) {
            if (cancel && cancel->load())
                return {};
            if (minutes > 0 && e.audio)
                break;
            const SeekCompanions c = seek_index_companions(e.path);
            if (!c.valid())
                continue;
            if (!e.audio)
                DayMedia::seek_stream_tokens(c.seekPath, &fill->stream_ids);
            if (minutes > 0)
                continue;
            ZQLog::log(QStringLiteral("[INFO] ZQTimelinethread :: get minute diff :: file ") + e.path);
            const DayMedia::LastLine last = DayMedia::seek_last_line(c.seekPath, nullptr);
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
            ZQLog::log(QStringLiteral("[INFO] ZQTimelinethread :: get minute diff :: last frame ") + last.timestamp);
            const double d = DayMedia::minutes_from_last_frame(e.start_ms, last.time_ms);
            if (d > 0)
                minutes = d;
        }
        if (cancel && cancel->load())
            return {};
        const int count = minutes > 0 ? int(minutes) : 0;
        for (const DayMedia::Entry& e : own) {
            const int start_minute = int(e.start_ms / 60000);
            const int hour = start_minute / 60;
            for (int m = start_minute % 60; m < start_minute % 60 + count && m < 60; ++m)
                fill->rows[hour][m] = 1;
            for (int i = start_minute; i < start_minute + count && i < 1440; ++i)
                fill->day[i] = 1;
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
