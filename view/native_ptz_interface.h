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
    // Ends every command: 1 done, -1 failed at the camera, 2 done with a stop
    // to follow, 0 refused before anything was sent.
    void send_request_finished(int request_code);
    void status_message(int status, QString command, QString fault, QString driver);

protected:
    void set_ready(bool v) { ready = v; }
    // A command refused before anything went out still ends: its finished
    // signal (code 0) follows once the call has returned, so that a caller
    // that marks itself busy after the call is freed too.
    void end_refused_request();

    QString name;
    QString speed;
    bool ready = false;
    bool active = false;
};
