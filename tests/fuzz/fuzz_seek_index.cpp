// Seek index lines, checked against a reference model written from the line format alone: which
// lines are records, the size each gives, and the offsets that run over them. The bytes go to a
// video seek index file and through the one parser every reader uses.
#include "harness.h"

#include "recordings/seek_index.h"
#include "recordings/time_text.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QSet>
#include <QTemporaryDir>

#include <cstdlib>
#include <limits>

namespace {

struct Expected
{
    QString stamp;
    qint64 size = 0;
    qint64 offset = 0;
};

bool space(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

QByteArray trimmed(const QByteArray& line)
{
    qsizetype a = 0, b = line.size();
    while (a < b && space(line.at(a)))
        ++a;
    while (b > a && space(line.at(b - 1)))
        --b;
    return line.mid(a, b - a);
}

// A size field: blanks around, one optional '+', 1 to 15 ASCII digits; anything else is 0.
qint64 size_of(QByteArray field)
{
    field = trimmed(field);
    if (field.startsWith('+'))
        field.remove(0, 1);
    if (field.isEmpty() || field.size() > 15)
        return 0;
    qint64 v = 0;
    for (char c : field) {
        if (c < '0' || c > '9')
            return 0;
        v = v * 10 + (c - '0');
    }
    return v;
}

QList<Expected> model(const QByteArray& bytes)
{
    QList<Expected> out;
    qint64 offset = 0;
    qsizetype start = 0;
    while (start < bytes.size()) {
        const qsizetype nl = bytes.indexOf('\n', start);
        const bool last = nl < 0;
        const QByteArray raw = bytes.mid(start, (last ? bytes.size() : nl) - start);
        start = last ? bytes.size() : nl + 1;
        // 511 bytes at most with the line feed; a last line without one may use all 511.
        if (raw.size() + (last ? 0 : 1) > 511)
            continue;
        const QByteArray line = trimmed(raw);
        if (line.isEmpty())
            continue;
        const QList<QByteArray> fields = line.split(':');
        const QString stamp = QString::fromLatin1(fields.at(0));
        QDate date;
        qint64 ms = 0;
        if (fields.at(0).size() != 17 || !TimeText::parse_yyyymmddhhmmsszzz(stamp, &date, &ms))
            continue;
        Expected e;
        e.stamp = stamp;
        e.size = fields.size() >= 6 ? size_of(fields.at(5)) : 0;
        e.offset = offset;
        offset = offset > std::numeric_limits<qint64>::max() - e.size ? std::numeric_limits<qint64>::max()
                                                                       : offset + e.size;
        out.append(e);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString path = dir.filePath(QStringLiteral("1_20240101_080000.zqseek"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            std::abort();
    }
    SeekIndexOptions options;
    options.keepAll = true;
    SeekIndexResult result;
    const QList<ZQFrame> frames = parse_seek_index(path, options, &result);
    const QList<Expected> expected = model(bytes);
    if (!result.opened || frames.size() != expected.size() || result.lines != expected.size())
        std::abort();
    for (qsizetype i = 0; i < frames.size(); ++i) {
        const ZQFrame& f = frames.at(i);
        const Expected& e = expected.at(i);
        if (f.get_size() != e.size || f.get_offset() != e.offset || f.get_timestamp() != e.stamp
            || !f.has_valid_timestamp() || f.get_data_file() != dir.filePath(QStringLiteral("1_20240101_080000.zqvideo")))
            std::abort();
    }
    // Stream lists hold each stream once.
    if (QSet<QString>(result.streams.begin(), result.streams.end()).size() != result.streams.size()
        || QSet<QString>(result.streamTokens.begin(), result.streamTokens.end()).size() != result.streamTokens.size())
        std::abort();
    // A stream filter keeps exactly the records of that stream.
    if (!result.streams.isEmpty()) {
        SeekIndexOptions one;
        one.stream = result.streams.first();
        const QList<ZQFrame> filtered = parse_seek_index(path, one);
        qsizetype count = 0;
        for (const ZQFrame& f : frames)
            count += f.get_stream() == one.stream ? 1 : 0;
        if (filtered.size() != count)
            std::abort();
    }
    return 0;
}
