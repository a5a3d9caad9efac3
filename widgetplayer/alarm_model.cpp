#include "widgetplayer/alarm_model.h"

#include "recordings/time_text.h"

#include <QImageReader>

QString vignette_display_time(const Vignette& v)
{
    QDate d;
    qint64 ms = -1;
    if (!TimeText::parse_yyyymmddhhmmss(v.get_datetime(), &d, &ms))
        return QString();
    return d.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ') +
           QTime::fromMSecsSinceStartOfDay(int(ms)).toString(QStringLiteral("HH:mm:ss"));
}

AlarmModel::AlarmModel(QList<Vignette> rows) : m_rows(std::move(rows)) {}

AlarmModel::~AlarmModel() = default;

int AlarmModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

int AlarmModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant AlarmModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_rows.size())
        return QVariant();
    const Vignette& v = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return vignette_display_time(v);
    case Qt::BackgroundRole:
        return v.file_path;
    case PictureRole: {
        auto it = m_pictures.find(index.row());
        if (it == m_pictures.end()) {
            QImage picture;
            if (!v.file_path.isEmpty()) {
                QImageReader reader(v.file_path);
                reader.setAutoTransform(true);
                picture = reader.read();
            }
            it = m_pictures.insert(index.row(), picture);
        }
        return it.value();
    }
    default:
        return QVariant();
    }
}

Vignette AlarmModel::get_vignette(const QModelIndex& index) const
{
    return m_rows.value(index.row());
}

TagsModel::TagsModel(QList<Vignette> rows) : m_rows(std::move(rows)) {}

TagsModel::~TagsModel() = default;

int TagsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

int TagsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant TagsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_rows.size())
        return QVariant();
    const Vignette& v = m_rows.at(index.row());
    if (role == Qt::DisplayRole)
        return QStringList{vignette_display_time(v), v.tag_name.left(1000), v.tag_description.left(10000)};
    if (role == Qt::BackgroundRole)
        return v.file_path;
    return QVariant();
}

Vignette TagsModel::get_vignette(const QModelIndex& index) const
{
    return m_rows.value(index.row());
}
