// The widget player's readers of recording names, camera ids and clicked
// times, and the time search over the recordings they give.

#include "harness.h"

#include "widgetplayer/day_media.h"

#include <QFileInfo>
#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    const DayMedia::RecordingName n = DayMedia::parse_recording_name(text);
    if (n.valid() && (n.start_ms < 0 || n.start_ms >= 24LL * 3600 * 1000 || n.camera < 0))
        __builtin_trap();
    const int id = DayMedia::parse_camera_id(text);
    if (id >= 0 && QString::number(id) != text)
        __builtin_trap();
    const qint64 ms = DayMedia::ms_of_time_text(text);
    if (ms >= 24LL * 3600 * 1000)
        __builtin_trap();
    // The names, one per line, as a day of recordings searched at the time of the first.
    QFileInfoList files;
    for (const QString& line : text.split(QLatin1Char('\n')))
        files.append(QFileInfo(QStringLiteral("/d/") + line));
    const QVector<DayMedia::Entry> entries = DayMedia::entries_of(files);
    // A minute each; the search asks ends only of the entries it holds.
    auto end_of = [&](int i) {
        if (i < 0 || i >= entries.size())
            __builtin_trap();
        return entries[i].start_ms + 60000;
    };
    for (int tolerance : {0, 900}) {
        const DayMedia::SearchResult r = DayMedia::search_time(entries, n.start_ms, -1, tolerance, end_of);
        if (r.index >= entries.size())
            __builtin_trap();
    }
    if (!entries.isEmpty() && DayMedia::adjacent_entry(entries, entries.first(), true) >= entries.size())
        __builtin_trap();
    return 0;
}
