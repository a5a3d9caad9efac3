// The audio companions the fixture writes are what every sound test listens
// to: a seek index that disagrees with its data file, an entry that starts at
// the wrong time or a tone that does not name its second would make the
// player's tests pass or fail for the wrong reason. The files are read back
// with FFmpeg's own raw demuxers and the decode class the player uses.

#include "playback/audio_decode_resample.h"
#include "recordings/seek_index.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

using namespace ZQFixture;

Q_DECLARE_METATYPE(ZQFixture::AudioCodec)

namespace {

// Whole file decoded to s16 stereo at 48000 Hz.
QByteArray decode_file(const QString& path, const char* format, QString* error)
{
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, QFile::encodeName(path).constData(), av_find_input_format(format), nullptr) < 0) {
        *error = QStringLiteral("cannot open");
        return {};
    }
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> guard(fmt, [](AVFormatContext* p) {
        avformat_close_input(&p);
    });
    if (avformat_find_stream_info(fmt, nullptr) < 0 || fmt->nb_streams != 1) {
        *error = QStringLiteral("no stream");
        return {};
    }
    AudioDecodeResample d(48000);
    if (!d.open(fmt->streams[0]->codecpar, error))
        return {};
    QByteArray pcm;
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(fmt, pkt) >= 0) {
        if (d.decode(pkt, &pcm) < 0)
            *error = QStringLiteral("decode error");
        av_packet_unref(pkt);
    }
    d.decode(nullptr, &pcm);
    av_packet_free(&pkt);
    return pcm;
}

} // namespace

class TestZqFixtureAudio : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { av_log_set_level(AV_LOG_QUIET); }
    void companions_data();
    void companions();
    void command_line();
};

void TestZqFixtureAudio::companions_data()
{
    QTest::addColumn<AudioCodec>("codec");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("entry_ms");
    QTest::newRow("aac 8000 mono") << AudioCodec::AAC << 8000 << 1 << 1000;
    QTest::newRow("aac 48000 stereo") << AudioCodec::AAC << 48000 << 2 << 1000;
    QTest::newRow("mp3 16000 mono") << AudioCodec::MP3 << 16000 << 1 << 1000;
    QTest::newRow("mp3 48000 stereo, one line per frame") << AudioCodec::MP3 << 48000 << 2 << 0;
}

void TestZqFixtureAudio::companions()
{
    QFETCH(AudioCodec, codec);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(int, entry_ms);
    QTemporaryDir dir;
    Options o;
    o.output_parent = dir.path();
    o.seconds_per_recording = 4;
    o.fps = 5;
    o.size = QSize(64, 48);
    o.start_time = QTime(8, 0, 10);
    o.audio.codec = codec;
    o.audio.rate = rate;
    o.audio.channels = channels;
    o.audio.entry_ms = entry_ms;
    const Result r = write(o);
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(r.files.size(), 1);
    const WrittenFile& f = r.files[0];
    QVERIFY(f.audio_data_path.endsWith(QLatin1String("1_20240101_080010.zqaudio")));
    QCOMPARE(f.audio_seek_path, replace_suffix(f.audio_data_path, QStringLiteral("zqaudioseek")));

    // The shared parser reads the same entries the writer reports.
    SeekIndexOptions so;
    so.stream = QStringLiteral("1");
    so.deriveCodecName = false;
    SeekIndexResult sr;
    const QList<ZQFrame> lines = parse_seek_index(f.audio_seek_path, so, &sr);
    QCOMPARE(sr.kind, QStringLiteral("audio"));
    QCOMPARE(lines.size(), f.audio_entries.size());
    const QString codecText = codec == AudioCodec::AAC ? QStringLiteral("frame/aac") : QStringLiteral("frame/mp3");
    QFile seek(f.audio_seek_path);
    QVERIFY(seek.open(QIODevice::ReadOnly));
    const QList<QByteArray> raw = seek.readAll().split('\n');
    QVERIFY(raw.first().contains(":audio1:" + codecText.toLatin1() + ":"));
    qint64 total = 0;
    for (int i = 0; i < lines.size(); ++i) {
        const AudioEntry& e = f.audio_entries[i];
        QCOMPARE(lines[i].get_offset(), int(e.offset));
        QCOMPARE(lines[i].get_size(), e.size);
        QCOMPARE(lines[i].get_timestamp(), timestamp_text(f.date, e.time_ms));
        if (i > 0)
            QVERIFY(e.time_ms > f.audio_entries[i - 1].time_ms);
        total += e.size;
    }
    QCOMPARE(QFileInfo(f.audio_data_path).size(), total);
    if (entry_ms == 1000)
        QVERIFY2(lines.size() >= 4 && lines.size() <= 5, qPrintable(QString::number(lines.size())));
    else
        QVERIFY(lines.size() > 100); // 4 s of 1152-sample frames

    // Each second plays its own tone at the written level.
    QString error;
    const QByteArray pcm = decode_file(f.audio_data_path, codec == AudioCodec::AAC ? "aac" : "mp3", &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const auto* s = reinterpret_cast<const qint16*>(pcm.constData());
    const qsizetype frames = pcm.size() / 4;
    QVERIFY2(frames >= 4 * 48000 && frames < 5 * 48000, qPrintable(QString::number(frames)));
    for (int k = 0; k < 4; ++k) {
        const ToneMeasure m = measure_tone(s + 2 * (k * 48000 + 14000), 20000, 2, 48000);
        QCOMPARE(tone_second(m.frequency), 10 + k);
        QVERIFY2(m.peak > 0.3 && m.peak < 0.5, qPrintable(QString::number(m.peak)));
    }
}

void TestZqFixtureAudio::command_line()
{
    const QString tool = qEnvironmentVariable("ZQ_FIXTURE_TOOL");
    if (tool.isEmpty())
        QSKIP("the zqfixture tool is not built");
    QTemporaryDir dir;
    QProcess p;
    p.start(tool, {QStringLiteral("--out"), dir.path(), QStringLiteral("--seconds-per-file"), QStringLiteral("2"),
                   QStringLiteral("--size"), QStringLiteral("32x32"), QStringLiteral("--fps"), QStringLiteral("2"),
                   QStringLiteral("--audio"), QStringLiteral("mp3"), QStringLiteral("--audio-rate"),
                   QStringLiteral("8000"), QStringLiteral("--audio-entry-ms"), QStringLiteral("500")});
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitCode(), 0);
    QFile seek(dir.filePath(QStringLiteral("zqcore_0a1b-2c3d-4e5f-6789/2024-01-01/080000/1_20240101_080000.zqaudioseek")));
    QVERIFY(seek.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = seek.readAll().trimmed().split('\n');
    QVERIFY2(lines.size() >= 4 && lines.size() <= 5, qPrintable(QString::number(lines.size())));
    QVERIFY(lines[0].startsWith("20240101080000000:audio1:frame/mp3:"));

    p.start(tool, {QStringLiteral("--out"), dir.path(), QStringLiteral("--audio"), QStringLiteral("flac")});
    QVERIFY(p.waitForFinished(60000));
    QVERIFY(p.exitCode() != 0);
}

QTEST_GUILESS_MAIN(TestZqFixtureAudio)
#include "test_zqfixture_audio.moc"
