// Bytes of a server video stream, cut into deliveries where the input says,
// through the multipart parser; every part's draw-overlay text through its
// parser, as the tile would read it.

#include <QString>

#include <cstddef>
#include <cstdint>

#include "view/draw_overlay.h"
#include "view/stream_multipart_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // The first two bytes choose the delivery size (1 .. 65536).
    const size_t chunk = (size_t(data[0]) << 8 | data[1]) + 1;
    data += 2;
    size -= 2;
    StreamMultipartParser parser;
    auto on_part = [](StreamPart& part) {
        if (part.body.size() > StreamMultipartParser::max_body_size)
            __builtin_trap();
        if (part.draw_overlay.size() > StreamMultipartParser::max_header_value)
            __builtin_trap();
        const QList<DrawOverlayPrimitive> prims = DrawOverlay::parse(part.draw_overlay);
        if (prims.size() > DrawOverlay::max_entries)
            __builtin_trap();
        return true;
    };
    for (size_t at = 0; at < size; at += chunk) {
        const size_t n = size - at < chunk ? size - at : chunk;
        parser.feed(reinterpret_cast<const char*>(data) + at, qsizetype(n), on_part);
    }
    return 0;
}
