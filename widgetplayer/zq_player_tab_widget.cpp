#include "widgetplayer/zq_player_tab_widget.h"

#include "app/zq_log.h"

#include <QPainter>
#include <QStyleOptionTab>

ZQPlayer_TabBar::ZQPlayer_TabBar(const QHash<int, QPixmap>& icons, QWidget* parent) : QTabBar(parent), m_icons(icons)
{
}

ZQPlayer_TabBar::~ZQPlayer_TabBar() = default;

void ZQPlayer_TabBar::paintEvent(QPaintEvent* event)
{
    // The base draws the tabs first; the pictures go on top of them.
    QTabBar::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (int i = 0; i < count(); ++i) {
        QStyleOptionTab option;
        initStyleOption(&option, i);
        const QPixmap picture = m_icons[i]; // a tab without a picture gets an empty one
        if (picture.isNull())
            continue;
        const QPixmap scaled = picture.scaled(36, 36, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        style()->drawItemPixmap(&painter, tabRect(i), Qt::AlignCenter, scaled);
    }
}

void ZQPlayer_TabBar::resizeEvent(QResizeEvent* event)
{
    ZQLog::log("[INFO] ZQPlayer Tab :: resize event");
    QTabBar::resizeEvent(event);
}

void ZQPlayer_TabBar::tabInserted(int index)
{
    ZQLog::log(QStringLiteral("[INFO] ZQPlayer Tab :: tab inserted :: ") + QString::number(index));
    QTabBar::tabInserted(index);
}

void ZQPlayer_TabBar::tabRemoved(int index)
{
    ZQLog::log(QStringLiteral("[INFO] ZQPlayer Tab :: tab removed ::  ") + QString::number(index));
    QTabBar::tabRemoved(index);
}

ZQPlayer_TabWidget::ZQPlayer_TabWidget(QWidget* parent) : QTabWidget(parent)
{
    ZQLog::log("[INFO] ZQPlayer Tab :: construct");
    QHash<int, QPixmap> icons;
    icons.insert(0, QPixmap(QStringLiteral(":/imgs/directory.png")));
    icons.insert(1, QPixmap(QStringLiteral(":/imgs/playback.png")));
    icons.insert(2, QPixmap(QStringLiteral(":/imgs/alarms.png")));
    icons.insert(3, QPixmap(QStringLiteral(":/imgs/tag.png")));
    m_bar = new ZQPlayer_TabBar(icons);
    m_bar->resize(40, 40);
    setTabBar(m_bar);
}
