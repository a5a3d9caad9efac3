#include "export/export_format.h"
#include "export/zq_stream_encoder.h"
#include "media_probe.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>

extern "C" {
#include <libavutil/frame.h>
}

namespace {

// A planar 4:2:0 picture filled with one grey level plus a moving block, so
// every frame differs.
AVFrame* make_picture(int width, int height, int index, int grey = 128, AVPixelFormat fmt = AV_PIX_FMT_YUV420P)
{
    AVFrame* f = av_frame_alloc();
    f->format = fmt;
    f->width = width;
    f->height = height;
    av_frame_get_buffer(f, 0);
    for (int y = 0; y < height; ++y)
        memset(f->data[0] + y * f->linesize[0], grey, size_t(width));
    const int ch = (height + 1) / 2, cw = (width + 1) / 2;
    for (int y = 0; y < ch; ++y) {
        memset(f->data[1] + y * f->linesize[1], 128, size_t(cw));
        memset(f->data[2] + y * f->linesize[2], 128, size_t(cw));
    }
    const int bx = (index * 7) % qMax(1, width - 16);
    for (int y = height / 2; y < qMin(height, height / 2 + 16); ++y)
        memset(f->data[0] + y * f->linesize[0] + bx, 235, 16);
    return f;
}

// Random pixels: large coded frames, for the file-size limit case.
AVFrame* make_noise(int width, int height, quint32 seed)
{
    AVFrame* f = make_picture(width, height, 0);
    quint32 s = seed * 2654435761u + 1;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            s = s * 1664525u + 1013904223u;
            f->data[0][y * f->linesize[0] + x] = uint8_t(s >> 24);
        }
    return f;
}

QString stamp(int frame, int fps, qint64 extraMs = 0)
{
    const qint64 ms = 10LL * 3600000 + qint64(frame) * 1000 / fps + extraMs;
    return QDate(2024, 3, 5).toString(QStringLiteral("yyyyMMdd")) + QTime::fromMSecsSinceStartOfDay(int(ms)).toString(QStringLiteral("HHmmsszzz"));
}

bool encode_all(ZQStreamEncoder& enc, int count, int width, int height, int fps)
{
    for (int i = 0; i < count; ++i) {
        AVFrame* f = make_picture(width, height, i);
        const bool ok = enc.encode_frame(f, width, height, stamp(i, fps), QStringLiteral("Entrée"), i);
        av_frame_free(&f);
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

class TestStreamEncoder : public QObject
{
    Q_OBJECT
private slots:
    void tables_data();
    void tables();
    void formats_data();
    void formats();
    void odd_size();
    void size_change_mid_export();
    void band_pixels();
    void gaps_stay_time();
    void refused_outputs_data();
    void refused_outputs();
    void failing_write_removes_output();
};

void TestStreamEncoder::tables_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("codec");
    QTest::newRow("mjpeg") << "MJPEG (.avi)" << "mjpeg";
    QTest::newRow("empty") << "" << "libx264";
    QTest::newRow("lower case") << "h.265 (.mp4)" << "hevc";
    QTest::newRow("two labels: table order") << "AV1 or VP9" << "vp9";
    QTest::newRow("raw") << "RAW (zqcore format)" << "raw";
}

void TestStreamEncoder::tables()
{
    QFETCH(QString, text);
    QFETCH(QString, codec);
    QCOMPARE(find_export_format(text).codec, codec);
    QCOMPARE(export_error::error_text(0), QStringLiteral("Erreur inconnue."));
    QCOMPARE(export_error::error_text(-35), QStringLiteral("Erreur inconnue."));
    QCOMPARE(export_error::error_text(1), QStringLiteral("Erreur inconnue."));
    QCOMPARE(export_error::error_text(5), QStringLiteral("Erreur inconnue."));
    QCOMPARE(export_error::error_text(-1), QStringLiteral("Heure de début d'exportation introuvable."));
    QCOMPARE(export_error::error_text(-10), QStringLiteral("L'intervalle selectionnée ne contient pas de vidéo."));
    QCOMPARE(export_error::error_text(-19), QStringLiteral("REMUX : Echec de copie des paramêtres"));
    QCOMPARE(export_error::error_text(-34), QStringLiteral("Arrêt de l'utilisateur."));
    QCOMPARE(export_format_tags(), QStringList({"H264", "H265", "MJPEG", "VP9", "AV1", "RAW"}));
}

void TestStreamEncoder::formats_data()
{
    QTest::addColumn<QString>("codecName");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("codec");
    QTest::addColumn<QString>("container");
    QTest::newRow("h264") << "libx264" << ".mp4" << "h264" << "mov,mp4";
    QTest::newRow("hevc") << "hevc" << ".mp4" << "hevc" << "mov,mp4";
    QTest::newRow("mjpeg") << "mjpeg" << ".avi" << "mjpeg" << "avi";
    QTest::newRow("vp9") << "vp9" << ".webm" << "vp9" << "matroska,webm";
    QTest::newRow("av1") << "av1" << ".mkv" << "av1" << "matroska,webm";
    QTest::newRow("h264 without extension: raw h264") << "libx264" << "" << "h264" << "h264";
}

// Every packet the encoder holds back must reach the file (drained before
// the trailer), the first frame starts at 0 and the rate is the one given.
void TestStreamEncoder::formats()
{
    QFETCH(QString, codecName);
    QFETCH(QString, extension);
    QFETCH(QString, codec);
    QFETCH(QString, container);
    QTemporaryDir dir;
    const QString out = dir.filePath("clip" + extension);
    const int count = 25;
    {
        ZQStreamEncoder enc;
        QVERIFY(enc.init_encoder(out, codecName, 2048, 10.0, 320, 240, false, "normal", AV_PIX_FMT_YUV420P));
        QVERIFY(!QFile::exists(out)); // written under a temporary name until the end
        QVERIFY(encode_all(enc, count, 320, 240, 10));
        QVERIFY(enc.end_encoding());
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"clip" + extension});
    const MediaProbe p = probe_media(out);
    QVERIFY(p.ok);
    QVERIFY2(p.container.startsWith(container), qPrintable(p.container));
    QCOMPARE(p.codec, codec);
    QCOMPARE(p.frames, count);
    QCOMPARE(p.width, 320);
    if (!extension.isEmpty()) {
        QVERIFY2(qAbs(p.start) < 1e-6, qPrintable(QString::number(p.start)));
        QVERIFY2(qAbs(p.rate - 10.0) < 0.01, qPrintable(QString::number(p.rate)));
        QVERIFY2(qAbs(p.duration - 2.5) < 0.11, qPrintable(QString::number(p.duration)));
    }
}

void TestStreamEncoder::odd_size()
{
    QTemporaryDir dir;
    const QString out = dir.filePath("odd.mp4");
    ZQStreamEncoder enc;
    QVERIFY(enc.init_encoder(out, "libx264", 0, 10, 321, 241, true, "small", AV_PIX_FMT_YUV420P));
    QCOMPARE(enc.output_width(), 320);
    QCOMPARE(enc.output_height(), 240);
    QVERIFY(encode_all(enc, 5, 321, 241, 10));
    QVERIFY(enc.end_encoding());
    const MediaProbe p = probe_media(out);
    QCOMPARE(p.frames, 5);
    QCOMPARE(p.width, 320);
    QCOMPARE(p.height, 240);
}

// A larger picture (and another format) in the middle must be scaled from its
// own size: under AddressSanitizer an overrun of the first size shows here.
void TestStreamEncoder::size_change_mid_export()
{
    QTemporaryDir dir;
    const QString out = dir.filePath("change.mkv");
    ZQStreamEncoder enc;
    QVERIFY(enc.init_encoder(out, "raw", 0, 10, 160, 120, true, "normal", AV_PIX_FMT_YUV420P));
    for (int i = 0; i < 6; ++i) {
        AVFrame* f = i < 2 ? make_picture(160, 120, i) : i < 4 ? make_picture(640, 480, i, 128, AV_PIX_FMT_YUV422P)
                                                                 : make_picture(64, 48, i);
        QVERIFY(enc.encode_frame(f, f->width, f->height, stamp(i, 10), QString(), i));
        av_frame_free(&f);
    }
    QVERIFY(!enc.encode_frame(nullptr, 160, 120, stamp(7, 10), QString(), 7));
    QVERIFY(enc.end_encoding());
    const MediaProbe p = probe_media(out);
    QCOMPARE(p.frames, 6);
    QCOMPARE(p.width, 160);
}

// The band covers the top rows with black and white text; below it the
// picture is untouched (lossless raw output read back).
void TestStreamEncoder::band_pixels()
{
    QTemporaryDir dir;
    const QString out = dir.filePath("band.mkv");
    ZQStreamEncoder enc;
    QVERIFY(enc.init_encoder(out, "raw", 0, 10, 320, 240, true, "large", AV_PIX_FMT_YUV420P));
    QCOMPARE(enc.font_size(), 20);
    AVFrame* f = make_picture(320, 240, 0, 128);
    QVERIFY(enc.encode_frame(f, 320, 240, "20240305101500123", "Entrée", 0));
    av_frame_free(&f);
    QVERIFY(enc.end_encoding());

    AVFormatContext* fc = nullptr;
    QVERIFY(avformat_open_input(&fc, out.toLocal8Bit().constData(), nullptr, nullptr) >= 0);
    AVPacket* pkt = av_packet_alloc();
    QVERIFY(av_read_frame(fc, pkt) >= 0);
    // rawvideo yuv420p: the Y plane comes first, 320 bytes a row.
    const uint8_t* y = pkt->data;
    int bright = 0, black = 0;
    for (int row = 0; row < 20; ++row)
        for (int x = 0; x < 320; ++x) {
            const int v = y[row * 320 + x];
            bright += v > 180;
            black += v < 30;
        }
    QVERIFY2(black > 320 * 10, qPrintable(QString::number(black)));
    QVERIFY2(bright > 20, qPrintable(QString::number(bright)));
    // Well below the band the grey is unchanged.
    for (int x = 0; x < 320; x += 17)
        QCOMPARE(int(y[100 * 320 + x]), 128);
    av_packet_free(&pkt);
    avformat_close_input(&fc);

    QCOMPARE(ZQStreamEncoder::band_text("20240305101500123", "Entrée"),
             QStringLiteral("Entrée | 2024-03-05 10:15:00:123"));
    QCOMPARE(ZQStreamEncoder::band_text("garbage", QString()), QStringLiteral("garbage"));
}

// Presentation times follow the frames' timestamps: a one-second hole in the
// recording stays a one-second hole in the file.
void TestStreamEncoder::gaps_stay_time()
{
    QTemporaryDir dir;
    const QString out = dir.filePath("gap.mkv");
    ZQStreamEncoder enc;
    QVERIFY(enc.init_encoder(out, "libx264", 0, 10, 160, 120, false, "", AV_PIX_FMT_YUV420P));
    for (int i = 0; i < 10; ++i) {
        AVFrame* f = make_picture(160, 120, i);
        QVERIFY(enc.encode_frame(f, 160, 120, stamp(i, 10, i >= 5 ? 1000 : 0), QString(), i));
        av_frame_free(&f);
    }
    QVERIFY(enc.end_encoding());
    const MediaProbe p = probe_media(out);
    QCOMPARE(p.frames, 10);
    QVERIFY2(qAbs(p.duration - 2.0) < 0.11, qPrintable(QString::number(p.duration)));
    QCOMPARE(ZQStreamEncoder::rate_for(0).num, 25);
    QCOMPARE(ZQStreamEncoder::rate_for(1000).num, 120);
    QCOMPARE(ZQStreamEncoder::rate_for(12.5).num, 25);
    QCOMPARE(ZQStreamEncoder::rate_for(12.5).den, 2);
}

void TestStreamEncoder::refused_outputs_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("codecName");
    QTest::addColumn<int>("code");
    QTest::newRow("no container") << "clip.xyz" << "raw" << -8;
    QTest::newRow("container without video") << "clip.wav" << "libx264" << -8;
    QTest::newRow("folder missing") << "missing/clip.mp4" << "libx264" << -9;
    QTest::newRow("target is a folder") << "sub.mp4" << "libx264" << -9;
    QTest::newRow("unknown codec") << "clip.mp4" << "theora" << 0;
}

void TestStreamEncoder::refused_outputs()
{
    QFETCH(QString, relative);
    QFETCH(QString, codecName);
    QFETCH(int, code);
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("sub.mp4");
    ZQStreamEncoder enc;
    QSignalSpy spy(&enc, &ZQStreamEncoder::error);
    QVERIFY(!enc.init_encoder(dir.filePath(relative), codecName, 0, 10, 160, 120, false, "", AV_PIX_FMT_YUV420P));
    QCOMPARE(enc.last_error(), code);
    QCOMPARE(spy.count(), code ? 1 : 0);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 0);
}

// A full disk (here a file-size limit) must end with -4 and leave no file.
void TestStreamEncoder::failing_write_removes_output()
{
    QTemporaryDir dir;
    const QString out = dir.filePath("full.avi");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
    bool failedOnWrite = false;
    {
        ZQStreamEncoder enc;
        QSignalSpy spy(&enc, &ZQStreamEncoder::error);
        QVERIFY(enc.init_encoder(out, "mjpeg", 0, 10, 320, 240, false, "", AV_PIX_FMT_YUV420P));
        for (int i = 0; i < 40 && !enc.write_failed(); ++i) {
            AVFrame* f = make_noise(320, 240, quint32(i));
            enc.encode_frame(f, 320, 240, stamp(i, 10), QString(), i);
            av_frame_free(&f);
        }
        const bool ended = enc.end_encoding();
        failedOnWrite = !ended && spy.count() >= 1 && spy.first().first().toInt() == -4;
    }
    setrlimit(RLIMIT_FSIZE, &old);
    QVERIFY(failedOnWrite);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

QTEST_MAIN(TestStreamEncoder)
#include "test_stream_encoder.moc"
