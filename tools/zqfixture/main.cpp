// zqfixture: writes a storage folder of generated recordings and prints the
// path of its root folder.

#include "recordings/storage_layout.h"
#include "recordings/time_text.h"
#include "tools/zqfixture/lib/fixture_metadata.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTextStream>

#include <cstdio>
#include <utility>

extern "C" {
#include <libavutil/log.h>
}

namespace {

int fail(const QString& message)
{
    QTextStream(stderr) << "zqfixture: " << message << Qt::endl;
    return 2;
}

bool parse_int(const QString& text, int min, int max, int* out)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < min || v > max)
        return false;
    *out = v;
    return true;
}

// Dates and times from their ASCII digits, by the storage library's own readers: no locale, no
// time zone, and a start the player would read differently is refused here.
bool parse_date(const QString& text, QDate* out)
{
    const QDate d = StorageLayout::day_folder_date(text.trimmed());
    if (!d.isValid())
        return false;
    *out = d;
    return true;
}

bool parse_time(const QString& text, QTime* out)
{
    const qint64 ms = TimeText::hhmmss_to_ms(text.trimmed());
    if (ms < 0)
        return false;
    *out = QTime::fromMSecsSinceStartOfDay(int(ms));
    return true;
}

bool parse_size(const QString& text, QSize* out)
{
    static const QRegularExpression re(QStringLiteral("^(\\d{1,5})x(\\d{1,5})$"));
    const auto m = re.match(text.trimmed());
    if (!m.hasMatch())
        return false;
    *out = QSize(m.captured(1).toInt(), m.captured(2).toInt());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zqfixture"));
    av_log_set_level(AV_LOG_ERROR);

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Writes a storage folder of generated recordings: <out>/<root id>/yyyy-MM-dd/HHmmss/"
        "<camera>_<yyyyMMdd>_<HHmmss>.zqvideo and .zqseek. Prints the root folder."));
    p.addHelpOption();
    const QCommandLineOption out({QStringLiteral("out")}, QStringLiteral("Folder that receives the root folder."),
                                 QStringLiteral("DIR"));
    const QCommandLineOption root({QStringLiteral("root-id")},
                                  QStringLiteral("Root folder name, zqcore_xxxx-xxxx-xxxx-xxxx (or just the hex groups)."),
                                  QStringLiteral("ID"), QStringLiteral("zqcore_0a1b-2c3d-4e5f-6789"));
    const QCommandLineOption date({QStringLiteral("date")},
                                  QStringLiteral("Day yyyy-MM-dd; repeat or separate with commas for several."),
                                  QStringLiteral("DATE"), QStringLiteral("2024-01-01"));
    const QCommandLineOption cameras({QStringLiteral("cameras")}, QStringLiteral("Camera ids, comma separated."),
                                     QStringLiteral("IDS"), QStringLiteral("1"));
    const QCommandLineOption start({QStringLiteral("start")}, QStringLiteral("Start of the first recording, HHmmss."),
                                   QStringLiteral("HHmmss"), QStringLiteral("080000"));
    const QCommandLineOption minutes({QStringLiteral("minutes")},
                                     QStringLiteral("Recordings per camera (one-minute files unless --seconds-per-file)."),
                                     QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption seconds({QStringLiteral("seconds-per-file")}, QStringLiteral("Length of each recording."),
                                     QStringLiteral("S"), QStringLiteral("60"));
    const QCommandLineOption gap({QStringLiteral("gap-seconds")},
                                 QStringLiteral("Pause between the end of a recording and the start of the next."),
                                 QStringLiteral("G"), QStringLiteral("0"));
    const QCommandLineOption size({QStringLiteral("size")}, QStringLiteral("Picture size WxH (even)."),
                                  QStringLiteral("WxH"), QStringLiteral("320x240"));
    const QCommandLineOption fps({QStringLiteral("fps")}, QStringLiteral("Frames per second."), QStringLiteral("F"),
                                 QStringLiteral("25"));
    const QCommandLineOption stamp_period({QStringLiteral("stamp-period")},
                                          QStringLiteral("Milliseconds between frame stamps, fractions allowed "
                                                         "(default: 1000 / fps); the file holds the frames stamped "
                                                         "inside its seconds."),
                                          QStringLiteral("MS"));
    const QCommandLineOption round_stamps({QStringLiteral("round-stamps")},
                                          QStringLiteral("Round frame stamps to the nearest millisecond instead of "
                                                         "cutting them."));
    const QCommandLineOption gop({QStringLiteral("gop")},
                                 QStringLiteral("Frames from one keyframe to the next (default: the frame rate)."),
                                 QStringLiteral("G"));
    const QCommandLineOption codec({QStringLiteral("codec")}, QStringLiteral("h264, h265, mjpeg or mpeg4."),
                                   QStringLiteral("CODEC"), QStringLiteral("h264"));
    const QCommandLineOption codec_text({QStringLiteral("codec-text")},
                                        QStringLiteral("Codec field of the seek index (default: frame/h264, frame/h265, "
                                                       "frame/jpeg or frame/MPEG4)."),
                                        QStringLiteral("TEXT"));
    const QCommandLineOption second({QStringLiteral("second-stream")},
                                    QStringLiteral("Add a smaller \"video2\" stream interleaved with \"video1\"."));
    const QCommandLineOption second_size({QStringLiteral("second-size")},
                                         QStringLiteral("Picture size of the second stream (default: half)."),
                                         QStringLiteral("WxH"));
    const QCommandLineOption corrupt({QStringLiteral("corrupt-frame")},
                                     QStringLiteral("Overwrite the bytes of this video1 frame with noise."),
                                     QStringLiteral("N"));
    const QCommandLineOption truncate({QStringLiteral("truncate")},
                                      QStringLiteral("Cut the data file halfway through its last frame."));
    const QCommandLineOption outage_frame({QStringLiteral("outage-frame")},
                                          QStringLiteral("Stamp this video1 frame and the rest of the recording "
                                                         "--outage-seconds later (a camera outage inside the file)."),
                                          QStringLiteral("N"));
    const QCommandLineOption outage_seconds({QStringLiteral("outage-seconds")},
                                            QStringLiteral("Length of the outage of --outage-frame."),
                                            QStringLiteral("S"), QStringLiteral("20"));
    const QCommandLineOption damaged({QStringLiteral("damaged-recording")},
                                     QStringLiteral("Which recording (in date, time, camera order) gets the damage "
                                                    "or the outage."),
                                     QStringLiteral("I"), QStringLiteral("0"));
    const QCommandLineOption threads({QStringLiteral("threads")},
                                     QStringLiteral("Recordings coded at once (default: one per core)."),
                                     QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption metadata({QStringLiteral("metadata")},
                                      QStringLiteral("Also write camera files, tags, alarm pictures, previews and "
                                                     "hash.json (encrypted like the server's)."));
    const QCommandLineOption tag_at({QStringLiteral("tag-at")},
                                    QStringLiteral("With --metadata, a further tag CAM:HHmmss on each day the camera "
                                                   "records (inside a recording or in a pause); repeat or separate "
                                                   "with commas."),
                                    QStringLiteral("CAM:HHmmss"));
    const QCommandLineOption alarm_at({QStringLiteral("alarm-at")},
                                      QStringLiteral("With --metadata, a further alarm picture CAM:HHmmss, as "
                                                     "--tag-at."),
                                      QStringLiteral("CAM:HHmmss"));
    const QCommandLineOption audio({QStringLiteral("audio")},
                                   QStringLiteral("Write .zqaudio/.zqaudioseek beside each recording: aac or mp3."),
                                   QStringLiteral("CODEC"));
    const QCommandLineOption audio_rate({QStringLiteral("audio-rate")},
                                        QStringLiteral("Audio sample rate: 8000, 16000 or 48000."),
                                        QStringLiteral("HZ"), QStringLiteral("16000"));
    const QCommandLineOption audio_channels({QStringLiteral("audio-channels")},
                                            QStringLiteral("Audio channels: 1 or 2."), QStringLiteral("N"),
                                            QStringLiteral("1"));
    const QCommandLineOption audio_entry({QStringLiteral("audio-entry-ms")},
                                         QStringLiteral("One audio seek line per about N ms (0: one per coded frame)."),
                                         QStringLiteral("MS"), QStringLiteral("1000"));
    p.addOptions({audio, audio_rate, audio_channels, audio_entry});
    p.addOptions({stamp_period, round_stamps});
    p.addOptions({out, root, date, cameras, start, minutes, seconds, gap, size, fps, gop, codec, codec_text, second,
                  second_size, corrupt, truncate, outage_frame, outage_seconds, damaged, threads,
                  metadata, tag_at, alarm_at});
    p.process(app);

    if (!p.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument %1").arg(p.positionalArguments().first()));

    ZQFixture::Options o;
    o.output_parent = p.value(out);
    if (o.output_parent.isEmpty())
        return fail(QStringLiteral("--out DIR is required"));

    o.root_id = p.value(root).trimmed();
    if (!o.root_id.startsWith(QLatin1String("zqcore_"), Qt::CaseInsensitive))
        o.root_id.prepend(QStringLiteral("zqcore_"));

    o.dates.clear();
    for (const QString& value : p.values(date)) {
        for (const QString& part : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            QDate d;
            if (!parse_date(part, &d))
                return fail(QStringLiteral("invalid date \"%1\" (yyyy-MM-dd)").arg(part));
            o.dates << d;
        }
    }

    o.cameras.clear();
    for (const QString& part : p.value(cameras).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        int id = 0;
        if (!parse_int(part, 0, 4095, &id))
            return fail(QStringLiteral("invalid camera id \"%1\"").arg(part));
        o.cameras << id;
    }

    if (!parse_time(p.value(start), &o.start_time))
        return fail(QStringLiteral("invalid start time \"%1\" (HHmmss)").arg(p.value(start)));
    if (!parse_int(p.value(minutes), 1, 100000, &o.recordings_per_camera))
        return fail(QStringLiteral("invalid --minutes"));
    if (!parse_int(p.value(seconds), 1, 86400, &o.seconds_per_recording))
        return fail(QStringLiteral("invalid --seconds-per-file"));
    if (!parse_int(p.value(gap), 0, 86400, &o.gap_seconds))
        return fail(QStringLiteral("invalid --gap-seconds"));
    if (!parse_size(p.value(size), &o.size))
        return fail(QStringLiteral("invalid --size \"%1\" (WxH)").arg(p.value(size)));
    if (!parse_int(p.value(fps), 1, 1000, &o.fps))
        return fail(QStringLiteral("invalid --fps"));
    if (p.isSet(stamp_period)) {
        bool ok = false;
        o.stamp_period_ms = p.value(stamp_period).toDouble(&ok);
        if (!ok || !(o.stamp_period_ms >= 1 && o.stamp_period_ms <= 60000))
            return fail(QStringLiteral("invalid --stamp-period"));
    }
    o.round_stamps = p.isSet(round_stamps);
    o.gop = o.fps;
    if (p.isSet(gop) && !parse_int(p.value(gop), 1, 100000, &o.gop))
        return fail(QStringLiteral("invalid --gop"));
    if (!ZQFixture::parse_codec(p.value(codec), &o.codec))
        return fail(QStringLiteral("unknown codec \"%1\" (h264, h265, mjpeg, mpeg4)").arg(p.value(codec)));
    o.codec_text = p.value(codec_text);
    o.second_stream = p.isSet(second);
    if (p.isSet(second_size) && !parse_size(p.value(second_size), &o.second_size))
        return fail(QStringLiteral("invalid --second-size"));
    if (p.isSet(corrupt) && !parse_int(p.value(corrupt), 0, 1 << 20, &o.corrupt_frame))
        return fail(QStringLiteral("invalid --corrupt-frame"));
    o.truncate = p.isSet(truncate);
    if (p.isSet(outage_frame) && !parse_int(p.value(outage_frame), 0, 1 << 20, &o.outage_frame))
        return fail(QStringLiteral("invalid --outage-frame"));
    if (!parse_int(p.value(outage_seconds), 1, 86400, &o.outage_seconds))
        return fail(QStringLiteral("invalid --outage-seconds"));
    if (p.isSet(audio) && !ZQFixture::parse_audio_codec(p.value(audio), &o.audio.codec))
        return fail(QStringLiteral("unknown audio codec \"%1\" (aac, mp3)").arg(p.value(audio)));
    if (!parse_int(p.value(audio_rate), 8000, 48000, &o.audio.rate))
        return fail(QStringLiteral("invalid --audio-rate"));
    if (!parse_int(p.value(audio_channels), 1, 2, &o.audio.channels))
        return fail(QStringLiteral("invalid --audio-channels"));
    if (!parse_int(p.value(audio_entry), 0, 60000, &o.audio.entry_ms))
        return fail(QStringLiteral("invalid --audio-entry-ms"));
    if (!parse_int(p.value(damaged), 0, 1 << 30, &o.damaged_recording))
        return fail(QStringLiteral("invalid --damaged-recording"));
    if (!parse_int(p.value(threads), 0, 1024, &o.threads))
        return fail(QStringLiteral("invalid --threads"));

    ZQFixture::MetadataOptions meta;
    for (const auto& [option, marks] : {std::pair{&tag_at, &meta.tags_at}, std::pair{&alarm_at, &meta.alarms_at}}) {
        for (const QString& value : p.values(*option)) {
            for (const QString& part : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                ZQFixture::TimedMark mark;
                if (!ZQFixture::parse_timed_mark(part, &mark))
                    return fail(QStringLiteral("invalid --%1 \"%2\" (CAM:HHmmss)").arg(option->names().first(), part));
                marks->append(mark);
            }
        }
    }

    QElapsedTimer timer;
    timer.start();
    const ZQFixture::Result r = ZQFixture::write(o);
    if (!r.ok)
        return fail(r.error);
    if (p.isSet(metadata)) {
        const ZQFixture::MetadataResult m = ZQFixture::write_metadata(r.root_path, meta);
        if (!m.ok)
            return fail(m.error);
    }
    qint64 frames = 0;
    for (const auto& f : r.files)
        frames += f.frame_count + f.second_stream_frames;
    QTextStream(stderr) << "zqfixture: " << r.files.size() << " recordings, " << frames << " frames in "
                        << timer.elapsed() << " ms" << Qt::endl;
    QTextStream(stdout) << r.root_path << Qt::endl;
    return 0;
}
