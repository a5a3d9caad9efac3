#pragma once

// Download-service routes of the recording server, as the download workers expect them:
//   GET <path>              the file, "Content-Type: application/force-download"
//   GET <path>?file_hash=1  the same with "Content-Digest: sha-256=..." in the chosen form
// plus the server's error answers (HTML 500 page, JSON {"ZQRETURN_CODE": ...}, a text body whose
// first line holds "Error", 404) and transport faults (trickle, drop mid-body, redirects, silence).

#include "tests/support/loopback_server.h"

#include <QByteArray>

namespace DownloadRoutes {

enum class Digest {
    Right,     // lowercase hex of the body
    RightUpper,// uppercase hex
    Base64,    // ":base64:" form
    Wrong,     // another file's digest
    Malformed, // not a digest
    None,      // no header, even with file_hash=1
};

enum class Answer {
    File,          // the body as a file
    NoContentType, // the body without any Content-Type
    Html500,       // 500 with an HTML "500 Internal Server Error" page
    HtmlOther,     // 200 with an HTML page
    Json,          // 200 application/json {"ZQRETURN_CODE": "<json_code>"}
    JsonNoCode,    // 200 application/json {}
    TextError,     // 200 force-download whose first line is "Error: no such file"
    Empty,         // 200 force-download with no body
    NotFound,      // 404 text/plain
    Drop,          // headers announce the body, half of it is sent, then the connection is cut
    Trickle,       // 64 bytes every 20 ms
    Silence,       // never answers
    RedirectHttp,  // 302 to the same path on `redirect_to` (used for https -> http)
    RedirectLoop,  // 302 to itself, for ever
};

struct Route
{
    QByteArray path;        // e.g. "/download/1_20240101_080000.zqvideo"
    QByteArray body;        // the file served
    Answer answer = Answer::File;
    Digest digest = Digest::Right;
    QByteArray json_code = "ZQ_FILE_NOT_FOUND";
    QByteArray redirect_to; // absolute URL for RedirectHttp
};

// Registers the route on the server (replacing an earlier one of the same path).
void add(LoopbackServer& server, const Route& route);

// The header value a server would send for that body and form ("sha-256=...").
QByteArray digest_value(const QByteArray& body, Digest form);

} // namespace DownloadRoutes
