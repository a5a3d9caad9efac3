#include "export/ff_export.h"
#include "media_probe.h"
#include "playback/media_frame_queue.h"
#include "playback/zq_audio_video_file_reader.h"
#include "tools/zqfixture/lib/fixture_pattern.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QList<QFileInfo> data_files(const QList<ZQFixture::WrittenFile>& files)
{
    QList<QFileInfo> r;
    for (const ZQFixture::WrittenFile& f : files)
        r << QFileInfo(f.data_path);
    return r;
}

// What the export must hold: the entries from the first keyframe at or after
// the begin up to the first entry at or after the end.
struct Expected
{
    int frames = 0;
    qint64 firstMs = -1;
    qint64 lastMs = -1;
};

Expected expected(const QList<ZQFixture::WrittenFile>& files, qint64 beginMs, qint64 endMs)
{
    Expected e;
    bool done = false;
    for (const ZQFixture::WrittenFile& f : files) {
        for (const ZQFixture::FrameEntry& x : f.frames) {
            if (done || x.stream != 1)
                continue;
            if (e.firstMs < 0) {
                if (x.time_ms >= beginMs && x.time_ms < endMs && x.key)
                    e.firstMs = x.time_ms;
                else
                    continue;
            }
            ++e.frames;
            e.lastMs = x.time_ms;
            if (x.time_ms >= endMs)
                done = true;
        }
    }
    return e;
}

qint64 hms(int h, int m, int s)
{
    return (h * 3600LL + m * 60 + s) * 1000;
}

struct Run
{
    int ending = 0;
    QList<int> errors;
};

Run run_export(ff_export& job, int timeoutMs = 60000)
{
    QSignalSpy end(&job, &ff_export::endingsignal);
    QSignalSpy err(&job, &ff_export::error);
    QSignalSpy done(&job, &QThread::finished);
    job.start();
    if (!done.wait(timeoutMs))
        qWarning("export did not finish");
    Run r;
    r.ending = int(end.count());
    for (const auto& a : err)
        r.errors << a.first().toInt();
    return r;
}

// The re-encoded formats, as rows of codec and extension.
void add_format_rows()
{
    QTest::addColumn<QString>("codec");
    QTest::addColumn<QString>("ext");
    QTest::newRow("H.264") << "libx264" << ".mp4";
    QTest::newRow("H.265") << "hevc" << ".mp4";
    QTest::newRow("MJPEG") << "mjpeg" << ".avi";
    QTest::newRow("VP9") << "vp9" << ".webm";
    QTest::newRow("AV1") << "av1" << ".mkv";
}

// Sets the job up for begin..end ("HHmmss") of stream 1 of the files, without the band.
void set_up(ff_export& job, const QString& path, const QString& codec, const QList<QFileInfo>& files,
            const QString& begin, const QString& end)
{
    job.init(path, codec, 0, -1, -1, false, "normal");
    job.set_files(files);
    job.set_begin(begin);
    job.set_end(end);
    job.set_stream_id("1");
}

} // namespace

class TestExportWorker : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void range_across_files_data();
    void range_across_files();
    void codec_and_size_change();
    void range_ending_after_a_gap_data();
    void range_ending_after_a_gap();
    void rate_change_keeps_the_clock_data();
    void rate_change_keeps_the_clock();
    void outage_keeps_the_rate();
    void damaged_recording_data();
    void damaged_recording();
    void empty_range_is_minus_10();
    void missing_recording_is_minus_14_data();
    void missing_recording_is_minus_14();
    void stop_midway_keeps_a_valid_file();
    void stop_before_first_frame_is_a_stop();
    void destruction_while_running();
    void reader_waits_at_the_limit();

private:
    QTemporaryDir m_dir;
    ZQFixture::Result m_contiguous; // GOP 15: a begin on a whole second falls mid-GOP
    ZQFixture::Result m_gap;        // 3 s between the recordings
    QList<QFileInfo> m_mixedRates;  // 2 s at 10 fps, 2 s at 25 fps, 2 s at 10 fps from 08:00:00
};

void TestExportWorker::initTestCase()
{
    ZQFixture::Options o;
    o.output_parent = m_dir.filePath("a");
    o.fps = 10;
    o.gop = 15;
    o.recordings_per_camera = 2;
    o.seconds_per_recording = 4;
    m_contiguous = ZQFixture::write(o);
    QVERIFY2(m_contiguous.ok, qPrintable(m_contiguous.error));
    o.output_parent = m_dir.filePath("b");
    o.gop = 10;
    o.gap_seconds = 3;
    m_gap = ZQFixture::write(o);
    QVERIFY2(m_gap.ok, qPrintable(m_gap.error));

    ZQFixture::Options m;
    m.output_parent = m_dir.filePath("c");
    m.seconds_per_recording = 2;
    const int rates[] = {10, 25, 10};
    for (int i = 0; i < 3; ++i) {
        m.fps = rates[i];
        m.gop = rates[i];
        m.start_time = QTime(8, 0, 2 * i);
        const ZQFixture::Result r = ZQFixture::write(m);
        QVERIFY2(r.ok, qPrintable(r.error));
        m_mixedRates << QFileInfo(r.files.first().data_path);
    }
}

void TestExportWorker::range_across_files_data()
{
    QTest::addColumn<bool>("gap");
    QTest::addColumn<QString>("begin");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("codec");
    QTest::addColumn<QString>("ext");
    QTest::newRow("mid-GOP begin, two files") << false << "080001" << "080006" << "libx264" << ".mp4";
    QTest::newRow("whole files") << false << "080000" << "080008" << "mjpeg" << ".avi";
    QTest::newRow("gap kept as time") << true << "080002" << "080009" << "mjpeg" << ".avi";
}

void TestExportWorker::range_across_files()
{
    QFETCH(bool, gap);
    QFETCH(QString, begin);
    QFETCH(QString, end);
    QFETCH(QString, codec);
    QFETCH(QString, ext);
    const ZQFixture::Result& r = gap ? m_gap : m_contiguous;
    QTemporaryDir out;
    const QString path = out.filePath("clip" + ext);
    ff_export job;
    job.init(path, codec, 2048, -1, -1, true, "normal");
    job.set_files(data_files(r.files));
    job.set_begin(begin);
    job.set_end(end);
    job.set_stream_id("1");
    QSignalSpy progress(&job, &ff_export::valueChanged);
    const Run run = run_export(job);
    QCOMPARE(run.errors, QList<int>());
    QCOMPARE(run.ending, 1);
    const qint64 b = hms(begin.left(2).toInt(), begin.mid(2, 2).toInt(), begin.right(2).toInt());
    const qint64 e = hms(end.left(2).toInt(), end.mid(2, 2).toInt(), end.right(2).toInt());
    const Expected want = expected(r.files, b, e);
    const MediaProbe p = probe_media(path);
    QVERIFY(p.ok);
    QCOMPARE(p.frames, want.frames);
    QCOMPARE(job.frames_encoded(), want.frames);
    QVERIFY(qAbs(p.start) < 1e-6);
    // The file's span is the range from the first keyframe, one frame period
    // longer than the distance between the first and the last picture.
    const double span = (want.lastMs - want.firstMs) / 1000.0;
    QVERIFY2(qAbs(p.duration - span) <= 0.1 + 1e-3, qPrintable(QString("%1 vs %2").arg(p.duration).arg(span)));
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last().first().toInt(), 100);
    QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"clip" + ext});
}

void TestExportWorker::codec_and_size_change()
{
    QTemporaryDir dir;
    ZQFixture::Options o;
    o.output_parent = dir.path();
    o.fps = 10;
    o.gop = 10;
    o.seconds_per_recording = 2;
    const ZQFixture::Result first = ZQFixture::write(o);
    QVERIFY(first.ok);
    o.start_time = QTime(8, 0, 2);
    o.codec = ZQFixture::Codec::MJPEG;
    o.size = QSize(160, 120);
    const ZQFixture::Result second = ZQFixture::write(o);
    QVERIFY(second.ok);
    const QString path = dir.filePath("mixed.mp4");
    ff_export job;
    job.init(path, "libx264", 0, -1, -1, true, "small");
    job.set_files({QFileInfo(first.files.first().data_path), QFileInfo(second.files.first().data_path)});
    job.set_begin("080000");
    job.set_end("080005");
    job.set_stream_id("1");
    const Run run = run_export(job);
    QCOMPARE(run.errors, QList<int>());
    QCOMPARE(run.ending, 1);
    const MediaProbe p = probe_media(path);
    QCOMPARE(p.width, 320);
    QCOMPARE(p.frames, first.files.first().frame_count + second.files.first().frame_count);
}

void TestExportWorker::range_ending_after_a_gap_data()
{
    add_format_rows();
}

// A range that ends on the first picture after a gap (the picture that
// reaches the end belongs to the range): the file and its stream end one
// frame period after that picture, not one gap later (the last picture took
// the interval before it as its span), nor where the encoder's decoding
// times lag (MP4 takes the stream's length from them). The gap inside stays
// time in the file.
void TestExportWorker::range_ending_after_a_gap()
{
    QFETCH(QString, codec);
    QFETCH(QString, ext);
    QTemporaryDir out;
    const QString path = out.filePath("gap" + ext);
    ff_export job;
    // 08:00:04 to 08:00:07 is the gap; 08:00:07.000 starts the second recording.
    set_up(job, path, codec, data_files(m_gap.files), "080002", "080007");
    const Run run = run_export(job);
    QCOMPARE(run.errors, QList<int>());
    QCOMPARE(run.ending, 1);
    const Expected want = expected(m_gap.files, hms(8, 0, 2), hms(8, 0, 7));
    QCOMPARE(want.lastMs, hms(8, 0, 7));
    const MediaProbe p = probe_media(path);
    QVERIFY(p.ok);
    QCOMPARE(p.frames, want.frames);
    const double content = (want.lastMs - want.firstMs) / 1000.0 + 0.1;
    const auto close = [content](double d) { return qAbs(d - content) <= 0.01 + 1e-3; };
    QVERIFY2(close(p.file_duration), qPrintable(QString("file %1 s for %2 s").arg(p.file_duration).arg(content)));
    QVERIFY(p.stream_duration >= 0);
    QVERIFY2(close(p.stream_duration), qPrintable(QString("stream %1 s for %2 s").arg(p.stream_duration).arg(content)));
    const QList<DecodedPicture> pictures = decode_pictures(path);
    QVERIFY(!pictures.isEmpty());
    QVERIFY2(qAbs(pictures.last().time - (want.lastMs - want.firstMs) / 1000.0) <= 0.1 + 1e-3,
             qPrintable(QString::number(pictures.last().time)));
}

void TestExportWorker::rate_change_keeps_the_clock_data()
{
    add_format_rows();
}

// A range whose recordings go from 10 to 25 fps and back keeps the
// recordings' clock in every format: the file lasts as long as the range and
// each picture (read back from its pattern) is shown at its own time within
// one frame period. AVI has one rate, the first recording's: the faster part
// is resampled to it.
void TestExportWorker::rate_change_keeps_the_clock()
{
    QFETCH(QString, codec);
    QFETCH(QString, ext);
    const bool fixedRate = ext == ".avi";
    QTemporaryDir out;
    const QString path = out.filePath("rates" + ext);
    ff_export job;
    set_up(job, path, codec, m_mixedRates, "080000", "080006");
    const Run run = run_export(job);
    QCOMPARE(run.errors, QList<int>());
    QCOMPARE(run.ending, 1);
    QCOMPARE(job.missing_text(), QString());

    const MediaProbe p = probe_media(path);
    QVERIFY(p.ok);
    QVERIFY2(qAbs(p.file_duration - 6.0) <= 0.1 + 1e-3, qPrintable(QString::number(p.file_duration)));

    const QList<DecodedPicture> pictures = decode_pictures(path);
    QCOMPARE(pictures.size(), fixedRate ? 60 : 20 + 50 + 20);
    QSet<qint64> recordingsSeen;
    for (const DecodedPicture& d : pictures) {
        const ZQFixture::PatternValue v = ZQFixture::read_pattern(d.image);
        QVERIFY(v.valid);
        const double own = (v.time_ms() - hms(8, 0, 0)) / 1000.0;
        const double period = fixedRate ? 0.1 : 1.0 / v.fps;
        QVERIFY2(qAbs(d.time - own) <= period + 1e-3,
                 qPrintable(QString("picture of %1 s shown at %2 s").arg(own).arg(d.time)));
        if (v.frame_index == 0) {
            recordingsSeen << v.recording_start_ms;
            QVERIFY2(qAbs(d.time - own) <= 1e-3, qPrintable(QString("first picture of %1 s at %2 s").arg(own).arg(d.time)));
        }
    }
    QCOMPARE(recordingsSeen.size(), 3);
}

// A recording at 10 fps whose entries from 30 on are 5 s later (the camera
// stopped sending): AVI, which has one rate, is written at the recording's
// 10 fps, not at entries over the time they span (6.1), and each picture
// keeps its time, the outage held by the picture before it.
void TestExportWorker::outage_keeps_the_rate()
{
    QTemporaryDir dir;
    ZQFixture::Options o;
    o.output_parent = dir.path();
    o.fps = 10;
    o.gop = 10;
    o.seconds_per_recording = 8;
    o.outage_frame = 30;
    o.outage_seconds = 5;
    const ZQFixture::Result r = ZQFixture::write(o);
    QVERIFY2(r.ok, qPrintable(r.error));
    const QString path = dir.filePath("outage.avi");
    ff_export job;
    set_up(job, path, "mjpeg", data_files(r.files), "080000", "080014");
    const Run run = run_export(job);
    QCOMPARE(run.errors, QList<int>());
    QCOMPARE(run.ending, 1);
    const MediaProbe p = probe_media(path);
    QVERIFY(p.ok);
    QVERIFY2(qAbs(p.rate - 10.0) < 1e-6, qPrintable(QString::number(p.rate)));
    QVERIFY2(qAbs(p.file_duration - 13.0) <= 0.1 + 1e-3, qPrintable(QString::number(p.file_duration)));
    const QList<DecodedPicture> pictures = decode_pictures(path);
    QCOMPARE(pictures.size(), 80);
    for (const DecodedPicture& d : pictures) {
        const ZQFixture::PatternValue v = ZQFixture::read_pattern(d.image);
        QVERIFY(v.valid);
        const double own = (v.time_ms() - hms(8, 0, 0)) / 1000.0 + (v.frame_index >= 30 ? 5.0 : 0.0);
        QVERIFY2(qAbs(d.time - own) <= 0.1 + 1e-3, qPrintable(QString("picture of %1 s shown at %2 s").arg(own).arg(d.time)));
    }
}

void TestExportWorker::damaged_recording_data()
{
    QTest::addColumn<int>("corrupt");
    QTest::addColumn<bool>("truncate");
    QTest::newRow("noise in a frame") << 13 << false;
    QTest::newRow("noise in the first keyframe") << 0 << false;
    QTest::newRow("data file cut in its last frame") << -1 << true;
}

// Damaged frames are skipped or decoded as they come: the export still ends
// cleanly with a readable file.
void TestExportWorker::damaged_recording()
{
    QFETCH(int, corrupt);
    QFETCH(bool, truncate);
    QTemporaryDir dir;
    ZQFixture::Options o;
    o.output_parent = dir.path();
    o.fps = 10;
    o.gop = 10;
    o.seconds_per_recording = 3;
    o.corrupt_frame = corrupt;
    o.truncate = truncate;
    const ZQFixture::Result r = ZQFixture::write(o);
    QVERIFY(r.ok);
    const QString path = dir.filePath("damaged.avi");
    ff_export job;
    job.init(path, "mjpeg", 0, -1, -1, true, "normal");
    job.set_files(data_files(r.files));
    job.set_begin("080000");
    job.set_end("080003");
    job.set_stream_id("1");
    const Run run = run_export(job);
    QCOMPARE(run.errors, QList<int>());
    QCOMPARE(run.ending, 1);
    const MediaProbe p = probe_media(path);
    QVERIFY(p.ok);
    QVERIFY(p.frames >= 20);
    QVERIFY(p.frames <= 30);
}

void TestExportWorker::empty_range_is_minus_10()
{
    QTemporaryDir out;
    const QString path = out.filePath("none.avi");
    ff_export job;
    job.init(path, "mjpeg", 0, -1, -1, false, "normal");
    job.set_files(data_files(m_gap.files));
    // Inside the gap between the two recordings.
    job.set_begin("080005");
    job.set_end("080006");
    job.set_stream_id("1");
    const Run run = run_export(job);
    QCOMPARE(run.errors, QList<int>{-10});
    QCOMPARE(run.ending, 0);
    QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TestExportWorker::missing_recording_is_minus_14_data()
{
    QTest::addColumn<bool>("seek");
    QTest::newRow("seek index missing mid-range") << true;
    QTest::newRow("data file missing mid-range") << false;
}

// A hole in the middle of the range is not exported as if the range were
// shorter: the job fails and leaves no file.
void TestExportWorker::missing_recording_is_minus_14()
{
    QFETCH(bool, seek);
    QTemporaryDir dir;
    ZQFixture::Options o;
    o.output_parent = dir.path();
    o.fps = 10;
    o.gop = 10;
    o.recordings_per_camera = 2;
    o.seconds_per_recording = 2;
    const ZQFixture::Result r = ZQFixture::write(o);
    QVERIFY(r.ok);
    QVERIFY(QFile::remove(seek ? r.files.at(1).seek_path : r.files.at(1).data_path));
    const QString path = dir.filePath("broken.avi");
    ff_export job;
    job.init(path, "mjpeg", 0, -1, -1, false, "normal");
    job.set_files(data_files(r.files));
    job.set_begin("080000");
    job.set_end("080004");
    job.set_stream_id("1");
    const Run run = run_export(job);
    QCOMPARE(run.errors, QList<int>{-14});
    QCOMPARE(run.ending, 0);
    QVERIFY(!QFile::exists(path));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TestExportWorker::stop_midway_keeps_a_valid_file()
{
    QTemporaryDir out;
    const QString path = out.filePath("stopped.mp4");
    ff_export job;
    job.init(path, "libx264", 0, -1, -1, true, "normal");
    job.set_files(data_files(m_contiguous.files));
    job.set_begin("080000");
    job.set_end("080008");
    job.set_stream_id("1");
    QSignalSpy end(&job, &ff_export::endingsignal);
    QSignalSpy err(&job, &ff_export::error);
    QSignalSpy done(&job, &QThread::finished);
    // Stopped from the worker's own progress, so a fast machine cannot finish the range first.
    connect(&job, &ff_export::valueChanged, &job, [&job](int) {
        if (job.frames_encoded() >= 5)
            job.set_stop();
    }, Qt::DirectConnection);
    job.start();
    QVERIFY(done.wait(60000));
    QCOMPARE(err.count(), 0);
    QCOMPARE(end.count(), 1);
    const MediaProbe p = probe_media(path);
    QVERIFY(p.ok);
    QVERIFY(p.frames >= 5);
    QVERIFY(p.frames < 80);
}

// A stop that comes before the first encoded picture ends the job as a stop
// (endingsignal, no file), never as a range without video (-10).
void TestExportWorker::stop_before_first_frame_is_a_stop()
{
    QTemporaryDir out;
    const QString path = out.filePath("never.mp4");
    ff_export job;
    job.init(path, "libx264", 0, -1, -1, true, "normal");
    job.set_files(data_files(m_contiguous.files));
    job.set_begin("080000");
    job.set_end("080008");
    job.set_stream_id("1");
    job.set_stop();
    const Run run = run_export(job);
    QCOMPARE(run.errors, QList<int>());
    QCOMPARE(run.ending, 1);
    QVERIFY(job.stopped());
    QCOMPARE(job.frames_encoded(), 0);
    QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// Deleting a running worker stops it, waits for its run and frees its queue
// (the sanitizers see a use after free or a leak otherwise).
void TestExportWorker::destruction_while_running()
{
    QTemporaryDir out;
    auto* job = new ff_export;
    job->init(out.filePath("gone.avi"), "mjpeg", 0, -1, -1, true, "normal");
    job->set_files(data_files(m_contiguous.files));
    job->set_begin("080000");
    job->set_end("080008");
    job->set_stream_id("1");
    job->start();
    QTRY_VERIFY_WITH_TIMEOUT(job->frames_encoded() >= 1, 60000);
    delete job;
    QVERIFY(true);
}

// The reader never holds more pictures in the queue than the limit.
void TestExportWorker::reader_waits_at_the_limit()
{
    MediaFrameQueue queue;
    ZQAudioVideoFileReader reader(data_files(m_contiguous.files), "1", "080000", "080008");
    reader.set_buffer(&queue);
    reader.set_queue_limit(5);
    reader.start();
    QTRY_COMPARE_WITH_TIMEOUT(int(queue.frames.size()), 5, 30000);
    QTest::qWait(400);
    {
        QMutexLocker lock(&queue.mutex);
        QCOMPARE(int(queue.frames.size()), 5);
        QVERIFY(queue.frames.front()->is_keyframe());
        QCOMPARE(QString(queue.frames.front()->get_draw_overlay()), QStringLiteral("CAMERA 1"));
        QCOMPARE(queue.frames.front()->get_width(), 320);
        QVERIFY(qAbs(queue.frames.front()->get_fps() - 10.0) < 0.01);
    }
    QCOMPARE(reader.get_frame_count(), 40);
    reader.stop();
    QVERIFY(reader.wait(10000));
    QCOMPARE(reader.failure(), 0);
}

QTEST_MAIN(TestExportWorker)
#include "test_export_worker.moc"
