#pragma once

// Stream routes of the loopback server: the recording server's multipart
// video stream, cut from the coded frames of a tools/zqfixture recording,
// with the faults a test asks for.
//
//   auto rec = QSharedPointer<StreamParts::Recording>::create();
//   StreamParts::make_recording(dir.path(), 2, QSize(320, 240), ZQFixture::Codec::H264, rec.get(), &error);
//   StreamScript script;
//   script.recording = rec;
//   add_stream_route(server, "/video.cgi", script);
//   // client: GET http(s)://127.0.0.1:<port>/video.cgi?id=1

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QSharedPointer>
#include <QString>

#include <functional>

#include "tests/support/loopback_server.h"
#include "tests/support/stream_parts.h"

struct StreamScript
{
    QSharedPointer<const StreamParts::Recording> recording;
    int first = 0;            // first frame of the recording
    int count = -1;           // frames to send; -1: all from first
    int loops = 1;            // times the frames are sent in one reply
    bool crlf = false;        // part header lines end in CR LF
    int trickle_parts = 0;    // the first parts go out 3 bytes per millisecond
    bool realtime = false;    // one frame part per frame period; otherwise as fast as the socket takes
    int stall_after = -1;     // after that many frame parts send nothing more, keep the connection
    int drop_after = -1;      // after that many frame parts cut the connection
    bool text_page = false;   // answer an error page, text/plain, instead of a stream
    int delay_ms = 0;         // before the answer
    qint64 junk_first = 0;    // bytes without any boundary before the first part
    // After the last part, bytes without any boundary until the client goes:
    // as fast as the socket takes, or 1 KiB every junk_interval_ms.
    bool junk_forever = false;
    int junk_interval_ms = 0;
    // Start each reply at the first frame of the second the query's
    // "starttime=yyyyMMddHHmmss" names (or after), as the recording server
    // does for a playback stream; drop_after and count then run from there.
    bool resume_from_starttime = false;
    // While it returns true each request is cut at once, before any answer
    // (a server that is down); called on the server's thread.
    std::function<bool()> refuse;
    QString token;            // required "x-auth-token" (401 text/plain otherwise); empty: none
    QString draw_overlay;     // ZqDrawoverlay of every frame part; empty: none
    // Parts put before frame part i (pauses, messages, broken parts).
    QHash<int, QList<StreamParts::Part>> before;
    // Last touch on frame part i before it is written (bad lengths, names in values, codec switch).
    std::function<void(int index, StreamParts::Part& part)> edit;
};

// Times the server handed the last byte of each frame part to the socket,
// in nanoseconds of a clock the test reads too (for the first reply that
// reached that part).
struct StreamRouteLog
{
    QElapsedTimer clock;
    mutable QMutex mutex;
    QList<qint64> part_ns; // by frame part index of the reply
    int replies = 0;
    StreamRouteLog() { clock.start(); }
    qint64 at(int index) const
    {
        QMutexLocker lock(&mutex);
        return index >= 0 && index < part_ns.size() ? part_ns.at(index) : -1;
    }
};

// Registers `script` at `path` (exact; the query is free). Each request gets
// the whole script anew. `log`, when given, must outlive the server.
void add_stream_route(LoopbackServer& server, const QByteArray& path, const StreamScript& script,
                      StreamRouteLog* log = nullptr);

// The body bytes a script sends, in one piece (what a client should parse).
QByteArray stream_script_body(const StreamScript& script);
