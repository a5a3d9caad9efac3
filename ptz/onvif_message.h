#pragma once

#include <QDomDocument>
#include <QDomElement>
#include <QHash>
#include <QObject>
#include <QString>

namespace ONVIF {

// A SOAP message holder: a document, its namespaces and the envelope,
// header and body elements. Nothing fills it yet.
class Onvif_message : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    QDomDocument document;
    QHash<QString, QString> namespaces;
    QDomElement envelope;
    QDomElement header;
    QDomElement body;
};

} // namespace ONVIF
