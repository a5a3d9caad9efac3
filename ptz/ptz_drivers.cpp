#include "ptz/ptz_drivers.h"

#include "app/zq_log.h"

VendorPtzDriver::VendorPtzDriver(const QString& driver_name, QObject* parent) : NativePTZInterface(parent)
{
    name = driver_name;
}

void VendorPtzDriver::ptz_command(QString command, int, float, float, float, int, int, int, int, int)
{
    emit status_message(-2, command, QStringLiteral("not supported"), name);
    end_refused_request();
}

QString VendorPtzDriver::status_text()
{
    return QStringLiteral("no transport");
}

void AxisPtz::security_stop()
{
    ZQLog::log(QStringLiteral("[INFO] AXIS PTZ :: security stop"));
    ptz_command(QStringLiteral("ContinuousMove"), 0, 0.f, 0.f, 0.f, -1, -1, 1, -1, -1);
}

void Hanwhaptz::security_stop()
{
    ZQLog::log(QStringLiteral("[INFO] HANWHA PTZ :: security stop"));
    ptz_command(QStringLiteral("ContinuousMove"), 0, 0.f, 0.f, 0.f, -1, -1, -1, -1, -1);
}

void Hanwhaptz::stop_false_clic()
{
    ZQLog::log(QStringLiteral("[INFO] HANWHA PTZ :: stop false clic"));
    ptz_command(QStringLiteral("STOP"), 0, 0.f, 0.f, 0.f, -1, -1, speed.toInt(), -1, -1);
}

void HikPtz::security_stop()
{
    ZQLog::log(QStringLiteral("[INFO] HIK PTZ :: security stop"));
    ptz_command(QStringLiteral("ContinuousMove"), 0, 0.f, 0.f, 0.f, -1, -1, 0, -1, -1);
}

void Fujiptz::security_stop()
{
    ZQLog::log(QStringLiteral("[INFO] FUJI PTZ :: security stop"));
    ptz_command(QStringLiteral("ContinuousMove"), 0, 0.f, 0.f, 0.f, -1, -1, 1, -1, -1);
}
