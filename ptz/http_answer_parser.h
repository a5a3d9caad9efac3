#pragma once

#include <QByteArray>
#include <QString>

// Reads one HTTP/1.1 answer as its bytes arrive: status line, head (1xx
// heads skipped), then a body framed by Content-Length, chunks, or the end
// of the connection. Heads above 64 KiB and bodies above the cap fail.
class HttpAnswerParser
{
public:
    enum State { NeedMore, Done, Failed };

    explicit HttpAnswerParser(qint64 max_body) : max_body(max_body) {}

    State feed(const QByteArray& bytes);
    // The connection ended: Done for a body that runs until the end.
    State end_of_stream();

    int status() const { return status_code; }
    QByteArray body() const { return body_bytes; }
    bool close_after() const { return close; }
    bool too_large() const { return oversized; }
    QString error() const { return failure; }

private:
    State parse();
    State fail(const QString& message, bool too_big = false);

    qint64 max_body;
    QByteArray buffer;
    QByteArray body_bytes;
    QString failure;
    State state = NeedMore;
    int status_code = 0;
    qint64 content_length = -1;
    bool head_done = false;
    bool chunked = false;
    bool close = false;
    bool oversized = false;
};
