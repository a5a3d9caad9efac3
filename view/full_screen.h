#pragma once

#include <QFrame>

// Dark top-level frame that holds a tile shown full screen.
class FullScreen : public QFrame
{
    Q_OBJECT
public:
    FullScreen();

signals:
    void reload();

public slots:
    void close_fullscreen();

protected:
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
};
