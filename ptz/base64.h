#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// Standard Base64 (RFC 4648 alphabet, "=" padding) of the security header's
// nonce and digest.
class Base64 : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    static QString encode(const QByteArray& bytes);
    // Reads up to the first "=" or the first character outside the alphabet;
    // a last group of 2 or 3 characters gives 1 or 2 bytes.
    static QByteArray decode(const QString& text);
};
