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

} // namespace TimeText
