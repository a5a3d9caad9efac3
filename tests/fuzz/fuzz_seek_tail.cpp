// The widget player's readers of a seek index's last lines (the filler's
// estimate of a recording's length) and of its first lines (its stream tokens).

#include "harness.h"

#include "widgetplayer/day_media.h"

#include <QByteArray>
#include <QStringList>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 8192)
        return 0;
    const QByteArray tail(reinterpret_cast<const char*>(data), int(size));
    for (bool cut : {false, true}) {
        QStringList streams;
        const DayMedia::LastLine last = DayMedia::last_line_of_tail(tail, cut, &streams);
        if (last.found && (last.time_ms < 0 || last.time_ms >= 24LL * 3600 * 1000 || last.timestamp.size() != 17))
            __builtin_trap();
        // Without the stream tokens the last line found is the same.
        const DayMedia::LastLine bare = DayMedia::last_line_of_tail(tail, cut, nullptr);
        if (bare.found != last.found || bare.timestamp != last.timestamp || bare.fields != last.fields)
            __builtin_trap();
        DayMedia::minutes_from_last_frame(0, last.time_ms);
        // The same bytes as the head of a seek index.
        QStringList tokens;
        DayMedia::stream_tokens_of_head(tail, cut, &tokens);
        if (tokens.size() > 64 || tokens.removeDuplicates() != 0)
            __builtin_trap();
    }
    return 0;
}
