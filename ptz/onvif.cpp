#include "ptz/onvif.h"

#include <QDateTime>
#include <QTimer>
#include <QUrl>

#include <cmath>

#include "app/zq_log.h"
#include "ptz/dom_parser.h"
#include "ptz/onvif_ptz.h"
#include "ptz/onvif_soap.h"
#include "ptz/soap_http_client.h"

namespace {

namespace ns = OnvifNs;

const char created_format[] = "yyyy-MM-dd'T'HH:mm:ss'Z'";

void log_line(const QString& text)
{
    ZQLog::log(text.left(4000));
}

// A percentage into a range: 100 reaches the range's max, -100 its min.
double scale(double percent, Onvif_ptz::Range r)
{
    const double f = qBound(-1.0, percent / 100.0, 1.0);
    const double v = f >= 0 ? f * r.max : f * -r.min;
    return qBound(double(r.min), v, double(r.max));
}

double scale_unit(double f, Onvif_ptz::Range r)
{
    return scale(f * 100.0, r);
}

} // namespace

Onvif::Onvif(const QString& scheme_, const QString& host_, const QString& port_, const QString& user_,
             const QString& password_, const QString& driver_name, const QList<QSslCertificate>& ca,
             QObject* parent)
    : NativePTZInterface(parent), scheme(scheme_.toLower()), host(host_), port(port_), user(user_),
      password(password_), ca_certificates(ca), timeout_timer(new QTimer(this)), parser(new DomParser(this))
{
    name = driver_name;
    bool ok = false;
    int p = port.toInt(&ok);
    if (!ok || p <= 0 || p > 65535)
        p = scheme == QLatin1String("https") ? 443 : 80;
    http = new SoapHttpClient(scheme, host, quint16(p), ca_certificates, max_reply_bytes, this);
    timeout_timer->setSingleShot(true);
    connect(timeout_timer, &QTimer::timeout, this, &Onvif::request_timed_out);
    connect(this, &Onvif::timestamp, this, &Onvif::onvif_action_with_timestamp);
}

Onvif::~Onvif()
{
    if (reply) {
        reply->disconnect(this);
        reply->abort();
        delete reply;
        reply = nullptr;
    }
}

Onvif_ptz* Onvif::description() const
{
    return parser->result();
}

QString Onvif::service_path(const QString& address)
{
    // A list of addresses: the first one.
    QString a = address.trimmed();
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a.at(i).isSpace()) {
            a.truncate(i);
            break;
        }
    }
    QString path;
    if (a.contains(QLatin1String("http"))) {
        const QUrl u(a, QUrl::TolerantMode);
        path = u.adjusted(QUrl::NormalizePathSegments).path();
    } else {
        path = a;
    }
    const qsizetype at = path.lastIndexOf(QLatin1String("/onvif/"));
    if (at >= 0)
        path = path.mid(at + 7);
    else if (path.startsWith(QLatin1Char('/')))
        return path;
    // Below /onvif/: no way up out of it.
    path.replace(QLatin1String(".."), QString());
    return QStringLiteral("/onvif/") + path;
}

QString Onvif::created_time() const
{
    if (camera_time.isEmpty())
        return QString();
    QDateTime t = QDateTime::fromString(camera_time, Qt::ISODate);
    if (!t.isValid())
        return QString();
    t = t.toUTC().addMSecs(camera_time_age.isValid() ? camera_time_age.elapsed() : 0);
    return t.toString(QLatin1String(created_format));
}

QByteArray Onvif::build_security_header(const QString& u, const QString& p, const QString& created)
{
    const QString c = created.isEmpty() ? QDateTime::currentDateTimeUtc().toString(QLatin1String(created_format))
                                        : created;
    return OnvifSoap::security_header(u, p, c, OnvifSoap::make_nonce());
}

SoapExchange* Onvif::post(const QString& path, const QString& command, const QString& action_uri,
                          const QByteArray& body)
{
    if (reply) {
        // Given up: its reply must never be taken for the next command's.
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
        reply = nullptr;
    }
    current_command = command;
    reply = http->post(path, QByteArray("application/soap+xml; charset=utf-8; action=") + action_uri.toUtf8(), body);
    reply->setProperty("cmd", command);
    timeout_timer->start(timeout_ms);
    return reply;
}

Onvif::Outcome Onvif::take(SoapExchange* r)
{
    timeout_timer->stop();
    if (r == reply)
        reply = nullptr;
    r->deleteLater();
    Outcome o;
    o.command = r->property("cmd").toString();
    o.timed_out = r->property("zq_timed_out").toBool();
    o.too_large = r->too_large();
    o.http = r->status();
    o.error = r->error_string();
    o.transport_error = o.http <= 0 || o.timed_out || o.too_large || !o.error.isEmpty();
    if (!o.transport_error)
        o.text = QString::fromUtf8(r->body());
    return o;
}

void Onvif::request_timed_out()
{
    if (!reply)
        return;
    reply->setProperty("zq_timed_out", true);
    if (current_command == QLatin1String("GetSystemDateAndTime"))
        request_timestamp_abort();
    else
        reply->abort();
}

QString Onvif::failure_of(const Outcome& o, bool* auth)
{
    *auth = false;
    if (o.timed_out)
        return QStringLiteral("time-out");
    if (o.too_large)
        return QStringLiteral("reply too large");
    if (o.transport_error)
        return o.error.isEmpty() ? QStringLiteral("no reply") : o.error;
    if (o.http == 401 || o.http == 403) {
        *auth = true;
        return QStringLiteral("HTTP ") + QString::number(o.http);
    }
    if (o.text.isEmpty())
        return o.http >= 400 ? QStringLiteral("HTTP ") + QString::number(o.http) : QStringLiteral("empty reply");
    const QString fault = parser->get_fault(o.text);
    if (!fault.isEmpty()) {
        *auth = parser->is_not_authorized(o.text);
        return fault;
    }
    if (o.http >= 400)
        return QStringLiteral("HTTP ") + QString::number(o.http);
    return QString();
}

void Onvif::chain_failure(int status, const QString& command, const QString& shown, const QString& logged)
{
    log_line(QStringLiteral("[ERROR] ONVIF :: Error on command ") + command);
    log_line(QStringLiteral("[ERROR] ONVIF :: Error message    ") + logged);
    emit status_message(status, command, shown, name);
}

void Onvif::start()
{
    const QString command = QStringLiteral("GetSystemDateAndTime");
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        emit status_message(-99, command, QStringLiteral("not supported"), name);
        return;
    }
    set_ready(false);
    SoapExchange* r = post(QStringLiteral("/onvif/device_service"), command, OnvifSoap::action(ns::device, command),
                           OnvifSoap::envelope(QByteArray(), OnvifSoap::empty_element(ns::device, command)));
    connect(r, &SoapExchange::finished, this, [this, r] { request_timestamp_finished(r); });
}

void Onvif::request_timestamp_abort()
{
    log_line(QStringLiteral("[INFO] ONVIF ::  request_timestamp_abort"));
    if (reply)
        reply->abort();
}

void Onvif::request_timestamp_finished(SoapExchange* r)
{
    if (r != reply) {
        r->deleteLater();
        return;
    }
    const Outcome o = take(r);
    log_line(QStringLiteral("[INFO] ONVIF :: request timestamp finished :: command :: ") + o.command);
    bool auth = false;
    QString fault = failure_of(o, &auth);
    QString time;
    if (fault.isEmpty()) {
        auto* fresh = new DomParser(this);
        time = fresh->get_utc_datetime(o.text);
        const QDateTime t = QDateTime::fromString(time, Qt::ISODate);
        if (!fresh->last_parse_ok() || time.isEmpty() || !t.isValid()) {
            fault = QStringLiteral("no camera time");
            delete fresh;
        } else {
            parser->deleteLater();
            parser = fresh;
            service_table.clear();
        }
    }
    if (!fault.isEmpty()) {
        log_line(QStringLiteral("[ERROR] ONVIF :: request timestamp finished :: Error on command ") + o.command);
        log_line(QStringLiteral("[ERROR] ONVIF :: request timestamp finished :: Error message    ") + fault);
        emit status_message(-99, o.command,
                            auth ? QStringLiteral("not authorized")
                                 : (o.timed_out ? QStringLiteral("time-out") : QStringLiteral("not supported")),
                            name);
        return;
    }
    camera_time = time;
    camera_time_age.start();
    emit timestamp(camera_time);
}

void Onvif::onvif_action_with_timestamp(QString)
{
    send_request(QStringLiteral("device_service"), QStringLiteral("GetServices"));
}

void Onvif::send_request(const QString& service, const QString& command)
{
    const char* service_ns = nullptr;
    QByteArray body;
    if (command == QLatin1String("GetSystemDateAndTime") || command == QLatin1String("GetDeviceInformation")
        || command == QLatin1String("GetScopes")) {
        service_ns = ns::device;
        body = OnvifSoap::empty_element(ns::device, command);
    } else if (command == QLatin1String("GetCapabilities")) {
        service_ns = ns::device;
        body = OnvifSoap::element_with_child(ns::device, command, QStringLiteral("Category"), QStringLiteral("All"));
    } else if (command == QLatin1String("GetServices")) {
        service_ns = ns::device;
        body = OnvifSoap::element_with_child(ns::device, command, QStringLiteral("IncludeCapability"),
                                             QStringLiteral("false"));
    } else if (command == QLatin1String("GetVideoSources") || command == QLatin1String("GetProfiles")) {
        service_ns = ns::media;
        body = OnvifSoap::empty_element(ns::media, command);
    } else if (command == QLatin1String("GetNodes")) {
        service_ns = ns::ptz;
        body = OnvifSoap::empty_element(ns::ptz, command);
    }
    const QString action_uri = service_ns ? OnvifSoap::action(service_ns, command) : QString();
    const QByteArray header = build_security_header(user, password, created_time());
    SoapExchange* r = post(service_path(service), command, action_uri, OnvifSoap::envelope(header, body));
    connect(r, &SoapExchange::finished, this, &Onvif::request_finished);
}

void Onvif::send_ptz_request(const QString& command, const QString& token)
{
    QString operation;
    QString child;
    if (command == QLatin1String("GetNodes")) {
        operation = QStringLiteral("GetNode");
        child = QStringLiteral("NodeToken");
    } else if (command == QLatin1String("GetPresets")) {
        operation = QStringLiteral("GetPresets");
        child = QStringLiteral("ProfileToken");
    } else if (command == QLatin1String("GetStatus")) {
        operation = QStringLiteral("GetStatus");
        child = QStringLiteral("ProfileToken");
    }
    const QString address = service_table.value(QLatin1String(ns::ptz));
    if (address.isEmpty()) {
        chain_failure(-1, command, QStringLiteral("not supported"), QStringLiteral("no PTZ service"));
        return;
    }
    const QByteArray body = operation.isEmpty() ? QByteArray()
                                                : OnvifSoap::element_with_child(ns::ptz, operation, child, token);
    const QString action_uri = operation.isEmpty() ? QString() : OnvifSoap::action(ns::ptz, operation);
    const QByteArray header = build_security_header(user, password, created_time());
    SoapExchange* r = post(service_path(address), command, action_uri, OnvifSoap::envelope(header, body));
    connect(r, &SoapExchange::finished, this, &Onvif::request_finished);
}

void Onvif::request_finished()
{
    auto* r = qobject_cast<SoapExchange*>(sender());
    if (!r)
        return;
    if (r != reply) {
        r->deleteLater();
        return;
    }
    const Outcome o = take(r);
    const QString& cmd = o.command;
    if (!o.transport_error && o.text.isEmpty() && o.http < 400)
        log_line(QStringLiteral("[ERROR] ONVIF :: Reply is empty for ") + cmd);
    bool auth = false;
    const QString failure = failure_of(o, &auth);
    if (!failure.isEmpty()) {
        chain_failure(-1, cmd, auth ? QStringLiteral("not authorized") : QStringLiteral("not supported"), failure);
        return;
    }
    Onvif_ptz* ptz = parser->result();
    if (cmd == QLatin1String("GetCapabilities")) {
        send_request(QStringLiteral("device_service"), QStringLiteral("GetServices"));
    } else if (cmd == QLatin1String("GetServices")) {
        service_table = parser->get_services(o.text);
        if (service_table.isEmpty()) {
            chain_failure(-1, cmd, QStringLiteral("not supported"), QStringLiteral("no service"));
            return;
        }
        const QString media = service_table.value(QLatin1String(ns::media));
        if (media.isEmpty()) {
            chain_failure(-1, QStringLiteral("GetProfiles"), QStringLiteral("not supported"),
                          QStringLiteral("no media service"));
            return;
        }
        send_request(media, QStringLiteral("GetProfiles"));
    } else if (cmd == QLatin1String("GetProfiles")) {
        ptz = parser->get_profile(o.text);
        const QStringList profiles = ptz->get_profile_tokens();
        if (profiles.isEmpty() || profiles.first().isEmpty()) {
            chain_failure(-1, cmd, QStringLiteral("not supported"), QStringLiteral("no profile"));
            return;
        }
        profiles_known = true;
        const QStringList nodes = ptz->get_node_tokens();
        if (nodes.isEmpty()) {
            emit status_message(-1, QStringLiteral("GetNodes"), QStringLiteral("not supported"), name);
            return;
        }
        send_ptz_request(QStringLiteral("GetNodes"), nodes.first());
    } else if (cmd == QLatin1String("GetNodes")) {
        ptz = parser->get_nodes(o.text);
        if (ptz->get_profile_tokens().isEmpty()) {
            chain_failure(0, cmd, QStringLiteral("not supported"), QStringLiteral("no profile"));
            return;
        }
        send_ptz_request(QStringLiteral("GetPresets"), ptz->get_profile_tokens().first());
    } else if (cmd == QLatin1String("GetPresets")) {
        ptz = parser->get_presets(o.text);
        if (ptz->get_profile_tokens().isEmpty()) {
            chain_failure(0, cmd, QStringLiteral("not supported"), QStringLiteral("no profile"));
            return;
        }
        send_ptz_request(QStringLiteral("GetStatus"), ptz->get_profile_tokens().first());
    } else if (cmd == QLatin1String("GetStatus")) {
        parser->get_status(o.text);
        status_known = true;
        set_ready(true);
        emit status_message(1, cmd, status_text(), name);
    }
}

QString Onvif::status_text()
{
    const Onvif_ptz* ptz = parser->result();
    const QStringList profiles = ptz->get_profile_tokens();
    QString t = QStringLiteral("profile ") + (profiles.isEmpty() ? QString() : profiles.first().left(64));
    t += QStringLiteral(", ") + QString::number(ptz->get_presets().size()) + QStringLiteral(" presets");
    if (status_known)
        t += QStringLiteral(", pan ") + OnvifSoap::number(ptz->get_pan()) + QStringLiteral(" tilt ")
             + OnvifSoap::number(ptz->get_tilt()) + QStringLiteral(" zoom ") + OnvifSoap::number(ptz->get_zoom());
    return t;
}

bool Onvif::is_stop(const QString& command, float pan, float tilt, float zoom) const
{
    if (command == QLatin1String("STOP") || command == QLatin1String("STOP_PanTilt_ContinuousMove"))
        return true;
    const bool moving = command == QLatin1String("ContinuousMove")
                        || command == QLatin1String("PanTilt_ContinuousMove");
    return moving && pan == 0.f && tilt == 0.f && zoom == 0.f;
}

void Onvif::ptz_command(QString command, int zoom_only, float pan, float tilt, float zoom, int width, int height,
                        int, int, int)
{
    if (!std::isfinite(pan) || !std::isfinite(tilt) || !std::isfinite(zoom)) {
        emit status_message(-2, command, QStringLiteral("invalid value"), name);
        end_refused_request();
        return;
    }
    const Onvif_ptz* ptz = parser->result();
    const QStringList profiles = ptz->get_profile_tokens();
    if (!is_ready() || profiles.isEmpty()) {
        log_line(QStringLiteral("[WARN] ONVIF :: ") + command.left(100) + QStringLiteral(" :: driver not ready"));
        end_refused_request();
        return;
    }
    const QString profile = profiles.first();
    QString operation;
    QByteArray body;
    const bool stop = is_stop(command, pan, tilt, zoom);
    if (stop) {
        operation = QStringLiteral("Stop");
        body = OnvifSoap::stop(profile);
    } else if (command == QLatin1String("ContinuousMove") || command == QLatin1String("PanTilt_ContinuousMove")) {
        operation = QStringLiteral("ContinuousMove");
        const bool pan_tilt_only = command == QLatin1String("PanTilt_ContinuousMove");
        body = OnvifSoap::continuous_move(profile, zoom_only == 0, scale(pan, ptz->get_continuous_pan_range()),
                                          scale(tilt, ptz->get_continuous_tilt_range()), !pan_tilt_only,
                                          scale(zoom, ptz->get_continuous_zoom_range()));
    } else if ((command == QLatin1String("clic") || command == QLatin1String("area")) && ptz->is_relative_supported()
               && width > 0 && height > 0) {
        operation = QStringLiteral("RelativeMove");
        // Toward the point: its offset from the centre, in halves of the picture.
        const double dx = (double(pan) - width / 2.0) / (width / 2.0);
        const double dy = -(double(tilt) - height / 2.0) / (height / 2.0);
        bool with_zoom = false;
        double rz = 0.0;
        if (command == QLatin1String("area") && ptz->is_relative_zoom_supported()) {
            // Zoom factor x 100: a quarter of the picture is a factor 4.
            const double factor = double(zoom) / 100.0;
            with_zoom = true;
            rz = factor > 1.0 ? 1.0 - 1.0 / factor : 0.0;
        }
        body = OnvifSoap::relative_move(profile, scale_unit(dx, ptz->get_relative_pan_range()),
                                        scale_unit(dy, ptz->get_relative_tilt_range()), with_zoom,
                                        scale_unit(rz, ptz->get_relative_zoom_range()));
    } else {
        emit status_message(-2, command, QStringLiteral("not supported"), name);
        end_refused_request();
        return;
    }
    if (reply) {
        if (stop) {
            // Never dropped: the latest stop goes out when the request ends.
            pending_stop = body;
            pending_stop_command = command;
            log_line(QStringLiteral("[INFO] ONVIF :: ") + command + QStringLiteral(" :: kept until the request ends"));
        } else {
            // Dropped: the request in flight ends with its own signal.
            log_line(QStringLiteral("[WARN] ONVIF :: ") + command.left(100)
                     + QStringLiteral(" :: previous request not finished"));
        }
        return;
    }
    current_command = command;
    send_movement(operation, body);
}

void Onvif::send_movement(const QString& operation, const QByteArray& body)
{
    const QString address = service_table.value(QLatin1String(ns::ptz));
    const QByteArray header = build_security_header(user, password, created_time());
    const QString command = current_command;
    SoapExchange* r = post(service_path(address), command, OnvifSoap::action(ns::ptz, operation),
                            OnvifSoap::envelope(header, body));
    command_pending = true;
    connect(r, &SoapExchange::finished, this, &Onvif::request_PTZ_finished);
}

void Onvif::request_PTZ_finished()
{
    auto* r = qobject_cast<SoapExchange*>(sender());
    if (!r)
        return;
    if (r != reply) {
        r->deleteLater();
        return;
    }
    const Outcome o = take(r);
    command_pending = false;
    int code = 1;
    log_line(QStringLiteral("[INFO] ONVIF ::  Request PTZ FINISHED ") + o.command + QStringLiteral(":")
             + o.text.left(1000));
    if (stop_after_reply) {
        stop_after_reply = false;
        QTimer::singleShot(300, this, &Onvif::stop_false_clic);
    }
    bool auth = false;
    const QString failure = failure_of(o, &auth);
    if (!failure.isEmpty()) {
        log_line(QStringLiteral("[ERROR] ONVIF :: Error on command ") + o.command);
        log_line(QStringLiteral("[ERROR] ONVIF :: Error message    ") + failure);
        emit status_message(-2, o.command,
                            auth ? QStringLiteral("not authorized") : QStringLiteral("PTZ command failed"), name);
        code = -1;
    }
    Onvif_ptz* ptz = parser->result();
    if (ptz->get_pending1()) {
        ptz->set_pending1(false);
        code = 2;
    }
    ptz->set_pending2(false);
    ptz->set_pending3(false);
    if (!pending_stop.isEmpty()) {
        const QByteArray body = pending_stop;
        current_command = pending_stop_command;
        pending_stop.clear();
        pending_stop_command.clear();
        send_movement(QStringLiteral("Stop"), body);
    }
    emit send_request_finished(code);
}

void Onvif::stop_false_clic()
{
    ptz_command(QStringLiteral("STOP_PanTilt_ContinuousMove"), 0, 0.f, 0.f, 0.f, -1, -1, speed.toInt(), -1, -1);
}
