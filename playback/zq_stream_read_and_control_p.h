#pragma once

// Helpers shared by the sources of ZQStreamReadAndControl (not part of its interface).

#include "app/zq_log.h"
#include "recordings/zq_frame.h"

#include <QString>
#include <QTime>

extern "C" {
#include <libavutil/frame.h>
}

namespace zq_reader_detail {

inline void zlog(const QString& text)
{
    ZQLog::log(text);
}

inline const QString kName = QStringLiteral("[INFO] ZQStream read & control :: ");

struct BusyGuard
{
    bool& flag;
    explicit BusyGuard(bool& f) : flag(f) { flag = true; }
    ~BusyGuard() { flag = false; }
};

// "yyyy-MM-dd HH:mm:ss.zzz" of an entry, read from its digits.
inline QString display_timestamp(const ZQFrame& frame)
{
    if (!frame.has_valid_timestamp())
        return QString();
    const QString s = frame.get_timestamp();
    QString r;
    r.reserve(23);
    r += QStringView(s).mid(0, 4);
    r += QLatin1Char('-');
    r += QStringView(s).mid(4, 2);
    r += QLatin1Char('-');
    r += QStringView(s).mid(6, 2);
    r += QLatin1Char(' ');
    r += QStringView(s).mid(8, 2);
    r += QLatin1Char(':');
    r += QStringView(s).mid(10, 2);
    r += QLatin1Char(':');
    r += QStringView(s).mid(12, 2);
    r += QLatin1Char('.');
    r += QStringView(s).mid(14, 3);
    return r;
}

inline QTime frame_time(const ZQFrame& frame)
{
    const qint64 ms = frame.time_of_day_ms();
    return ms < 0 ? QTime() : QTime::fromMSecsSinceStartOfDay(int(ms));
}

inline qint64 frame_bytes(const AVFrame* frame)
{
    qint64 bytes = 0;
    for (int i = 0; i < AV_NUM_DATA_POINTERS; ++i)
        if (frame->buf[i])
            bytes += qint64(frame->buf[i]->size);
    return bytes;
}

} // namespace zq_reader_detail
