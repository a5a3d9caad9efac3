// The ONVIF client's HTTP answer reader, fed in pieces whose sizes come from
// the input's first bytes: whatever the split, the outcome is the same, and
// a body never exceeds its cap.

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

#include "ptz/http_answer_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int step = 1 + data[0] % 64;
    const bool closed = data[1] & 1;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 2), qsizetype(size - 2));
    constexpr qint64 cap = 4096;
    HttpAnswerParser whole(cap);
    HttpAnswerParser::State a = whole.feed(bytes);
    if (closed)
        a = whole.end_of_stream();
    HttpAnswerParser pieces(cap);
    HttpAnswerParser::State b = HttpAnswerParser::NeedMore;
    for (qsizetype i = 0; i < bytes.size(); i += step)
        b = pieces.feed(bytes.mid(i, step));
    if (closed)
        b = pieces.end_of_stream();
    if (whole.body().size() > cap || pieces.body().size() > cap + step)
        std::abort();
    // A finished answer is the same however it arrived.
    if (a == HttpAnswerParser::Done && (b != HttpAnswerParser::Done || whole.body() != pieces.body()
                                        || whole.status() != pieces.status()))
        std::abort();
    return 0;
}
