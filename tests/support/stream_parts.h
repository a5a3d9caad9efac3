#pragma once

// Parts of the server's multipart video stream as the recording server writes
// them, and the coded frames of a tools/zqfixture recording to fill them with.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include "tools/zqfixture/lib/fixture_writer.h"

namespace StreamParts {

struct Part
{
    QByteArray body;
    QString codec = QStringLiteral("h264"); // "Content-Type: frame/" + codec; empty: no Content-Type line
    QString timestamp;                       // "yyyyMMddHHmmsszzz"; empty: no Timestamp line
    QString fps = QStringLiteral(" 25.00");  // value after "Fps:"; null: no Fps line
    QString text_overlay;                    // empty: no line
    QString draw_overlay;                    // empty: no line
    QString frametag;                        // empty: no line
    QString framesize;                       // empty: no line
    QByteArray content_length;               // empty: the body's size
    bool crlf = false;                       // header lines end in CR LF
};

inline QByteArray encode(const Part& p)
{
    const QByteArray eol = p.crlf ? QByteArray("\r\n") : QByteArray("\n");
    QByteArray out;
    out.reserve(p.body.size() + 256);
    out += "--myboundary" + eol;
    auto line = [&](const char* name, const QString& value) { out += name + value.toUtf8() + eol; };
    if (!p.codec.isEmpty())
        line("Content-Type: ", QStringLiteral("frame/") + p.codec);
    out += "Content-Length: " + (p.content_length.isEmpty() ? QByteArray::number(p.body.size()) : p.content_length)
           + eol;
    if (!p.timestamp.isEmpty())
        line("Timestamp: ", p.timestamp);
    if (!p.fps.isNull())
        line("Fps:", p.fps);
    if (!p.text_overlay.isEmpty())
        line("ZqTextoverlay: ", p.text_overlay);
    if (!p.draw_overlay.isEmpty())
        line("ZqDrawoverlay: ", p.draw_overlay);
    if (!p.frametag.isEmpty())
        line("Frametag: ", p.frametag);
    if (!p.framesize.isEmpty())
        line("Framesize: ", p.framesize);
    out += eol;
    out += p.body;
    out += eol;
    return out;
}

// The server's pause part: one byte, Framesize "null", no Frametag.
inline Part pause_part(const QString& timestamp)
{
    Part p;
    p.body = QByteArray(1, '\0');
    p.timestamp = timestamp;
    p.framesize = QStringLiteral("null");
    return p;
}

// A server message: a short body with the message as Frametag.
inline Part message_part(const QString& text, const QString& timestamp)
{
    Part p;
    p.body = QByteArray(1, '\0');
    p.timestamp = timestamp;
    p.frametag = text;
    return p;
}

struct Frame
{
    QByteArray bytes;
    bool key = false;
    QString timestamp; // "yyyyMMddHHmmsszzz"
};

struct Recording
{
    QString codec; // codec_word: "h264", "h265", "mjpeg", "mpeg4"
    int fps = 25;
    QSize size;
    QList<Frame> frames;
};

// Reads the "video1" frames of a written recording from its data file.
inline bool load_recording(const ZQFixture::WrittenFile& file, ZQFixture::Codec codec, int fps, QSize size,
                           Recording* out, QString* error)
{
    QFile f(file.data_path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = f.errorString();
        return false;
    }
    const QByteArray all = f.readAll();
    out->codec = ZQFixture::codec_word(codec);
    out->fps = fps;
    out->size = size;
    out->frames.clear();
    for (const ZQFixture::FrameEntry& e : file.frames) {
        if (e.stream != 1)
            continue;
        if (e.offset < 0 || e.offset + e.size > all.size()) {
            *error = QStringLiteral("frame outside the data file");
            return false;
        }
        Frame fr;
        fr.bytes = all.mid(int(e.offset), e.size);
        fr.key = e.key;
        fr.timestamp = ZQFixture::timestamp_text(file.date, e.time_ms);
        out->frames << fr;
    }
    return true;
}

// Writes a one-camera recording into `folder` and loads its frames.
inline bool make_recording(const QString& folder, int seconds, QSize size, ZQFixture::Codec codec, Recording* out,
                           QString* error, int fps = 25)
{
    ZQFixture::Options o;
    o.output_parent = folder;
    o.cameras = {1};
    o.seconds_per_recording = seconds;
    o.size = size;
    o.fps = fps;
    o.gop = fps;
    o.codec = codec;
    const ZQFixture::Result r = ZQFixture::write(o);
    if (!r.ok || r.files.isEmpty()) {
        *error = r.error;
        return false;
    }
    return load_recording(r.files.first(), codec, fps, size, out, error);
}

inline Part frame_part(const Recording& rec, int index)
{
    Part p;
    p.body = rec.frames.at(index).bytes;
    p.codec = rec.codec;
    p.timestamp = rec.frames.at(index).timestamp;
    p.fps = QStringLiteral(" %1.00").arg(rec.fps);
    return p;
}

} // namespace StreamParts
