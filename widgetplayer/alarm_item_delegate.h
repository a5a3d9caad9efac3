#pragma once

#include <QImage>
#include <QStyledItemDelegate>
#include <QWidget>

#include "recordings/vignette.h"

// Where a press on a list row lands: the 25 px square at the row's top-right
// corner (strictly inside), or anywhere else.
bool delegate_corner_hit(const QRect& item, const QPoint& press);

// Paints an alarm row (time, picture, download icon); a press on the corner
// square asks for the picture, elsewhere for a seek.
class AlarmItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit AlarmItemDelegate(QObject* parent = nullptr);
    ~AlarmItemDelegate() override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

signals:
    void cellDownloadButtonClicked(QModelIndex index);
    void cellButtonClicked(QModelIndex index);
};

// Paints a tag row (icon, time, name and description).
class TagItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit TagItemDelegate(QObject* parent = nullptr);
    ~TagItemDelegate() override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

signals:
    void cellDownloadButtonClicked(QModelIndex index);
    void cellButtonClicked(QModelIndex index);
};

// A small alarm picture with a caption; a left press sends its record.
class AlarmToolbar : public QWidget
{
    Q_OBJECT
public:
    explicit AlarmToolbar(QWidget* parent = nullptr);
    ~AlarmToolbar() override;
    QSize sizeHint() const override;
    void set_caption(const QString& caption) { m_caption = caption; update(); }
    void set_picture(const QImage& picture) { m_picture = picture; update(); }
    void set_fallback_picture(const QImage& picture) { m_fallback = picture; update(); }
    void set_alarm(const Vignette& alarm) { m_alarm = alarm; }

signals:
    void send(Vignette alarm);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_caption;
    QImage m_picture;
    QImage m_fallback;
    Vignette m_alarm;
};
