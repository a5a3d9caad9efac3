#include "view/full_screen.h"

#include <QCloseEvent>
#include <QKeyEvent>

#include "app/zq_log.h"

FullScreen::FullScreen() : QFrame(nullptr)
{
    setStyleSheet(QStringLiteral("background-color:#333333;"));
    setWindowFlags(Qt::Window | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_DeleteOnClose);
}

void FullScreen::closeEvent(QCloseEvent* e)
{
    ZQLog::log("[INFO] FullScreen :: Set Close event");
    e->accept();
}

void FullScreen::close_fullscreen()
{
    ZQLog::log("[INFO] FullScreen :: close_fullscreen");
    close();
}

void FullScreen::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape) {
        e->accept();
        close();
        return;
    }
    e->accept(); // other keys stop here
}
