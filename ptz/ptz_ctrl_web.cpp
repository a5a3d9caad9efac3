#include "ptz/ptz_ctrl_web.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrlQuery>

#include "app/http_singleton.h"
#include "app/zq_log.h"

namespace {

// Replies are drained and dropped: nothing in them is used, and a server
// that keeps sending is cut off past this size.
constexpr qint64 max_reply_bytes = 1024 * 1024;

QString num(double v)
{
    // Truncated toward zero, in decimal.
    if (!(v > -2.0e9 && v < 2.0e9))
        return QStringLiteral("0");
    return QString::number(qint64(v));
}

} // namespace

PtzCtrlWeb::PtzCtrlWeb(QObject* parent) : QObject(parent), manager(new QNetworkAccessManager())
{
    connect(manager, &QNetworkAccessManager::finished, this, &PtzCtrlWeb::request_finished);
    stop_timer = new QTimer();
    stop_timer->setSingleShot(true);
    connect(stop_timer, &QTimer::timeout, this, &PtzCtrlWeb::security_stop);
    timeout_timer = new QTimer();
    timeout_timer->setSingleShot(true);
    connect(timeout_timer, &QTimer::timeout, this, &PtzCtrlWeb::request_timed_out);
}

PtzCtrlWeb::~PtzCtrlWeb()
{
    stop_timer->stop();
    timeout_timer->stop();
    manager->disconnect(this);
    if (in_flight) {
        in_flight->abort();
        in_flight->deleteLater();
    }
    manager->deleteLater();
    stop_timer->deleteLater();
    timeout_timer->deleteLater();
}

bool PtzCtrlWeb::is_security_stop_armed() const
{
    return stop_timer->isActive();
}

QUrl PtzCtrlWeb::build_url(const QString& base, const QList<QPair<QString, QString>>& params, int width, int height,
                           const QString& session_id)
{
    QUrl url(base, QUrl::TolerantMode);
    QUrlQuery query(url);
    auto add = [&query](const QString& key, const QString& value) {
        // Encoded whole: "&", "=", "#", "+", CR or LF in a value never start
        // another parameter or end the query.
        // An empty value is still written "key=", as the page expects.
        QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(value, ","));
        if (encoded.isNull())
            encoded = QLatin1String("");
        query.addQueryItem(key, encoded);
    };
    for (const auto& p : params)
        add(p.first, p.second);
    add(QStringLiteral("resolution"), QString::number(width) + QLatin1Char('x') + QString::number(height));
    add(QStringLiteral("PHPSESSID"), session_id);
    url.setQuery(query);
    return url;
}

void PtzCtrlWeb::send(const QUrl& url)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader("Connection", "keep-alive");
    request.setRawHeader("User-Agent", Http_singleton::instance()->access_user_agent(QString(), false).toLatin1());
    if (!ca_certificates.isEmpty()) {
        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        conf.addCaCertificates(ca_certificates);
        request.setSslConfiguration(conf);
    }
    in_flight = manager->get(request);
    idle = false;
    QNetworkReply* reply = in_flight;
    connect(reply, &QNetworkReply::readyRead, reply, [reply] {
        reply->readAll();
        if (reply->property("zq_read").toLongLong() > max_reply_bytes)
            reply->abort();
    });
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        reply->setProperty("zq_read", received);
        if (received > max_reply_bytes)
            reply->abort();
    });
    timeout_timer->start(timeout_ms);
}

void PtzCtrlWeb::request_timed_out()
{
    if (in_flight) {
        ZQLog::log(QStringLiteral("[WARN] PTZ Ctrl Web :: request timed out"));
        in_flight->abort();
    }
}

void PtzCtrlWeb::postArea(const QString& url, QRect area, int width, int height, const QString& session_id)
{
    if (!idle) {
        ZQLog::log(QStringLiteral("[WARN] PTZ Ctrl Web :: previous request not finished"));
        return;
    }
    const QRect a = area.normalized();
    send(build_url(url,
                   {{QStringLiteral("area"), QString::number(a.x()) + QLatin1Char(',') + QString::number(a.y())
                                                 + QLatin1Char(',') + QString::number(a.width()) + QLatin1Char(',')
                                                 + QString::number(a.height())}},
                   width, height, session_id));
}

void PtzCtrlWeb::postClic(const QString& url, double x, double y, int width, int height, const QString& session_id)
{
    if (!idle) {
        ZQLog::log(QStringLiteral("[WARN] PTZ Ctrl Web :: clic :: previous request not finished"));
        return;
    }
    send(build_url(url, {{QStringLiteral("clic"), num(x) + QLatin1Char(',') + num(y)}}, width, height, session_id));
}

int PtzCtrlWeb::postContinuous(const QString& url, bool hold, double x, double y, int width, int height,
                               const QString& session_id)
{
    if (!idle) {
        if (!hold) {
            // A release is never lost: the latest one goes out when the
            // request in flight ends.
            pending_release = PendingRelease{true, url, session_id, x, y, width, height};
            if (x == 0 && y == 0 && in_flight
                && in_flight->url().toString().contains(QLatin1String("holdclic")) && !stop_timer->isActive())
                stop_timer->start(security_stop_ms);
        }
        return -1;
    }
    const QUrl request_url = build_url(
        url, {{hold ? QStringLiteral("holdclic") : QStringLiteral("releaseclic"), num(x) + QLatin1Char(',') + num(y)}},
        width, height, session_id);
    ZQLog::log(QStringLiteral("[INFO] PTZ Ctrl Web :: post continuous :: ") + request_url.toString().left(2000));
    send(request_url);
    return 1;
}

void PtzCtrlWeb::postZoom(const QString& url, const QString& a, const QString& b, int width, int height,
                          const QString& session_id)
{
    if (!idle) {
        ZQLog::log(QStringLiteral("[WARN] PTZ Ctrl Web :: previous request not finished"));
        return;
    }
    send(build_url(url, {{QStringLiteral("zoom"), a + QLatin1Char(',') + b}}, width, height, session_id));
}

void PtzCtrlWeb::postRightClic(const QString& url, int width, int height, const QString& session_id)
{
    if (!idle) {
        ZQLog::log(QStringLiteral("[WARN] PTZ Ctrl Web :: previous request not finished"));
        return;
    }
    send(build_url(url, {{QStringLiteral("rightclic"), QStringLiteral("1")}}, width, height, session_id));
}

void PtzCtrlWeb::request_finished(QNetworkReply* reply)
{
    reply->deleteLater();
    if (reply != in_flight)
        return; // a reply given up before: its request already ended
    timeout_timer->stop();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool ok = reply->error() == QNetworkReply::NoError && status > 0 && status < 400;
    if (!ok)
        ZQLog::log(QStringLiteral("[WARN] PTZ Ctrl Web :: request failed :: ") + QString::number(status)
                   + QStringLiteral(" ") + reply->errorString().left(300));
    in_flight = nullptr;
    idle = true;
    emit send_request_finished(ok ? 1 : -1);
    if (pending_release.set && idle) {
        const PendingRelease r = pending_release;
        pending_release = PendingRelease{};
        stop_timer->stop();
        postContinuous(r.url, false, r.x, r.y, r.width, r.height, r.session_id);
    }
}
