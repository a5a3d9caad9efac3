// The header of one part of the live audio stream, as the server sends it: whatever the bytes, the
// parser either refuses them and keeps nothing, or keeps a content type that is lower case, holds
// no parameters and only visible ASCII.
#include "harness.h"

#include "playback/ff_audio_decoder_sdl_player.h"

#include <QByteArray>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    Http_header_parser parser;
    parser.set_content_type(QStringLiteral("stale"));
    parser.set_multipart(true);
    if (!parser.parse(bytes)) {
        if (!parser.get_content_type().isEmpty() || parser.is_multipart())
            std::abort();
        return 0;
    }
    const QString type = parser.get_content_type();
    if (type != type.toLower() || type.contains(QLatin1Char(';')) || size_t(type.size()) > size)
        std::abort();
    for (QChar c : type)
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7f)
            std::abort();
    if (type.startsWith(QLatin1String("multipart/")) && !parser.is_multipart())
        std::abort();
    return 0;
}
