#include "widgetplayer/day_ends.h"

#include "recordings/seek_index.h"

#include <algorithm>

void DayEnds::reset(const QVector<DayMedia::Entry>& recordings)
{
    m_recordings = recordings;
    m_tracks.clear();
    m_position.clear();
    m_lasts.clear();
    m_reads = 0;
}

DayEnds::Track& DayEnds::track(int camera, bool audio)
{
    const qint64 key = qint64(camera) * 2 + (audio ? 1 : 0);
    const auto found = m_tracks.find(key);
    if (found != m_tracks.end())
        return found->second;
    QVector<int> own;
    for (int i = 0; i < m_recordings.size(); ++i)
        if (m_recordings[i].camera == camera && m_recordings[i].audio == audio)
            own.append(i);
    std::stable_sort(own.begin(), own.end(),
                     [&](int a, int b) { return m_recordings[a].start_ms < m_recordings[b].start_ms; });
    Track& t = m_tracks[key];
    t.starts.reserve(own.size());
    t.paths.reserve(own.size());
    for (int i : own) {
        m_position.insert(m_recordings[i].path, int(t.starts.size()));
        t.starts.append(m_recordings[i].start_ms);
        t.paths.append(m_recordings[i].path);
    }
    return t;
}

qint64 DayEnds::last_picture(const QString& path)
{
    const auto known = m_lasts.constFind(path);
    if (known != m_lasts.cend())
        return *known;
    qint64 last = -1;
    const SeekCompanions c = seek_index_companions(path);
    if (c.valid()) {
        ++m_reads;
        const DayMedia::LastLine line = DayMedia::seek_last_line(c.seekPath, nullptr);
        if (line.found)
            last = line.time_ms;
    }
    m_lasts.insert(path, last);
    return last;
}

double DayEnds::minutes(int camera, bool audio)
{
    // The filler carries the video recordings' estimate into the audio ones.
    const double carried = audio ? minutes(camera, false) : -1.0;
    Track& t = track(camera, audio);
    if (!t.estimated) {
        t.minutes = DayMedia::estimate_minutes(
            t.starts, [&](int i) { return last_picture(t.paths[i]); }, carried);
        t.estimated = true;
    }
    return t.minutes;
}

qint64 DayEnds::end_of(const DayMedia::Entry& recording, int duration_s)
{
    const qint64 fallback = recording.start_ms + qint64(duration_s) * 1000;
    const Track& t = track(recording.camera, recording.audio);
    const int i = m_position.value(recording.path, -1);
    if (i < 0 || i >= t.paths.size() || t.paths[i] != recording.path)
        return fallback;
    const qint64 last = last_picture(recording.path);
    qint64 end = DayMedia::recording_end(t.starts, i, last, -1.0);
    if (end < 0)
        end = DayMedia::recording_end(t.starts, i, last, minutes(recording.camera, recording.audio));
    return end >= 0 ? end : DayMedia::bounded_end(t.starts, i, fallback);
}

void DayEnds::add_last_pictures(const QHash<QString, qint64>& lasts)
{
    for (auto it = lasts.cbegin(); it != lasts.cend(); ++it)
        m_lasts.insert(it.key(), it.value());
}
