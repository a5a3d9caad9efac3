#include "player/zq_player_controller_ui.h"

#include "app/zq_log.h"
#include "recordings/vignette.h"

#include <QFileInfo>
#include <QMessageBox>

#if __has_include("player/alarm_viewer.h")
#include "player/alarm_viewer.h"
#define ZQ_HAVE_ALARM_VIEWER 1
#endif

void ZQPlayerControllerUi::information(const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void ZQPlayerControllerDesktopUi::warning(const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void ZQPlayerControllerDesktopUi::open_alarm_viewer(const QString& image_path, const QString& camera_name)
{
    // The record the viewer reads: file, file name, camera name and path.
    Vignette alarm;
    alarm.file = QFileInfo(image_path);
    alarm.file_name = alarm.file.fileName();
    alarm.camera_name = camera_name;
    alarm.file_path = image_path;
#ifdef ZQ_HAVE_ALARM_VIEWER
    auto* viewer = new AlarmViewer(alarm);
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewer->show();
#else
    ZQLog::log(QStringLiteral("[WARN] ZQPlayer Interface Controller :: open alarm popup :: no viewer for ") +
               alarm.file_path);
#endif
}

void ZQPlayerControllerDesktopUi::open_snapshot_viewer(const QImage& image, const QString& name)
{
#ifdef ZQ_HAVE_ALARM_VIEWER
    auto* viewer = new AlarmViewer(image, name);
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewer->show();
#else
    Q_UNUSED(image);
    ZQLog::log(QStringLiteral("[WARN] ZQPlayer Interface Controller :: snapshot :: no viewer for ") + name);
#endif
}
