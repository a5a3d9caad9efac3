#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <functional>

// One part of the server's multipart video stream: a coded frame with its
// time and overlays, a pause, or a short server message.
struct StreamPart
{
    QByteArray body;          // the Content-Length frame bytes
    QString content_type;     // as sent ("frame/h264")
    QString codec;            // content type without "frame/"
    QString text_overlay;     // "ZqTextoverlay: " (read, not used)
    QString draw_overlay;     // "ZqDrawoverlay: "
    QString frametag;         // "Frametag: "; "PAUSE" for a pause part
    QString framesize;        // "Framesize: "
    QString fps_text;         // everything after "Fps:" (" 25.00")
    double fps = 0.0;         // fps_text as a number; 0 when absent or not a finite number
    QString timestamp_raw;    // "yyyyMMddHHmmsszzz" as sent
    QString time_text;        // "yyyy-MM-dd HH:mm:ss.zzz"; empty when the Timestamp does not parse
    QDate date;               // the Timestamp's date and time of day; invalid / -1 when it does not parse
    qint64 time_ms = -1;
    bool is_pause = false;
    bool is_message = false;
    QString message;          // the message of a message part ("noobjects" reads "NO ACTIVITY")
};

// Cuts the body of the server's stream into parts, incrementally: bytes go in
// as they arrive, split anywhere, and each completed part comes out.
//
//   --myboundary LF
//   Content-Type: frame/h264 LF      (header lines may end in CR LF)
//   Content-Length: N LF
//   ... LF
//   LF                               (an empty line ends the header block)
//   N bytes of frame data
//
// A header a part does not repeat keeps its earlier value, except the
// Frametag, emptied after each part; Content-Length must be given by each part.
class StreamMultipartParser
{
public:
    static constexpr qint64 max_body_size = 64LL * 1024 * 1024;
    static constexpr int max_header_value = 64 * 1024;

    using PartHandler = std::function<bool(StreamPart& part)>;
    using LogHandler = std::function<void(const QString& line)>;

    StreamMultipartParser() = default;

    void set_log_handler(LogHandler log) { m_log = std::move(log); }

    // Feeds bytes; each completed part is handed to `on_part`, which returns
    // false to stop reading this delivery (the unread bytes are dropped: the
    // caller is ending the transfer). Returns the number of bytes consumed.
    qsizetype feed(const char* data, qsizetype size, const PartHandler& on_part);

    // Forgets the part being read and every kept header value.
    void reset();

    // Still inside the body of a part.
    bool in_body() const { return m_state == State::Body; }
    // Parts dropped for a bad Content-Length.
    int dropped_parts() const { return m_dropped; }
    // Bytes of the part currently expected (Content-Length), or -1.
    qint64 expected_body_size() const { return m_state == State::Body ? m_body_size : -1; }

private:
    enum class State { Boundary, BoundaryLine, Headers, Body };

    void header_line();
    bool start_body();
    bool finish_part(const PartHandler& on_part);
    void log(const QString& line) const;

    State m_state = State::Boundary;
    int m_boundary_match = 0;
    QByteArray m_line;
    bool m_line_overflow = false;
    bool m_have_length = false;
    qint64 m_body_size = 0;
    int m_dropped = 0;

    // Values kept across parts.
    QString m_content_length;
    QString m_content_type;
    QString m_text_overlay;
    QString m_draw_overlay;
    QString m_frametag;
    QString m_framesize;
    QString m_fps;
    QString m_timestamp;

    StreamPart m_part;
    LogHandler m_log;
};
