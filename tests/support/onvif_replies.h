#pragma once

// SOAP 1.2 replies of an ONVIF camera, with the namespace prefixes a test
// chooses: cameras bind the same namespaces to "s:", "env:", "SOAP-ENV:",
// "ns2:" and more, and a reader must not care.

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace OnvifReplies {

inline constexpr char device_ns[] = "http://www.onvif.org/ver10/device/wsdl";
inline constexpr char media_ns[] = "http://www.onvif.org/ver10/media/wsdl";
inline constexpr char ptz_ns[] = "http://www.onvif.org/ver20/ptz/wsdl";

struct Prefixes
{
    QString env = QStringLiteral("s");
    QString tds = QStringLiteral("tds");
    QString trt = QStringLiteral("trt");
    QString tptz = QStringLiteral("tptz");
    QString tt = QStringLiteral("tt");
    QString ter = QStringLiteral("ter");
};

inline Prefixes foreign_prefixes()
{
    return Prefixes{QStringLiteral("SOAP-ENV"), QStringLiteral("ns2"), QStringLiteral("ns3"), QStringLiteral("ns4"),
                    QStringLiteral("ns1"), QStringLiteral("ns9")};
}

inline Prefixes env_prefixes()
{
    return Prefixes{QStringLiteral("env"), QStringLiteral("d"), QStringLiteral("m"), QStringLiteral("p"),
                    QStringLiteral("sch"), QStringLiteral("e")};
}

inline QString q(const QString& prefix, const char* local)
{
    return prefix + QLatin1Char(':') + QLatin1String(local);
}

inline QString envelope(const Prefixes& p, const QString& body)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<%1:Envelope "
                          "xmlns:%1=\"http://www.w3.org/2003/05/soap-envelope\" "
                          "xmlns:%2=\"http://www.onvif.org/ver10/device/wsdl\" "
                          "xmlns:%3=\"http://www.onvif.org/ver10/media/wsdl\" "
                          "xmlns:%4=\"http://www.onvif.org/ver20/ptz/wsdl\" "
                          "xmlns:%5=\"http://www.onvif.org/ver10/schema\" "
                          "xmlns:%6=\"http://www.onvif.org/ver10/error\">\n  <%1:Body>%7</%1:Body>\n</%1:Envelope>\n")
        .arg(p.env, p.tds, p.trt, p.tptz, p.tt, p.ter, body);
}

inline QString date_time(const Prefixes& p, const QDateTime& utc)
{
    const QDate d = utc.date();
    const QTime t = utc.time();
    return envelope(p, QStringLiteral("<%1:GetSystemDateAndTimeResponse><%1:SystemDateAndTime>"
                                      "<%2:DateTimeType>NTP</%2:DateTimeType>"
                                      "<%2:UTCDateTime><%2:Time><%2:Hour>%3</%2:Hour><%2:Minute>%4</%2:Minute>"
                                      "<%2:Second>%5</%2:Second></%2:Time>"
                                      "<%2:Date><%2:Year>%6</%2:Year><%2:Month>%7</%2:Month><%2:Day>%8</%2:Day>"
                                      "</%2:Date></%2:UTCDateTime></%1:SystemDateAndTime>"
                                      "</%1:GetSystemDateAndTimeResponse>")
                           .arg(p.tds, p.tt)
                           .arg(t.hour())
                           .arg(t.minute())
                           .arg(t.second())
                           .arg(d.year())
                           .arg(d.month())
                           .arg(d.day()));
}

inline QString services(const Prefixes& p, const QList<QPair<QString, QString>>& entries)
{
    QString body = QStringLiteral("<%1:GetServicesResponse>").arg(p.tds);
    for (const auto& e : entries)
        body += QStringLiteral("<%1:Service><%1:Namespace>%2</%1:Namespace><%1:XAddr>%3</%1:XAddr>"
                               "<%1:Version><%4:Major>2</%4:Major><%4:Minor>60</%4:Minor></%1:Version></%1:Service>")
                    .arg(p.tds, e.first, e.second, p.tt);
    body += QStringLiteral("</%1:GetServicesResponse>").arg(p.tds);
    return envelope(p, body);
}

// Profiles as (token, PTZ node token or empty for none).
inline QString profiles(const Prefixes& p, const QList<QPair<QString, QString>>& entries)
{
    QString body = QStringLiteral("<%1:GetProfilesResponse>").arg(p.trt);
    for (const auto& e : entries) {
        body += QStringLiteral("<%1:Profiles token=\"%2\" fixed=\"true\"><%3:Name>profile</%3:Name>")
                    .arg(p.trt, e.first, p.tt);
        if (!e.second.isEmpty())
            body += QStringLiteral("<%1:PTZConfiguration token=\"ptzconf\"><%1:Name>ptz</%1:Name>"
                                   "<%1:NodeToken>%2</%1:NodeToken></%1:PTZConfiguration>")
                        .arg(p.tt, e.second);
        body += QStringLiteral("</%1:Profiles>").arg(p.trt);
    }
    body += QStringLiteral("</%1:GetProfilesResponse>").arg(p.trt);
    return envelope(p, body);
}

struct NodeRanges
{
    QString pan_min = QStringLiteral("-1"), pan_max = QStringLiteral("1");
    QString tilt_min = QStringLiteral("-1"), tilt_max = QStringLiteral("1");
    QString zoom_min = QStringLiteral("-1"), zoom_max = QStringLiteral("1");
    bool relative = true;
};

inline QString node(const Prefixes& p, const NodeRanges& r)
{
    auto range = [&](const char* which, const QString& lo, const QString& hi) {
        return QStringLiteral("<%1:%2><%1:Min>%3</%1:Min><%1:Max>%4</%1:Max></%1:%2>")
            .arg(p.tt, QLatin1String(which), lo, hi);
    };
    auto space = [&](const char* name, const char* uri, bool pan_tilt, const QString& xlo, const QString& xhi) {
        QString s = QStringLiteral("<%1:%2><%1:URI>http://www.onvif.org/ver10/tptz/%3</%1:URI>")
                        .arg(p.tt, QLatin1String(name), QLatin1String(uri));
        s += range("XRange", xlo, xhi);
        if (pan_tilt)
            s += range("YRange", r.tilt_min, r.tilt_max);
        s += QStringLiteral("</%1:%2>").arg(p.tt, QLatin1String(name));
        return s;
    };
    QString spaces;
    spaces += space("ContinuousPanTiltVelocitySpace", "PanTiltSpaces/VelocityGenericSpace", true, r.pan_min,
                    r.pan_max);
    spaces += space("ContinuousZoomVelocitySpace", "ZoomSpaces/VelocityGenericSpace", false, r.zoom_min, r.zoom_max);
    if (r.relative) {
        spaces += space("RelativePanTiltTranslationSpace", "PanTiltSpaces/TranslationGenericSpace", true,
                        QStringLiteral("-1"), QStringLiteral("1"));
        spaces += space("RelativeZoomTranslationSpace", "ZoomSpaces/TranslationGenericSpace", false,
                        QStringLiteral("-1"), QStringLiteral("1"));
    }
    return envelope(p, QStringLiteral("<%1:GetNodeResponse><%1:PTZNode token=\"node1\" FixedHomePosition=\"false\">"
                                      "<%2:Name>node</%2:Name><%2:SupportedPTZSpaces>%3</%2:SupportedPTZSpaces>"
                                      "<%2:MaximumNumberOfPresets>255</%2:MaximumNumberOfPresets>"
                                      "</%1:PTZNode></%1:GetNodeResponse>")
                           .arg(p.tptz, p.tt, spaces));
}

inline QString presets(const Prefixes& p, const QList<QPair<QString, QString>>& entries)
{
    QString body = QStringLiteral("<%1:GetPresetsResponse>").arg(p.tptz);
    for (const auto& e : entries)
        body += QStringLiteral("<%1:Preset token=\"%3\"><%2:Name>%4</%2:Name></%1:Preset>")
                    .arg(p.tptz, p.tt, e.first, e.second);
    body += QStringLiteral("</%1:GetPresetsResponse>").arg(p.tptz);
    return envelope(p, body);
}

inline QString status(const Prefixes& p, const QString& pan, const QString& tilt, const QString& zoom)
{
    return envelope(p, QStringLiteral("<%1:GetStatusResponse><%1:PTZStatus><%2:Position>"
                                      "<%2:PanTilt x=\"%3\" y=\"%4\" "
                                      "space=\"http://www.onvif.org/ver10/tptz/PanTiltSpaces/PositionGenericSpace\"/>"
                                      "<%2:Zoom x=\"%5\"/></%2:Position>"
                                      "<%2:MoveStatus><%2:PanTilt>IDLE</%2:PanTilt></%2:MoveStatus>"
                                      "</%1:PTZStatus></%1:GetStatusResponse>")
                           .arg(p.tptz, p.tt, pan, tilt, zoom));
}

inline QString fault(const Prefixes& p, const QString& subcode, const QString& reason)
{
    return envelope(p, QStringLiteral("<%1:Fault><%1:Code><%1:Value>%1:Sender</%1:Value><%1:Subcode>"
                                      "<%1:Value>%2:%3</%1:Value></%1:Subcode></%1:Code>"
                                      "<%1:Reason><%1:Text xml:lang=\"en\">%4</%1:Text></%1:Reason></%1:Fault>")
                           .arg(p.env, p.ter, subcode, reason));
}

inline QString not_authorized(const Prefixes& p)
{
    return fault(p, QStringLiteral("NotAuthorized"), QStringLiteral("Sender not Authorized"));
}

inline QString empty_response(const Prefixes& p, const QString& operation)
{
    return envelope(p, QStringLiteral("<%1:%2Response/>").arg(p.tptz, operation));
}

} // namespace OnvifReplies
