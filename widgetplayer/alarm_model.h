#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QImage>
#include <QList>

#include "recordings/vignette.h"

// Rows of the ALARMS tab: one alarm picture each.
class AlarmModel : public QAbstractListModel
{
    Q_OBJECT
public:
    // The row's picture, decoded once (a null image when it does not decode).
    static constexpr int PictureRole = Qt::UserRole + 1;

    explicit AlarmModel(QList<Vignette> rows);
    ~AlarmModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Vignette get_vignette(const QModelIndex& index) const;

private:
    QList<Vignette> m_rows;
    mutable QHash<int, QImage> m_pictures;
};

// Rows of the TAGS tab: one tag each.
class TagsModel : public QAbstractListModel
{
    Q_OBJECT
public:
    explicit TagsModel(QList<Vignette> rows);
    ~TagsModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Vignette get_vignette(const QModelIndex& index) const;

private:
    QList<Vignette> m_rows;
};

// "yyyy-MM-dd HH:mm:ss" of a row's "yyyyMMddHHmmss"; empty when it does not read.
QString vignette_display_time(const Vignette& v);
