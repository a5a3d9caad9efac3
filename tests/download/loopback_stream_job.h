#pragma once

#include "download/zq_download_encode_data.h"
#include "tests/support/loopback_server.h"
#include "tests/support/stream_parts.h"

// A stream download-and-encode job of a whole recording from the loopback server's stream route
// "/video.cgi", polling an empty queue every `wait_ms`.
inline DownloadEncodeJob loopback_stream_job(const LoopbackServer& server, const StreamParts::Recording& recording,
                                             const QString& video, const QString& format, int wait_ms)
{
    DownloadEncodeJob j;
    j.scheme = QStringLiteral("http");
    j.host = QStringLiteral("127.0.0.1");
    j.port = QString::number(server.port());
    j.path = QStringLiteral("/video.cgi?id=1");
    j.end_time = recording.frames.last().timestamp; // the whole recording is the range
    j.video_path = video;
    j.video_format = format;
    j.frame_wait_ms = wait_ms;
    return j;
}
