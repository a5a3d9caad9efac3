#pragma once

#include <QFileInfo>
#include <QMetaType>
#include <QString>

// One media item of a day: an alarm picture or a tag file, with the texts that
// the lists and viewers show. Copied by value and passed in signals.
class Vignette
{
public:
    Vignette() = default;
    // Alarm-picture form.
    Vignette(QString fileName, QString filePath, QString cameraName, QString cameraId, QString day,
             QString time);
    // Tag form: folder, tag id and camera id are accepted for the callers' convenience and not kept.
    Vignette(QString tagFileName, QString folder, QFileInfo tagFile, QString cameraName, QString dateTime,
             QString tagName, QString tagDescription, QString tagId, QString cameraId);

    Vignette(const Vignette&) = default;
    Vignette(Vignette&&) noexcept = default;
    Vignette& operator=(const Vignette&) = default;
    Vignette& operator=(Vignette&&) noexcept = default;
    ~Vignette() = default;

    // Date and time as "yyyyMMddHHmmss": the stored date-time when there is one, otherwise the day
    // and time read from the picture's name ("<cam>_<alarm>_<yyyyMMdd>_<HHmmss>[-thumb].jpg" or
    // "<cam>_<yyyyMMdd>_<HHmmss>..."); empty when neither gives one.
    QString get_datetime() const;

    QFileInfo file;
    QString file_name;
    QString tag_file_name;
    QString camera_name;
    QString file_path;
    QString image_path;
    QString day;
    QString time;
    QString camera_id;
    QString date_time;
    QString tag_name;
    QString tag_description;
};

Q_DECLARE_METATYPE(Vignette)
