#pragma once

// Opening a day as the QML home panel does: get_cameras_for_date, and when it started an index
// build, again once the build has ended (indexGenerated() or indexFailed()).

#include "player/zq_player_inferface_controller.h"

#include <QTest>

namespace zqtest {

inline QStringList open_day(ZQPlayerInferfaceController& c, const QString& date, int timeout_ms = 30000)
{
    QStringList cams = c.get_cameras_for_date(date);
    if (c.is_indexing()) {
        if (!QTest::qWaitFor([&] { return !c.is_indexing(); }, timeout_ms))
            qWarning("open_day: the index build did not end in time");
        cams = c.get_cameras_for_date(date);
    }
    return cams;
}

} // namespace zqtest
