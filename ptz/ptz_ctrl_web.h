#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QRect>
#include <QSslCertificate>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// Steers a camera through the recording server's web control page: one GET
// per gesture, one request at a time. A release refused while a request is
// in flight is kept (the latest one) and sent when that request ends; behind
// a hold the security-stop signal also asks the tile for it every 500 ms.
class PtzCtrlWeb : public QObject
{
    Q_OBJECT

public:
    static constexpr int default_timeout_ms = 5000;
    static constexpr int security_stop_ms = 500;

    explicit PtzCtrlWeb(QObject* parent = nullptr);
    ~PtzCtrlWeb() override;

    void postArea(const QString& url, QRect area, int width, int height, const QString& session_id);
    void postClic(const QString& url, double x, double y, int width, int height, const QString& session_id);
    // 1 sent, -1 not sent.
    int postContinuous(const QString& url, bool hold, double x, double y, int width, int height,
                       const QString& session_id);
    void postZoom(const QString& url, const QString& a, const QString& b, int width, int height,
                  const QString& session_id);
    void postRightClic(const QString& url, int width, int height, const QString& session_id);

    // The request URL: the base address with the gesture's parameters, the
    // picture size and the session id added as query items.
    static QUrl build_url(const QString& base, const QList<QPair<QString, QString>>& params, int width, int height,
                          const QString& session_id);

    bool is_idle() const { return idle; }
    bool is_security_stop_armed() const;
    void set_timeout_ms(int ms) { timeout_ms = ms; }
    void set_ca_certificates(const QList<QSslCertificate>& certs) { ca_certificates = certs; }

signals:
    void security_stop();
    // 1 when the server answered below 400, -1 otherwise (error, time-out).
    void send_request_finished(int code);

public slots:
    void request_finished(QNetworkReply* reply);

private:
    void send(const QUrl& url);
    void request_timed_out();

    struct PendingRelease
    {
        bool set = false;
        QString url, session_id;
        double x = 0, y = 0;
        int width = 0, height = 0;
    };

    QNetworkAccessManager* manager = nullptr;
    QNetworkReply* in_flight = nullptr;
    QTimer* stop_timer = nullptr;
    QTimer* timeout_timer = nullptr;
    QList<QSslCertificate> ca_certificates;
    PendingRelease pending_release;
    int timeout_ms = default_timeout_ms;
    bool idle = true;
};
