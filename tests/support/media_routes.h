#pragma once

// Routes serving media files as a media server does for a reader that seeks: the whole file, or
// the byte range a request asks for.
//
//   add_media_route(server, "/clip.mp4", bytes);
//   add_media_route(server, "/moved.mp4", bytes, other.url_string("/clip.mp4").toUtf8());

#include "tests/support/loopback_server.h"

#include <QByteArray>

// Serves `bytes` at `path`: a request with "Range: bytes=N-" (or "N-M") gets 206 with those bytes
// and their Content-Range, one without the whole file. With `seek_location`, a request for a range
// that does not start at 0 (a reader seeking) gets a 302 to that address instead.
void add_media_route(LoopbackServer& server, const QByteArray& path, const QByteArray& bytes,
                     const QByteArray& seek_location = QByteArray());
