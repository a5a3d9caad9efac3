#include "recordings/seek_index.h"

#include "app/zq_log.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTime>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

namespace {

// A seek-index line holds at most 511 bytes including its line feed.
constexpr qsizetype kMaxLineBytes = 511;
constexpr qint64 kChunkBytes = 256 * 1024;
// A size needs no more digits than this (a petabyte); longer texts read as 0.
constexpr int kMaxSizeDigits = 15;
// Distinct line texts shared at once; beyond that sharing starts afresh.
constexpr qsizetype kMaxSharedTexts = 4096;
// Long runs of bad lines are reported a few times per file, then summed up.
constexpr int kMaxLoggedLines = 5;

inline bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// 17 ASCII digits forming a real date and time, read without any time zone.
bool parse_stamp(const char* p, qsizetype n, quint64* packed)
{
    if (n != 17)
        return false;
    quint64 v = 0;
    for (int i = 0; i < 17; ++i) {
        const unsigned c = unsigned(p[i]) - '0';
        if (c > 9)
            return false;
        v = v * 10 + c;
    }
    auto num = [p](int at, int len) {
        int r = 0;
        for (int i = 0; i < len; ++i)
            r = r * 10 + (p[at + i] - '0');
        return r;
    };
    if (!QDate::isValid(num(0, 4), num(4, 2), num(6, 2)) || !QTime::isValid(num(8, 2), num(10, 2), num(12, 2), num(14, 3)))
        return false;
    *packed = v;
    return true;
}

// A decimal size; anything that is not a non-negative number reads as 0.
qint64 parse_size(const char* p, qsizetype n)
{
    while (n > 0 && is_space(*p)) { ++p; --n; }
    while (n > 0 && is_space(p[n - 1])) --n;
    if (n > 0 && *p == '+') { ++p; --n; }
    if (n <= 0 || n > kMaxSizeDigits)
        return 0;
    qint64 v = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned c = unsigned(p[i]) - '0';
        if (c > 9)
            return 0;
        v = v * 10 + c;
    }
    return v;
}

QString remove_word(QString text, QLatin1String word)
{
    text.remove(word);
    return text;
}

bool is_ascii(std::string_view text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// True when the ASCII stream token, with every `word` taken out (as remove_word does), reads
// `wanted`.
bool stream_is(std::string_view token, std::string_view word, const QByteArray& wanted)
{
    qsizetype matched = 0;
    for (size_t i = 0; i < token.size();) {
        if (token.compare(i, word.size(), word) == 0) {
            i += word.size();
            continue;
        }
        if (matched >= wanted.size() || wanted.at(matched) != token[i])
            return false;
        ++matched;
        ++i;
    }
    return matched == wanted.size();
}

class Parser
{
public:
    Parser(const SeekIndexOptions& options, SeekIndexResult& result, const SeekCompanions& files)
        : m_options(options), m_result(result), m_files(files),
          m_video(files.kind == QLatin1String("video")),
          m_window(!options.windowBegin.isEmpty() && !options.windowEnd.isEmpty()),
          m_begin(options.windowBegin.toLatin1()), m_end(options.windowEnd.toLatin1()),
          m_wanted(options.stream.isEmpty() ? QByteArray() : options.stream.toUtf8())
    {
        m_windowOpen = options.windowOpen ? *options.windowOpen : false;
    }

    void finish()
    {
        if (m_options.windowOpen)
            *m_options.windowOpen = m_windowOpen;
        if (m_overlong > kMaxLoggedLines || m_malformed > kMaxLoggedLines)
            ZQLog::log(QStringLiteral("[WARN] Seek index :: read :: ") + QString::number(m_malformed + m_overlong)
                       + QStringLiteral(" malformed lines skipped in ") + m_files.seekPath);
    }

    void overlong_line()
    {
        ++m_overlong;
        ++m_result.skippedLines;
        if (m_overlong <= kMaxLoggedLines)
            ZQLog::log(QStringLiteral("[WARN] Seek index :: read :: line longer than 511 bytes skipped in ")
                       + m_files.seekPath);
    }

    void line(const char* p, qsizetype n)
    {
        while (n > 0 && is_space(*p)) { ++p; --n; }
        while (n > 0 && is_space(p[n - 1])) --n;
        if (n == 0)
            return;

        // Field boundaries: up to seven fields are looked at.
        const char* f[8];
        qsizetype len[8];
        int count = 0;
        const char* start = p;
        const char* end = p + n;
        while (count < 7) {
            const char* colon = static_cast<const char*>(std::memchr(start, ':', size_t(end - start)));
            f[count] = start;
            if (!colon) {
                len[count++] = end - start;
                break;
            }
            len[count++] = colon - start;
            start = colon + 1;
        }

        quint64 packed = 0;
        if (!parse_stamp(f[0], len[0], &packed)) {
            ++m_malformed;
            ++m_result.skippedLines;
            if (m_malformed <= kMaxLoggedLines)
                ZQLog::log(QStringLiteral("[WARN] Seek index :: read :: malformed line skipped in ") + m_files.seekPath);
            return;
        }
        ++m_result.lines;

        const int needed = m_video ? 6 : 4;
        const bool full = count >= needed;
        const qint64 size = full ? parse_size(f[m_video ? 5 : 3], len[m_video ? 5 : 3]) : 0;
        const qint64 offset = m_offset;
        m_offset = (m_offset > std::numeric_limits<qint64>::max() - size) ? std::numeric_limits<qint64>::max()
                                                                            : m_offset + size;

        int inRange = 1;
        if (m_window) {
            const std::string_view t(f[0] + 8, 6);
            const std::string_view b(m_begin.constData(), size_t(m_begin.size()));
            const std::string_view e(m_end.constData(), size_t(m_end.size()));
            if (!m_windowOpen) {
                if (b <= t && t < e)
                    m_windowOpen = true;
                else
                    inRange = 0;
            } else if (t >= e) {
                m_windowOpen = false;
            }
        }

        const QExplicitlySharedDataPointer<ZQFrameTexts>* texts = &short_texts_if(!full);
        if (full) {
            // Fields 1 to 3 (video) or 1 to 2 (audio), contiguous in the line.
            const int last = m_video ? 4 : 2;
            const std::string_view key(f[1], size_t(f[last] + len[last] - f[1]));
            texts = cached_texts(key);
            if (!texts) {
                // A line the result does not take needs no texts of its own: only its stream is
                // listed, and once the list is full not even that. A file naming a new stream on
                // every line stays cheap to read.
                const std::string_view word(m_video ? "video" : "audio");
                const std::string_view raw(f[1], size_t(len[1]));
                const QLatin1String kindWord(word.data(), qsizetype(word.size()));
                bool taken = m_options.keepAll || (inRange == 1 && m_wanted.isNull());
                if (!taken && inRange == 1) {
                    // Bytes compared as they are while they are ASCII; others as the text
                    // the record would carry (invalid UTF-8 read as replacement characters).
                    taken = is_ascii(raw) ? stream_is(raw, word, m_wanted)
                                          : remove_word(QString::fromUtf8(f[1], len[1]), kindWord) == m_options.stream;
                }
                if (!taken && m_streamSet.size() >= kMaxListedStreams) {
                    ++m_result.unlistedLines;
                    return;
                }
                const QString token = QString::fromUtf8(f[1], len[1]);
                const QString stream = remove_word(token, kindWord);
                if (!taken) {
                    list_stream(token, stream);
                    return;
                }
                texts = &new_texts(key, f, len, token, stream);
            }
        }
        if (!m_options.keepAll
            && !(inRange == 1 && (m_options.stream.isEmpty() || (*texts)->stream == m_options.stream)))
            return;

        ZQFrame frame(*texts);
        frame.set_packed_timestamp(packed);
        frame.set_size(size);
        frame.set_offset(offset);
        frame.set_in_range(inRange);
        m_frames.append(std::move(frame));
    }

    qint64 offset() const { return m_offset; }
    QList<ZQFrame> take() { return std::move(m_frames); }
    void reserve(qint64 bytes)
    {
        // A guess from the file size, bounded: a huge file of garbage must not
        // reserve room for millions of records it does not hold.
        m_frames.reserve(qsizetype(qMin<qint64>(bytes / 44 + 16, 1024 * 1024)));
    }

private:
    QExplicitlySharedDataPointer<ZQFrameTexts> base_texts()
    {
        QExplicitlySharedDataPointer<ZQFrameTexts> t(new ZQFrameTexts);
        t->dataFile = m_files.dataFile;
        t->kind = m_files.kind;
        t->cameraName = m_result.cameraName;
        return t;
    }

    // The shared texts of a line too short to name its stream and codec (null when `use` is false).
    const QExplicitlySharedDataPointer<ZQFrameTexts>& short_texts_if(bool use)
    {
        if (use && !m_short)
            m_short = base_texts();
        return use ? m_short : m_none;
    }

    // The texts already made for these fields, or null.
    const QExplicitlySharedDataPointer<ZQFrameTexts>* cached_texts(std::string_view key)
    {
        if (m_last && std::string_view(m_lastKey.constData(), size_t(m_lastKey.size())) == key)
            return &m_last;
        const QByteArray keyBytes = QByteArray::fromRawData(key.data(), qsizetype(key.size()));
        auto found = m_entries.constFind(keyBytes);
        if (found == m_entries.constEnd())
            return nullptr;
        m_lastKey = found.key();
        m_last = found.value();
        return &m_last;
    }

    // Hashed: a file with many distinct tokens must not make every new one a scan.
    void list_stream(const QString& token, const QString& stream)
    {
        if (!stream.isEmpty() && !m_streamSet.contains(stream)) {
            m_streamSet.insert(stream);
            m_result.streams.append(stream);
        }
        if (!token.isEmpty() && !m_tokenSet.contains(token)) {
            m_tokenSet.insert(token);
            m_result.streamTokens.append(token);
        }
    }

    const QExplicitlySharedDataPointer<ZQFrameTexts>& new_texts(std::string_view key, const char* const* f,
                                                                const qsizetype* len, const QString& token,
                                                                const QString& stream)
    {
        // A file whose texts never repeat would grow this table without end; such a file simply
        // starts sharing afresh beyond a bound.
        if (m_entries.size() >= kMaxSharedTexts)
            m_entries.clear();

        auto t = base_texts();
        const QString codec = QString::fromUtf8(f[2], len[2]);
        t->stream = stream;
        if (m_video) {
            t->codec = m_options.deriveCodecName ? seek_index_codec_name(codec) : codec;
            t->extra = QString::fromUtf8(f[3], len[3]);
            t->keyframe = QString::fromUtf8(f[4], len[4]);
        } else {
            t->codec = codec;
        }
        list_stream(token, stream);

        m_lastKey = QByteArray(key.data(), qsizetype(key.size()));
        m_last = t;
        m_entries.insert(m_lastKey, t);
        return m_last;
    }

    const SeekIndexOptions& m_options;
    SeekIndexResult& m_result;
    const SeekCompanions& m_files;
    const bool m_video;
    const bool m_window;
    const QByteArray m_begin;
    const QByteArray m_end;
    const QByteArray m_wanted;  // the stream asked for, UTF-8; null when every stream is
    bool m_windowOpen = false;
    qint64 m_offset = 0;
    int m_malformed = 0;
    int m_overlong = 0;
    QHash<QByteArray, QExplicitlySharedDataPointer<ZQFrameTexts>> m_entries;
    QByteArray m_lastKey;
    QExplicitlySharedDataPointer<ZQFrameTexts> m_last;
    QSet<QString> m_streamSet;
    QSet<QString> m_tokenSet;
    QExplicitlySharedDataPointer<ZQFrameTexts> m_short;
    const QExplicitlySharedDataPointer<ZQFrameTexts> m_none;
    QList<ZQFrame> m_frames;
};

} // namespace

QString replace_suffix(const QString& path, const QString& newSuffix)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash)
        return path + QLatin1Char('.') + newSuffix;
    return path.left(dot + 1) + newSuffix;
}

QStringList plausible_stream_ids(const QStringList& streams, qsizetype* dropped)
{
    QStringList kept;
    for (const QString& id : streams) {
        if (kept.size() >= kMaxOfferedStreams)
            break;
        if (id.isEmpty() || id.size() > 3)
            continue;
        bool digits = true;
        for (QChar c : id)
            digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (digits)
            kept.append(id);
    }
    if (dropped)
        *dropped = streams.size() - kept.size();
    return kept;
}

SeekCompanions seek_index_companions(const QString& path)
{
    SeekCompanions c;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash)
        return c;
    const QStringView suffix = QStringView(path).mid(dot + 1);
    if (suffix == QLatin1String("zqvideo")) {
        c.dataFile = path;
        c.seekPath = replace_suffix(path, QStringLiteral("zqseek"));
        c.kind = QStringLiteral("video");
    } else if (suffix == QLatin1String("zqseek")) {
        c.seekPath = path;
        c.dataFile = replace_suffix(path, QStringLiteral("zqvideo"));
        c.kind = QStringLiteral("video");
    } else if (suffix == QLatin1String("zqaudioseek")) {
        c.seekPath = path;
        c.dataFile = replace_suffix(path, QStringLiteral("zqaudio"));
        c.kind = QStringLiteral("audio");
    } else if (suffix == QLatin1String("zqaudio")) {
        c.dataFile = path;
        c.seekPath = replace_suffix(path, QStringLiteral("zqaudioseek"));
        c.kind = QStringLiteral("audio");
    }
    return c;
}

QString seek_index_camera_id(const QString& path)
{
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    return name.section(QLatin1Char('_'), 0, 0);
}

QString seek_index_codec_name(QStringView codecText)
{
    if (codecText.contains(u"264"))
        return QStringLiteral("libx264");
    if (codecText.contains(u"MPEG4", Qt::CaseInsensitive))
        return QStringLiteral("mpeg4");
    if (codecText.contains(u"265"))
        return QStringLiteral("hevc");
    if (codecText.contains(u"aac"))
        return QStringLiteral("aac");
    return QStringLiteral("mjpeg");
}

bool seek_index_timestamp_valid(QStringView text)
{
    if (text.size() != 17)
        return false;
    char buf[17];
    for (int i = 0; i < 17; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c > 127)
            return false;
        buf[i] = char(c);
    }
    quint64 packed;
    return parse_stamp(buf, 17, &packed);
}

QList<ZQFrame> parse_seek_index(const QString& path, const SeekIndexOptions& options, SeekIndexResult* resultOut)
{
    SeekIndexResult local;
    SeekIndexResult& result = resultOut ? *resultOut : local;
    result = SeekIndexResult();

    const SeekCompanions files = seek_index_companions(path);
    if (!files.valid())
        return {};
    result.seekPath = files.seekPath;
    result.dataFile = files.dataFile;
    result.kind = files.kind;
    result.cameraId = seek_index_camera_id(files.seekPath);
    if (!result.cameraId.isEmpty()) {
        bool ok = false;
        const int id = result.cameraId.toInt(&ok);
        if (ok && options.cameras && options.cameras->contains(id))
            result.cameraName = options.cameras->value(id);
        else
            result.cameraName = QStringLiteral("CAMERA ") + result.cameraId;
    }

    // Only a regular file: opening a pipe named like a seek index would wait
    // for a writer forever.
    QFile file(files.seekPath);
    if (!QFileInfo(files.seekPath).isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    result.opened = true;
    if (file.size() > kMaxSeekIndexBytes) {
        ZQLog::log(QStringLiteral("[ERROR] Seek index :: read :: file too large, not used :: ") + files.seekPath);
        result.refused = true;
        return {};
    }

    Parser parser(options, result, files);
    parser.reserve(file.size());

    QByteArray chunk(kChunkBytes, Qt::Uninitialized);
    QByteArray pending;       // start of a line cut by the end of a chunk
    bool pendingOverlong = false;
    bool cancelled = false;
    auto cancelRequested = [&options]() {
        return options.cancel && options.cancel->load(std::memory_order_relaxed);
    };

    for (;;) {
        const qint64 got = file.read(chunk.data(), kChunkBytes);
        if (got <= 0)
            break;
        const char* p = chunk.constData();
        const char* end = p + got;
        while (p < end) {
            if (cancelRequested()) {
                cancelled = true;
                break;
            }
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
            if (!nl) {
                // Keep the cut line for the next chunk, within the line limit.
                if (!pendingOverlong) {
                    if (pending.size() + (end - p) > kMaxLineBytes) {
                        pendingOverlong = true;
                        pending.clear();
                    } else {
                        pending.append(p, end - p);
                    }
                }
                p = end;
                break;
            }
            if (result.lines >= kMaxSeekIndexRecords) {
                ZQLog::log(QStringLiteral("[ERROR] Seek index :: read :: too many records, not used :: ")
                           + files.seekPath);
                result.refused = true;
                return {};
            }
            const qsizetype lineLen = nl - p; // without its line feed
            if (pendingOverlong) {
                parser.overlong_line();
                pendingOverlong = false;
            } else if (!pending.isEmpty()) {
                if (pending.size() + lineLen + 1 > kMaxLineBytes) {
                    parser.overlong_line();
                } else {
                    pending.append(p, lineLen);
                    parser.line(pending.constData(), pending.size());
                }
                pending.clear();
            } else if (lineLen + 1 > kMaxLineBytes) {
                parser.overlong_line();
            } else {
                parser.line(p, lineLen);
            }
            p = nl + 1;
        }
        if (cancelled)
            break;
    }
    if (!cancelled) {
        // The last line may end without a line feed.
        if (pendingOverlong)
            parser.overlong_line();
        else if (!pending.isEmpty())
            parser.line(pending.constData(), pending.size());
    }

    parser.finish();
    result.cancelled = cancelled;
    result.dataBytes = parser.offset();
    if (!result.streams.isEmpty() && !result.streams.contains(options.stream))
        result.detectedStream = result.streams.first();
    return parser.take();
}

double typical_spacing(QList<qint64> spacings)
{
    if (spacings.isEmpty())
        return -1.0;
    const qsizetype mid = spacings.size() / 2;
    std::nth_element(spacings.begin(), spacings.begin() + mid, spacings.end());
    const qint64 median = spacings.at(mid);
    double sum = 0.0;
    qsizetype count = 0;
    if (median <= 0) {
        for (qint64 s : std::as_const(spacings)) {
            sum += double(qMax<qint64>(0, s));
            ++count;
        }
    } else {
        // Within [median / 2, 3 * median / 2], in integers without overflow.
        for (qint64 s : std::as_const(spacings)) {
            if (s >= median - median / 2 && s <= median + median / 2) {
                sum += double(s);
                ++count;
            }
        }
    }
    if (count == 0 || sum <= 0.0)
        return -1.0;
    return sum / double(count);
}

double seek_index_frame_rate(const QList<ZQFrame>& frames)
{
    QList<qint64> spacings;
    spacings.reserve(frames.size());
    qint64 previous = -1;
    for (qsizetype i = 0; i < frames.size(); ++i) {
        const qint64 t = frames.at(i).absolute_ms();
        if (i > 0 && previous >= 0 && t >= previous && frames.at(i - 1).get_data_file() == frames.at(i).get_data_file())
            spacings << t - previous;
        previous = t;
    }
    const double ms = typical_spacing(std::move(spacings));
    return ms > 0.0 ? 1000.0 / ms : -1.0;
}
