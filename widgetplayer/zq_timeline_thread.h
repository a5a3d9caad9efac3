#pragma once

#include <QFileInfoList>
#include <QHash>
#include <QMetaType>
#include <QSharedPointer>
#include <QStringList>
#include <QThread>

#include <array>
#include <atomic>

// What the filler works out for one camera's day: the minutes of each hour row
// and of the day slider that hold recording, and the video stream tokens met.
struct TimelineFill
{
    int camera = -1;
    std::array<std::array<quint8, 60>, 24> rows{};
    std::array<quint8, 1440> day{};
    QStringList stream_ids; // raw tokens, "video1"
    double minutes_per_file = -1.0;
    // The last picture of each recording whose seek index was read, by path
    // (-1: it gave none): the window's look-ups need not read them again.
    QHash<QString, qint64> lasts;
};

// Fills the REC tab of one camera off the GUI thread. It touches no widget:
// its one result goes out through filled(), queued to the window, which
// applies it to the rows and the slider on the GUI thread.
class ZQTimelinethread : public QThread
{
    Q_OBJECT
public:
    ZQTimelinethread();
    ZQTimelinethread(int camera_id, const QFileInfoList& video_files, const QFileInfoList& audio_files);
    ~ZQTimelinethread() override;

    // Asks run() to end early; no result is delivered then.
    void cancel() { m_cancel.store(true); }
    bool is_cancelled() const { return m_cancel.load(); }
    // A copy of the stream tokens of the last run.
    QStringList stream_ids() const;

    // The whole work of run(), for one camera (-1: the camera of the first file
    // whose name reads). Returns null when cancelled.
    static QSharedPointer<TimelineFill> compute(int camera_id, const QFileInfoList& video_files,
                                                const QFileInfoList& audio_files, const std::atomic<bool>* cancel);

signals:
    void filled(QSharedPointer<TimelineFill> result);

protected:
    void run() override;

private:
    int m_camera_id = -1;
    // Paths, not the caller's QFileInfo objects: those share cached file
    // details with the GUI thread's copies.
    QStringList m_video;
    QStringList m_audio;
    QStringList m_stream_ids;
    std::atomic<bool> m_cancel{false};
};

Q_DECLARE_METATYPE(QSharedPointer<TimelineFill>)
