// The export's producer on a hostile recording: the input is a seek index, a
// zero byte, then the data file. The export reader parses the index, reads
// every entry's bytes and decodes them; the first pictures go through the
// encoder (a picture of any size and format the decoder gives; the band is
// left out, its text being no input here). Nothing may
// crash, hang or leak, whatever the lines, sizes, offsets or coded bytes say;
// the export file's start-of-day reader and the raw copy's path rule read the
// same index. The reader's random-access side (whole list, time lookup, raw
// reads, decoding probe) reads it too.
#include "harness.h"

#include "export/popup_export.h"
#include "export/raw_export.h"
#include "export/zq_stream_encoder.h"
#include "playback/media_frame_queue.h"
#include "playback/zq_audio_video_file_reader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <cstring>

namespace {

bool write_file(const QString& path, const char* bytes, qsizetype size)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes, size) == size;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    if (!dir.isValid())
        return 0;
    const char* bytes = reinterpret_cast<const char*>(data);
    const void* zero = std::memchr(bytes, 0, size);
    const qsizetype seekSize = zero ? static_cast<const char*>(zero) - bytes : qsizetype(size);
    const QString day = dir.filePath(QStringLiteral("zqcore_0a1b-2c3d-4e5f-6789/2024-01-01/080000"));
    QDir().mkpath(day);
    const QString video = day + QStringLiteral("/1_20240101_080000.zqvideo");
    const QString seek = day + QStringLiteral("/1_20240101_080000.zqseek");
    if (!write_file(seek, bytes, seekSize))
        return 0;
    const qsizetype dataStart = zero ? seekSize + 1 : qsizetype(size);
    if (!write_file(video, bytes + dataStart, qsizetype(size) - dataStart))
        return 0;

    MediaFrameQueue queue;
    {
        ZQAudioVideoFileReader reader({QFileInfo(video)}, QStringLiteral("1"), QStringLiteral("000000"),
                                      QStringLiteral("235959"));
        reader.set_buffer(&queue);
        reader.set_queue_limit(1 << 20);
        reader.set_shared_handle({{1, QStringLiteral("Entrée")}});
        // On this thread: the reader's own thread adds nothing to what is read.
        if (reader.read_all_frames() != 1)
            std::abort();
        if (reader.failure() != 0 && reader.failure() != -14)
            std::abort();
        if (reader.frames_queued() != int(queue.frames.size()))
            std::abort();
    }

    // The random-access side over the same files: the whole list, lookups by
    // time, every entry read raw, then the decoding probe.
    {
        ZQAudioVideoFileReader raw({QFileInfo(video)}, QStringLiteral("1"));
        raw.set_raw_mode(true);
        const QList<ZQFrame> list = raw.read_seek_file({QFileInfo(video)}, QStringLiteral("1"), QString(), QString(), false);
        if (raw.get_frame_count() != (list.isEmpty() ? -1 : int(list.size())))
            std::abort();
        if (!list.isEmpty() && raw.get_frame_index_for_timestamp(list.first().get_timestamp()) < 0)
            std::abort();
        for (int i = 0; i < int(qMin<qsizetype>(list.size(), 64)); ++i) {
            if (raw.read_frame(false, i, raw.get_stream()) && raw.get_raw_bytes().size() > list.at(i).get_size())
                std::abort();
        }
        ZQAudioVideoFileReader probe({QFileInfo(video)}, QStringLiteral("1"));
        probe.init_displayer_for_stream(QStringLiteral("1"));
    }

    int encoded = 0;
    ZQStreamEncoder encoder;
    bool open = false;
    for (ZQMediaFrame* f : queue.frames) {
        if (encoded >= 3)
            break;
        if (!open) {
            open = encoder.init_encoder(dir.filePath(QStringLiteral("out.avi")), QStringLiteral("mjpeg"), 0,
                                        f->get_fps(), f->get_width(), f->get_height(), false, QString(),
                                        f->get_pixel_format());
            if (!open)
                break;
        }
        if (encoder.encode_frame(f->get_frame(), f->get_width(), f->get_height(),
                                 QString::fromUtf8(f->get_timestamp() ? f->get_timestamp() : ""),
                                 f->get_draw_overlay(), f->get_frame_id()))
            ++encoded;
    }
    if (open)
        encoder.end_encoding();
    queue.clear();

    // The last line's time (the dialog's end of the last recording) and the
    // raw copy's target of a path read from the index: never outside the export folder.
    PopupExport::last_seek_timestamp(seek);
    const QString firstLine = QString::fromUtf8(bytes, qMin<qsizetype>(seekSize, 4096)).section(QLatin1Char('\n'), 0, 0);
    const QString target = RawExport::target_path(QStringLiteral("/export"), QStringLiteral("/store/") + firstLine);
    if (!target.isEmpty() && !QDir::cleanPath(target).startsWith(QStringLiteral("/export/")))
        std::abort();
    return 0;
}
