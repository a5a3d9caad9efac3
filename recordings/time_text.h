#pragma once

#include <QDate>
#include <QString>
#include <QStringView>
#include <QtGlobal>

// Times written in file names, folder names and on the wire, read from their ASCII digits with
// QDate/QTime validity checks: no locale and no time zone, so a time inside a daylight-saving gap
// reads like any other.
namespace TimeText {

// "HHmmss" as milliseconds since midnight; -1 when it is not six digits forming a valid time.
qint64 hhmmss_to_ms(QStringView text);
// "yyyyMMdd" as a date; an invalid QDate when it is not eight digits forming a valid date.
QDate yyyymmdd_to_date(QStringView text);
// "yyyyMMddHHmmss": false (outputs untouched) when either half is invalid.
bool parse_yyyymmddhhmmss(QStringView text, QDate* date, qint64* ms);
// "yyyyMMddHHmmss" of a date and a time of day in milliseconds (milliseconds dropped).
QString make_yyyymmddhhmmss(const QDate& date, qint64 ms);

// "yyyyMMddHHmmsszzz" (seek-index lines, stream Timestamp headers): false (outputs untouched)
// unless it is 17 ASCII digits forming a valid date and time.
bool parse_yyyymmddhhmmsszzz(QStringView text, QDate* date, qint64* ms);
// "yyyyMMddHHmmsszzz" of a date and a time of day in milliseconds.
QString make_yyyymmddhhmmsszzz(const QDate& date, qint64 ms);

// "yyyy-MM-dd HH:mm:ss.zzz", also with ":" before the milliseconds ("yyyy-MM-dd HH:mm:ss:zzz"),
// as frames carry their time: false (outputs untouched) when it is not exactly that form.
bool parse_display_time(QStringView text, QDate* date, qint64* ms);
// "yyyy-MM-dd HH:mm:ss.zzz" of a date and a time of day in milliseconds.
QString make_display_time(const QDate& date, qint64 ms);

} // namespace TimeText
