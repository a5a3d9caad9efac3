#pragma once

#include <QObject>
#include <QString>

// A pan-tilt-zoom driver that talks to the camera itself, instead of the
// recording server's web control page. The tile sends it commands and
// listens to its two signals; status -99 means the driver has given up.
class NativePTZInterface : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~NativePTZInterface() override;

    QString get_name() const { return name; }
    void set_name(const QString& v) { name = v; }
    bool is_ready() const { return ready; }
    bool is_active() const { return active; }
    void set_active(bool v) { active = v; }
    QString get_speed() const { return speed; }
    void set_speed(const QString& v) { speed = v; }

public slots:
    // pan, tilt and zoom are percentages for moves; "clic" and "area" carry a
    // point (and zoom factor x 100) in picture pixels of width x height.
    virtual void ptz_command(QString command, int zoom_only, float pan, float tilt, float zoom, int width, int height,
                             int speed, int x, int y) = 0;
    virtual QString status_text() = 0;

signals:
    void send_request_finished(int request_code);
    void status_message(int status, QString command, QString fault, QString driver);

protected:
    void set_ready(bool v) { ready = v; }

    QString name;
    QString speed;
    bool ready = false;
    bool active = false;
};
