#pragma once

#include <QByteArray>
#include <QString>

// The texts of ONVIF SOAP 1.2 requests: the WS-Security header with its
// password digest, the envelope and the bodies of the queries and moves.
namespace OnvifSoap {

// WS-Security names of the UsernameToken profile.
inline constexpr char wsse_ns[] = "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd";
inline constexpr char wsu_ns[] = "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd";
inline constexpr char password_digest_type[] =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-username-token-profile-1.0#PasswordDigest";
inline constexpr char base64_binary_type[] =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-soap-message-security-1.0#Base64Binary";

inline constexpr int nonce_bytes = 20;

QString xml_escape(const QString& text);

// 20 bytes from the system's random source.
QByteArray make_nonce();

// Base64(SHA-1(nonce + created + password)); empty if the hash fails.
QString password_digest(const QByteArray& nonce, const QString& created, const QString& password);

// The s:Header with the UsernameToken. The user name is escaped; the
// password only enters the digest.
QByteArray security_header(const QString& user, const QString& password, const QString& created,
                           const QByteArray& nonce);

// The whole request: envelope, header (may be empty) and body.
QByteArray envelope(const QByteArray& header, const QByteArray& body);

// The action URI of an operation of a service namespace.
QString action(const char* service_ns, const QString& operation);

// Bodies. Tokens are escaped. Numbers are written with a dot, never in the
// locale's form.
QByteArray empty_element(const char* service_ns, const QString& operation);
QByteArray element_with_child(const char* service_ns, const QString& operation, const QString& child,
                              const QString& value);
QByteArray continuous_move(const QString& profile, bool pan_tilt, double pan, double tilt, bool with_zoom,
                           double zoom);
QByteArray relative_move(const QString& profile, double pan, double tilt, bool with_zoom, double zoom);
QByteArray stop(const QString& profile);

QString number(double v);

} // namespace OnvifSoap
