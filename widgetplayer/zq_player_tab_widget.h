#pragma once

#include <QHash>
#include <QPixmap>
#include <QTabBar>
#include <QTabWidget>

// Tab bar that draws one picture per tab.
class ZQPlayer_TabBar : public QTabBar
{
    Q_OBJECT
public:
    explicit ZQPlayer_TabBar(const QHash<int, QPixmap>& icons, QWidget* parent = nullptr);
    ~ZQPlayer_TabBar() override;
    QHash<int, QPixmap> icons() const { return m_icons; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void tabInserted(int index) override;
    void tabRemoved(int index) override;

private:
    QHash<int, QPixmap> m_icons;
};

// The widget player's left column: file tree, REC, ALARMS and TAGS as icons.
class ZQPlayer_TabWidget : public QTabWidget
{
    Q_OBJECT
public:
    explicit ZQPlayer_TabWidget(QWidget* parent = nullptr);
    ZQPlayer_TabBar* icon_bar() const { return m_bar; }

private:
    ZQPlayer_TabBar* m_bar = nullptr;
};
