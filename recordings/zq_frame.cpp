#include "recordings/zq_frame.h"

#include <QTime>

namespace {

// Splits a packed 17-digit timestamp into its parts.
struct StampParts
{
    int year, month, day, hour, minute, second, msec;
};

StampParts unpack(quint64 v)
{
    StampParts p;
    p.msec = int(v % 1000); v /= 1000;
    p.second = int(v % 100); v /= 100;
    p.minute = int(v % 100); v /= 100;
    p.hour = int(v % 100); v /= 100;
    p.day = int(v % 100); v /= 100;
    p.month = int(v % 100); v /= 100;
    p.year = int(v);
    return p;
}

bool parts_valid(const StampParts& p)
{
    return QDate::isValid(p.year, p.month, p.day) && QTime::isValid(p.hour, p.minute, p.second, p.msec);
}

} // namespace

QString ZQFrame::get_timestamp() const
{
    if (m_hasStamp) {
        QChar buf[17];
        quint64 v = m_stamp;
        for (int i = 16; i >= 0; --i) {
            buf[i] = QChar(char16_t(u'0' + v % 10));
            v /= 10;
        }
        return QString(buf, 17);
    }
    return d ? d->timestamp : QString();
}

void ZQFrame::detach_texts()
{
    if (!d)
        d = new ZQFrameTexts;
    else
        d.detach();
}

void ZQFrame::set_timestamp(const QString& timestamp)
{
    bool digits = timestamp.size() == 17;
    quint64 v = 0;
    for (int i = 0; digits && i < 17; ++i) {
        const char16_t c = timestamp.at(i).unicode();
        if (c < u'0' || c > u'9')
            digits = false;
        else
            v = v * 10 + (c - u'0');
    }
    if (digits) {
        m_stamp = v;
        m_hasStamp = true;
        if (d && !d->timestamp.isNull()) {
            detach_texts();
            d->timestamp = QString();
        }
        return;
    }
    m_hasStamp = false;
    m_stamp = 0;
    detach_texts();
    d->timestamp = timestamp;
}

void ZQFrame::set_stream(const QString& stream) { detach_texts(); d->stream = stream; }
void ZQFrame::set_codec(const QString& codec) { detach_texts(); d->codec = codec; }
void ZQFrame::set_extra(const QString& extra) { detach_texts(); d->extra = extra; }
void ZQFrame::set_keyframe(const QString& keyframe) { detach_texts(); d->keyframe = keyframe; }
void ZQFrame::set_data_file(const QString& dataFile) { detach_texts(); d->dataFile = dataFile; }
void ZQFrame::set_camera_name(const QString& cameraName) { detach_texts(); d->cameraName = cameraName; }
void ZQFrame::set_kind(const QString& kind) { detach_texts(); d->kind = kind; }

bool ZQFrame::keyframe_contains_one() const
{
    return d && d->keyframe.contains(QLatin1Char('1'));
}

bool ZQFrame::keyframe_starts_with_one() const
{
    return d && !d->keyframe.isEmpty() && d->keyframe.at(0) == QLatin1Char('1');
}

bool ZQFrame::has_valid_timestamp() const
{
    return m_hasStamp && parts_valid(unpack(m_stamp));
}

QDate ZQFrame::date() const
{
    if (!m_hasStamp)
        return QDate();
    const StampParts p = unpack(m_stamp);
    return parts_valid(p) ? QDate(p.year, p.month, p.day) : QDate();
}

qint64 ZQFrame::time_of_day_ms() const
{
    if (!m_hasStamp)
        return -1;
    const StampParts p = unpack(m_stamp);
    if (!parts_valid(p))
        return -1;
    return ((qint64(p.hour) * 60 + p.minute) * 60 + p.second) * 1000 + p.msec;
}

qint64 ZQFrame::absolute_ms() const
{
    const QDate day = date();
    if (!day.isValid())
        return -1;
    return (day.toJulianDay() - QDate(1, 1, 1).toJulianDay()) * 86400000LL + time_of_day_ms();
}
