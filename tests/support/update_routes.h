#pragma once

// Routes of the self-update and crash-report tests and benchmarks: release
// folders, index files, installers served in the ways a real server fails,
// and the crash endpoint "/traitement" that parses the multipart body it
// receives and answers a scripted reply.

#include "tests/support/loopback_server.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>

#include <memory>

// A text answer with a Content-Length.
void add_update_text_route(LoopbackServer& server, const QByteArray& path, const QByteArray& body,
                           int status = 200, const QByteArray& contentType = "text/html");

enum class InstallerMode {
    Normal,      // Content-Length, streamed from the file in bounded chunks
    NoLength,    // no Content-Length: the body ends with the connection
    Drop,        // full headers, then half of the body, then the connection closes
    Silence,     // the request is accepted and never answered
    Trickle,     // 16 bytes every 50 ms
    NotFound,    // 404
};
void add_installer_route(LoopbackServer& server, const QByteArray& path, const QString& file, InstallerMode mode);

// A 302 to the location given (an absolute address).
void add_redirect_route(LoopbackServer& server, const QByteArray& path, const QByteArray& location);

struct FormPart
{
    QByteArray name;
    QByteArray filename; // empty for a text field
    QByteArray content_type;
    QByteArray body;
};

struct ParsedMultipart
{
    bool ok = false;
    QByteArray boundary;
    QList<FormPart> parts;
    const FormPart* part(const QByteArray& name) const;
};

// Parses a multipart/form-data body with the boundary of its Content-Type.
ParsedMultipart parse_multipart(const HttpRequest& request);

// What "/traitement" answers and what it received.
struct CrashEndpointScript
{
    int status = 200;
    QByteArray content_type = "application/json";
    QByteArray reply = R"({"upload_file_minidump":{"status":"OK"},"upload_file_log":{"status":"OK"}})";
    bool silent = false;          // accept and never answer
    bool store = true;            // false: count and hash the body only (benchmarks)
    std::shared_ptr<Gate> gate;   // when set, the answer waits for gate->release()

    mutable QMutex mutex;
    QList<ParsedMultipart> received; // parsed bodies, in arrival order (when stored)
    QList<qint64> sizes;             // body sizes, in arrival order

    QList<ParsedMultipart> receivedCopy() const;
};

void add_crash_routes(LoopbackServer& server, std::shared_ptr<CrashEndpointScript> script);
