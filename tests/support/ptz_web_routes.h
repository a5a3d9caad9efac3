#pragma once

// The recording server's web PTZ control page and a camera's HTTP API, as
// seen by the web control and the camera request worker: records every
// query and its headers, and can delay, stall or fail; for the worker a
// Digest challenge (MD5, qop=auth), a 404 with a body, a trickled body and a
// PUT echo.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>

class LoopbackServer;

class FakePtzWeb
{
public:
    struct Request
    {
        QByteArray method;
        QString path;
        QString query; // as received, still encoded
        QHash<QByteArray, QByteArray> headers; // lower-case names
        QByteArray body;
    };

    struct Answer
    {
        int status = 200;
        QHash<QByteArray, QByteArray> headers;
        QByteArray body;
        int delay_ms = 0;
        bool stall = false;
        // Sent `trickle_step` bytes every `trickle_interval_ms`.
        int trickle_interval_ms = 0;
        int trickle_step = 0;
    };

    // Camera credentials of the Digest route.
    QString user = QStringLiteral("cam");
    QString password = QStringLiteral("pw");
    QByteArray realm = "ZQ test camera";

    // The next `count` answers of the control page.
    void delay_next(int ms, int count = 1);
    void stall_next(int count = 1);
    void fail_next(int count = 1);

    // Paths: /ptz... (the control page), /digest, /notfound, /trickle, /put.
    Answer handle(const QByteArray& method, const QString& path, const QString& query,
                  const QHash<QByteArray, QByteArray>& headers, const QByteArray& body);

    QList<Request> requests() const;

private:
    bool digest_ok(const QByteArray& method, const QString& path, const QString& query, const QByteArray& header);

    mutable QMutex mutex;
    QList<Request> received;
    int delay_ms = 0, delay_count = 0;
    int stall_count = 0;
    int fail_count = 0;
};

// Serves the endpoints on every path of the server. `web` must outlive it.
void add_ptz_web_routes(LoopbackServer& server, FakePtzWeb& web);
