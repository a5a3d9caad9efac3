#pragma once

#include <QImage>
#include <QString>

#include "player/zq_player_controller_ui.h"
#include "recordings/vignette.h"

// What the widget player shows outside its own window: message boxes and
// picture viewers. Tests replace it to answer and record them.
class WidgetPlayerUi : public ZQPlayerControllerUi
{
public:
    virtual void information(const QString& title, const QString& text) = 0;
    virtual void open_alarm_record(const Vignette& alarm) = 0;
};

// The real one: QMessageBox and AlarmViewer windows.
class WidgetPlayerDesktopUi : public WidgetPlayerUi
{
public:
    void warning(const QString& title, const QString& text) override;
    void information(const QString& title, const QString& text) override;
    void open_alarm_viewer(const QString& image_path, const QString& camera_name) override;
    void open_snapshot_viewer(const QImage& image, const QString& name) override;
    void open_alarm_record(const Vignette& alarm) override;
};
