#include "playback/video_decoder.h"
#include "recordings/seek_index.h"
#include "tests/recordings/log_capture.h"
#include "tools/zqfixture/lib/fixture_encoder.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

Q_DECLARE_METATYPE(ZQFixture::Codec)

namespace {

struct Recording
{
    QList<ZQFrame> frames;
    QByteArray data;
    QString codec;

    QByteArray bytes(int i) const
    {
        const ZQFrame& f = frames.at(i);
        return data.mid(f.get_offset(), f.get_size());
    }
};

Recording load(const ZQFixture::WrittenFile& file)
{
    Recording r;
    SeekIndexOptions options;
    options.stream = QStringLiteral("1");
    r.frames = parse_seek_index(file.seek_path, options);
    QFile data(file.data_path);
    if (data.open(QIODevice::ReadOnly))
        r.data = data.readAll();
    if (!r.frames.isEmpty())
        r.codec = r.frames.first().get_codec();
    return r;
}

} // namespace

// Recordings made by the fixture tool carry their camera and frame number in
// every picture; a picture decoded from the wrong bytes, in the wrong order or
// converted wrongly does not read back.
class TestVideoDecoder : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_count = 0;

    ZQFixture::Result make(ZQFixture::Options o)
    {
        o.output_parent = m_dir.filePath(QString::number(++m_count));
        o.threads = 1;
        return ZQFixture::write(o);
    }

    ZQFixture::Options small(ZQFixture::Codec codec = ZQFixture::Codec::H264)
    {
        ZQFixture::Options o;
        o.cameras = {3};
        o.seconds_per_recording = 1;
        o.size = QSize(320, 240);
        o.gop = 10;
        o.codec = codec;
        return o;
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void open_names_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("opens");
        for (const char* n : {"libx264", "h264", "h.264", "hevc", "h265", "h.265", "mpeg4", "jpeg", "mjpeg"})
            QTest::newRow(n) << QString::fromLatin1(n) << true;
        for (const char* n : {"H264", "aac", "", "MPEG4", "vp9"})
            QTest::newRow(*n ? n : "empty") << QString::fromLatin1(n) << false;
    }

    void open_names()
    {
        QFETCH(QString, name);
        QFETCH(bool, opens);
        VideoDecoder decoder;
        QCOMPARE(decoder.open_decoder(name.toStdString()), opens);
        QCOMPARE(decoder.is_open(), opens);
        QCOMPARE(decoder.get_codec_name(), name.toStdString());
        // A failed open after a good one leaves nothing half-open behind.
        QVERIFY(!decoder.open_decoder("aac"));
        QVERIFY(!decoder.is_open());
        decoder.set_scaler_flags(-1);
        QCOMPARE(decoder.get_scaler_flags(), 1024);
    }

    // The exact lines the log readers look for: the first picture after each
    // open says so once, with or without conversion; unknown names and null
    // data say why nothing came out.
    void log_lines()
    {
        const ZQFixture::Result r = make(small());
        QVERIFY(r.ok);
        const Recording rec = load(r.files.first());
        LogCapture log;
        VideoDecoder decoder;
        QVERIFY(!decoder.open_decoder("H264"));
        QVERIFY(log.lines().contains(QStringLiteral("\"[ERROR] Video Decoder :: Codec decode NULL\"")));
        QVERIFY(log.lines().contains(QStringLiteral("\"[INFO] Video Decoder :: hardware decoder enable : 0\"")));
        QVERIFY(!decoder.decode_frame(nullptr, 10, true));
        QVERIFY(log.lines().contains(QStringLiteral("\"[ERROR] Video Decoder :: decode frame :: buffer image is NULL\"")));

        auto count = [&log](const char* text) {
            return int(log.lines().count(QStringLiteral("\"") + QLatin1String(text) + QStringLiteral("\"")));
        };
        const char* scaled = "[INFO] Video Decoder :: decode frame :: decode success :: return first frame after scale";
        const char* plain = "[INFO] Video Decoder :: decode frame :: decode success :: return first frame";
        QVERIFY(decoder.open_decoder("h264"));
        for (int i = 0; i < 3; ++i) {
            const QByteArray bytes = rec.bytes(i);
            QVERIFY(!decoder.decode_image(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size())).isNull());
        }
        QCOMPARE(count(scaled), 1);
        QCOMPARE(count(plain), 0);
        QVERIFY(decoder.open_decoder("libx264"));
        for (int i = 0; i < 3; ++i) {
            const QByteArray bytes = rec.bytes(i);
            QVERIFY(decoder.decode_frame(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()), false));
        }
        QCOMPARE(count(scaled), 1);
        QCOMPARE(count(plain), 1);
    }

    void each_codec_data()
    {
        QTest::addColumn<ZQFixture::Codec>("codec");
        QTest::addColumn<QString>("codecText");
        QTest::addColumn<QString>("decoderName");
        QTest::newRow("h264") << ZQFixture::Codec::H264 << QString() << "libx264";
        QTest::newRow("h265") << ZQFixture::Codec::H265 << QString() << "hevc";
        QTest::newRow("mjpeg") << ZQFixture::Codec::MJPEG << QString() << "mjpeg";
        QTest::newRow("mpeg4") << ZQFixture::Codec::MPEG4 << QString() << "mpeg4";
        // What the export encoder writes: lower case.
        QTest::newRow("mpeg4 lower case text") << ZQFixture::Codec::MPEG4 << "frame/mpeg4" << "mpeg4";
    }

    // Every coded frame gives its own picture, in order, at the right size,
    // with the keyframe flag of its seek-index line.
    void each_codec()
    {
        QFETCH(ZQFixture::Codec, codec);
        QFETCH(QString, codecText);
        QFETCH(QString, decoderName);
        ZQFixture::Options o = small(codec);
        o.codec_text = codecText;
        const ZQFixture::Result r = make(o);
        QVERIFY2(r.ok, qPrintable(r.error));
        const Recording rec = load(r.files.first());
        QCOMPARE(rec.frames.size(), 25);
        QCOMPARE(rec.codec, decoderName);

        VideoDecoder decoder;
        QVERIFY(decoder.open_decoder(rec.codec.toStdString()));
        for (int i = 0; i < rec.frames.size(); ++i) {
            const QByteArray bytes = rec.bytes(i);
            const QImage image = decoder.decode_image(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
            QVERIFY2(!image.isNull(), qPrintable(QString::number(i)));
            QCOMPARE(image.format(), QImage::Format_RGB32);
            QCOMPARE(image.size(), QSize(320, 240));
            QCOMPARE(decoder.get_width(), 320);
            QCOMPARE(decoder.get_height(), 240);
            QCOMPARE(decoder.is_keyframe(), rec.frames.at(i).keyframe_starts_with_one());
            const ZQFixture::PatternValue v = ZQFixture::read_pattern(image);
            QVERIFY(v.valid);
            QCOMPARE(v.camera, 3);
            QCOMPARE(v.frame_index, i);
            QCOMPARE(v.time_ms(), rec.frames.at(i).time_of_day_ms());
        }
        // Without conversion the decoder's own picture comes back.
        VideoDecoder raw;
        QVERIFY(raw.open_decoder(rec.codec.toStdString()));
        const QByteArray first = rec.bytes(0);
        AVFrame* picture = raw.decode_frame(reinterpret_cast<const uint8_t*>(first.constData()), int(first.size()), false);
        QVERIFY(picture);
        QCOMPARE(picture->width, 320);
        QVERIFY(raw.get_image().isNull());
    }

    // A new picture size arrives with a keyframe: pictures follow it at once.
    void size_change_after_keyframe()
    {
        ZQFixture::Options o = small();
        const ZQFixture::Result big = make(o);
        o.size = QSize(192, 144);
        o.cameras = {4};
        const ZQFixture::Result little = make(o);
        QVERIFY(big.ok && little.ok);
        const Recording a = load(big.files.first());
        const Recording b = load(little.files.first());

        VideoDecoder decoder;
        QVERIFY(decoder.open_decoder("h264"));
        for (int i = 0; i < 12; ++i) {
            const QByteArray bytes = a.bytes(i);
            QCOMPARE(decoder.decode_image(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size())).size(),
                     QSize(320, 240));
        }
        for (int i = 0; i < 15; ++i) {
            const QByteArray bytes = b.bytes(i);
            const QImage image = decoder.decode_image(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
            QVERIFY(!image.isNull());
            QCOMPARE(image.size(), QSize(192, 144));
            QCOMPARE(decoder.get_width(), 192);
            const ZQFixture::PatternValue v = ZQFixture::read_pattern(image);
            QCOMPARE(v.camera, 4);
            QCOMPARE(v.frame_index, i);
        }
    }

    // Damaged input: a frame of noise, half a frame, garbage, empty and null
    // packets. Nothing crashes, and the next keyframe decodes right.
    void bad_packets()
    {
        ZQFixture::Options o = small();
        o.corrupt_frame = 4;
        const ZQFixture::Result r = make(o);
        QVERIFY(r.ok);
        const Recording rec = load(r.files.first());

        VideoDecoder decoder;
        QVERIFY(decoder.open_decoder("libx264"));
        QVERIFY(!decoder.decode_frame(nullptr, 100, true));
        for (int i = 0; i < 10; ++i) {
            QByteArray bytes = rec.bytes(i);
            if (i == 6)
                bytes.truncate(bytes.size() / 2);
            decoder.decode_image(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
            // An empty or negative packet is refused and must not drain the codec.
            QVERIFY(!decoder.decode_frame(reinterpret_cast<const uint8_t*>(bytes.constData()), 0, true));
            QVERIFY(!decoder.decode_frame(reinterpret_cast<const uint8_t*>(bytes.constData()), -5, true));
        }
        QByteArray garbage(4000, '\0');
        for (int i = 0; i < garbage.size(); ++i)
            garbage[i] = char((i * 7919) & 0xff);
        decoder.decode_image(reinterpret_cast<const uint8_t*>(garbage.constData()), int(garbage.size()));
        for (int i = 10; i < 25; ++i) {
            const QByteArray bytes = rec.bytes(i);
            const QImage image = decoder.decode_image(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
            QVERIFY(!image.isNull());
            QCOMPARE(ZQFixture::read_pattern(image).frame_index, i);
        }
    }

    // A JPEG whose header claims 20000 x 20000 pixels is refused; the next
    // real picture decodes.
    void absurd_picture_size()
    {
        const ZQFixture::Result r = make(small(ZQFixture::Codec::MJPEG));
        QVERIFY(r.ok);
        const Recording rec = load(r.files.first());
        QByteArray huge = rec.bytes(0);
        const qsizetype sof = huge.indexOf(QByteArray("\xff\xc0", 2));
        QVERIFY(sof > 0);
        // SOF0: marker, length (2), precision (1), height (2), width (2).
        huge[sof + 5] = char(0x4e);
        huge[sof + 6] = char(0x20);
        huge[sof + 7] = char(0x4e);
        huge[sof + 8] = char(0x20);
        VideoDecoder decoder;
        QVERIFY(decoder.open_decoder("mjpeg"));
        QVERIFY(decoder.decode_image(reinterpret_cast<const uint8_t*>(huge.constData()), int(huge.size())).isNull());
        const QByteArray good = rec.bytes(1);
        const QImage image = decoder.decode_image(reinterpret_cast<const uint8_t*>(good.constData()), int(good.size()));
        QCOMPARE(image.size(), QSize(320, 240));
        QCOMPARE(ZQFixture::read_pattern(image).frame_index, 1);
    }

    // Pictures too large to convert on the thread that shows them are refused with a log line;
    // 8K plays.
    void giant_pictures_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("decoded");
        QTest::newRow("8K") << QSize(7680, 4320) << true;
        QTest::newRow("8192 wide") << QSize(8192, 16) << true;
        QTest::newRow("8200 wide") << QSize(8200, 16) << false;
        QTest::newRow("8200 high") << QSize(16, 8200) << false;
        QTest::newRow("over 40 million pixels") << QSize(8000, 5008) << false;
    }
    void giant_pictures()
    {
        QFETCH(QSize, size);
        QFETCH(bool, decoded);
        ZQFixture::FrameEncoder encoder;
        QString error;
        QVERIFY2(encoder.open(ZQFixture::Codec::MJPEG, size.width(), size.height(), 1, 1, 1, &error), qPrintable(error));
        bool fresh = false;
        AVFrame* frame = encoder.next_frame(&fresh, &error);
        QVERIFY2(frame, qPrintable(error));
        for (int plane = 0; plane < 3; ++plane) {
            const int rows = plane == 0 ? frame->height : (frame->height + 1) / 2;
            for (int y = 0; y < rows; ++y)
                memset(frame->data[plane] + qint64(y) * frame->linesize[plane], 128, size_t(frame->linesize[plane]));
        }
        std::deque<ZQFixture::CodedFrame> out;
        QVERIFY2(encoder.encode(0, &out, &error), qPrintable(error));
        QVERIFY2(encoder.flush(&out, &error), qPrintable(error));
        QCOMPARE(out.size(), size_t(1));
        const QByteArray bytes = out.front().bytes;

        LogCapture log;
        VideoDecoder decoder;
        QVERIFY(decoder.open_decoder("mjpeg"));
        const QImage image = decoder.decode_image(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
        QCOMPARE(!image.isNull(), decoded);
        if (decoded)
            QCOMPARE(image.size(), size);
        else
            QVERIFY(log.has("[WARN] Video Decoder :: decode frame :: picture size refused :: "));
    }

    // A jump: after flush() the decoder starts clean at another keyframe.
    void flush_and_jump()
    {
        const ZQFixture::Result r = make(small(ZQFixture::Codec::H265));
        QVERIFY(r.ok);
        const Recording rec = load(r.files.first());
        VideoDecoder decoder;
        QVERIFY(decoder.open_decoder(rec.codec.toStdString()));
        for (int i : {0, 1, 2, 3}) {
            const QByteArray bytes = rec.bytes(i);
            QVERIFY(!decoder.decode_image(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size())).isNull());
        }
        decoder.flush();
        for (int i = 20; i < 25; ++i) {
            const QByteArray bytes = rec.bytes(i);
            const QImage image = decoder.decode_image(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
            QVERIFY(!image.isNull());
            QCOMPARE(ZQFixture::read_pattern(image).frame_index, i);
        }
        // A kept picture converts later, after other decodes.
        const QByteArray bytes = rec.bytes(10);
        AVFrame* decoded = decoder.decode_frame(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()), false);
        QVERIFY(decoded);
        AVFrame* kept = av_frame_clone(decoded);
        const QByteArray next = rec.bytes(11);
        QVERIFY(decoder.decode_frame(reinterpret_cast<const uint8_t*>(next.constData()), int(next.size()), false));
        QCOMPARE(ZQFixture::read_pattern(decoder.convert_frame(kept)).frame_index, 10);
        av_frame_free(&kept);
    }
};

QTEST_GUILESS_MAIN(TestVideoDecoder)
#include "test_video_decoder.moc"
