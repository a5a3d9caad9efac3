#include "recordings/vignette.h"

#include <QStringList>

#include <utility>

Vignette::Vignette(QString fileName, QString filePath, QString cameraName, QString cameraId, QString day_,
                   QString time_)
    : file_name(std::move(fileName)),
      camera_name(std::move(cameraName)),
      file_path(std::move(filePath)),
      day(std::move(day_)),
      time(std::move(time_)),
      camera_id(std::move(cameraId))
{
}

Vignette::Vignette(QString tagFileName, QString /*folder*/, QFileInfo tagFile, QString cameraName,
                   QString dateTime, QString tagName, QString tagDescription, QString /*tagId*/,
                   QString /*cameraId*/)
    : file(std::move(tagFile)),
      tag_file_name(std::move(tagFileName)),
      camera_name(std::move(cameraName)),
      date_time(std::move(dateTime)),
      tag_name(std::move(tagName)),
      tag_description(std::move(tagDescription))
{
}

namespace {

bool all_digits(const QString& text)
{
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

// The day (8 digits) and the time (the 6 digits before the first non-digit of its field: ".jpg",
// "-thumb.jpg", ...), or an empty text.
QString day_and_time(const QString& dayText, const QString& timeField)
{
    qsizetype end = 0;
    while (end < timeField.size() && timeField.at(end) >= QLatin1Char('0') && timeField.at(end) <= QLatin1Char('9'))
        ++end;
    if (dayText.size() != 8 || !all_digits(dayText) || end != 6)
        return QString();
    return dayText + timeField.left(end);
}

} // namespace

QString Vignette::get_datetime() const
{
    if (!date_time.isEmpty())
        return date_time;
    if (file_name.isEmpty())
        return QString();

    const QStringList parts = file_name.split(QLatin1Char('_'));
    if (parts.size() < 3)
        return QString();
    // "<cam>_<alarm>_<day>_<time>" has four parts; "<cam>_<day>_<time>" (and longer names) are read
    // from the second part on. A four-part name that does not read so ("<cam>_<day>_<time>_preview")
    // is read from the second part too.
    if (parts.size() == 4) {
        const QString dt = day_and_time(parts.at(2), parts.at(3));
        if (!dt.isEmpty())
            return dt;
    }
    return day_and_time(parts.at(1), parts.at(2));
}
