#pragma once

// Drives a playback reader through its own read timer on a clock of the test's, and measures what
// reached the screen: which picture (the fixture's pattern says its time and recording), when on
// that clock. No wall clock is involved, so paces are checked exactly on any machine.

#include "playback/zq_stream_read_and_control.h"
#include "tools/zqfixture/lib/fixture_pattern.h"

#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QList>
#include <QTimer>
#include <QTimerEvent>

#include <functional>

namespace zqtest {

// The reader's read timer going off as the event loop would deliver it: the reader's clock moves
// on by the interval the reader armed plus `lateNs` (a timer comes at its time or a little after),
// then the timer's own event runs the tick and whatever the reader does after it, and the calls
// the reader queued to itself (the first tick of a recording just switched to) run at that same
// time. False when no timer is running.
inline bool fire_read_timer(ZQStreamReadAndControl& reader, qint64& clock, qint64 lateNs)
{
    QTimer* timer = reader.get_read_timer();
    if (!timer || !timer->isActive())
        return false;
    clock += qint64(timer->interval()) * 1'000'000 + lateNs;
    QTimerEvent event(timer->timerId());
    QCoreApplication::sendEvent(timer, &event);
    QCoreApplication::sendPostedEvents(&reader, QEvent::MetaCall);
    return true;
}

// One picture the reader emitted: when on the reader's clock, the time painted into it, the start
// of its recording (which recording it is) and its keyframe flag.
struct ShownPicture
{
    qint64 atNs = 0;
    qint64 contentMs = -1;
    qint64 recordingMs = -1;
    bool keyframe = false;
};

// Records the pictures a reader emits while it lives.
class PictureLog
{
public:
    PictureLog(ZQStreamReadAndControl& reader, const qint64& clock)
    {
        m_connection = QObject::connect(
            &reader, &ZQStreamReadAndControl::set_display_frame, &reader,
            [this, &clock](QImage image, int, int, int, QString, QString, bool, int, double, bool keyframe) {
                const ZQFixture::PatternValue v = ZQFixture::read_pattern(image);
                pictures << ShownPicture{clock, v.valid ? v.time_ms() : -1, v.valid ? v.recording_start_ms : -1,
                                         keyframe};
            });
    }
    ~PictureLog() { QObject::disconnect(m_connection); }
    PictureLog(const PictureLog&) = delete;
    PictureLog& operator=(const PictureLog&) = delete;

    QList<ShownPicture> pictures;

private:
    QMetaObject::Connection m_connection;
};

// The pace of a run of pictures, from the first to the last: pictures per second of the clock,
// and seconds of recording (the time on the pictures) per second of the clock, signed.
struct Pace
{
    int pictures = 0;
    double perSecond = 0;
    double contentSpeed = 0;
};

inline Pace pace_of(const QList<ShownPicture>& all, const std::function<bool(const ShownPicture&)>& which)
{
    QList<ShownPicture> run;
    for (const ShownPicture& p : all)
        if (which(p))
            run << p;
    Pace pace;
    pace.pictures = int(run.size());
    if (run.size() < 2 || run.last().atNs == run.first().atNs)
        return pace;
    const double seconds = double(run.last().atNs - run.first().atNs) / 1e9;
    pace.perSecond = (run.size() - 1) / seconds;
    pace.contentSpeed = double(run.last().contentMs - run.first().contentMs) / 1000.0 / seconds;
    return pace;
}

} // namespace zqtest
