#pragma once

#include "view/native_ptz_interface.h"

// Drivers of other makers' cameras. Only their stop slots exist: no
// transport is built for them, so every command is reported unsupported.
class VendorPtzDriver : public NativePTZInterface
{
    Q_OBJECT

public:
    explicit VendorPtzDriver(const QString& driver_name, QObject* parent = nullptr);

public slots:
    void ptz_command(QString command, int zoom_only, float pan, float tilt, float zoom, int width, int height,
                     int speed, int x, int y) override;
    QString status_text() override;
};

class AxisPtz : public VendorPtzDriver
{
    Q_OBJECT

public:
    explicit AxisPtz(QObject* parent = nullptr) : VendorPtzDriver(QStringLiteral("Axis"), parent) {}

public slots:
    void security_stop();
};

class Hanwhaptz : public VendorPtzDriver
{
    Q_OBJECT

public:
    explicit Hanwhaptz(QObject* parent = nullptr) : VendorPtzDriver(QStringLiteral("Hanwha"), parent) {}

public slots:
    void security_stop();
    void stop_false_clic();
};

class HikPtz : public VendorPtzDriver
{
    Q_OBJECT

public:
    explicit HikPtz(QObject* parent = nullptr) : VendorPtzDriver(QStringLiteral("Hik"), parent) {}

public slots:
    void security_stop();
};

class Fujiptz : public VendorPtzDriver
{
    Q_OBJECT

public:
    explicit Fujiptz(QObject* parent = nullptr) : VendorPtzDriver(QStringLiteral("Fuji"), parent) {}

public slots:
    void security_stop();
};
