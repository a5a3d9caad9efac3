#include "recordings/time_text.h"

#include <QTime>

namespace TimeText {

namespace {

// The value of `count` ASCII digits from `from`; -1 when one of them is no ASCII digit.
int digits(QStringView text, qsizetype from, qsizetype count)
{
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + int(c - u'0');
    }
    return value;
}

} // namespace

qint64 hhmmss_to_ms(QStringView text)
{
    if (text.size() != 6)
        return -1;
    const int h = digits(text, 0, 2), m = digits(text, 2, 2), s = digits(text, 4, 2);
    if (h < 0 || m < 0 || s < 0 || !QTime::isValid(h, m, s))
        return -1;
    return QTime(h, m, s).msecsSinceStartOfDay();
}

QDate yyyymmdd_to_date(QStringView text)
{
    if (text.size() != 8)
        return QDate();
    const int y = digits(text, 0, 4), m = digits(text, 4, 2), d = digits(text, 6, 2);
    if (y < 0 || m < 0 || d < 0)
        return QDate();
    return QDate(y, m, d);
}

bool parse_yyyymmddhhmmss(QStringView text, QDate* date, qint64* ms)
{
    if (text.size() != 14)
        return false;
    const QDate d = yyyymmdd_to_date(text.left(8));
    const qint64 t = hhmmss_to_ms(text.mid(8, 6));
    if (!d.isValid() || t < 0)
        return false;
    if (date)
        *date = d;
    if (ms)
        *ms = t;
    return true;
}

QString make_yyyymmddhhmmss(const QDate& date, qint64 ms)
{
    const QTime t = QTime::fromMSecsSinceStartOfDay(int(ms));
    return date.toString(QStringLiteral("yyyyMMdd")) + t.toString(QStringLiteral("HHmmss"));
}

bool parse_yyyymmddhhmmsszzz(QStringView text, QDate* date, qint64* ms)
{
    if (text.size() != 17)
        return false;
    QDate d;
    qint64 t = -1;
    const int milli = digits(text, 14, 3);
    if (milli < 0 || !parse_yyyymmddhhmmss(text.left(14), &d, &t))
        return false;
    if (date)
        *date = d;
    if (ms)
        *ms = t + milli;
    return true;
}

QString make_yyyymmddhhmmsszzz(const QDate& date, qint64 ms)
{
    return make_yyyymmddhhmmss(date, ms) + QStringLiteral("%1").arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

bool parse_display_time(QStringView text, QDate* date, qint64* ms)
{
    // 0123456789012345678901
    // yyyy-MM-dd HH:mm:ss.zzz
    if (text.size() != 23)
        return false;
    const auto at = [&](qsizetype i, char16_t c) { return text.at(i).unicode() == c; };
    if (!at(4, u'-') || !at(7, u'-') || !at(10, u' ') || !at(13, u':') || !at(16, u':')
        || !(at(19, u'.') || at(19, u':')))
        return false;
    const int y = digits(text, 0, 4), mo = digits(text, 5, 2), d = digits(text, 8, 2);
    const int h = digits(text, 11, 2), mi = digits(text, 14, 2), s = digits(text, 17, 2);
    const int z = digits(text, 20, 3);
    if (y < 0 || mo < 0 || d < 0 || h < 0 || mi < 0 || s < 0 || z < 0)
        return false;
    const QDate day(y, mo, d);
    if (!day.isValid() || !QTime::isValid(h, mi, s, z))
        return false;
    if (date)
        *date = day;
    if (ms)
        *ms = QTime(h, mi, s, z).msecsSinceStartOfDay();
    return true;
}

QString make_display_time(const QDate& date, qint64 ms)
{
    const QTime t = QTime::fromMSecsSinceStartOfDay(int(ms));
    return date.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ') + t.toString(QStringLiteral("HH:mm:ss.zzz"));
}

} // namespace TimeText
