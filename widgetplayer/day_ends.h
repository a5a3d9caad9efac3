#pragma once

#include "widgetplayer/day_media.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

#include <unordered_map>

// Where the recordings of the loaded day end, camera by camera, each bounded
// by its own camera's recordings: the rule the timeline filler marks the hour
// rows with (DayMedia::recording_ends), for every camera a list or a look-up
// needs, whichever camera the rows show.
//
// The seek indexes are read only as far as a question needs: a recording's
// end reads its own last picture; one without a readable last picture takes
// its camera's minutes-per-file estimate, whose walk reads the camera's first
// recordings until one tells. Reading a whole camera at once costs what the
// filler's run costs (about 80 ms for 1,440 one-minute recordings on a warm
// disk, far more on a cold one), too much for the GUI thread and sixteen
// times that for a list of every camera; a tag list or an alarm look-up reads
// one index per row. The filler hands over what it read. What is read is kept
// until the day's lists are read again.
class DayEnds
{
public:
    // The day's recordings, video and audio, of every camera, in any order.
    // What was read before is forgotten: a recording still being written ends
    // later now.
    void reset(const QVector<DayMedia::Entry>& recordings);

    // End (exclusive) of a recording of the day: just after its own last
    // picture, else after its camera's minutes per file, else duration_s
    // after its start; never into its camera's next recording of its kind or
    // past midnight. A recording not of the day: duration_s after its start.
    qint64 end_of(const DayMedia::Entry& recording, int duration_s);

    // Last pictures read elsewhere (the timeline filler), by path; -1 when
    // the recording's index gave none.
    void add_last_pictures(const QHash<QString, qint64>& lasts);

    // Seek indexes read since the last reset.
    int reads() const { return m_reads; }

private:
    // One camera's recordings of one kind, in start order.
    struct Track
    {
        QVector<qint64> starts;
        QStringList paths;
        bool estimated = false;
        double minutes = -1.0;
    };
    Track& track(int camera, bool audio);
    double minutes(int camera, bool audio);
    qint64 last_picture(const QString& path);

    QVector<DayMedia::Entry> m_recordings;
    // By camera * 2 + (audio ? 1 : 0); nodes stay put while others are added.
    std::unordered_map<qint64, Track> m_tracks;
    // Position of each recording in its track, once its track is built.
    QHash<QString, int> m_position;
    QHash<QString, qint64> m_lasts;
    int m_reads = 0;
};
