// The encoder's raw writer: a range of a recording, decoded by the export
// reader, is encoded into a data file and a seek index of our own format and
// read back through the reader: every picture, at its own time, in order.

#include "export/zq_stream_encoder.h"
#include "playback/media_frame_queue.h"
#include "playback/video_decoder.h"
#include "playback/zq_audio_video_file_reader.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

namespace {

// The pictures of a range as the export worker receives them.
struct Range
{
    MediaFrameQueue queue;
    QStringList timestamps;
};

bool read_range(const ZQFixture::Result& r, const QString& begin, const QString& end, Range* range)
{
    QList<QFileInfo> files;
    for (const ZQFixture::WrittenFile& f : r.files)
        files << QFileInfo(f.data_path);
    ZQAudioVideoFileReader reader(files, "1", begin, end);
    reader.set_buffer(&range->queue);
    reader.set_queue_limit(1000);
    if (reader.read_all_frames() != 1 || reader.failure() != 0)
        return false;
    for (ZQMediaFrame* f : range->queue.frames)
        range->timestamps << QString::fromLatin1(f->get_timestamp());
    return !range->timestamps.isEmpty();
}

} // namespace

class TestRawWriter : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    ZQFixture::Result m_source;

private slots:
    void initTestCase()
    {
        av_log_set_level(AV_LOG_QUIET);
        QVERIFY(m_dir.isValid());
        ZQFixture::Options o;
        o.output_parent = m_dir.filePath("source");
        o.seconds_per_recording = 2;
        o.fps = 5;
        o.gop = 5;
        o.size = QSize(64, 48);
        o.threads = 1;
        m_source = ZQFixture::write(o);
        QVERIFY2(m_source.ok, qPrintable(m_source.error));
    }

    void range_round_trip_data();
    void range_round_trip();
    void failed_write_is_reported();
};

void TestRawWriter::range_round_trip_data()
{
    QTest::addColumn<QString>("codec");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("word");
    QTest::newRow("mjpeg") << "mjpeg" << "out.avi" << "frame/jpeg";
    QTest::newRow("mpeg4") << "mpeg4" << "out.mp4" << "frame/mpeg4";
    QTest::newRow("libx264") << "libx264" << "out.mp4" << "frame/h264";
}

void TestRawWriter::range_round_trip()
{
    QFETCH(QString, codec);
    QFETCH(QString, container);
    QFETCH(QString, word);

    // 08:00:00.000 up to and including 08:00:01.000: six pictures at 5 fps.
    Range range;
    QVERIFY(read_range(m_source, "080000", "080001", &range));
    QCOMPARE(range.timestamps.size(), 6);

    QTemporaryDir out;
    const QString dataPath = out.filePath("1_20240101_080000.zqvideo");
    const QString seekPath = out.filePath("1_20240101_080000.zqseek");
    {
        QSaveFile data(dataPath);
        QSaveFile index(seekPath);
        QVERIFY(data.open(QIODevice::WriteOnly));
        QVERIFY(index.open(QIODevice::WriteOnly));
        QDateTime lineTime;
        ZQStreamEncoder encoder;
        const ZQMediaFrame* first = range.queue.frames.front();
        QVERIFY(encoder.init_encoder(out.filePath(container), codec, 0, 5.0, first->get_width(), first->get_height(),
                                     false, QString(), first->get_pixel_format()));
        int pts = 0;
        for (ZQMediaFrame* f : range.queue.frames)
            QVERIFY(encoder.encode_frame(f->get_frame(), f->get_width(), f->get_height(),
                                         QString::fromLatin1(f->get_timestamp()), QString(), pts++, &data, &index,
                                         &lineTime));
        // What the encoder still holds goes to the raw files too.
        QVERIFY(encoder.end_encoding(&data, &index, &lineTime));
        QVERIFY(!encoder.write_failed());
        QVERIFY(data.commit());
        QVERIFY(index.commit());
    }

    // One line per picture in the recording's seek-index form.
    QFile indexFile(seekPath);
    QVERIFY(indexFile.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = indexFile.readAll().split('\n');
    QCOMPARE(lines.size(), 7);
    QVERIFY(lines.last().isEmpty());
    qint64 total = 0;
    QStringList lineTimes;
    for (int i = 0; i < 6; ++i) {
        const QList<QByteArray> fields = lines[i].split(':');
        QCOMPARE(fields.size(), 6);
        lineTimes << QString::fromLatin1(fields[0]);
        QCOMPARE(fields[1], QByteArray("video1"));
        QCOMPARE(QString::fromLatin1(fields[2]), word);
        QCOMPARE(fields[3], QByteArray("64x48"));
        QVERIFY(fields[4] == "0" || fields[4] == "1");
        total += fields[5].toLongLong();
    }
    QCOMPARE(lines[0].split(':')[4], QByteArray("1"));
    QCOMPARE(total, QFileInfo(dataPath).size());
    // The source's times, rising from line to line, also where the codec
    // reorders pictures (libx264 writes its packets in decoding order).
    QCOMPARE(lineTimes, range.timestamps);

    // Read back through the reader: every picture decodes, and each carries
    // the frame of the source it was made from.
    ZQAudioVideoFileReader reader({QFileInfo(dataPath)}, "1");
    MediaFrameQueue queue;
    reader.set_buffer(&queue);
    QVERIFY(reader.init_displayer_for_stream("1"));
    QCOMPARE(reader.get_frame_count(), 6);
    QCOMPARE(reader.get_width(), 64);
    QCOMPARE(reader.get_height(), 48);
    QCOMPARE(reader.get_stream_fps(), 5.0);
    for (int i = 0; i < 6; ++i)
        QVERIFY(reader.read_frame(false, i, "1"));
    QVERIFY(!queue.frames.empty());
    if (codec != QLatin1String("libx264")) {
        // No reordering: one picture per entry, at the entry's time.
        QCOMPARE(int(queue.frames.size()), 6);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(QString::fromLatin1(queue.frames[size_t(i)]->get_timestamp()), range.timestamps[i]);
    }

    // Raw mode gives back exactly the packets, in file order.
    ZQAudioVideoFileReader raw({QFileInfo(dataPath)}, "1");
    raw.set_raw_mode(true);
    QCOMPARE(raw.read_seek_file({QFileInfo(dataPath)}, "1", "", "", false).size(), 6);
    QFile dataFile(dataPath);
    QVERIFY(dataFile.open(QIODevice::ReadOnly));
    const QByteArray all = dataFile.readAll();
    QByteArray joined;
    for (int i = 0; i < 6; ++i) {
        QVERIFY(raw.read_frame(false, i, "1"));
        joined += raw.get_raw_bytes();
    }
    QCOMPARE(joined, all);

    // The pictures are those of the source, in order.
    VideoDecoder decoder;
    QVERIFY(decoder.open_decoder(reader.get_frame_at(0).get_codec().toStdString()));
    QList<int> frames;
    for (int i = 0; i < 6; ++i) {
        QVERIFY(raw.read_frame(false, i, "1"));
        const QByteArray bytes = raw.get_raw_bytes();
        const QImage picture =
            decoder.decode_image(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
        if (picture.isNull())
            continue;
        const ZQFixture::PatternValue value = ZQFixture::read_pattern(picture);
        QVERIFY(value.valid);
        frames << value.frame_index;
    }
    QVERIFY(!frames.isEmpty());
    for (int i = 0; i < frames.size(); ++i)
        QCOMPARE(frames[i], i);
    if (codec != QLatin1String("libx264"))
        QCOMPARE(frames.size(), 6);
}

// A raw file that refuses the bytes fails the picture and says so.
void TestRawWriter::failed_write_is_reported()
{
    Range range;
    QVERIFY(read_range(m_source, "080000", "080001", &range));
    QTemporaryDir out;
    QBuffer data;
    QVERIFY(data.open(QIODevice::ReadOnly));
    QBuffer index;
    QVERIFY(index.open(QIODevice::WriteOnly));
    QDateTime lineTime;
    ZQStreamEncoder encoder;
    QSignalSpy errors(&encoder, &ZQStreamEncoder::error);
    const ZQMediaFrame* first = range.queue.frames.front();
    QVERIFY(encoder.init_encoder(out.filePath("out.avi"), "mjpeg", 0, 5.0, first->get_width(), first->get_height(),
                                 false, QString(), first->get_pixel_format()));
    // The encoder may hand its packets out a few pictures later: the failure
    // shows on the call that writes, at the latest at the end.
    for (ZQMediaFrame* f : range.queue.frames)
        encoder.encode_frame(f->get_frame(), f->get_width(), f->get_height(),
                             QString::fromLatin1(f->get_timestamp()), QString(), 0, &data, &index, &lineTime);
    QVERIFY(!encoder.end_encoding(&data, &index, &lineTime));
    QVERIFY(encoder.write_failed());
    QVERIFY(errors.count() >= 1);
    QCOMPARE(errors.first().first().toInt(), -4);
    QVERIFY(index.data().isEmpty());
    QVERIFY(!QFileInfo::exists(out.filePath("out.avi")));
}

QTEST_MAIN(TestRawWriter)
#include "test_raw_writer.moc"
