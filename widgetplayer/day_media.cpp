#include "widgetplayer/day_media.h"

#include "recordings/storage_layout.h"
#include "recordings/time_text.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cmath>
#include <limits>

namespace DayMedia {

int parse_camera_id(QStringView text)
{
    return StorageLayout::camera_id_from_text(text);
}

RecordingName parse_recording_name(const QString& file_name)
{
    RecordingName r;
    const StorageLayout::RecordingName n = StorageLayout::parse_recording_name(file_name);
    if (!n.valid)
        return r;
    r.camera = n.camera;
    r.day = n.dayText;
    r.start_ms = n.startMs;
    return r;
}

QVector<Entry> entries_of(const QFileInfoList& files)
{
    QVector<Entry> out;
    out.reserve(files.size());
    for (const QFileInfo& f : files) {
        const QString name = f.fileName();
        const RecordingName n = parse_recording_name(name);
        if (!n.valid())
            continue;
        Entry e;
        e.path = f.filePath();
        e.camera = n.camera;
        e.day = n.day;
        e.start_ms = n.start_ms;
        e.audio = name.endsWith(QLatin1String(".zqaudio"));
        out.append(e);
    }
    return out;
}

int camera_id_of_camera_text(const QString& text, const QHash<int, QString>& cameras)
{
    if (!cameras.isEmpty()) {
        // Several ids may share a name: the smallest one, not the hash's order.
        int best = -1;
        for (auto it = cameras.cbegin(); it != cameras.cend(); ++it)
            if (it.value() == text && (best < 0 || it.key() < best))
                best = it.key();
        if (best >= 0)
            return best;
    }
    if (text.startsWith(QLatin1String("CAMERA ")))
        return parse_camera_id(QStringView(text).mid(7));
    return -1;
}

QString camera_text(int camera, const QHash<int, QString>& cameras)
{
    const QString name = cameras.value(camera);
    return name.isEmpty() ? QStringLiteral("CAMERA ") + QString::number(camera) : name;
}

namespace {

// For each entry, the index of the next entry of the same camera and kind.
QVector<int> next_of_same(const QVector<Entry>& list)
{
    QVector<int> next(list.size(), -1);
    QHash<qint64, int> seen;
    for (int i = list.size() - 1; i >= 0; --i) {
        const qint64 key = qint64(list[i].camera) * 2 + (list[i].audio ? 1 : 0);
        next[i] = seen.value(key, -1);
        seen.insert(key, i);
    }
    return next;
}

// Video stream tokens of the lines (field 1 holding "video"), in line order,
// each once; lines longer than a seek line can be are skipped. A hostile file
// cannot fill the stream chooser: at most kMaxStreams tokens are kept.
void add_stream_tokens(const QList<QByteArray>& lines, QStringList* streams)
{
    constexpr int kMaxStreams = 64;
    QSet<QString> known(streams->cbegin(), streams->cend());
    for (const QByteArray& l : lines) {
        if (streams->size() >= kMaxStreams)
            return;
        if (l.size() > 511)
            continue;
        const qsizetype first = l.indexOf(':');
        if (first < 0)
            continue;
        const qsizetype second = l.indexOf(':', first + 1);
        const QByteArrayView field = QByteArrayView(l).sliced(first + 1, (second < 0 ? l.size() : second) - first - 1);
        if (!field.contains(QByteArrayView("video")))
            continue;
        const QString token = QString::fromLatin1(field);
        if (known.contains(token))
            continue;
        known.insert(token);
        streams->append(token);
    }
}

// Opens a regular file read-only; anything else (a folder, a pipe) is refused.
bool open_regular_file(QFile& f)
{
    return QFileInfo(f.fileName()).isFile() && f.open(QIODevice::ReadOnly);
}

} // namespace

SearchResult search_time(const QVector<Entry>& list, qint64 time_ms, int camera, int tolerance_s, const EndOf& end_of)
{
    SearchResult r;
    r.camera = camera;
    if (time_ms < 0)
        return r;
    const qint64 a = tolerance_s;
    if (a < 1) {
        // No recording runs into the camera's next one of its kind: only the
        // latest of each kind that starts at or before the time can hold it.
        int video = -1, audio = -1;
        for (int i = 0; i < list.size(); ++i) {
            const Entry& e = list[i];
            if (r.camera == -1)
                r.camera = e.camera;
            if (e.camera != r.camera || e.start_ms > time_ms)
                continue;
            int& best = e.audio ? audio : video;
            if (best < 0 || e.start_ms > list[best].start_ms)
                best = i;
        }
        for (const int i : {qMin(video, audio), qMax(video, audio)}) {
            if (i >= 0 && time_ms < end_of(i)) {
                r.index = i;
                return r;
            }
        }
        return r;
    }
    const QVector<int> next = next_of_same(list);
    int last_video = -1, last_audio = -1;
    for (int i = 0; i < list.size(); ++i) {
        const Entry& e = list[i];
        if (r.camera == -1)
            r.camera = e.camera;
        if (e.camera != r.camera)
            continue;
        (e.audio ? last_audio : last_video) = i;
        const qint64 s = e.start_ms;
        const int n = next[i];
        const qint64 d1 = (s - time_ms) / 1000;
        const qint64 d2 = n >= 0 ? (list[n].start_ms - time_ms) / 1000 : 0;
        if (0 < d1 && d1 < a) {
            r.index = i;
            return r;
        }
        if (0 < d2 && d2 < a) {
            r.index = (a <= qAbs(d1) || d2 <= qAbs(d1)) ? n : i;
            return r;
        }
        if (0 < qAbs(d1) && qAbs(d1) < a && (d2 == 0 || qAbs(d2) >= a)) {
            r.index = i;
            return r;
        }
    }
    for (const int last : {last_video, last_audio}) {
        if (last < 0)
            continue;
        const qint64 d = (end_of(last) - time_ms) / 1000;
        if (d < 0 && d > -a) {
            r.index = last;
            return r;
        }
    }
    return r;
}

int adjacent_entry(const QVector<Entry>& list, const Entry& current, bool next)
{
    int best = -1;
    for (int i = 0; i < list.size(); ++i) {
        const Entry& e = list[i];
        if (e.camera != current.camera || e.audio != current.audio || e.day != current.day)
            continue;
        if (next ? e.start_ms <= current.start_ms : e.start_ms >= current.start_ms)
            continue;
        if (best < 0 || (next ? e.start_ms < list[best].start_ms : e.start_ms > list[best].start_ms))
            best = i;
    }
    return best;
}

int entry_for_alarm(const QVector<Entry>& list, int camera, const QString& day, qint64 time_ms, const EndOf& end_of)
{
    if (time_ms < 0)
        return -1;
    // The camera's latest recording of the day that starts at or before the
    // time: no recording runs into the next one.
    int best = -1;
    for (int i = 0; i < list.size(); ++i) {
        const Entry& e = list[i];
        if (e.camera == camera && e.day == day && e.start_ms <= time_ms &&
            (best < 0 || e.start_ms > list[best].start_ms))
            best = i;
    }
    return best >= 0 && time_ms < end_of(best) ? best : -1;
}

qint64 ms_of_time_text(const QString& time)
{
    QString t = time;
    t.remove(QLatin1Char(':'));
    if (t.size() == 9) // "HH:mm:ss:zzz"
        t.truncate(6);
    return TimeText::hhmmss_to_ms(t);
}

int hour_of_time_text(const QString& time)
{
    const qint64 ms = ms_of_time_text(time);
    return ms < 0 ? -1 : int(ms / 3600000);
}

double minutes_from_last_frame(qint64 start_ms, qint64 last_ms)
{
    if (start_ms < 0 || last_ms <= start_ms)
        return -1.0;
    const double d = (last_ms - start_ms) / 1000.0 / 60.0;
    if (d > 1 && d < 10)
        return d;
    if (d < 1)
        return 1.0;
    return -1.0;
}

namespace {

// Just after the recording's own last picture, when it has one: a single
// picture stamped at the start second counts too.
qint64 own_end(const QVector<qint64>& starts_ms, int i, qint64 last_ms)
{
    return last_ms >= 0 && last_ms >= starts_ms[i] ? last_ms + 1 : qint64(-1);
}

} // namespace

double estimate_minutes(const QVector<qint64>& starts_ms, const std::function<qint64(int)>& last_of,
                        double minutes_per_file)
{
    const int n = int(starts_ms.size());
    double minutes = minutes_per_file;
    for (int i = 0; i < n; ++i) {
        if (i + 1 < n && starts_ms[i + 1] > starts_ms[i]) {
            const qint64 g = (starts_ms[i + 1] - starts_ms[i]) / 60000;
            if (g > 1 && g < 10 && (minutes < 0 || minutes > g))
                minutes = double(g);
        }
        if (minutes < 0) {
            const qint64 last = last_of(i);
            if (own_end(starts_ms, i, last) > 0) {
                const double d = minutes_from_last_frame(starts_ms[i], last);
                if (d > 0)
                    minutes = d;
            }
        }
    }
    return minutes;
}

qint64 bounded_end(const QVector<qint64>& starts_ms, int i, qint64 end_ms)
{
    constexpr qint64 kDay = 24LL * 3600 * 1000;
    if (i + 1 < starts_ms.size() && starts_ms[i + 1] > starts_ms[i])
        end_ms = qMin(end_ms, starts_ms[i + 1]);
    return qMin(end_ms, kDay);
}

qint64 recording_end(const QVector<qint64>& starts_ms, int i, qint64 last_ms, double minutes_per_file)
{
    qint64 end = own_end(starts_ms, i, last_ms);
    if (end < 0 && minutes_per_file > 0)
        end = starts_ms[i] + qint64(std::llround(minutes_per_file * 60000.0));
    return end < 0 ? -1 : bounded_end(starts_ms, i, end);
}

QVector<qint64> recording_ends(const QVector<qint64>& starts_ms, const QVector<qint64>& last_ms,
                               double* minutes_per_file)
{
    auto last_of = [&](int i) { return i < last_ms.size() ? last_ms[i] : qint64(-1); };
    const double minutes = estimate_minutes(starts_ms, last_of, minutes_per_file ? *minutes_per_file : -1.0);
    if (minutes_per_file)
        *minutes_per_file = minutes;
    QVector<qint64> ends(starts_ms.size(), -1);
    for (int i = 0; i < starts_ms.size(); ++i)
        ends[i] = recording_end(starts_ms, i, last_of(i), minutes);
    return ends;
}

void stream_tokens_of_head(const QByteArray& head, bool cut_last, QStringList* streams)
{
    if (!streams)
        return;
    QList<QByteArray> lines = head.split('\n');
    if (cut_last && !lines.isEmpty())
        lines.removeLast();
    for (QByteArray& l : lines)
        if (l.endsWith('\r'))
            l.chop(1);
    add_stream_tokens(lines, streams);
}

LastLine seek_last_line(const QString& seek_path, QStringList* streams)
{
    LastLine out;
    QFile f(seek_path);
    if (!open_regular_file(f))
        return out;
    out.opened = true;
    // Enough for several lines of either kind; a line is at most 511 bytes.
    const qint64 kTail = 4096;
    QByteArray tail;
    bool cut = false;
    bool head_covered = false;
    if (streams) {
        // Several hundred lines, read the same whatever the file's length;
        // a short index is read once for both ends.
        const qint64 kHead = 16384;
        QByteArray head = f.read(kHead);
        const bool whole = f.atEnd();
        stream_tokens_of_head(head, !whole, streams);
        if (whole) {
            head_covered = true;
            cut = head.size() > kTail;
            tail = cut ? head.right(kTail) : head;
            out.read = tail.size();
        }
    }
    if (out.read < 0) {
        const qint64 from = qMax<qint64>(0, f.size() - kTail);
        if (from > 0 && !f.seek(from))
            return out;
        tail.resize(kTail);
        const qint64 n = f.read(tail.data(), kTail);
        out.read = n;
        if (n < 1)
            return out;
        tail.truncate(n);
        cut = from > 0;
    }
    if (out.read < 1)
        return out;
    // A short index's head covered every line already.
    LastLine last = last_line_of_tail(tail, cut, head_covered ? nullptr : streams);
    last.opened = true;
    last.read = out.read;
    return last;
}

LastLine last_line_of_tail(const QByteArray& tail, bool cut_first, QStringList* streams)
{
    LastLine out;
    // The first piece may be the end of a line cut by the tail's start.
    qsizetype begin = 0;
    if (cut_first) {
        const qsizetype nl = tail.indexOf('\n');
        if (nl < 0)
            return out;
        begin = nl + 1;
    }
    if (streams) {
        QList<QByteArray> lines = tail.mid(begin).split('\n');
        for (QByteArray& l : lines)
            if (l.endsWith('\r'))
                l.chop(1);
        add_stream_tokens(lines, streams);
    }
    // From the last line back: only the last valid one is wanted.
    qsizetype end = tail.size();
    for (;;) {
        const qsizetype nl = end > begin ? tail.lastIndexOf('\n', end - 1) : -1;
        const qsizetype start = nl >= begin ? nl + 1 : begin;
        QByteArrayView l(tail.constData() + start, end - start);
        if (l.endsWith('\r'))
            l.chop(1);
        if (!l.isEmpty() && l.size() <= 511) {
            const qsizetype colon = l.indexOf(':');
            QDate date;
            qint64 ms = -1;
            const QString first = QString::fromLatin1(colon < 0 ? l : l.first(colon));
            if (TimeText::parse_yyyymmddhhmmsszzz(first, &date, &ms)) {
                out.found = true;
                out.timestamp = first;
                out.time_ms = ms;
                out.fields = QString::fromLatin1(l).split(QLatin1Char(':'));
                return out;
            }
        }
        if (nl < begin)
            return out;
        end = nl;
    }
}

} // namespace DayMedia
