// The digit readers of timestamps in file names, seek indexes and stream headers: whatever the
// text, they either refuse it and leave their outputs alone, or give a valid date and a time of day
// that writes back to the same text.
#include "harness.h"

#include "recordings/time_text.h"

#include <QDate>
#include <QString>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QDate untouched(1999, 9, 9);
    constexpr qint64 kUntouchedMs = 123;

    QDate date = untouched;
    qint64 ms = kUntouchedMs;
    if (TimeText::parse_yyyymmddhhmmsszzz(text, &date, &ms)) {
        if (!date.isValid() || ms < 0 || ms >= 86400000
            || TimeText::make_yyyymmddhhmmsszzz(date, ms) != text)
            std::abort();
    } else if (date != untouched || ms != kUntouchedMs) {
        std::abort();
    }

    date = untouched;
    ms = kUntouchedMs;
    if (TimeText::parse_yyyymmddhhmmss(text, &date, &ms)) {
        if (!date.isValid() || ms < 0 || ms >= 86400000 || ms % 1000 != 0
            || TimeText::make_yyyymmddhhmmss(date, ms) != text)
            std::abort();
    } else if (date != untouched || ms != kUntouchedMs) {
        std::abort();
    }

    date = untouched;
    ms = kUntouchedMs;
    if (TimeText::parse_display_time(text, &date, &ms)) {
        if (!date.isValid() || ms < 0 || ms >= 86400000)
            std::abort();
        // Both separators before the milliseconds are read; the writer uses '.'.
        QString normal = text;
        if (normal.size() == 23)
            normal[19] = QLatin1Char('.');
        if (TimeText::make_display_time(date, ms) != normal)
            std::abort();
    } else if (date != untouched || ms != kUntouchedMs) {
        std::abort();
    }

    const qint64 hms = TimeText::hhmmss_to_ms(text);
    if (hms != -1 && (hms < 0 || hms >= 86400000))
        std::abort();
    return 0;
}
