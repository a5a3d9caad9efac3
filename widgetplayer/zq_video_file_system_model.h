#pragma once

#include <QFileSystemModel>
#include <QHash>
#include <QSet>
#include <QSortFilterProxyModel>

// The disk tree of the widget player: recordings shown by their start time,
// day folders coloured.
class ZQVideoFileSystemModel : public QFileSystemModel
{
    Q_OBJECT
public:
    explicit ZQVideoFileSystemModel(QObject* parent);
    ~ZQVideoFileSystemModel() override;

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // Role 0 / 15 text of a file name: "HH:mm:ss" / "yyyy-MM-dd HH:mm:ss" for
    // "<camera>_<yyyyMMdd>_<HHmmss>.zqvideo", the name itself otherwise.
    static QString recording_text(const QString& name, bool full);
    // Day folders ("yyyy-MM-dd") and "HH:mm:ss" names are coloured.
    static bool is_coloured_name(const QString& name);

    QSet<QString> large_paths() const { return m_large_paths; }

public slots:
    void identifyPathsOfSize(int sizeLimit);

private:
    QHash<QString, qint64> m_sizes;
    QSet<QString> m_large_paths;
};

// Between the file model and the tree: inside a day folder, rows whose text
// appears twice in that day are hidden.
class TreeProxyModel : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    explicit TreeProxyModel(QObject* parent = nullptr);
    ~TreeProxyModel() override;

protected:
    bool filterAcceptsRow(int source_row, const QModelIndex& source_parent) const override;

private:
    // Texts seen twice or more under one day folder, worked out once per
    // folder and forgotten whenever the source model changes.
    const QSet<QString>& duplicates_of(const QModelIndex& day) const;
    mutable QHash<QPersistentModelIndex, QSet<QString>> m_duplicates;
};

// A plainer file model of the same kind: the same texts, no colours.
class model : public QFileSystemModel
{
    Q_OBJECT
public:
    explicit model(QObject* parent);
    ~model() override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
};
