#include "ptz/http_answer_parser.h"

#include <QList>

namespace {

constexpr qsizetype max_head_bytes = 64 * 1024;
constexpr qsizetype max_chunk_line = 1024;

} // namespace

HttpAnswerParser::State HttpAnswerParser::fail(const QString& message, bool too_big)
{
    failure = message;
    oversized = too_big;
    state = Failed;
    return state;
}

HttpAnswerParser::State HttpAnswerParser::feed(const QByteArray& bytes)
{
    if (state != NeedMore)
        return state;
    buffer += bytes;
    state = parse();
    return state;
}

HttpAnswerParser::State HttpAnswerParser::end_of_stream()
{
    if (state != NeedMore)
        return state;
    if (head_done && !chunked && content_length < 0) {
        state = Done;
        return state;
    }
    return fail(QStringLiteral("Connection closed"));
}

HttpAnswerParser::State HttpAnswerParser::parse()
{
    while (!head_done) {
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return buffer.size() > max_head_bytes ? fail(QStringLiteral("answer head too large")) : NeedMore;
        if (end > max_head_bytes)
            return fail(QStringLiteral("answer head too large"));
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        buffer.remove(0, end + 4);
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        if (first.size() < 2 || !first.at(0).startsWith("HTTP/1."))
            return fail(QStringLiteral("not an HTTP answer"));
        bool ok = false;
        status_code = first.at(1).toInt(&ok);
        if (!ok || status_code < 100 || status_code > 999)
            return fail(QStringLiteral("bad HTTP status"));
        if (status_code < 200)
            continue; // 100 Continue and the like: the real head follows
        content_length = -1;
        chunked = false;
        for (int i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            if (name == "content-length") {
                const qint64 n = value.toLongLong(&ok);
                if (!ok || n < 0 || (content_length >= 0 && n != content_length))
                    return fail(QStringLiteral("bad Content-Length"));
                content_length = n;
            } else if (name == "transfer-encoding" && value.toLower().contains("chunked")) {
                chunked = true;
            } else if (name == "connection" && value.toLower().contains("close")) {
                close = true;
            }
        }
        if (chunked)
            content_length = -1;
        if (content_length > max_body)
            return fail(QStringLiteral("answer too large"), true);
        head_done = true;
        if (status_code == 204 || status_code == 304)
            return Done;
    }
    if (chunked) {
        for (;;) {
            const qsizetype eol = buffer.indexOf("\r\n");
            if (eol < 0)
                return buffer.size() > max_chunk_line ? fail(QStringLiteral("bad chunk")) : NeedMore;
            if (eol > max_chunk_line)
                return fail(QStringLiteral("bad chunk"));
            bool ok = false;
            const QByteArray size_text = buffer.left(eol).split(';').value(0).trimmed();
            const qint64 size = size_text.toLongLong(&ok, 16);
            if (!ok || size < 0 || size_text.size() > 15)
                return fail(QStringLiteral("bad chunk"));
            if (size == 0) {
                // Optional trailer lines, then an empty line.
                if (buffer.mid(eol, 4) == "\r\n\r\n" || buffer.indexOf("\r\n\r\n", eol) >= 0)
                    return Done;
                return buffer.size() > max_head_bytes ? fail(QStringLiteral("bad chunk trailer")) : NeedMore;
            }
            if (body_bytes.size() + size > max_body)
                return fail(QStringLiteral("answer too large"), true);
            if (buffer.size() < eol + 2 + size + 2)
                return NeedMore;
            if (buffer.mid(eol + 2 + size, 2) != "\r\n")
                return fail(QStringLiteral("bad chunk"));
            body_bytes += buffer.mid(eol + 2, size);
            buffer.remove(0, eol + 2 + size + 2);
        }
    }
    if (content_length >= 0) {
        const qint64 need = content_length - body_bytes.size();
        body_bytes += buffer.left(need);
        buffer.remove(0, qMin<qsizetype>(need, buffer.size()));
        return body_bytes.size() >= content_length ? Done : NeedMore;
    }
    // Until the connection closes.
    body_bytes += buffer;
    buffer.clear();
    if (body_bytes.size() > max_body)
        return fail(QStringLiteral("answer too large"), true);
    return NeedMore;
}
