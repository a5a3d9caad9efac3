#include "ptz/dom_parser.h"

#include <QXmlStreamReader>

#include "app/zq_log.h"
#include "ptz/onvif_ptz.h"

namespace {

using Element = DomParser::Element;
namespace ns = OnvifNs;

bool is_soap(const QString& uri)
{
    return uri == QLatin1String(ns::soap12) || uri == QLatin1String(ns::soap11);
}

QString child_text(const Element* e, const char* ns_uri, const char* local)
{
    const Element* c = e ? e->child(ns_uri, local) : nullptr;
    return c ? c->text.trimmed() : QString();
}

// "min;max" of a space's XRange or YRange; empty without such a child.
QString range_text(const Element* space, const char* which)
{
    const Element* r = space->child(ns::schema, which);
    if (!r)
        return QString();
    return child_text(r, ns::schema, "Min") + QLatin1Char(';') + child_text(r, ns::schema, "Max");
}

QString pad2(const QString& s)
{
    return s.rightJustified(2, QLatin1Char('0'));
}

QString local_part(const QString& qname)
{
    const qsizetype colon = qname.lastIndexOf(QLatin1Char(':'));
    return (colon < 0 ? qname : qname.mid(colon + 1)).trimmed();
}

} // namespace

const Element* Element::child(const char* ns_uri, const char* local) const
{
    for (const auto& c : children) {
        if (c->name == QLatin1String(local) && c->ns == QLatin1String(ns_uri))
            return c.get();
    }
    return nullptr;
}

std::vector<const Element*> Element::children_named(const char* ns_uri, const char* local) const
{
    std::vector<const Element*> out;
    for (const auto& c : children) {
        if (c->name == QLatin1String(local) && c->ns == QLatin1String(ns_uri))
            out.push_back(c.get());
    }
    return out;
}

DomParser::DomParser(QObject* parent) : QObject(parent), ptz(new Onvif_ptz(this)) {}

DomParser::~DomParser() = default;

std::unique_ptr<Element> DomParser::read_document(const QString& text, QString* error)
{
    if (text.size() > max_reply_bytes) {
        *error = QStringLiteral("reply too large");
        return nullptr;
    }
    QXmlStreamReader xml(text);
    xml.setNamespaceProcessing(true);
    std::unique_ptr<Element> root;
    std::vector<Element*> stack;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType t = xml.readNext();
        switch (t) {
        case QXmlStreamReader::DTD:
            xml.raiseError(QStringLiteral("document type declarations are not accepted"));
            break;
        case QXmlStreamReader::EntityReference:
            xml.raiseError(QStringLiteral("unknown entity reference"));
            break;
        case QXmlStreamReader::StartElement: {
            if (int(stack.size()) >= max_depth) {
                xml.raiseError(QStringLiteral("elements nested too deep"));
                break;
            }
            auto e = std::make_unique<Element>();
            e->ns = xml.namespaceUri().toString();
            e->name = xml.name().toString();
            const QXmlStreamAttributes attrs = xml.attributes();
            for (const QXmlStreamAttribute& a : attrs)
                e->attributes.insert(a.name().toString(), a.value().toString());
            Element* raw = e.get();
            if (stack.empty())
                root = std::move(e);
            else
                stack.back()->children.push_back(std::move(e));
            stack.push_back(raw);
            break;
        }
        case QXmlStreamReader::EndElement:
            if (!stack.empty())
                stack.pop_back();
            break;
        case QXmlStreamReader::Characters:
            if (!stack.empty())
                stack.back()->text += xml.text();
            break;
        default:
            break;
        }
    }
    if (xml.hasError() || !root) {
        const QString message = xml.hasError() ? xml.errorString() : QStringLiteral("no document element");
        *error = QStringLiteral("Parse error at line ") + QString::number(xml.lineNumber()) + QStringLiteral(", ")
                 + QStringLiteral("column ") + QString::number(xml.columnNumber()) + QStringLiteral(": ") + message;
        return nullptr;
    }
    return root;
}

const Element* DomParser::body_of(const Element* envelope)
{
    if (!envelope || envelope->name != QLatin1String("Envelope") || !is_soap(envelope->ns))
        return nullptr;
    for (const auto& c : envelope->children) {
        if (c->name == QLatin1String("Body") && c->ns == envelope->ns)
            return c.get();
    }
    return nullptr;
}

const Element* DomParser::parse_reply(const QString& reply, const QString& k)
{
    kind = k;
    document.reset();
    error_text.clear();
    QString error;
    document = read_document(reply, &error);
    if (!document) {
        parse_ok = false;
        // The message only: the parser's own text may quote the reply.
        error_text = error;
        ZQLog::log(QStringLiteral("Error: getting tag ") + kind + QStringLiteral(" ") + error.left(300));
        return nullptr;
    }
    parse_ok = true;
    return body_of(document.get());
}

QString DomParser::get_fault(const QString& reply)
{
    const Element* body = parse_reply(reply, QStringLiteral("Fault"));
    if (!parse_ok)
        return error_text;
    if (!body)
        return QString();
    const Element* fault = nullptr;
    for (const auto& c : body->children) {
        if (c->name == QLatin1String("Fault") && c->ns == body->ns)
            fault = c.get();
    }
    if (!fault)
        return QString();
    // SOAP 1.2: Reason/Text; SOAP 1.1: faultstring (unqualified).
    const QByteArray env = body->ns.toUtf8();
    const Element* reason = fault->child(env.constData(), "Reason");
    QString text = reason ? child_text(reason, env.constData(), "Text") : QString();
    if (text.isEmpty())
        text = child_text(fault, "", "faultstring");
    if (text.isEmpty()) {
        const Element* code = fault->child(env.constData(), "Code");
        text = code ? child_text(code, env.constData(), "Value") : QString();
    }
    if (text.isEmpty())
        text = QStringLiteral("SOAP fault");
    return text;
}

bool DomParser::is_not_authorized(const QString& reply)
{
    const Element* body = parse_reply(reply, QStringLiteral("Fault"));
    if (!body)
        return false;
    const QByteArray env = body->ns.toUtf8();
    for (const auto& f : body->children) {
        if (f->name != QLatin1String("Fault") || f->ns != body->ns)
            continue;
        // Code/Value, then every nested Subcode/Value.
        const Element* code = f->child(env.constData(), "Code");
        int guard = 0;
        while (code && guard++ < max_depth) {
            const QString v = local_part(child_text(code, env.constData(), "Value"));
            if (v == QLatin1String("NotAuthorized") || v == QLatin1String("FailedAuthentication"))
                return true;
            code = code->child(env.constData(), "Subcode");
        }
        const QString v11 = local_part(child_text(f.get(), "", "faultcode"));
        if (v11 == QLatin1String("NotAuthorized") || v11 == QLatin1String("FailedAuthentication"))
            return true;
    }
    return false;
}

QHash<QString, QString> DomParser::get_services(const QString& reply)
{
    const Element* body = parse_reply(reply, QStringLiteral("Service"));
    if (!body)
        return service_table;
    for (const Element* resp : body->children_named(ns::device, "GetServicesResponse")) {
        for (const Element* s : resp->children_named(ns::device, "Service")) {
            const QString n = child_text(s, ns::device, "Namespace");
            const QString x = child_text(s, ns::device, "XAddr");
            if (n.isEmpty())
                continue;
            if (service_table.size() >= max_services && !service_table.contains(n))
                continue;
            service_table.insert(n, x);
        }
    }
    return service_table;
}

Onvif_ptz* DomParser::get_profile(const QString& reply)
{
    const Element* body = parse_reply(reply, QStringLiteral("Profile"));
    if (!body)
        return ptz;
    for (const Element* resp : body->children_named(ns::media, "GetProfilesResponse")) {
        for (const Element* p : resp->children_named(ns::media, "Profiles")) {
            ptz->append_profile_token(p->attribute(QStringLiteral("token")).trimmed());
            for (const Element* c : p->children_named(ns::schema, "PTZConfiguration")) {
                const QString node = child_text(c, ns::schema, "NodeToken");
                if (!node.isEmpty())
                    ptz->append_node_token(node);
            }
        }
    }
    return ptz;
}

Onvif_ptz* DomParser::get_nodes(const QString& reply)
{
    const Element* body = parse_reply(reply, QStringLiteral("GetNodes"));
    if (!body)
        return ptz;
    for (const Element* resp : body->children_named(ns::ptz, "GetNodeResponse")) {
        for (const Element* node : resp->children_named(ns::ptz, "PTZNode")) {
            for (const Element* spaces : node->children_named(ns::schema, "SupportedPTZSpaces")) {
                for (const Element* s : spaces->children_named(ns::schema, "ContinuousPanTiltVelocitySpace")) {
                    ptz->set_continuous_supported(true);
                    if (child_text(s, ns::schema, "URI").contains(QLatin1String("VelocityGenericSpace"))) {
                        ptz->set_continuous_pan_range(range_text(s, "XRange"));
                        ptz->set_continuous_tilt_range(range_text(s, "YRange"));
                    }
                }
                for (const Element* s : spaces->children_named(ns::schema, "ContinuousZoomVelocitySpace")) {
                    ptz->set_continuous_supported(true);
                    if (child_text(s, ns::schema, "URI").contains(QLatin1String("VelocityGenericSpace")))
                        ptz->set_continuous_zoom_range(range_text(s, "XRange"));
                }
                for (const Element* s : spaces->children_named(ns::schema, "RelativePanTiltTranslationSpace")) {
                    ptz->set_continuous_supported(true);
                    if (child_text(s, ns::schema, "URI").contains(QLatin1String("TranslationGenericSpace"))) {
                        ptz->set_relative_supported(true);
                        ptz->set_relative_pan_range(range_text(s, "XRange"));
                        ptz->set_relative_tilt_range(range_text(s, "YRange"));
                    }
                }
                for (const Element* s : spaces->children_named(ns::schema, "RelativeZoomTranslationSpace")) {
                    ptz->set_relative_zoom_supported(true);
                    if (child_text(s, ns::schema, "URI").contains(QLatin1String("TranslationGenericSpace")))
                        ptz->set_relative_zoom_range(range_text(s, "XRange"));
                }
                for (const Element* s : spaces->children_named(ns::schema, "AbsolutePanTiltPositionSpace")) {
                    ptz->set_absolute_supported(true);
                    if (child_text(s, ns::schema, "URI").contains(QLatin1String("PositionGenericSpace"))) {
                        ptz->set_absolute_pan_range(range_text(s, "XRange"));
                        ptz->set_absolute_tilt_range(range_text(s, "YRange"));
                    }
                }
                for (const Element* s : spaces->children_named(ns::schema, "AbsoluteZoomPositionSpace")) {
                    ptz->set_absolute_supported(true);
                    if (child_text(s, ns::schema, "URI").contains(QLatin1String("PositionGenericSpace")))
                        ptz->set_absolute_zoom_range(range_text(s, "XRange"));
                }
            }
        }
    }
    return ptz;
}

Onvif_ptz* DomParser::get_presets(const QString& reply)
{
    const Element* body = parse_reply(reply, QStringLiteral("GetPresets"));
    if (!body)
        return ptz;
    for (const Element* resp : body->children_named(ns::ptz, "GetPresetsResponse")) {
        for (const Element* p : resp->children_named(ns::ptz, "Preset")) {
            const QString name = child_text(p, ns::schema, "Name");
            // Presets still carrying the camera's default name are not listed.
            if (name.contains(QLatin1String("Preset")))
                continue;
            if (!ptz->append_preset(Onvif_preset_token(p->attribute(QStringLiteral("token")).trimmed(), name)))
                return ptz;
        }
    }
    return ptz;
}

Onvif_ptz* DomParser::get_status(const QString& reply)
{
    const Element* body = parse_reply(reply, QStringLiteral("GetStatus"));
    if (!body)
        return ptz;
    for (const Element* resp : body->children_named(ns::ptz, "GetStatusResponse")) {
        for (const Element* st : resp->children_named(ns::ptz, "PTZStatus")) {
            for (const Element* pos : st->children_named(ns::schema, "Position")) {
                if (const Element* pt = pos->child(ns::schema, "PanTilt")) {
                    ptz->set_pan(pt->attribute(QStringLiteral("x")));
                    ptz->set_tilt(pt->attribute(QStringLiteral("y")));
                }
                if (const Element* z = pos->child(ns::schema, "Zoom"))
                    ptz->set_zoom(z->attribute(QStringLiteral("x")));
            }
        }
    }
    return ptz;
}

QString DomParser::get_utc_datetime(const QString& reply)
{
    const Element* body = parse_reply(reply, QStringLiteral("UTCDateTime"));
    if (!parse_ok)
        return error_text;
    if (!body)
        return QString();
    const Element* resp = body->child(ns::device, "GetSystemDateAndTimeResponse");
    const Element* sdt = resp ? resp->child(ns::device, "SystemDateAndTime") : nullptr;
    const Element* utc = sdt ? sdt->child(ns::schema, "UTCDateTime") : nullptr;
    if (!utc)
        return QString();
    const Element* date = utc->child(ns::schema, "Date");
    const Element* time = utc->child(ns::schema, "Time");
    if (!date || !time)
        return QString();
    return child_text(date, ns::schema, "Year") + QLatin1Char('-') + pad2(child_text(date, ns::schema, "Month"))
           + QLatin1Char('-') + pad2(child_text(date, ns::schema, "Day")) + QLatin1Char('T')
           + pad2(child_text(time, ns::schema, "Hour")) + QLatin1Char(':')
           + pad2(child_text(time, ns::schema, "Minute")) + QLatin1Char(':')
           + pad2(child_text(time, ns::schema, "Second")) + QLatin1Char('Z');
}
