#pragma once

#include <QElapsedTimer>
#include <QList>

#include "view/native_ptz_interface.h"

// A native driver that records every command the tile sends it.
class RecordingDriver : public NativePTZInterface
{
    Q_OBJECT

public:
    struct Call
    {
        QString command;
        int zoom_only;
        float pan, tilt, zoom;
        int width, height, speed, x, y;
    };

    explicit RecordingDriver(const QString& driver_name = QStringLiteral("TestCam"))
    {
        name = driver_name;
        set_ready(true);
    }

    void ptz_command(QString command, int zoom_only, float pan, float tilt, float zoom, int width, int height,
                     int speed, int x, int y) override
    {
        calls.append(Call{command, zoom_only, pan, tilt, zoom, width, height, speed, x, y});
    }
    QString status_text() override { return QStringLiteral("recording"); }

    void finish(int code) { emit send_request_finished(code); }
    void say(int status, const QString& command, const QString& fault)
    {
        emit status_message(status, command, fault, name);
    }
    QStringList commands() const
    {
        QStringList out;
        for (const Call& c : calls)
            out << c.command;
        return out;
    }

    QList<Call> calls;
};
