#include "tests/support/onvif_routes.h"

#include <QMutexLocker>
#include <QXmlStreamReader>

#include <openssl/evp.h>

#include "tests/support/loopback_server.h"

namespace R = OnvifReplies;

namespace {

const char wsse[] = "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd";
const char wsu[] = "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd";
const char schema[] = "http://www.onvif.org/ver10/schema";

QByteArray sha1(const QByteArray& data)
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(data.constData(), size_t(data.size()), md, &len, EVP_sha1(), nullptr);
    return QByteArray(reinterpret_cast<const char*>(md), int(len));
}

struct Token
{
    QString username, password, nonce, created;
    bool digest_type = false;
};

// The UsernameToken of a request, read with the stream reader.
Token read_token(const QByteArray& body)
{
    Token t;
    QXmlStreamReader xml(body);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QStringView ns = xml.namespaceUri();
        const QStringView n = xml.name();
        if (ns == QLatin1String(wsse) && n == QLatin1String("Username")) {
            t.username = xml.readElementText();
        } else if (ns == QLatin1String(wsse) && n == QLatin1String("Password")) {
            t.digest_type = xml.attributes().value(QLatin1String("Type")).endsWith(QLatin1String("#PasswordDigest"));
            t.password = xml.readElementText();
        } else if (ns == QLatin1String(wsse) && n == QLatin1String("Nonce")) {
            t.nonce = xml.readElementText();
        } else if (ns == QLatin1String(wsu) && n == QLatin1String("Created")) {
            t.created = xml.readElementText();
        }
    }
    return t;
}

FakeOnvifDevice::Move read_move(const QString& operation, const QByteArray& body)
{
    FakeOnvifDevice::Move m;
    m.operation = operation;
    QXmlStreamReader xml(body);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement || xml.namespaceUri() != QLatin1String(schema))
            continue;
        if (xml.name() == QLatin1String("PanTilt")) {
            m.pan_tilt = true;
            m.pan = xml.attributes().value(QLatin1String("x")).toDouble();
            m.tilt = xml.attributes().value(QLatin1String("y")).toDouble();
        } else if (xml.name() == QLatin1String("Zoom")) {
            m.zoom = true;
            m.z = xml.attributes().value(QLatin1String("x")).toDouble();
        }
    }
    if (operation == QLatin1String("Stop"))
        m.pan_tilt = m.zoom = true;
    return m;
}

} // namespace

void FakeOnvifDevice::script(const QString& operation, Misbehave how, int times)
{
    QMutexLocker lock(&mutex);
    scripts.insert(operation, {how, times});
}

QList<FakeOnvifDevice::Request> FakeOnvifDevice::requests() const
{
    QMutexLocker lock(&mutex);
    return received;
}

QList<FakeOnvifDevice::Move> FakeOnvifDevice::moves() const
{
    QMutexLocker lock(&mutex);
    return received_moves;
}

QStringList FakeOnvifDevice::operations() const
{
    QMutexLocker lock(&mutex);
    QStringList out;
    for (const Request& r : received)
        out << r.operation;
    return out;
}

int FakeOnvifDevice::refused() const
{
    QMutexLocker lock(&mutex);
    return refusals;
}

bool FakeOnvifDevice::authorised(const QByteArray& body, QString* username)
{
    const Token t = read_token(body);
    *username = t.username;
    if (t.username != user || !t.digest_type)
        return false;
    const QByteArray nonce = QByteArray::fromBase64(t.nonce.toLatin1());
    const QByteArray expected = sha1(nonce + t.created.toUtf8() + password.toUtf8()).toBase64();
    if (t.password.toLatin1() != expected)
        return false;
    const QDateTime created = QDateTime::fromString(t.created, Qt::ISODate);
    const QDateTime now = QDateTime::currentDateTimeUtc().addSecs(qint64(clock_offset_hours * 3600));
    if (!created.isValid() || qAbs(created.secsTo(now)) > 300)
        return false;
    if (check_nonce) {
        if (seen_nonces.contains(nonce))
            return false;
        seen_nonces.insert(nonce);
    }
    return true;
}

QString FakeOnvifDevice::xaddr(const QString& service) const
{
    switch (xaddr_form) {
    case XAddrForm::Full:
        return QStringLiteral("http://") + own_host_port + QStringLiteral("/onvif/") + service;
    case XAddrForm::Relative:
        return QStringLiteral("/onvif/") + service;
    case XAddrForm::ForeignHost:
        return QStringLiteral("http://192.0.2.55:8999/onvif/") + service;
    case XAddrForm::NoOnvifPath:
        return QStringLiteral("http://192.0.2.55/cam/") + service;
    case XAddrForm::Empty:
        return QString();
    }
    return QString();
}

FakeOnvifDevice::Answer FakeOnvifDevice::reply(const QString& xml, int status) const
{
    Answer a;
    a.status = status;
    a.body = xml.toUtf8();
    return a;
}

FakeOnvifDevice::Answer FakeOnvifDevice::handle(const QByteArray& content_type, const QString& path,
                                                const QByteArray& body)
{
    QMutexLocker lock(&mutex);
    QString action;
    for (const QByteArray& part : content_type.split(';')) {
        const QByteArray p = part.trimmed();
        if (p.startsWith("action="))
            action = QString::fromUtf8(p.mid(7)).remove(QLatin1Char('"'));
    }
    const QString op = action.mid(action.lastIndexOf(QLatin1Char('/')) + 1);
    Request req{op, path, QString(), body};
    const bool clock = op == QLatin1String("GetSystemDateAndTime");
    bool ok = true;
    if (!clock)
        ok = authorised(body, &req.username);
    received.append(req);
    if (op == QLatin1String("ContinuousMove") || op == QLatin1String("RelativeMove") || op == QLatin1String("Stop"))
        received_moves.append(read_move(op, body));

    auto it = scripts.find(op);
    Misbehave how = Misbehave::None;
    if (it != scripts.end()) {
        how = it->first;
        if (it->second > 0 && --it->second == 0)
            scripts.erase(it);
    }
    switch (how) {
    case Misbehave::None:
        break;
    case Misbehave::Fault:
        return reply(R::fault(prefixes, QStringLiteral("ActionNotSupported"), QStringLiteral("scripted fault")), 500);
    case Misbehave::NotAuthorized:
        return reply(R::not_authorized(prefixes), 400);
    case Misbehave::Empty:
        return reply(QString());
    case Misbehave::NotXml:
        return reply(QStringLiteral("<html><body>camera web page"));
    case Misbehave::Huge: {
        Answer a;
        a.body = R::envelope(prefixes, QString()).toUtf8();
        a.body.insert(a.body.indexOf("<" + prefixes.env.toUtf8() + ":Body>"), QByteArray(3 * 1024 * 1024, ' '));
        return a;
    }
    case Misbehave::Deep: {
        QString deep;
        for (int i = 0; i < 200; ++i)
            deep += QStringLiteral("<a>");
        return reply(R::envelope(prefixes, deep));
    }
    case Misbehave::Stall: {
        Answer a;
        a.stall = true;
        return a;
    }
    case Misbehave::Http500:
        return reply(QString(), 500);
    }

    const QDateTime now = QDateTime::currentDateTimeUtc().addSecs(qint64(clock_offset_hours * 3600));
    if (clock)
        return reply(R::date_time(prefixes, now));
    if (!ok) {
        ++refusals;
        return reply(R::not_authorized(prefixes), 400);
    }
    if (op == QLatin1String("GetCapabilities"))
        return reply(R::envelope(prefixes, QStringLiteral("<%1:GetCapabilitiesResponse/>").arg(prefixes.tds)));
    if (op == QLatin1String("GetServices")) {
        QList<QPair<QString, QString>> s;
        if (!no_services) {
            s.append({QLatin1String(R::device_ns), xaddr(QStringLiteral("device_service"))});
            if (!no_media_service)
                s.append({QLatin1String(R::media_ns), xaddr(QStringLiteral("media_service"))});
            s.append({QLatin1String(R::ptz_ns), xaddr(QStringLiteral("ptz_service"))});
        }
        return reply(R::services(prefixes, s));
    }
    if (op == QLatin1String("GetProfiles"))
        return reply(R::profiles(prefixes, profiles));
    if (op == QLatin1String("GetNode"))
        return reply(R::node(prefixes, ranges));
    if (op == QLatin1String("GetPresets"))
        return reply(R::presets(prefixes, presets));
    if (op == QLatin1String("GetStatus"))
        return reply(R::status(prefixes, QStringLiteral("0.1"), QStringLiteral("-0.2"), QStringLiteral("0.3")));
    if (op == QLatin1String("ContinuousMove") || op == QLatin1String("RelativeMove") || op == QLatin1String("Stop"))
        return reply(R::empty_response(prefixes, op));
    return reply(R::fault(prefixes, QStringLiteral("ActionNotSupported"), QStringLiteral("unknown action")), 400);
}

void add_onvif_routes(LoopbackServer& server, FakeOnvifDevice& device)
{
    server.route_prefix("*", "/", [&device](const HttpRequest& req, HttpResponsePtr res) {
        const FakeOnvifDevice::Answer a =
            device.handle(req.header("content-type"), QString::fromUtf8(req.path), req.body);
        if (a.stall)
            return; // the connection stays open until the client gives up
        res->reply(a.status, a.content_type, a.body);
    });
}
