#include "widgetplayer/zq_video_file_system_model.h"

#include "app/zq_log.h"
#include "recordings/storage_layout.h"
#include "recordings/time_text.h"

#include <QDirIterator>

namespace {

constexpr int kRawNameRole = 15;

QVariant file_model_data(const QFileSystemModel* m, const QModelIndex& index, int role, bool colours)
{
    if (!index.isValid() || index.row() < 0 || index.column() < 0 || index.model() != m)
        return QVariant();
    if (role == Qt::DisplayRole || role == kRawNameRole) {
        const QString text = m->QFileSystemModel::data(index, Qt::DisplayRole).toString();
        return ZQVideoFileSystemModel::recording_text(text, role == kRawNameRole);
    }
    // Day folders stand out on a magenta bar, their name in black on it:
    // magenta on magenta would leave only the selected row readable.
    if (colours && (role == Qt::BackgroundRole || role == Qt::ForegroundRole)) {
        if (ZQVideoFileSystemModel::is_coloured_name(m->fileName(index)))
            return QColor(role == Qt::BackgroundRole ? Qt::magenta : Qt::black);
    }
    return m->QFileSystemModel::data(index, role);
}

} // namespace

ZQVideoFileSystemModel::ZQVideoFileSystemModel(QObject* parent) : QFileSystemModel(parent) {}

ZQVideoFileSystemModel::~ZQVideoFileSystemModel() = default;

QString ZQVideoFileSystemModel::recording_text(const QString& name, bool full)
{
    if (!name.contains(QLatin1String(".zqvideo")))
        return name;
    const QString base = name.left(name.lastIndexOf(QLatin1Char('.')));
    const QStringList parts = base.split(QLatin1Char('_'), Qt::KeepEmptyParts);
    if (parts.size() < 3)
        return name;
    QDate date;
    qint64 ms = -1;
    if (!TimeText::parse_yyyymmddhhmmss(QString(parts.at(1) + parts.at(2)), &date, &ms))
        return name;
    const QTime t = QTime::fromMSecsSinceStartOfDay(int(ms));
    return full ? date.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ') + t.toString(QStringLiteral("HH:mm:ss"))
                : t.toString(QStringLiteral("HH:mm:ss"));
}

bool ZQVideoFileSystemModel::is_coloured_name(const QString& name)
{
    if (StorageLayout::is_day_folder_name(name))
        return true;
    if (name.size() != 8 || name.at(2) != QLatin1Char(':') || name.at(5) != QLatin1Char(':'))
        return false;
    return TimeText::hhmmss_to_ms(QString(name).remove(QLatin1Char(':'))) >= 0;
}

QVariant ZQVideoFileSystemModel::data(const QModelIndex& index, int role) const
{
    return file_model_data(this, index, role, true);
}

bool ZQVideoFileSystemModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    ZQLog::log(QStringLiteral("ZQVideoFileSystemModel:: Set data ") + value.toString());
    if (role == Qt::CheckStateRole) {
        ZQLog::log(QStringLiteral("ZQVideoFileSystemModel:: Set data ") + value.toString());
        emit dataChanged(index, index);
        return true;
    }
    return QFileSystemModel::setData(index, value, role);
}

void ZQVideoFileSystemModel::identifyPathsOfSize(int)
{
    const QString root = rootPath();
    if (m_sizes.isEmpty()) {
        QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            const QFileInfo fi = it.fileInfo();
            ZQLog::log(QStringLiteral("ZQVideoFileSystemModel:: + populateFileToSizeHash :: ") + fi.absolutePath());
            m_sizes.insert(fi.filePath(), fi.size());
        }
    }
    m_large_paths.clear();
    for (auto it = m_sizes.cbegin(); it != m_sizes.cend(); ++it) {
        if (it.value() <= 51200)
            continue;
        QString p = it.key();
        while (!p.isEmpty() && p != root && !m_large_paths.contains(p)) {
            m_large_paths.insert(p);
            const int slash = p.lastIndexOf(QLatin1Char('/'));
            p = slash < 0 ? QString() : p.left(slash);
        }
    }
    emit dataChanged(QModelIndex(), QModelIndex());
}

TreeProxyModel::TreeProxyModel(QObject* parent) : QSortFilterProxyModel(parent)
{
    // Any change of the source may change which texts repeat.
    auto forget = [this] { m_duplicates.clear(); };
    connect(this, &QSortFilterProxyModel::sourceModelChanged, this, [this, forget] {
        forget();
        if (!sourceModel())
            return;
        connect(sourceModel(), &QAbstractItemModel::rowsInserted, this, forget);
        connect(sourceModel(), &QAbstractItemModel::rowsRemoved, this, forget);
        connect(sourceModel(), &QAbstractItemModel::dataChanged, this, forget);
        connect(sourceModel(), &QAbstractItemModel::modelReset, this, forget);
        connect(sourceModel(), &QAbstractItemModel::layoutChanged, this, forget);
    });
}

TreeProxyModel::~TreeProxyModel() = default;

const QSet<QString>& TreeProxyModel::duplicates_of(const QModelIndex& day) const
{
    auto it = m_duplicates.find(QPersistentModelIndex(day));
    if (it != m_duplicates.end())
        return it.value();
    // Every text shown under the day, at any depth below it.
    QHash<QString, int> counts;
    const QAbstractItemModel* m = sourceModel();
    QList<QModelIndex> pending{day};
    while (!pending.isEmpty()) {
        const QModelIndex parent = pending.takeLast();
        const int rows = m->rowCount(parent);
        for (int r = 0; r < rows; ++r) {
            const QModelIndex child = m->index(r, 0, parent);
            counts[m->data(child, Qt::DisplayRole).toString()] += 1;
            if (m->hasChildren(child))
                pending.append(child);
        }
    }
    QSet<QString> dups;
    for (auto c = counts.cbegin(); c != counts.cend(); ++c)
        if (c.value() > 1)
            dups.insert(c.key());
    return m_duplicates.insert(QPersistentModelIndex(day), dups).value();
}

bool TreeProxyModel::filterAcceptsRow(int source_row, const QModelIndex& source_parent) const
{
    const QAbstractItemModel* m = sourceModel();
    if (m && source_parent.isValid()) {
        const QString parent_text = m->data(source_parent, Qt::DisplayRole).toString();
        if (StorageLayout::is_day_folder_name(parent_text)) {
            const QString text = m->data(m->index(source_row, 0, source_parent), Qt::DisplayRole).toString();
            if (duplicates_of(source_parent).contains(text))
                return false;
        }
    }
    return QSortFilterProxyModel::filterAcceptsRow(source_row, source_parent);
}

model::model(QObject* parent) : QFileSystemModel(parent) {}

model::~model() = default;

int model::rowCount(const QModelIndex& parent) const
{
    return QFileSystemModel::rowCount(parent);
}

QVariant model::data(const QModelIndex& index, int role) const
{
    return file_model_data(this, index, role, false);
}

bool model::setData(const QModelIndex& index, const QVariant& value, int role)
{
    ZQLog::log(QStringLiteral("Model:: Set data ") + value.toString());
    if (role == Qt::CheckStateRole) {
        ZQLog::log(QStringLiteral("Model:: Set data ") + value.toString());
        emit dataChanged(index, index);
        return true;
    }
    return QFileSystemModel::setData(index, value, role);
}
