// The reader with its audio hook on, driven as the player window drives it,
// over recordings with ".zqaudio" companions, under SDL's disk driver: the
// sound follows the picture across a file change, goes quiet at other rates,
// at a pause and in a recording without sound, and moves with a seek.

#include "app/zq_log.h"
#include "playback/ff_audio_decoder_sdl_player.h"
#include "playback/zq_stream_read_and_control.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

extern "C" {
#include <libavutil/log.h>
}

using Player = ff_audio_decoder_sdl_player;

Q_DECLARE_METATYPE(ZQFixture::AudioCodec)

class TestReaderAudio : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        av_log_set_level(AV_LOG_QUIET);
        qputenv("SDL_AUDIODRIVER", "disk");
        if (qEnvironmentVariableIsSet("ZQ_TEST_LOG"))
            set_log_level(1);
    }
    void off_by_default();
    void follows_the_picture_data();
    void follows_the_picture();
};

void TestReaderAudio::off_by_default()
{
    QTemporaryDir dir;
    ZQFixture::Options o;
    o.output_parent = dir.path();
    o.seconds_per_recording = 1;
    o.fps = 5;
    o.size = QSize(32, 32);
    o.audio.codec = ZQFixture::AudioCodec::AAC;
    const ZQFixture::Result r = ZQFixture::write(o);
    QVERIFY2(r.ok, qPrintable(r.error));
    ZQStreamReadAndControl reader;
    QVERIFY(!reader.is_audio_enabled());
    QVERIFY(reader.init_displayer_for_stream(QFileInfo(r.files[0].seek_path), "1", {QFileInfo(r.files[0].data_path)}));
    QVERIFY(reader.init_audio_and_start(QFileInfo(r.files[0].seek_path))); // the companion is there...
    QVERIFY(!reader.get_audio_player());                                    // ...but nothing plays it
}

void TestReaderAudio::follows_the_picture_data()
{
    QTest::addColumn<ZQFixture::AudioCodec>("codec");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::newRow("aac 16000 mono") << ZQFixture::AudioCodec::AAC << 16000 << 1;
    QTest::newRow("mp3 48000 stereo") << ZQFixture::AudioCodec::MP3 << 48000 << 2;
}

void TestReaderAudio::follows_the_picture()
{
    QFETCH(ZQFixture::AudioCodec, codec);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QTemporaryDir dir;
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(dir.filePath(QStringLiteral("heard.raw"))));
    ZQFixture::Options o;
    o.output_parent = dir.path();
    o.recordings_per_camera = 3;
    o.seconds_per_recording = 3;
    o.fps = 10;
    o.gop = 10;
    o.size = QSize(64, 48);
    o.audio.codec = codec;
    o.audio.rate = rate;
    o.audio.channels = channels;
    const ZQFixture::Result r = ZQFixture::write(o);
    QVERIFY2(r.ok, qPrintable(r.error));
    QVERIFY(QFile::remove(r.files[2].audio_data_path)); // the third recording has no sound
    QList<QFileInfo> files;
    for (const auto& f : r.files)
        files << QFileInfo(f.data_path);

    ZQStreamReadAndControl reader;
    reader.set_audio_enabled(true);
    qint64 shown = -1;
    connect(&reader, &ZQStreamReadAndControl::set_display_frame, this,
            [&](QImage, int, int, int, QString, QString, bool, int id, double, bool) {
                shown = Player::timestamp_ms(reader.get_frame_index().value(id).get_timestamp());
            });
    QVERIFY(reader.init_displayer_for_stream(QFileInfo(r.files[0].seek_path), "1", files));
    QPointer<Player> player = reader.get_audio_player();
    QVERIFY(player);

    // The sound keeps real time; under load the picture may fall behind it.
    // Since the last point where the sound was placed at the picture (mark),
    // the sound may lead by that lag of the picture's, plus 500 ms.
    QElapsedTimer since;
    qint64 shownAtMark = -1;
    auto mark = [&] {
        since.start();
        shownAtMark = shown;
    };
    auto in_step = [&](const char* where) {
        const qint64 heard = player ? player->heard_ms() : -1;
        const qint64 lag = std::max<qint64>(0, since.elapsed() - (shown - shownAtMark));
        const QByteArray what = QByteArray(where) + ": heard - shown = " + QByteArray::number(heard - shown) +
                                ", picture lag " + QByteArray::number(lag);
        QVERIFY2(heard > 0 && heard - shown > -500 && heard - shown < 500 + lag, what.constData());
    };
    auto silent = [&](const char* where) {
        QVERIFY2(player && player->heard_ms() < 0, where);
    };

    reader.read_forward();
    QTRY_VERIFY(shown > 0);
    mark();
    QTest::qWait(1500);
    in_step("first recording");
    // The reader moves to the second recording by itself; the sound follows.
    QTRY_COMPARE_WITH_TIMEOUT(reader.get_current_file().fileName(), QFileInfo(r.files[1].seek_path).fileName(), 30000);
    QTest::qWait(800);
    in_step("after the hand-over");

    reader.change_rate(2.0);
    QTest::qWait(300);
    silent("rate 2");
    reader.change_rate(1.0);
    mark();
    // The reader waits for the next keyframe (up to a second) before it shows a picture.
    QTest::qWait(1300);
    in_step("back at rate 1");

    reader.set_pause();
    QTest::qWait(300);
    silent("paused");
    reader.set_pause();
    mark();
    QTest::qWait(600);
    in_step("after the pause");

    // A seek moves the sound with the picture.
    reader.set_read_timestamp(QStringLiteral("20240101080003"));
    reader.read_forward();
    QTRY_VERIFY(shown < Player::timestamp_ms(QStringLiteral("20240101080003500")));
    mark();
    QTest::qWait(600);
    in_step("after the seek");

    // The third recording has no companion: the player stops following.
    QTRY_COMPARE_WITH_TIMEOUT(reader.get_current_file().fileName(), QFileInfo(r.files[2].seek_path).fileName(), 30000);
    QTest::qWait(300);
    silent("recording without sound");

    reader.stop();
    QVERIFY(!reader.get_audio_player());
    QTRY_VERIFY_WITH_TIMEOUT(player.isNull(), 3000); // deleted once its thread ended
}

QTEST_GUILESS_MAIN(TestReaderAudio)
#include "test_reader_audio.moc"
