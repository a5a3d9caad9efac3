#include "widgetplayer/widget_player_ui.h"

#include "player/alarm_viewer.h"

#include <QMessageBox>

void WidgetPlayerDesktopUi::warning(const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, title, text);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void WidgetPlayerDesktopUi::information(const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Information, title, text);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void WidgetPlayerDesktopUi::open_alarm_viewer(const QString& image_path, const QString& camera_name)
{
    Vignette v;
    v.file_path = image_path;
    v.camera_name = camera_name;
    (new AlarmViewer(v))->show();
}

void WidgetPlayerDesktopUi::open_snapshot_viewer(const QImage& image, const QString& name)
{
    (new AlarmViewer(image, name))->show();
}

void WidgetPlayerDesktopUi::open_alarm_record(const Vignette& alarm)
{
    (new AlarmViewer(alarm))->show();
}
