#pragma once

#include <QImage>
#include <QString>

// What the player controller shows to the operator outside its own QML view:
// modal warning boxes and the alarm picture viewer windows. Kept behind this
// small interface so that tests can answer and record them.
class ZQPlayerControllerUi
{
public:
    virtual ~ZQPlayerControllerUi() = default;

    // Modal warning box ("Attention" and the like).
    virtual void warning(const QString& title, const QString& text) = 0;
    // Modal information box ("Votre exportation est terminée.").
    virtual void information(const QString& title, const QString& text);
    // A new alarm viewer window for the picture at image_path (a thumbnail path
    // opens the full picture), captioned with the camera name.
    virtual void open_alarm_viewer(const QString& image_path, const QString& camera_name) = 0;
    // A new viewer window for a snapshot, offered for saving under name.
    virtual void open_snapshot_viewer(const QImage& image, const QString& name) = 0;
};

// The real one: QMessageBox and AlarmViewer windows.
class ZQPlayerControllerDesktopUi : public ZQPlayerControllerUi
{
public:
    void warning(const QString& title, const QString& text) override;
    void open_alarm_viewer(const QString& image_path, const QString& camera_name) override;
    void open_snapshot_viewer(const QImage& image, const QString& name) override;
};
