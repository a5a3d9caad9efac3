// The audio player under SDL's disk driver: what the device plays lands in a
// file, in real time, so a test hears the tone (which names its second), its
// level, and where the sound stands against the picture time it was handed.

#include "playback/audio_decode_resample.h"
#include "playback/ff_audio_decoder_sdl_player.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

using namespace ZQFixture;
using Player = ff_audio_decoder_sdl_player;

Q_DECLARE_METATYPE(ZQFixture::AudioCodec)
Q_DECLARE_METATYPE(ff_audio_decoder_sdl_player::SyncStep)

namespace {

const QDate kDay(2024, 1, 1);
const qint64 kStart = (8 * 3600 + 10) * 1000; // 08:00:10

QString ts(qint64 ms)
{
    return timestamp_text(kDay, ms);
}

WrittenFile write_recording(const QString& parent, AudioCodec codec, int rate, int channels, int seconds = 6,
                            int entry_ms = 1000)
{
    Options o;
    o.output_parent = parent;
    o.seconds_per_recording = seconds;
    o.fps = 2;
    o.size = QSize(32, 32);
    o.start_time = QTime(8, 0, 10);
    o.audio.codec = codec;
    o.audio.rate = rate;
    o.audio.channels = channels;
    o.audio.entry_ms = entry_ms;
    const Result r = write(o);
    if (!r.ok || r.files.isEmpty())
        qFatal("fixture: %s", qPrintable(r.error));
    return r.files[0];
}

// Hands the player a picture time every 40 ms, from `from` on, for `ms`.
qint64 drive(Player* p, qint64 from, int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        p->get_video_frame_timestamp(ts(from + t.elapsed()));
        QTest::qWait(40);
    }
    return from + t.elapsed();
}

struct Heard {
    QByteArray pcm; // s16 stereo 48000, silence included
    qsizetype first = -1, last = -1; // sample frames of the first and last sound
    const qint16* at(qsizetype frame) const { return reinterpret_cast<const qint16*>(pcm.constData()) + 2 * frame; }
};

Heard read_heard(const QString& path)
{
    Heard h;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return h;
    h.pcm = f.readAll();
    const qsizetype n = h.pcm.size() / 4;
    for (qsizetype i = 0; i < n; ++i) {
        if (std::abs(h.at(i)[0]) > 300) {
            if (h.first < 0)
                h.first = i;
            h.last = i;
        }
    }
    return h;
}

} // namespace

class TestAudioPlayer : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_n = 0;
    QString next_disk_file()
    {
        const QString path = m_dir.filePath(QStringLiteral("heard%1.raw").arg(++m_n));
        qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(path));
        return path;
    }

private slots:
    void initTestCase()
    {
        av_log_set_level(AV_LOG_QUIET);
        qputenv("SDL_AUDIODRIVER", "disk");
        qunsetenv("SDL_DISKAUDIODELAY");
    }
    void sync_decision_data();
    void sync_decision();
    void entry_for_time_data();
    void entry_for_time();
    void bandwidth_text_data();
    void bandwidth_text();
    void plays_the_picture_second_data();
    void plays_the_picture_second();
    void jump_moves_the_sound();
    void pause_silences_and_resume_follows();
    void end_of_entries_reported_once();
    void unknown_bytes_reported_once();
    void bad_entries_are_skipped();
    void device_loss_reported_once();
    void destroyed_mid_play();
    void queue_bound_on_a_slow_device();
    void deleted_while_playing();
    void refused_parameters_data();
    void refused_parameters();
    void stream_without_rate_or_channels_data();
    void stream_without_rate_or_channels();
    void mix_onto_itself_data();
    void mix_onto_itself();
    void bandwidth_every_five_seconds();
    void live_adts_parts();
    void live_part_types_data();
    void live_part_types();
    void live_stall_stops_at_once();
};

void TestAudioPlayer::sync_decision_data()
{
    QTest::addColumn<qint64>("drift");
    QTest::addColumn<bool>("gap");
    QTest::addColumn<bool>("holdBefore");
    QTest::addColumn<Player::SyncStep>("step");
    QTest::addColumn<bool>("holdAfter");
    using S = Player::SyncStep;
    QTest::newRow("sound 3.5 s ahead: hold") << qint64(-3500) << false << false << S::Hold << true;
    QTest::newRow("2 s ahead: play") << qint64(-2000) << false << false << S::Play << false;
    QTest::newRow("in step") << qint64(0) << false << false << S::Play << false;
    QTest::newRow("2 s behind: play") << qint64(2000) << false << false << S::Play << false;
    QTest::newRow("4 s behind: jump") << qint64(4000) << false << false << S::Jump << false;
    QTest::newRow("held, 2 s ahead: still held") << qint64(-2000) << false << true << S::Hold << true;
    QTest::newRow("held, 400 ms ahead: out") << qint64(-400) << false << true << S::Play << false;
    QTest::newRow("held, 400 ms behind: out") << qint64(400) << false << true << S::Play << false;
    QTest::newRow("held, picture jumped 4 s on") << qint64(4000) << false << true << S::Jump << false;
    QTest::newRow("gap, sound 1.5 s ahead: wait") << qint64(-1500) << true << false << S::Wait << false;
    QTest::newRow("gap reached") << qint64(-800) << true << false << S::Play << false;
}

void TestAudioPlayer::sync_decision()
{
    QFETCH(qint64, drift);
    QFETCH(bool, gap);
    QFETCH(bool, holdBefore);
    QFETCH(Player::SyncStep, step);
    QFETCH(bool, holdAfter);
    bool hold = holdBefore;
    QCOMPARE(Player::sync_decision(drift, gap, &hold), step);
    QCOMPARE(hold, holdAfter);
}

void TestAudioPlayer::entry_for_time_data()
{
    QTest::addColumn<qint64>("at");
    QTest::addColumn<int>("index");
    // Entries at 0, 1, 2 s and, after a gap, 6 and 7 s.
    QTest::newRow("before the first") << qint64(-500) << 0;
    QTest::newRow("start of the first") << qint64(0) << 0;
    QTest::newRow("inside the second") << qint64(1500) << 1;
    QTest::newRow("end of the last before the gap") << qint64(2999) << 2;
    QTest::newRow("in the gap: the next") << qint64(4500) << 3;
    QTest::newRow("after the gap") << qint64(6200) << 3;
    QTest::newRow("last") << qint64(7999) << 4;
    QTest::newRow("past the end") << qint64(8000) << -1;
}

void TestAudioPlayer::entry_for_time()
{
    QFETCH(qint64, at);
    QFETCH(int, index);
    QList<ZQFrame> entries;
    for (qint64 s : {0, 1, 2, 6, 7}) {
        ZQFrame f;
        f.set_timestamp(ts(kStart + s * 1000));
        entries.append(f);
    }
    const int got = Player::entry_for_time(entries, Player::timestamp_ms(ts(kStart)) + at);
    QCOMPARE(got, index);
}

void TestAudioPlayer::bandwidth_text_data()
{
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("1023") << qint64(1023) << QStringLiteral("1023 bytes/s");
    QTest::newRow("1024") << qint64(1024) << QStringLiteral("1 kB/s");
    QTest::newRow("1048576") << qint64(1048576) << QStringLiteral("1 MB/s");
}

void TestAudioPlayer::bandwidth_text()
{
    QFETCH(qint64, value);
    QFETCH(QString, text);
    QCOMPARE(Player::bandwidth_text(value), text);
}

void TestAudioPlayer::plays_the_picture_second_data()
{
    QTest::addColumn<AudioCodec>("codec");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::newRow("aac 8000 mono") << AudioCodec::AAC << 8000 << 1;
    QTest::newRow("aac 48000 stereo") << AudioCodec::AAC << 48000 << 2;
    QTest::newRow("mp3 16000 mono") << AudioCodec::MP3 << 16000 << 1;
}

void TestAudioPlayer::plays_the_picture_second()
{
    QFETCH(AudioCodec, codec);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QTemporaryDir dir;
    const WrittenFile f = write_recording(dir.path(), codec, rate, channels);
    const QString heardPath = next_disk_file();
    auto player = std::make_unique<Player>(f.audio_data_path);
    QSignalSpy messages(player.get(), &Player::send_message);
    player->begin_stream();
    // The picture starts at 08:00:12.200: the sound starts there, not at the file's start.
    drive(player.get(), kStart + 2200, 1300);
    QVERIFY(player->max_queued_ms() <= 2000);
    const qint64 heard = player->heard_ms();
    const qint64 video = Player::timestamp_ms(ts(kStart + 3500));
    player.reset(); // stop and destruction mid-play
    QVERIFY2(messages.isEmpty(), messages.isEmpty() ? "" : qPrintable(messages.first().at(1).toString()));
    QVERIFY2(heard > 0 && std::abs(video - heard) < 500, qPrintable(QString::number(video - heard)));

    const Heard h = read_heard(heardPath);
    QVERIFY(h.first >= 0);
    // First 100 ms of sound: still second 12; mixed onto itself, twice the recorded 0.4 of full scale.
    const ToneMeasure first = measure_tone(h.at(h.first + 2400), 4800, 2, 48000);
    QCOMPARE(tone_second(first.frequency), 12);
    QVERIFY2(first.peak > 0.66 && first.peak < 0.94, qPrintable(QString::number(first.peak)));
    // Both channels carry it.
    const QByteArray pair = h.pcm.mid((h.first + 3000) * 4, 4);
    QCOMPARE(pair.size(), 4);
    QVERIFY(std::abs(qint16(quint8(pair[0]) | quint8(pair[1]) << 8) - qint16(quint8(pair[2]) | quint8(pair[3]) << 8)) < 200);
    // About 1.3 s of picture: about as much sound, ending in second 13.
    const qsizetype played = h.last - h.first;
    QVERIFY2(played > 48000 * 8 / 10 && played < 48000 * 18 / 10, qPrintable(QString::number(played)));
    const ToneMeasure last = measure_tone(h.at(h.last - 4800), 4000, 2, 48000);
    QCOMPARE(tone_second(last.frequency), 13);
}

void TestAudioPlayer::jump_moves_the_sound()
{
    QTemporaryDir dir;
    const WrittenFile f = write_recording(dir.path(), AudioCodec::AAC, 16000, 1, 8);
    const QString heardPath = next_disk_file();
    auto player = std::make_unique<Player>(f.audio_data_path);
    player->begin_stream();
    drive(player.get(), kStart + 1100, 700);
    player->set_new_timestamp(ts(kStart + 6000), ts(kStart + 6000));
    drive(player.get(), kStart + 6000, 800);
    player.reset();
    const Heard h = read_heard(heardPath);
    QVERIFY(h.last > 0);
    const ToneMeasure last = measure_tone(h.at(h.last - 9600), 7200, 2, 48000);
    QCOMPARE(tone_second(last.frequency), 16);
    // Nothing of seconds 12..15 was heard between, but for the recording's own encoder delay: the
    // sound captured in the last AAC frame before 16 s (64 ms at 16 kHz) is stored under 16 s, so
    // up to 100 ms of second 15 may come just before second 16.
    const qsizetype n = h.pcm.size() / 4;
    qsizetype first16 = -1;
    for (qsizetype i = h.first; i + 2400 < n && first16 < 0; i += 2400)
        if (tone_second(measure_tone(h.at(i), 2400, 2, 48000).frequency) == 16)
            first16 = i;
    QVERIFY(first16 >= 0);
    for (qsizetype i = h.first; i + 4800 < n; i += 2400) {
        // A window across the cut mixes two tones: judge only windows whose halves agree.
        const int a = tone_second(measure_tone(h.at(i), 2400, 2, 48000).frequency);
        const int b = tone_second(measure_tone(h.at(i + 2400), 2400, 2, 48000).frequency);
        if (a == 15 && i >= first16 - 2 * 2400 && i < first16)
            continue;
        if (a == b)
            QVERIFY2(a < 0 || a == 11 || a == 12 || a == 16, qPrintable(QString::number(a)));
    }
}

void TestAudioPlayer::pause_silences_and_resume_follows()
{
    QTemporaryDir dir;
    const WrittenFile f = write_recording(dir.path(), AudioCodec::MP3, 48000, 2, 8);
    const QString heardPath = next_disk_file();
    auto player = std::make_unique<Player>(f.audio_data_path);
    player->begin_stream();
    drive(player.get(), kStart + 1000, 500);
    player->set_stop_framereader_timer();
    // Paused picture: no time goes to the player, the device goes quiet at once.
    QTest::qWait(300);
    const qint64 pausedSize = QFile(heardPath).size();
    QTest::qWait(500);
    Heard h = read_heard(heardPath);
    QVERIFY(h.last >= 0);
    QVERIFY2(h.last * 4 < pausedSize, "sound went on after the pause");
    player->set_start_framereader_timer();
    drive(player.get(), kStart + 5000, 600);
    player.reset();
    h = read_heard(heardPath);
    const ToneMeasure m = measure_tone(h.at(h.last - 9600), 7200, 2, 48000);
    QCOMPARE(tone_second(m.frequency), 15);
}

void TestAudioPlayer::end_of_entries_reported_once()
{
    QTemporaryDir dir;
    const WrittenFile f = write_recording(dir.path(), AudioCodec::AAC, 8000, 1, 2);
    next_disk_file();
    auto player = std::make_unique<Player>(f.audio_data_path);
    QSignalSpy finished(player.get(), &Player::send_parsing_finished);
    player->begin_stream();
    drive(player.get(), kStart + 1500, 1500); // runs past the end at 08:00:12
    drive(player.get(), kStart + 3000, 300);  // past the end
    player.reset();
    QCOMPARE(finished.count(), 1);
}

void TestAudioPlayer::unknown_bytes_reported_once()
{
    QTemporaryDir dir;
    const WrittenFile f = write_recording(dir.path(), AudioCodec::AAC, 8000, 1, 3);
    QFile data(f.audio_data_path);
    QVERIFY(data.open(QIODevice::ReadWrite));
    const qint64 size = data.size();
    QByteArray noise(size, '\0');
    quint32 x = 12345;
    for (char& c : noise) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 24);
    }
    data.write(noise);
    data.close();
    next_disk_file();
    auto player = std::make_unique<Player>(f.audio_data_path);
    QSignalSpy messages(player.get(), &Player::send_message);
    player->begin_stream();
    drive(player.get(), kStart + 500, 800);
    player.reset();
    int red = 0;
    for (const auto& m : messages)
        if (m.at(0).toString() == QLatin1String("RED")) {
            ++red;
            QVERIFY(m.at(1).toString().startsWith(QLatin1String("Audio stream error : ")));
        }
    QCOMPARE(red, 1);
}

void TestAudioPlayer::bad_entries_are_skipped()
{
    // Lines past the end, empty, over the cap or cut between good ones: the
    // good entries still play, nothing is read outside the file.
    QTemporaryDir dir;
    const WrittenFile f = write_recording(dir.path(), AudioCodec::AAC, 16000, 1, 4);
    QFile seek(f.audio_seek_path);
    QVERIFY(seek.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = seek.readAll().trimmed().split('\n');
    seek.close();
    const qint64 dataSize = QFileInfo(f.audio_data_path).size();
    QList<QByteArray> out;
    out << lines[0] << lines[1];
    out << "20240101080011500:audio1:frame/aac:0";
    out << "20240101080011600:audio1:frame/aac:" + QByteArray::number(2 << 20);
    out << "20240101080011700:audio1:frame/aac:" + QByteArray::number(dataSize * 4);
    out += lines.mid(2);
    QVERIFY(seek.open(QIODevice::WriteOnly | QIODevice::Truncate));
    seek.write(out.join('\n') + '\n');
    seek.close();
    const QString heardPath = next_disk_file();
    auto player = std::make_unique<Player>(f.audio_data_path);
    QSignalSpy messages(player.get(), &Player::send_message);
    player->begin_stream();
    drive(player.get(), kStart + 100, 800);
    player.reset();
    QVERIFY(messages.isEmpty());
    QVERIFY(read_heard(heardPath).first >= 0);
}

void TestAudioPlayer::device_loss_reported_once()
{
    QTemporaryDir dir;
    const WrittenFile f = write_recording(dir.path(), AudioCodec::AAC, 8000, 1, 3);
    qputenv("SDL_DISKAUDIOFILE", "/dev/full");
    auto player = std::make_unique<Player>(f.audio_data_path);
    QSignalSpy messages(player.get(), &Player::send_message);
    player->begin_stream();
    drive(player.get(), kStart, 1000);
    player.reset();
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages.first().at(0).toString(), QStringLiteral("RED"));
    QCOMPARE(messages.first().at(1).toString(), QStringLiteral("Audio stream error : Audio device lost."));
}

void TestAudioPlayer::destroyed_mid_play()
{
    QTemporaryDir dir;
    const WrittenFile f = write_recording(dir.path(), AudioCodec::MP3, 8000, 1, 3);
    next_disk_file();
    for (int wait : {0, 50, 200}) {
        auto* player = new Player(f.audio_data_path);
        player->begin_stream();
        drive(player, kStart, wait);
        player->stop_stream();
        delete player; // waits for its thread
    }
    // A player never started is destroyed as well.
    delete new Player(f.audio_data_path);
}

void TestAudioPlayer::queue_bound_on_a_slow_device()
{
    // A device that takes 1024 samples every 2 s hardly drains: decoding stops
    // at about a second queued instead of filling memory.
    QTemporaryDir dir;
    const WrittenFile f = write_recording(dir.path(), AudioCodec::AAC, 48000, 2, 6, 0);
    next_disk_file();
    qputenv("SDL_DISKAUDIODELAY", "2000");
    auto player = std::make_unique<Player>(f.audio_data_path);
    player->begin_stream();
    drive(player.get(), kStart, 1200);
    const qint64 queued = player->max_queued_ms();
    player.reset();
    qunsetenv("SDL_DISKAUDIODELAY");
    QVERIFY2(queued >= Player::queue_target_ms - 100 && queued <= 2000, qPrintable(QString::number(queued)));
}

void TestAudioPlayer::deleted_while_playing()
{
    QTemporaryDir dir;
    const WrittenFile f = write_recording(dir.path(), AudioCodec::AAC, 8000, 1, 4);
    next_disk_file();
    auto player = std::make_unique<Player>(f.audio_data_path);
    player->begin_stream();
    drive(player.get(), kStart, 300);
    QVERIFY(QFile::remove(f.audio_data_path));
    QVERIFY(QFile::remove(f.audio_seek_path));
    drive(player.get(), kStart + 300, 500);
    player->set_new_timestamp(ts(kStart + 2000), ts(kStart + 2000)); // a jump reads it again
    drive(player.get(), kStart + 2000, 300);
    player.reset(); // no crash, no hang
}

void TestAudioPlayer::refused_parameters_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("rate");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<int>("codec");
    QTest::addColumn<int>("failure");
    using F = AudioDecodeResample::OpenFailure;
    const int s16 = AV_CODEC_ID_PCM_S16LE;
    QTest::newRow("8 channels at 48000 Hz") << 8 << 48000 << true << s16 << int(F::None);
    QTest::newRow("9 channels") << 9 << 48000 << false << s16 << int(F::Refused);
    QTest::newRow("192000 Hz") << 2 << 192000 << true << s16 << int(F::None);
    QTest::newRow("192001 Hz") << 2 << 192001 << false << s16 << int(F::Refused);
    // The player tells "Failed to open codec." for this one, not a decoder failure.
    QTest::newRow("no decoder for the codec") << 2 << 48000 << false << int(AV_CODEC_ID_NONE) << int(F::NoCodec);
}

void TestAudioPlayer::refused_parameters()
{
    QFETCH(int, channels);
    QFETCH(int, rate);
    QFETCH(bool, opens);
    QFETCH(int, codec);
    QFETCH(int, failure);
    AVCodecParameters* par = avcodec_parameters_alloc();
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = AVCodecID(codec);
    par->format = AV_SAMPLE_FMT_S16;
    par->sample_rate = rate;
    av_channel_layout_default(&par->ch_layout, channels);
    AudioDecodeResample d;
    QString error;
    QCOMPARE(d.open(par, &error), opens);
    QCOMPARE(int(d.failure()), failure);
    avcodec_parameters_free(&par);
}

void TestAudioPlayer::stream_without_rate_or_channels_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("playedRate"); // the rate the samples are played at
    QTest::newRow("no rate, no channels: 8000 Hz mono") << 0 << 0 << 8000;
    QTest::newRow("no channels: mono") << 16000 << 0 << 16000;
    QTest::newRow("no rate: 8000 Hz") << 0 << 1 << 8000;
}

void TestAudioPlayer::stream_without_rate_or_channels()
{
    // G.711 from cameras often comes without rate or channel count: it is
    // 8000 Hz mono, and every second of it must be heard, not dropped.
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(int, playedRate);
    AVCodecParameters* par = avcodec_parameters_alloc();
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = AV_CODEC_ID_PCM_MULAW;
    par->sample_rate = rate;
    if (channels > 0)
        av_channel_layout_default(&par->ch_layout, channels);
    AudioDecodeResample d(48000);
    QString error;
    const bool opened = d.open(par, &error);
    avcodec_parameters_free(&par);
    QVERIFY2(opened, qPrintable(error));
    // One second of a loud mu-law tone.
    QByteArray coded(playedRate, '\0');
    for (int i = 0; i < coded.size(); ++i)
        coded[i] = char((i / 4) % 2 ? 0x10 : 0x90);
    AVPacket* packet = av_packet_alloc();
    QCOMPARE(av_new_packet(packet, int(coded.size())), 0);
    std::memcpy(packet->data, coded.constData(), size_t(coded.size()));
    QByteArray pcm;
    QCOMPARE(d.decode(packet, &pcm), 0);
    QCOMPARE(d.decode(nullptr, &pcm), 0);
    av_packet_free(&packet);
    QCOMPARE(d.refused_frames(), 0);
    // One second at 48000 Hz, give or take the resampler's edges.
    const qsizetype frames = pcm.size() / AudioDecodeResample::bytes_per_sample;
    QVERIFY2(std::abs(frames - 48000) < 200, qPrintable(QString::number(frames)));
}

void TestAudioPlayer::mix_onto_itself_data()
{
    QTest::addColumn<int>("in");
    QTest::addColumn<int>("out");
    QTest::newRow("doubled") << 1000 << 2000;
    QTest::newRow("negative doubled") << -12000 << -24000;
    QTest::newRow("clipped high") << 20000 << 32767;
    QTest::newRow("clipped low") << -20000 << -32768;
}

void TestAudioPlayer::mix_onto_itself()
{
    QFETCH(int, in);
    QFETCH(int, out);
    QByteArray pcm(8, '\0');
    auto* s = reinterpret_cast<qint16*>(pcm.data());
    for (int i = 0; i < 4; ++i)
        s[i] = qint16(in);
    Player::mix_onto_itself(pcm);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(int(s[i]), out);
}

void TestAudioPlayer::bandwidth_every_five_seconds()
{
    // Every five seconds of play: "Audio playing : " with the coded bytes per
    // second times eight, and the device's buffer level.
    QTemporaryDir dir;
    const WrittenFile f = write_recording(dir.path(), AudioCodec::AAC, 16000, 1, 8);
    next_disk_file();
    const double bytesPerSecond = double(QFileInfo(f.audio_data_path).size()) / 8.0;
    auto player = std::make_unique<Player>(f.audio_data_path);
    QSignalSpy messages(player.get(), &Player::send_message);
    QSignalSpy levels(player.get(), &Player::send_buffer_level);
    player->begin_stream();
    QElapsedTimer t;
    t.start();
    while (messages.isEmpty() && t.elapsed() < 8000)
        drive(player.get(), kStart + t.elapsed(), 40);
    player.reset();
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages[0].at(0).toString(), QStringLiteral("GREEN"));
    const QString text = messages[0].at(1).toString();
    static const QRegularExpression pattern(QStringLiteral("^Audio playing : (\\d+) (bytes|kB|MB)/s$"));
    const QRegularExpressionMatch m = pattern.match(text);
    QVERIFY2(m.hasMatch(), qPrintable(text));
    const double unit = m.captured(2) == QLatin1String("kB") ? 1024 : (m.captured(2) == QLatin1String("MB") ? 1048576 : 1);
    const double value = m.captured(1).toDouble() * unit;
    // About five or six seconds of sound decoded in five: eight times the bytes per second, not one.
    QVERIFY2(value > 4 * bytesPerSecond && value < 16 * bytesPerSecond,
             qPrintable(text + QStringLiteral(" for %1 B/s").arg(bytesPerSecond)));
    QCOMPARE(levels.count(), 1);
    QCOMPARE(levels[0].at(0).toInt(), 2);
    QVERIFY(levels[0].at(2).toDouble() >= 0 && levels[0].at(2).toDouble() <= 2.0);
}

void TestAudioPlayer::live_adts_parts()
{
    QTemporaryDir dir;
    const WrittenFile f = write_recording(dir.path(), AudioCodec::AAC, 16000, 1, 3, 0);
    QFile data(f.audio_data_path);
    QVERIFY(data.open(QIODevice::ReadOnly));
    const QByteArray all = data.readAll();
    const QString heardPath = next_disk_file();
    std::unique_ptr<Player> player(Player::for_stream(QStringLiteral("https://127.0.0.1/live")));
    QSignalSpy messages(player.get(), &Player::send_message);
    QVERIFY(player->part_header()->parse("--myboundary\r\nContent-Type: audio/aac\r\nContent-Length: 9\r\n\r\n"));
    player->begin_stream();
    // One part per coded frame, as the server sends them.
    for (const AudioEntry& e : f.audio_entries) {
        QByteArray part = all.mid(e.offset, e.size);
        player->read_stream(part.data(), int(part.size()));
    }
    QTest::qWait(1500);
    player.reset();
    QVERIFY(messages.isEmpty());
    // Played at the codec's own rate (16000 Hz), the tone of the first second.
    QFile heard(heardPath);
    QVERIFY(heard.open(QIODevice::ReadOnly));
    const QByteArray pcm = heard.readAll();
    const auto* s = reinterpret_cast<const qint16*>(pcm.constData());
    qsizetype first = -1;
    for (qsizetype i = 0; i < pcm.size() / 4 && first < 0; ++i)
        if (std::abs(s[2 * i]) > 300)
            first = i;
    QVERIFY(first >= 0 && (pcm.size() / 4 - first) > 16000);
    const ToneMeasure m = measure_tone(s + 2 * (first + 1600), 6400, 2, 16000);
    QCOMPARE(tone_second(m.frequency), 10);
    QVERIFY2(m.peak > 0.66 && m.peak < 0.94, qPrintable(QString::number(m.peak)));
}

void TestAudioPlayer::live_part_types_data()
{
    QTest::addColumn<AudioCodec>("codec");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<int>("firstSecond"); // the tone heard first: 10 when the first parts play, 11 when not
    QTest::newRow("multipart aac") << AudioCodec::AAC << QByteArray("--myboundary\r\nContent-Type: audio/aac\r\n\r\n")
                                   << false << 10;
    QTest::newRow("multipart mpeg") << AudioCodec::MP3 << QByteArray("--myboundary\r\nContent-Type: audio/mpeg\r\n\r\n")
                                    << false << 10;
    QTest::newRow("aac, not multipart") << AudioCodec::AAC << QByteArray("Content-Type: audio/aac\r\n\r\n") << false << 11;
    QTest::newRow("mpeg, not multipart") << AudioCodec::MP3 << QByteArray("Content-Type: audio/mpeg\r\n\r\n") << false << 11;
    QTest::newRow("no header") << AudioCodec::AAC << QByteArray() << false << 11;
    QTest::newRow("multipart wav") << AudioCodec::AAC << QByteArray("--myboundary\r\nContent-Type: audio/x-wav\r\n\r\n")
                                   << true << 0;
    QTest::newRow("multipart without a type") << AudioCodec::AAC << QByteArray("--myboundary\r\n\r\n") << true << 0;
}

// The live form plays the parts of the server's multipart stream that carry
// AAC or MPEG audio. Another type in a multipart part is refused with a
// message and the player stops; a part that is not a multipart part opens
// nothing and is not played. Each case is followed, when not refused, by
// the rest of the stream in multipart parts of its own type, so what was
// heard first tells whether the first parts played.
void TestAudioPlayer::live_part_types()
{
    QFETCH(AudioCodec, codec);
    QFETCH(QByteArray, header);
    QFETCH(bool, refused);
    QFETCH(int, firstSecond);
    QTemporaryDir dir;
    const WrittenFile f = write_recording(dir.path(), codec, 16000, 1, 6, 0);
    QFile data(f.audio_data_path);
    QVERIFY(data.open(QIODevice::ReadOnly));
    const QByteArray all = data.readAll();
    const QString heardPath = next_disk_file();
    std::unique_ptr<Player> player(Player::for_stream(QStringLiteral("https://127.0.0.1/live")));
    QSignalSpy messages(player.get(), &Player::send_message);
    auto send = [&](bool firstSecondOnly) {
        for (const AudioEntry& e : f.audio_entries) {
            if ((e.time_ms < kStart + 1000) != firstSecondOnly)
                continue;
            QByteArray part = all.mid(e.offset, e.size);
            player->read_stream(part.data(), int(part.size()));
        }
    };
    QVERIFY(player->part_header()->parse(header));
    player->begin_stream();
    send(true);
    if (refused) {
        send(true);
        QTRY_VERIFY_WITH_TIMEOUT(player->isFinished(), 5000);
        QCOMPARE(messages.count(), 1);
        QCOMPARE(messages.first().at(0).toString(), QStringLiteral("RED"));
        QCOMPARE(messages.first().at(1).toString(), QStringLiteral("Audio stream error : Format too old."));
        return;
    }
    const QByteArray type = codec == AudioCodec::AAC ? "audio/aac" : "audio/mpeg";
    QVERIFY(player->part_header()->parse("--myboundary\r\nContent-Type: " + type + "\r\n\r\n"));
    send(false);
    // Half a second of sound heard.
    QTRY_VERIFY_WITH_TIMEOUT([&] {
        const Heard h = read_heard(heardPath);
        return h.first >= 0 && h.last - h.first > 8000;
    }(), 20000);
    player.reset();
    for (const QList<QVariant>& m : messages)
        QVERIFY2(m.at(0).toString() != QLatin1String("RED"), qPrintable(m.at(1).toString()));
    const Heard h = read_heard(heardPath);
    const ToneMeasure m = measure_tone(h.at(h.first + 1600), 3200, 2, 16000);
    QCOMPARE(tone_second(m.frequency), firstSecond);
}

void TestAudioPlayer::live_stall_stops_at_once()
{
    next_disk_file();
    std::unique_ptr<Player> player(Player::for_stream(QStringLiteral("https://127.0.0.1/live")));
    QVERIFY(player->part_header()->parse("--myboundary\r\nContent-Type: audio/mpeg\r\n\r\n"));
    player->begin_stream();
    QByteArray part(100, '\xff');
    player->read_stream(part.data(), int(part.size())); // not enough to know the stream: the demuxer waits
    QTest::qWait(300);
    QElapsedTimer t;
    t.start();
    player.reset();
    QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
}

QTEST_GUILESS_MAIN(TestAudioPlayer)
#include "test_audio_player.moc"
