#pragma once

// A fake ONVIF camera (device, media and PTZ services, SOAP 1.2) for the
// loopback test server. It answers by the "action=" of the Content-Type,
// checks the WS-Security UsernameToken digest itself (OpenSSL SHA-1, Qt's
// Base64: apart from the client's own code), records what it receives, and
// can be scripted to misbehave.

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

#include "tests/support/onvif_replies.h"

class LoopbackServer;

class FakeOnvifDevice
{
public:
    // How the device writes its service addresses.
    enum class XAddrForm { Full, Relative, ForeignHost, NoOnvifPath, Empty };

    // What to do for one operation instead of answering it.
    enum class Misbehave { None, Fault, Empty, NotXml, Huge, Deep, Stall, Http500, NotAuthorized };

    struct Request
    {
        QString operation; // from "action=", after its last "/"
        QString path;
        QString username;
        QByteArray body;
    };

    struct Move
    {
        QString operation; // ContinuousMove, RelativeMove, Stop
        bool pan_tilt = false;
        bool zoom = false;
        double pan = 0, tilt = 0, z = 0;
    };

    struct Answer
    {
        int status = 200;
        QByteArray content_type = "application/soap+xml; charset=utf-8";
        QByteArray body;
        bool stall = false; // never answer; the client must give up
    };

    // Settings (set before requests arrive).
    QString user = QStringLiteral("admin");
    QString password = QStringLiteral("secret");
    double clock_offset_hours = 0;
    bool check_nonce = true;
    OnvifReplies::Prefixes prefixes;
    XAddrForm xaddr_form = XAddrForm::Full;
    QString own_host_port = QStringLiteral("127.0.0.1:1");
    QList<QPair<QString, QString>> profiles{{QStringLiteral("prof_1"), QStringLiteral("node_1")}};
    QList<QPair<QString, QString>> presets{{QStringLiteral("t1"), QStringLiteral("Entrance")}};
    OnvifReplies::NodeRanges ranges;
    bool no_services = false;
    bool no_media_service = false;

    // Misbehaviour of one operation; `times` answers, then normal (-1: always).
    void script(const QString& operation, Misbehave how, int times = -1);

    Answer handle(const QByteArray& content_type, const QString& path, const QByteArray& body);

    // What was received.
    QList<Request> requests() const;
    QList<Move> moves() const;
    QStringList operations() const;
    int refused() const;

private:
    bool authorised(const QByteArray& body, QString* username);
    QString xaddr(const QString& service) const;
    Answer reply(const QString& xml, int status = 200) const;

    mutable QMutex mutex;
    QHash<QString, QPair<Misbehave, int>> scripts;
    QList<Request> received;
    QList<Move> received_moves;
    QSet<QByteArray> seen_nonces;
    int refusals = 0;
};

// Serves the device on every path of the server. The device must outlive
// the server.
void add_onvif_routes(LoopbackServer& server, FakeOnvifDevice& device);
