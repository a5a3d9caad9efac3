#include "view/stream_multipart_parser.h"

#include <cmath>
#include <cstring>

#include "recordings/time_text.h"

namespace {

constexpr char boundary[] = "--myboundary";
constexpr int boundary_length = 12;

struct HeaderName
{
    const char* text;
    int length;
};

// Exact names, case-sensitive, with the colon and (except "Fps:") the blank.
constexpr HeaderName header_names[] = {
    {"Content-Length: ", 16}, {"Content-Type: ", 14}, {"ZqTextoverlay: ", 15}, {"ZqDrawoverlay: ", 15},
    {"Timestamp: ", 11},      {"Frametag: ", 10},     {"Framesize: ", 11},     {"Fps:", 4},
};
constexpr int longest_name = 16;

} // namespace

void StreamMultipartParser::log(const QString& line) const
{
    if (m_log)
        m_log(line);
}

void StreamMultipartParser::reset()
{
    m_state = State::Boundary;
    m_boundary_match = 0;
    m_line.clear();
    m_line_overflow = false;
    m_have_length = false;
    m_body_size = 0;
    m_content_length.clear();
    m_content_type.clear();
    m_text_overlay.clear();
    m_draw_overlay.clear();
    m_frametag.clear();
    m_framesize.clear();
    m_fps.clear();
    m_timestamp.clear();
    m_part = StreamPart();
}

qsizetype StreamMultipartParser::feed(const char* data, qsizetype size, const PartHandler& on_part)
{
    if (!data || size <= 0)
        return 0;
    qsizetype i = 0;
    while (i < size) {
        switch (m_state) {
        case State::Boundary: {
            if (m_boundary_match == 0) {
                // Only a '-' can begin the boundary: the bytes before the next
                // one are passed over in one step.
                const void* dash = std::memchr(data + i, '-', size_t(size - i));
                if (!dash) {
                    i = size;
                    break;
                }
                i = static_cast<const char*>(dash) - data;
            }
            const char c = data[i++];
            if (c == boundary[m_boundary_match]) {
                if (++m_boundary_match == boundary_length) {
                    m_boundary_match = 0;
                    m_state = State::BoundaryLine;
                }
            } else {
                // "---myboundary" still holds the boundary: a '-' that breaks
                // the match may begin (or continue) the "--" that opens it.
                m_boundary_match = c == '-' ? (m_boundary_match == 2 ? 2 : 1) : 0;
            }
            break;
        }
        case State::BoundaryLine: {
            // The rest of the boundary line (its CR LF, or a closing "--").
            const void* lf = std::memchr(data + i, '\n', size_t(size - i));
            if (!lf) {
                i = size;
                break;
            }
            i = static_cast<const char*>(lf) - data + 1;
            m_state = State::Headers;
            m_line.clear();
            m_line_overflow = false;
            m_have_length = false;
            break;
        }
        case State::Headers: {
            const char* start = data + i;
            const void* lf = std::memchr(start, '\n', size_t(size - i));
            const qsizetype take = lf ? static_cast<const char*>(lf) - start : size - i;
            // A line longer than any name plus the value cap keeps its head.
            const qsizetype room = qsizetype(longest_name + max_header_value) - m_line.size();
            if (take > room) {
                m_line.append(start, qMax<qsizetype>(0, room));
                m_line_overflow = true;
            } else {
                m_line.append(start, take);
            }
            i += take;
            if (!lf)
                break;
            ++i; // the LF
            if (m_line.endsWith('\r'))
                m_line.chop(1);
            if (m_line.isEmpty()) {
                if (!start_body()) {
                    m_state = State::Boundary;
                    m_boundary_match = 0;
                    break;
                }
                if (m_body_size == 0 && !finish_part(on_part))
                    return i;
                break;
            }
            header_line();
            m_line.clear();
            m_line_overflow = false;
            break;
        }
        case State::Body: {
            const qsizetype want = qsizetype(m_body_size) - m_part.body.size();
            const qsizetype take = qMin(want, size - i);
            m_part.body.append(data + i, take);
            i += take;
            if (m_part.body.size() == m_body_size && !finish_part(on_part))
                return i;
            break;
        }
        }
    }
    return i;
}

void StreamMultipartParser::header_line()
{
    for (const HeaderName& h : header_names) {
        if (m_line.size() < h.length || std::memcmp(m_line.constData(), h.text, size_t(h.length)) != 0)
            continue;
        const QString value =
            QString::fromUtf8(m_line.constData() + h.length, qMin<qsizetype>(m_line.size() - h.length, max_header_value));
        if (m_line_overflow)
            log(QStringLiteral("header value over ") + QString::number(max_header_value)
                + QStringLiteral(" bytes cut :: ") + QString::fromLatin1(h.text).trimmed());
        switch (&h - header_names) {
        case 0:
            m_content_length = value;
            m_have_length = true;
            break;
        case 1: m_content_type = value; break;
        case 2: m_text_overlay = value; break;
        case 3: m_draw_overlay = value; break;
        case 4: m_timestamp = value; break;
        case 5: m_frametag = value; break;
        case 6: m_framesize = value; break;
        case 7: m_fps = value; break;
        }
        return;
    }
}

bool StreamMultipartParser::start_body()
{
    m_line.clear();
    m_line_overflow = false;
    if (!m_have_length) {
        ++m_dropped;
        log(QStringLiteral("part without Content-Length dropped"));
        return false;
    }
    m_have_length = false;
    bool ok = !m_content_length.isEmpty() && m_content_length.size() <= 9;
    qint64 n = 0;
    for (QChar c : std::as_const(m_content_length)) {
        if (!ok)
            break;
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            ok = false;
            break;
        }
        n = n * 10 + (c.unicode() - '0');
    }
    if (!ok || n > max_body_size) {
        ++m_dropped;
        log(QStringLiteral("part with bad Content-Length dropped :: ") + m_content_length.left(32));
        return false;
    }
    m_body_size = n;
    m_part = StreamPart();
    // Grown as the bytes come: a false length costs nothing up front.
    m_part.body.reserve(int(qMin<qint64>(n, 1 << 20)));
    m_state = State::Body;
    return true;
}

bool StreamMultipartParser::finish_part(const PartHandler& on_part)
{
    StreamPart& p = m_part;
    p.content_type = m_content_type;
    p.codec = m_content_type;
    if (p.codec.startsWith(QLatin1String("frame/")))
        p.codec.remove(0, 6);
    p.text_overlay = m_text_overlay;
    p.draw_overlay = m_draw_overlay;
    p.framesize = m_framesize;
    p.fps_text = m_fps;
    bool ok = false;
    const double fps = m_fps.trimmed().toDouble(&ok);
    p.fps = ok && std::isfinite(fps) ? fps : 0.0;
    p.timestamp_raw = m_timestamp;
    if (TimeText::parse_yyyymmddhhmmsszzz(m_timestamp, &p.date, &p.time_ms))
        p.time_text = TimeText::make_display_time(p.date, p.time_ms);
    p.frametag = m_frametag;
    // Short parts are pauses or messages.
    if (m_body_size < 4) {
        if (m_body_size == 1 && m_framesize == QLatin1String("null") && m_frametag.isEmpty()) {
            p.frametag = QStringLiteral("PAUSE");
            p.is_pause = true;
        } else if (!m_frametag.isEmpty() && !m_frametag.contains(QLatin1String("PAUSE"))) {
            p.is_message = true;
            p.message = m_frametag.compare(QLatin1String("noobjects"), Qt::CaseInsensitive) == 0
                            ? QStringLiteral("NO ACTIVITY")
                            : m_frametag;
        }
    }
    m_frametag.clear();
    m_state = State::Boundary;
    m_boundary_match = 0;
    const bool go_on = on_part ? on_part(p) : true;
    m_part = StreamPart();
    return go_on;
}
