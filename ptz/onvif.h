#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QSslCertificate>
#include <QString>

#include "view/native_ptz_interface.h"

class DomParser;
class Onvif_ptz;
class QTimer;
class SoapExchange;
class SoapHttpClient;

// Native PTZ driver for ONVIF cameras: SOAP 1.2 over HTTP(S) with a
// WS-Security password digest. start() asks the camera's clock; its reply
// starts the discovery chain (services, profiles, PTZ node, presets, status)
// that ends with status 1 and the driver ready. One request is in flight at
// a time, each with a time-out; a stop asked meanwhile is sent after it.
class Onvif : public NativePTZInterface
{
    Q_OBJECT

public:
    static constexpr int default_timeout_ms = 10000;
    static constexpr qint64 max_reply_bytes = 1024 * 1024;

    Onvif(const QString& scheme, const QString& host, const QString& port, const QString& user,
          const QString& password, const QString& driver_name, const QList<QSslCertificate>& ca_certificates = {},
          QObject* parent = nullptr);
    ~Onvif() override;

    // Posts GetSystemDateAndTime (unauthenticated, as ONVIF allows).
    void start();

    void ptz_command(QString command, int zoom_only, float pan, float tilt, float zoom, int width, int height,
                     int speed, int x, int y) override;
    QString status_text() override;

    void send_request(const QString& service, const QString& command);
    void send_ptz_request(const QString& command, const QString& token);
    QByteArray build_security_header(const QString& user, const QString& password, const QString& created);

    // The request path for a service address: a full address keeps only
    // its path, from its last "/onvif/" on; a bare name goes under /onvif/.
    static QString service_path(const QString& address);
    // Created time on the camera's clock: its time plus the time elapsed here
    // since it arrived; empty while the camera's time is unknown.
    QString created_time() const;

    QString get_camera_time() const { return camera_time; }
    QString get_current_command() const { return current_command; }
    Onvif_ptz* description() const;
    QHash<QString, QString> get_services() const { return service_table; }
    bool is_busy() const { return reply != nullptr; }
    void set_request_timeout_ms(int ms) { timeout_ms = ms; }

public slots:
    void request_finished();
    void request_timestamp_finished(SoapExchange* reply);
    void request_timestamp_abort();
    void request_PTZ_finished();
    void onvif_action_with_timestamp(QString);
    void stop_false_clic();

signals:
    void timestamp(QString camera_time);

private:
    struct Outcome
    {
        QString command;
        QString text;
        int http = 0;
        bool transport_error = false;
        bool timed_out = false;
        bool too_large = false;
        QString error;
    };

    SoapExchange* post(const QString& path, const QString& command, const QString& action_uri,
                       const QByteArray& body);
    Outcome take(SoapExchange* r);
    void request_timed_out();
    // The failure of an outcome, empty when it succeeded; *auth tells a
    // refusal of the credentials.
    QString failure_of(const Outcome& o, bool* auth);
    void chain_failure(int status, const QString& command, const QString& shown, const QString& logged);
    bool is_stop(const QString& command, float pan, float tilt, float zoom) const;
    void send_movement(const QString& operation, const QByteArray& body);

    QString scheme, host, port, user, password;
    QList<QSslCertificate> ca_certificates;
    SoapHttpClient* http = nullptr;
    SoapExchange* reply = nullptr;
    QTimer* timeout_timer = nullptr;
    DomParser* parser = nullptr;
    QString current_command;
    QString camera_time;
    QElapsedTimer camera_time_age;
    QHash<QString, QString> service_table;
    int timeout_ms = default_timeout_ms;
    bool profiles_known = false;
    bool status_known = false;
    bool command_pending = false;
    bool stop_after_reply = false;
    // A stop asked while a request was in flight: sent when it ends.
    QByteArray pending_stop;
    QString pending_stop_command;
};
