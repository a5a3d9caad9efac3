// The export reader's random-access side, as the audio player uses it: the
// frame list over one file or every listed file, lookups by index and by
// time, reading one entry raw or decoded, the raw-mode run, on real
// recordings made by zqfixture.

#include "playback/media_frame_queue.h"
#include "playback/video_decoder.h"
#include "playback/zq_audio_video_file_reader.h"
#include "playback/zq_stream_read_and_control.h"
#include "tests/recordings/log_capture.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

extern "C" {
#include <libavutil/log.h>
}

Q_DECLARE_METATYPE(ZQFixture::Codec)

namespace {

QList<QFileInfo> data_files(const ZQFixture::Result& r)
{
    QList<QFileInfo> files;
    for (const ZQFixture::WrittenFile& f : r.files)
        files << QFileInfo(f.data_path);
    return files;
}

// The bytes an entry of the fixture names in its data file.
QByteArray slice(const QString& path, qint64 offset, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(offset))
        return {};
    return file.read(size);
}

} // namespace

class TestExportReaderRandom : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_count = 0;
    // Three recordings of two seconds at 5 fps: 08:00:00, 08:00:02, 08:00:04.
    ZQFixture::Result m_three;

    ZQFixture::Result make(ZQFixture::Options o)
    {
        o.output_parent = m_dir.filePath(QString::number(++m_count));
        o.threads = 1;
        return ZQFixture::write(o);
    }

private slots:
    void initTestCase()
    {
        av_log_set_level(AV_LOG_QUIET);
        QVERIFY(m_dir.isValid());
        ZQFixture::Options o;
        o.recordings_per_camera = 3;
        o.seconds_per_recording = 2;
        o.fps = 5;
        o.gop = 5;
        o.size = QSize(64, 48);
        m_three = make(o);
        QVERIFY2(m_three.ok, qPrintable(m_three.error));
        QCOMPARE(m_three.files.size(), 3);
    }

    void empty_list_data();
    void empty_list();
    void all_files_in_one_call();
    void one_file_per_call();
    void window_over_files();
    void timestamp_lookup_data();
    void timestamp_lookup();
    void read_frame_raw_and_bounds();
    void read_frame_decoded_into_queue();
    void missing_data_file();
    void init_displayer_probes_size_and_finds_stream();
    void init_displayer_codecs_data();
    void init_displayer_codecs();
    void raw_run_reads_every_file();
    void first_seek_pass_data();
    void first_seek_pass();
    void frame_rate_of_recordings_data();
    void frame_rate_of_recordings();
    void export_read_keeps_frame_list();
    void raw_audio_entries();
    void destruct_is_logged();
};

// No entry: count -1, an empty entry at 0, error(-10), no index for a time.
void TestExportReaderRandom::empty_list_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("never read") << "none";
    QTest::newRow("seek index missing") << "missing";
    QTest::newRow("seek index empty") << "empty";
    QTest::newRow("window without entries") << "window";
}

void TestExportReaderRandom::empty_list()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QList<QFileInfo> files = data_files(m_three);
    QString begin;
    QString end;
    if (kind == "missing") {
        files = {QFileInfo(dir.filePath("1_20240101_080000.zqvideo"))};
    } else if (kind == "empty") {
        QFile seek(dir.filePath("1_20240101_080000.zqseek"));
        QVERIFY(seek.open(QIODevice::WriteOnly));
        seek.close();
        files = {QFileInfo(dir.filePath("1_20240101_080000.zqvideo"))};
    } else if (kind == "window") {
        begin = "090000";
        end = "090010";
    }
    ZQAudioVideoFileReader reader(files, "1", begin, end);
    QSignalSpy errors(&reader, &ZQAudioVideoFileReader::error);
    if (kind != "none") {
        QVERIFY(reader.read_seek_file(files, "1", begin, end, false).isEmpty());
        // A missing index returns at once, without the error.
        QCOMPARE(errors.count(), kind == "missing" ? 0 : 1);
        if (kind != "missing")
            QCOMPARE(errors.first().first().toInt(), -10);
    }
    QCOMPARE(reader.get_frame_count(), -1);
    const ZQFrame at0 = reader.get_frame_at(0);
    QVERIFY(at0.get_timestamp().isEmpty());
    QVERIFY(at0.get_stream().isEmpty());
    QVERIFY(at0.get_codec().isEmpty());
    QVERIFY(at0.get_data_file().isEmpty());
    QCOMPARE(at0.get_size(), 0);
    QCOMPARE(at0.get_offset(), 0);
    LogCapture log;
    QCOMPARE(reader.get_frame_index_for_timestamp("20240101080000"), -1);
    QVERIFY(log.has("[WARN] ZQAudioVideo file reader :: get frame index for timestamp :: frame list is empty "));
    QVERIFY(!reader.read_frame(false, 0, "1"));
    QVERIFY(log.has("[WARN] ZQAudioVideo file reader :: read frame :: framelist empty"));
}

// Without first_only one call gathers every listed file, each file's offsets
// counted from 0, each entry naming its own data file.
void TestExportReaderRandom::all_files_in_one_call()
{
    ZQAudioVideoFileReader reader(data_files(m_three), "1");
    const QList<ZQFrame> list = reader.read_seek_file(data_files(m_three), "1", "", "", false);
    QCOMPARE(list.size(), 30);
    QCOMPARE(reader.get_frame_count(), 30);
    for (int f = 0; f < 3; ++f) {
        const ZQFixture::WrittenFile& file = m_three.files[f];
        for (int i = 0; i < 10; ++i) {
            const ZQFrame e = reader.get_frame_at(f * 10 + i);
            QCOMPARE(e.get_data_file(), file.data_path);
            QCOMPARE(e.get_offset(), file.frames[i].offset);
            QCOMPARE(e.get_size(), qint64(file.frames[i].size));
            QCOMPARE(e.get_timestamp(), ZQFixture::timestamp_text(file.date, file.frames[i].time_ms));
            QCOMPARE(e.get_camera_name(), QStringLiteral("CAMERA 1"));
        }
    }
    // The step from one file to the next is no frame interval.
    QCOMPARE(reader.get_stream_fps(), 5.0);
    // Everything is read: a second call finds nothing new.
    QSignalSpy errors(&reader, &ZQAudioVideoFileReader::error);
    QVERIFY(reader.read_seek_file(data_files(m_three), "1", "", "", false).isEmpty());
    QCOMPARE(errors.count(), 1);
}

// With first_only each call yields the next file.
void TestExportReaderRandom::one_file_per_call()
{
    ZQAudioVideoFileReader reader(data_files(m_three), "1");
    for (int f = 0; f < 3; ++f) {
        const QList<ZQFrame> list = reader.read_seek_file(data_files(m_three), "1", "", "", true);
        QCOMPARE(list.size(), 10);
        QCOMPARE(list.first().get_data_file(), m_three.files[f].data_path);
        QCOMPARE(list.first().get_offset(), 0);
    }
    QVERIFY(reader.read_seek_file(data_files(m_three), "1", "", "", true).isEmpty());
}

// The window carries across the files of one call: from 08:00:01.000 up to
// and including the first entry at 08:00:03 or later, in the second file.
void TestExportReaderRandom::window_over_files()
{
    ZQAudioVideoFileReader reader(data_files(m_three), "1", "080001", "080003");
    const QList<ZQFrame> list = reader.read_seek_file(data_files(m_three), "1", "080001", "080003", false);
    QCOMPARE(list.size(), 11);
    QCOMPARE(list.first().get_timestamp(), QStringLiteral("20240101080001000"));
    QCOMPARE(list.last().get_timestamp(), QStringLiteral("20240101080003000"));
    QCOMPARE(list.last().get_data_file(), m_three.files[1].data_path);
}

void TestExportReaderRandom::timestamp_lookup_data()
{
    QTest::addColumn<QString>("time");
    QTest::addColumn<int>("index");
    QTest::newRow("seconds") << "20240101080003" << 15;
    QTest::newRow("milliseconds, same second") << "20240101080003600" << 15;
    QTest::newRow("first") << "20240101080000000" << 0;
    QTest::newRow("last second") << "20240101080005" << 25;
    QTest::newRow("after the list") << "20240101080006" << -1;
    QTest::newRow("another day") << "20240102080003" << -1;
    QTest::newRow("not a time") << "2024010108000x" << -1;
    QTest::newRow("no valid date") << "20241301080003" << -1;
    QTest::newRow("empty") << "" << -1;
}

void TestExportReaderRandom::timestamp_lookup()
{
    QFETCH(QString, time);
    QFETCH(int, index);
    ZQAudioVideoFileReader reader(data_files(m_three), "1");
    QCOMPARE(reader.read_seek_file(data_files(m_three), "1", "", "", false).size(), 30);
    QCOMPARE(reader.get_frame_index_for_timestamp(time), index);
}

// Raw mode keeps exactly the entry's bytes; bad indexes and another stream
// read nothing.
void TestExportReaderRandom::read_frame_raw_and_bounds()
{
    ZQAudioVideoFileReader reader(data_files(m_three), "1");
    reader.set_raw_mode(true);
    reader.read_seek_file(data_files(m_three), "1", "", "", false);
    for (int index : {0, 7, 12, 29}) {
        QVERIFY(reader.read_frame(false, index, "1"));
        const ZQFrame e = reader.get_frame_at(index);
        const QByteArray expected = slice(e.get_data_file(), e.get_offset(), e.get_size());
        QVERIFY(!expected.isEmpty());
        QCOMPARE(reader.get_raw_bytes(), expected);
    }
    // The coded bytes decode to the picture of that frame.
    QVERIFY(reader.read_frame(false, 10, "1"));
    VideoDecoder decoder;
    QVERIFY(decoder.open_decoder("libx264"));
    const QByteArray bytes = reader.get_raw_bytes();
    const QImage picture = decoder.decode_image(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
    QVERIFY(!picture.isNull());
    const ZQFixture::PatternValue value = ZQFixture::read_pattern(picture);
    QVERIFY(value.valid);
    QCOMPARE(value.frame_index, 0);
    QCOMPARE(value.recording_start_ms, qint64(8 * 3600 + 2) * 1000);

    LogCapture log;
    QVERIFY(!reader.read_frame(false, -1, "1"));
    QVERIFY(log.has("[WARN] ZQAudioVideo file reader :: read frame :: invalid index"));
    QVERIFY(!reader.read_frame(false, 30, "1"));
    QVERIFY(log.has("[WARN] ZQAudioVideo file reader :: read frame :: index out of bounds"));
    QVERIFY(!reader.read_frame(false, 0, "2"));
}

// Outside raw mode a read decodes and appends the picture to the queue.
void TestExportReaderRandom::read_frame_decoded_into_queue()
{
    ZQAudioVideoFileReader reader(data_files(m_three), "1");
    MediaFrameQueue queue;
    reader.set_buffer(&queue);
    reader.read_seek_file(data_files(m_three), "1", "", "", true);
    QVERIFY(reader.init_decoder_for_stream("1"));
    for (int i = 0; i < 10; ++i)
        QVERIFY(reader.read_frame(false, i, "1"));
    QVERIFY(!queue.frames.empty());
    QCOMPARE(int(queue.frames.size()), 10);
    for (size_t i = 0; i < queue.frames.size(); ++i) {
        ZQMediaFrame* f = queue.frames[i];
        QCOMPARE(f->get_width(), 64);
        QCOMPARE(f->get_draw_overlay(), QStringLiteral("CAMERA 1"));
        QCOMPARE(QString::fromLatin1(f->get_timestamp()), reader.get_frame_at(int(i)).get_timestamp());
    }
}

// A data file that does not open fails the read, and a raw run ends on it.
void TestExportReaderRandom::missing_data_file()
{
    QTemporaryDir dir;
    const QString seek = dir.filePath("1_20240101_080000.zqseek");
    QVERIFY(QFile::copy(m_three.files[0].seek_path, seek));
    const QList<QFileInfo> files = {QFileInfo(dir.filePath("1_20240101_080000.zqvideo"))};
    ZQAudioVideoFileReader reader(files, "1");
    reader.set_raw_mode(true);
    QCOMPARE(reader.read_seek_file(files, "1", "", "", false).size(), 10);
    LogCapture log;
    QVERIFY(!reader.read_frame(false, 0, "1"));
    QVERIFY(log.has("[WARN] ZQAudioVideo file reader :: read frame :: Error Opening Video File "
                    + files[0].absoluteFilePath()));
    QCOMPARE(reader.read_all_frames(), -1);
    QVERIFY(log.has("[ERROR] ZQAudioVideo file reader :: read all frames :: failed to read frame 0"));
}

// The probe records the decoded size; a stream the file does not hold is
// replaced by its first one.
void TestExportReaderRandom::init_displayer_probes_size_and_finds_stream()
{
    LogCapture log;
    ZQAudioVideoFileReader reader(data_files(m_three), "3");
    QVERIFY(reader.init_displayer_for_stream("3"));
    QVERIFY(log.has("[INFO] ZQAudioVideo file reader :: Read Seek File :: ID STREAM NOT FOUND set it to 1"));
    QCOMPARE(reader.get_stream(), QStringLiteral("1"));
    QCOMPARE(reader.get_frame_count(), 10);
    QCOMPARE(reader.get_width(), 64);
    QCOMPARE(reader.get_height(), 48);
    QVERIFY(log.has("[INFO] ZQAudioVideo file reader :: read frame :: codecsize :64x48"));

}

// Each codec of the recordings opens its decoder from the index's codec text.
void TestExportReaderRandom::init_displayer_codecs_data()
{
    QTest::addColumn<ZQFixture::Codec>("codec");
    QTest::newRow("h264") << ZQFixture::Codec::H264;
    QTest::newRow("h265") << ZQFixture::Codec::H265;
    QTest::newRow("mjpeg") << ZQFixture::Codec::MJPEG;
    QTest::newRow("mpeg4") << ZQFixture::Codec::MPEG4;
}

void TestExportReaderRandom::init_displayer_codecs()
{
    QFETCH(ZQFixture::Codec, codec);
    ZQFixture::Options o;
    o.seconds_per_recording = 1;
    o.fps = 5;
    o.size = QSize(32, 32);
    o.codec = codec;
    const ZQFixture::Result r = make(o);
    QVERIFY2(r.ok, qPrintable(r.error));
    ZQAudioVideoFileReader reader(data_files(r), "1");
    QVERIFY(reader.init_displayer_for_stream("1"));
    QCOMPARE(reader.get_width(), 32);
    QCOMPARE(reader.get_height(), 32);
}

// The raw run prepares, then reads every entry of every listed file.
void TestExportReaderRandom::raw_run_reads_every_file()
{
    LogCapture log;
    ZQAudioVideoFileReader reader(data_files(m_three), "1");
    reader.set_raw_mode(true);
    reader.start();
    QVERIFY(reader.wait(60000));
    QCOMPARE(log.count("[INFO] ZQAudioVideo file reader :: Read Seek File :: readed file "), 3);
    QCOMPARE(log.count("[ERROR]"), 0);
    const ZQFixture::WrittenFile& last = m_three.files[2];
    QCOMPARE(reader.get_raw_bytes(), slice(last.data_path, last.frames.last().offset, last.frames.last().size));
}

void TestExportReaderRandom::first_seek_pass_data()
{
    QTest::addColumn<bool>("raw");
    QTest::addColumn<bool>("stopFirst");
    QTest::addColumn<QString>("begin");
    QTest::addColumn<QString>("end");
    QTest::addColumn<int>("errors");
    QTest::addColumn<int>("queued");
    QTest::newRow("export, stop before start") << false << true << "080000" << "080005" << 1 << 0;
    QTest::newRow("raw, stop before start") << true << true << "" << "" << 1 << 0;
    QTest::newRow("export, no entry in the window") << false << false << "090000" << "090010" << 1 << 0;
    QTest::newRow("export, entries") << false << false << "080000" << "080005" << 0 << 26;
}

// The run's first seek pass, through the thread as the export worker and the
// audio player start it: a reader stopped before start() reads nothing,
// reports the empty frame list with error(-10) and its run ends; so does a
// time window that no recording reaches. A run that finds entries reports no
// error.
void TestExportReaderRandom::first_seek_pass()
{
    QFETCH(bool, raw);
    QFETCH(bool, stopFirst);
    QFETCH(QString, begin);
    QFETCH(QString, end);
    QFETCH(int, errors);
    QFETCH(int, queued);
    LogCapture log;
    MediaFrameQueue queue;
    ZQAudioVideoFileReader reader(data_files(m_three), "1", begin, end);
    reader.set_raw_mode(raw);
    if (!raw) {
        reader.set_buffer(&queue);
        reader.set_queue_limit(1000);
    }
    QSignalSpy spy(&reader, &ZQAudioVideoFileReader::error);
    if (stopFirst)
        reader.stop();
    reader.start();
    QVERIFY(reader.wait(60000));
    QCOMPARE(spy.count(), errors);
    if (errors > 0)
        QCOMPARE(spy.first().first().toInt(), -10);
    QCOMPARE(int(queue.frames.size()), queued);
    QCOMPARE(reader.frames_queued(), queued);
    QCOMPARE(reader.failure(), 0);
    if (stopFirst) {
        QCOMPARE(log.count("Read Seek File :: readed file"), 0);
        QVERIFY(reader.get_raw_bytes().isEmpty());
        QCOMPARE(reader.get_frame_count(), -1);
    }
}

void TestExportReaderRandom::frame_rate_of_recordings_data()
{
    QTest::addColumn<int>("seconds");
    QTest::addColumn<int>("fps");
    QTest::addColumn<int>("outageFrame");
    QTest::addColumn<int>("outageSeconds");
    QTest::newRow("ten whole seconds at 25") << 10 << 25 << -1 << 0;
    // Entries over changes of second would say 50: played twice too fast.
    QTest::newRow("two seconds at 25") << 2 << 25 << -1 << 0;
    // Stamps cut to the millisecond: 33, 33 and 34 ms apart.
    QTest::newRow("30 per second") << 4 << 30 << -1 << 0;
    // A minute at 25 whose entries from 500 on are 20 s later (the camera
    // stopped sending): entries over the time they span would say 18.75.
    QTest::newRow("outage inside the recording") << 60 << 25 << 500 << 20;
}

// Both readers take the rate of a recording from its entries' spacing, the
// same way: the export writes a fixed-rate file at it, playback paces at it.
void TestExportReaderRandom::frame_rate_of_recordings()
{
    QFETCH(int, seconds);
    QFETCH(int, fps);
    QFETCH(int, outageFrame);
    QFETCH(int, outageSeconds);
    ZQFixture::Options o;
    o.seconds_per_recording = seconds;
    o.fps = fps;
    o.gop = fps;
    o.size = QSize(32, 32);
    o.outage_frame = outageFrame;
    o.outage_seconds = outageSeconds;
    const ZQFixture::Result r = make(o);
    QVERIFY2(r.ok, qPrintable(r.error));
    LogCapture log;
    ZQAudioVideoFileReader reader(data_files(r), "1");
    QCOMPARE(reader.read_seek_file(data_files(r), "1", "", "", true).size(), seconds * fps);
    QVERIFY2(qAbs(reader.get_stream_fps() - fps) < 0.01, qPrintable(QString::number(reader.get_stream_fps())));
    QVERIFY(log.has("[INFO] ZQAudioVideo file reader :: Get FPS :: " + QString::number(reader.get_stream_fps(), 'f', 2)));

    ZQStreamReadAndControl playback;
    QVERIFY(playback.init_displayer_for_stream(QFileInfo(r.files.first().seek_path), "1", data_files(r)));
    QVERIFY2(qAbs(playback.get_frames_per_second() - fps) < 0.01,
             qPrintable(QString::number(playback.get_frames_per_second())));
    playback.stop();
    playback.wait_for_prefetches();
}

// After the export's own read, the frame list is the last file read: the
// count and the entries agree.
void TestExportReaderRandom::export_read_keeps_frame_list()
{
    MediaFrameQueue queue;
    ZQAudioVideoFileReader reader(data_files(m_three), "1", "080000", "080005");
    reader.set_buffer(&queue);
    reader.set_queue_limit(1000);
    QCOMPARE(reader.read_all_frames(), 1);
    QCOMPARE(reader.get_frame_count(), 6);
    QCOMPARE(reader.get_frame_at(0).get_timestamp(), QStringLiteral("20240101080004000"));
    QCOMPARE(reader.get_frame_at(5).get_timestamp(), QStringLiteral("20240101080005000"));
    QCOMPARE(reader.get_frame_index_for_timestamp("20240101080005"), 5);
    // Every file is read: nothing is left for the random-access side.
    QVERIFY(reader.read_seek_file(data_files(m_three), "1", "080000", "080005", false).isEmpty());
}

// The audio player's use: the sound companions read raw, every entry's
// bytes exactly, found by time.
void TestExportReaderRandom::raw_audio_entries()
{
    ZQFixture::Options o;
    o.recordings_per_camera = 2;
    o.seconds_per_recording = 3;
    o.fps = 5;
    o.size = QSize(32, 32);
    o.audio.codec = ZQFixture::AudioCodec::AAC;
    const ZQFixture::Result r = make(o);
    QVERIFY2(r.ok, qPrintable(r.error));
    QList<QFileInfo> files;
    int entries = 0;
    for (const ZQFixture::WrittenFile& f : r.files) {
        files << QFileInfo(f.audio_data_path);
        entries += int(f.audio_entries.size());
    }
    QVERIFY(entries >= 4);
    ZQAudioVideoFileReader reader(files, "1");
    reader.set_raw_mode(true);
    const QList<ZQFrame> list = reader.read_seek_file(files, "1", "", "", false);
    QCOMPARE(int(list.size()), entries);
    int i = 0;
    for (const ZQFixture::WrittenFile& f : r.files) {
        for (const ZQFixture::AudioEntry& e : f.audio_entries) {
            const ZQFrame entry = reader.get_frame_at(i);
            QCOMPARE(entry.get_kind(), QStringLiteral("audio"));
            QCOMPARE(entry.get_data_file(), f.audio_data_path);
            QCOMPARE(entry.get_offset(), e.offset);
            QVERIFY(reader.read_frame(false, i, "1"));
            QCOMPARE(reader.get_raw_bytes(), slice(f.audio_data_path, e.offset, e.size));
            ++i;
        }
    }
    const ZQFixture::WrittenFile& second = r.files[1];
    const QString at = ZQFixture::timestamp_text(second.date, second.audio_entries.first().time_ms);
    QCOMPARE(reader.get_frame_index_for_timestamp(at), int(r.files[0].audio_entries.size()));
}

void TestExportReaderRandom::destruct_is_logged()
{
    LogCapture log;
    {
        ZQAudioVideoFileReader reader(data_files(m_three), "1");
        reader.set_raw_mode(true);
        reader.start();
        QVERIFY(reader.wait(60000));
    }
    QCOMPARE(log.count("[INFO] ZQAudioVideo file reader :: destruct"), 1);
}

QTEST_MAIN(TestExportReaderRandom)
#include "test_export_reader_random.moc"
