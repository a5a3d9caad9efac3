#pragma once

// Opening a day as the QML home panel does: the controller reads a day's folder in the
// background, so get_cameras_for_date is asked again at dayLoaded(), and again after an index
// build it started.

#include "player/zq_player_inferface_controller.h"

#include <QSignalSpy>
#include <QTest>

namespace zqtest {

// One ask, and the ask again once the background read it started has ended: the lists are in,
// or an index build has started (is_indexing()).
inline QStringList read_day(ZQPlayerInferfaceController& c, const QString& date, int timeout_ms = 30000)
{
    QStringList cams = c.get_cameras_for_date(date);
    if (c.is_loading_day()) {
        QSignalSpy loaded(&c, &ZQPlayerInferfaceController::dayLoaded);
        if (!QTest::qWaitFor([&] { return !loaded.isEmpty() || !c.is_loading_day(); }, timeout_ms))
            qWarning("read_day: the day's folder was not read in time");
        cams = c.get_cameras_for_date(date);
    }
    return cams;
}

// The whole opening: reads, waits for an index build it starts (which may fail) and reads again.
inline QStringList open_day(ZQPlayerInferfaceController& c, const QString& date, int timeout_ms = 30000)
{
    QStringList cams = read_day(c, date, timeout_ms);
    if (c.is_indexing()) {
        if (!QTest::qWaitFor([&] { return !c.is_indexing(); }, timeout_ms))
            qWarning("open_day: the index build did not end in time");
        cams = read_day(c, date, timeout_ms);
    }
    return cams;
}

} // namespace zqtest
