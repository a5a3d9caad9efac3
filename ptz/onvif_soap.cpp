#include "ptz/onvif_soap.h"

#include <QRandomGenerator>

#include <cmath>

#include <openssl/evp.h>

#include "ptz/base64.h"
#include "ptz/dom_parser.h"

namespace OnvifSoap {

QString xml_escape(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (QChar ch : text) {
        switch (ch.unicode()) {
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        case '\'':
            out += QLatin1String("&apos;");
            break;
        case '\r':
            out += QLatin1String("&#13;");
            break;
        case '\n':
            out += QLatin1String("&#10;");
            break;
        case '\t':
            out += QLatin1String("&#9;");
            break;
        default:
            // Other control characters cannot appear in XML 1.0 at all.
            if (ch.unicode() < 0x20)
                break;
            out += ch;
        }
    }
    return out;
}

QByteArray make_nonce()
{
    QByteArray nonce(nonce_bytes, Qt::Uninitialized);
    QRandomGenerator* rng = QRandomGenerator::system();
    for (int i = 0; i < nonce_bytes; ++i)
        nonce[i] = char(rng->bounded(256));
    return nonce;
}

QString password_digest(const QByteArray& nonce, const QString& created, const QString& password)
{
    const QByteArray c = created.toUtf8();
    const QByteArray p = password.toUtf8();
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    bool ok = ctx && EVP_DigestInit_ex(ctx, EVP_sha1(), nullptr) == 1
              && EVP_DigestUpdate(ctx, nonce.constData(), size_t(nonce.size())) == 1
              && EVP_DigestUpdate(ctx, c.constData(), size_t(c.size())) == 1
              && EVP_DigestUpdate(ctx, p.constData(), size_t(p.size())) == 1
              && EVP_DigestFinal_ex(ctx, md, &len) == 1;
    EVP_MD_CTX_free(ctx);
    if (!ok)
        return QString();
    return Base64::encode(QByteArray(reinterpret_cast<const char*>(md), int(len)));
}

QByteArray security_header(const QString& user, const QString& password, const QString& created,
                           const QByteArray& nonce)
{
    QByteArray h;
    h += "<s:Header><Security s:mustUnderstand=\"1\" xmlns=\"";
    h += wsse_ns;
    h += "\"><UsernameToken><Username>";
    h += xml_escape(user).toUtf8();
    h += "</Username><Password Type=\"";
    h += password_digest_type;
    h += "\">";
    h += password_digest(nonce, created, password).toLatin1();
    h += "</Password><Nonce EncodingType=\"";
    h += base64_binary_type;
    h += "\">";
    h += Base64::encode(nonce).toLatin1();
    h += "</Nonce><Created xmlns=\"";
    h += wsu_ns;
    h += "\">";
    h += xml_escape(created).toUtf8();
    h += "</Created></UsernameToken></Security></s:Header>";
    return h;
}

QByteArray envelope(const QByteArray& header, const QByteArray& body)
{
    QByteArray e;
    e.reserve(header.size() + body.size() + 300);
    e += "<s:Envelope xmlns:s=\"";
    e += OnvifNs::soap12;
    e += "\">";
    e += header;
    e += "<s:Body xmlns:xsi=\"";
    e += OnvifNs::xsi;
    e += "\" xmlns:xsd=\"";
    e += OnvifNs::xsd;
    e += "\">";
    e += body;
    e += "</s:Body></s:Envelope>";
    return e;
}

QString action(const char* service_ns, const QString& operation)
{
    return QLatin1String(service_ns) + QLatin1Char('/') + operation;
}

QByteArray empty_element(const char* service_ns, const QString& operation)
{
    return "<" + operation.toUtf8() + " xmlns=\"" + service_ns + "\"/>";
}

QByteArray element_with_child(const char* service_ns, const QString& operation, const QString& child,
                              const QString& value)
{
    const QByteArray op = operation.toUtf8(), ch = child.toUtf8();
    return "<" + op + " xmlns=\"" + service_ns + "\"><" + ch + ">" + xml_escape(value).toUtf8() + "</" + ch + "></"
           + op + ">";
}

QString number(double v)
{
    if (!std::isfinite(v))
        v = 0.0;
    QString s = QString::number(v, 'f', 6);
    while (s.contains(QLatin1Char('.')) && (s.endsWith(QLatin1Char('0')) || s.endsWith(QLatin1Char('.'))))
        s.chop(1);
    if (s == QLatin1String("-0"))
        s = QStringLiteral("0");
    return s;
}

namespace {

QByteArray vector(const char* name, bool pan_tilt, double pan, double tilt, bool with_zoom, double zoom)
{
    QByteArray v = QByteArray("<") + name + ">";
    if (pan_tilt)
        v += "<PanTilt xmlns=\"" + QByteArray(OnvifNs::schema) + "\" x=\"" + number(pan).toLatin1() + "\" y=\""
             + number(tilt).toLatin1() + "\"/>";
    if (with_zoom)
        v += "<Zoom xmlns=\"" + QByteArray(OnvifNs::schema) + "\" x=\"" + number(zoom).toLatin1() + "\"/>";
    v += QByteArray("</") + name + ">";
    return v;
}

QByteArray profile_element(const QString& profile)
{
    return "<ProfileToken>" + xml_escape(profile).toUtf8() + "</ProfileToken>";
}

} // namespace

QByteArray continuous_move(const QString& profile, bool pan_tilt, double pan, double tilt, bool with_zoom,
                           double zoom)
{
    return "<ContinuousMove xmlns=\"" + QByteArray(OnvifNs::ptz) + "\">" + profile_element(profile)
           + vector("Velocity", pan_tilt, pan, tilt, with_zoom, zoom) + "</ContinuousMove>";
}

QByteArray relative_move(const QString& profile, double pan, double tilt, bool with_zoom, double zoom)
{
    return "<RelativeMove xmlns=\"" + QByteArray(OnvifNs::ptz) + "\">" + profile_element(profile)
           + vector("Translation", true, pan, tilt, with_zoom, zoom) + "</RelativeMove>";
}

QByteArray stop(const QString& profile)
{
    return "<Stop xmlns=\"" + QByteArray(OnvifNs::ptz) + "\">" + profile_element(profile)
           + "<PanTilt>true</PanTilt><Zoom>true</Zoom></Stop>";
}

} // namespace OnvifSoap
