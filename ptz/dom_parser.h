#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class Onvif_ptz;

// Namespaces of the SOAP replies an ONVIF camera sends. Elements are matched
// by namespace and local name, never by prefix: cameras use "s:", "env:",
// "SOAP-ENV:", "ns2:" and more for the same element.
namespace OnvifNs {
inline constexpr char soap12[] = "http://www.w3.org/2003/05/soap-envelope";
inline constexpr char soap11[] = "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr char device[] = "http://www.onvif.org/ver10/device/wsdl";
inline constexpr char media[] = "http://www.onvif.org/ver10/media/wsdl";
inline constexpr char ptz[] = "http://www.onvif.org/ver20/ptz/wsdl";
inline constexpr char schema[] = "http://www.onvif.org/ver10/schema";
inline constexpr char xsi[] = "http://www.w3.org/2001/XMLSchema-instance";
inline constexpr char xsd[] = "http://www.w3.org/2001/XMLSchema";
} // namespace OnvifNs

// Parses ONVIF SOAP replies. The service table and the PTZ description grow
// with each reply and are kept between calls.
class DomParser : public QObject
{
    Q_OBJECT

public:
    static constexpr int max_depth = 64;
    static constexpr qsizetype max_reply_bytes = 1024 * 1024;
    static constexpr int max_services = 256;

    // One element of a parsed reply.
    struct Element
    {
        QString ns;
        QString name;
        QHash<QString, QString> attributes; // by local name
        QString text;                       // character data directly inside
        std::vector<std::unique_ptr<Element>> children;

        const Element* child(const char* ns_uri, const char* local) const;
        std::vector<const Element*> children_named(const char* ns_uri, const char* local) const;
        QString attribute(const QString& local) const { return attributes.value(local); }
    };

    explicit DomParser(QObject* parent = nullptr);
    ~DomParser() override;

    // The fault text of a SOAP fault (its Reason text, or its code when it
    // has no reason); empty when the reply holds no fault; the parse error
    // when the reply is not readable.
    QString get_fault(const QString& reply);
    QHash<QString, QString> get_services(const QString& reply);
    Onvif_ptz* get_profile(const QString& reply);
    Onvif_ptz* get_nodes(const QString& reply);
    Onvif_ptz* get_presets(const QString& reply);
    Onvif_ptz* get_status(const QString& reply);
    // "YYYY-MM-DDThh:mm:ssZ"; empty when the reply has no UTC date-time; the
    // parse error when the reply is not readable.
    QString get_utc_datetime(const QString& reply);

    // Whether the reply is a fault whose code says the credentials were
    // refused (ter:NotAuthorized or wsse:FailedAuthentication).
    bool is_not_authorized(const QString& reply);

    // Whether the last call could read its reply, and the error if not.
    bool last_parse_ok() const { return parse_ok; }
    QString last_error() const { return error_text; }

    Onvif_ptz* result() const { return ptz; }
    QHash<QString, QString> services() const { return service_table; }

    // Reads one document into a tree (namespaces resolved). Null, with the
    // error, for malformed, deep, oversized or DTD-carrying input.
    static std::unique_ptr<Element> read_document(const QString& text, QString* error);

private:
    const Element* parse_reply(const QString& reply, const QString& kind);
    static const Element* body_of(const Element* envelope);

    QString kind;
    QHash<QString, QString> service_table;
    Onvif_ptz* ptz = nullptr;
    std::unique_ptr<Element> document;
    bool parse_ok = true;
    QString error_text;
};
