#include "widgetplayer/alarm_item_delegate.h"

#include "app/zq_log.h"
#include "widgetplayer/alarm_model.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QTextOption>

bool delegate_corner_hit(const QRect& r, const QPoint& p)
{
    return r.x() + r.width() - 25 < p.x() && p.x() < r.x() + r.width() && r.y() < p.y() && p.y() < r.y() + 25;
}

namespace {

const QFont& list_font()
{
    static const QFont font(QStringLiteral("DejaVu Sans Condensed"), 10);
    return font;
}

bool press_event(QEvent* event, const QStyleOptionViewItem& option, const QModelIndex& index, QObject* delegate,
                 void (*download)(QObject*, const QModelIndex&), void (*click)(QObject*, const QModelIndex&),
                 bool* handled)
{
    if (event->type() != QEvent::MouseButtonPress)
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (delegate_corner_hit(option.rect, mouse->position().toPoint())) {
        download(delegate, index);
        *handled = true;
        return true;
    }
    click(delegate, index);
    *handled = true;
    return false;
}

void hover_fill(QPainter* painter, const QStyleOptionViewItem& option)
{
    if (option.state & QStyle::State_MouseOver)
        painter->fillRect(option.rect, QColor(204, 204, 204, 80));
}

} // namespace

AlarmItemDelegate::AlarmItemDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

AlarmItemDelegate::~AlarmItemDelegate() = default;

void AlarmItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QRect r = option.rect;
    painter->save();
    const QString text = index.data(Qt::DisplayRole).toString();
    const QString path = index.data(Qt::BackgroundRole).toString();
    if (!path.isNull()) {
        painter->setPen(Qt::white);
        painter->setFont(list_font());
        painter->drawText(QRectF(r.x(), r.y() + 5, r.width(), 15), text, QTextOption());
        const QImage picture = index.data(AlarmModel::PictureRole).value<QImage>();
        if (!picture.isNull())
            painter->drawImage(QRect(r.x(), r.y() + 25, r.width(), r.height() - 25), picture);
    }
    QStyleOptionButton button;
    button.state = QStyle::State_Enabled;
    button.rect = QRect(r.x() + r.width() - 25, r.y(), 25, 25);
    static const QIcon icon(QStringLiteral(":/imgs/download_white.png"));
    button.icon = icon;
    button.iconSize = QSize(15, 15);
    QApplication::style()->drawControl(QStyle::CE_PushButtonLabel, &button, painter);
    hover_fill(painter, option);
    painter->restore();
}

QWidget* AlarmItemDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                         const QModelIndex& index) const
{
    return QStyledItemDelegate::createEditor(parent, option, index);
}

void AlarmItemDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    QStyledItemDelegate::setEditorData(editor, index);
}

void AlarmItemDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    QStyledItemDelegate::setModelData(editor, model, index);
}

bool AlarmItemDelegate::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                                    const QModelIndex& index)
{
    if (event->type() == QEvent::MouseButtonPress)
        ZQLog::log("[INFO] AlarmItemDelegate :: Mouse MouseButtonPress");
    bool handled = false;
    return press_event(
        event, option, index, this,
        [](QObject* d, const QModelIndex& i) { emit static_cast<AlarmItemDelegate*>(d)->cellDownloadButtonClicked(i); },
        [](QObject* d, const QModelIndex& i) { emit static_cast<AlarmItemDelegate*>(d)->cellButtonClicked(i); },
        &handled);
}

TagItemDelegate::TagItemDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

TagItemDelegate::~TagItemDelegate() = default;

void TagItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QRect r = option.rect;
    const QStringList texts = index.data(Qt::DisplayRole).toStringList();
    painter->save();
    painter->setPen(Qt::white);
    painter->setFont(list_font());
    static const QPixmap icon(QStringLiteral(":/imgs/tag.png"));
    painter->drawPixmap(QRect(r.x(), r.y() + r.height() / 2 - 16, 32, 32), icon);
    painter->drawText(QRectF(r.x() + 40, r.y() + 5, r.width(), 15), texts.value(0), QTextOption());
    painter->drawText(QRectF(r.x() + 40, r.y() + 25, r.width(), 15),
                      texts.value(1) + QStringLiteral(" - ") + texts.value(2), QTextOption());
    painter->drawLine(QPoint(r.x(), r.y() + r.height()), QPoint(r.x() + r.width(), r.y() + r.height()));
    hover_fill(painter, option);
    painter->restore();
}

QWidget* TagItemDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                       const QModelIndex& index) const
{
    return QStyledItemDelegate::createEditor(parent, option, index);
}

void TagItemDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    QStyledItemDelegate::setEditorData(editor, index);
}

void TagItemDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    QStyledItemDelegate::setModelData(editor, model, index);
}

bool TagItemDelegate::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                                  const QModelIndex& index)
{
    bool handled = false;
    return press_event(
        event, option, index, this,
        [](QObject* d, const QModelIndex& i) { emit static_cast<TagItemDelegate*>(d)->cellDownloadButtonClicked(i); },
        [](QObject* d, const QModelIndex& i) { emit static_cast<TagItemDelegate*>(d)->cellButtonClicked(i); },
        &handled);
}

AlarmToolbar::AlarmToolbar(QWidget* parent) : QWidget(parent) {}

AlarmToolbar::~AlarmToolbar() = default;

QSize AlarmToolbar::sizeHint() const
{
    return QSize(140, 120);
}

void AlarmToolbar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        emit send(m_alarm);
}

void AlarmToolbar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QFont f = painter.font();
    f.setPointSize(8);
    painter.setFont(f);
    painter.setPen(Qt::black);
    painter.drawText(QRect(8, 2, 110, 15), Qt::TextSingleLine, m_caption);
    if (m_picture.isNull()) {
        ZQLog::log("AlarmToolbar::paintEvent << image is null");
        painter.drawImage(QRect(8, 20, 110, 80), m_fallback);
    } else {
        painter.drawImage(QRect(8, 20, 110, 80), m_picture);
    }
}
