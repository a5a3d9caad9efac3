// The fixture generator is what every recording test stands on: a fault here
// (a seek index that disagrees with the data file, a keyframe flag that lies,
// a picture that shows the wrong frame) would make other tests pass or fail
// for the wrong reason. These tests check what it writes with FFmpeg's own
// demuxers and decoders, independently of the generator's own bookkeeping.

#include "tools/zqfixture/lib/fixture_writer.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

using namespace ZQFixture;

Q_DECLARE_METATYPE(ZQFixture::Codec)

namespace {

struct SeekLine {
    QString timestamp;
    int stream = 0;
    QString codec;
    QSize size;
    bool key = false;
    qint64 bytes = 0;
    qint64 offset = 0;
};

// Reads a seek index the way a reader would: one line per frame, offsets as
// the running sum of the sizes.
QList<SeekLine> read_seek_index(const QString& path, QString* error)
{
    static const QRegularExpression re(
        QStringLiteral("^(\\d{17}):video([12]):([^:]*):(\\d+)x(\\d+):([01]):(\\d+)$"));
    QList<SeekLine> lines;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot open ") + path;
        return lines;
    }
    const QByteArray all = f.readAll();
    if (!all.endsWith('\n')) {
        *error = QStringLiteral("last line has no line feed");
        return lines;
    }
    qint64 offset = 0;
    for (const QByteArray& raw : all.split('\n')) {
        if (raw.isEmpty())
            continue;
        const auto m = re.match(QString::fromLatin1(raw));
        if (!m.hasMatch() || raw.size() > 511) {
            *error = QStringLiteral("malformed line: ") + QString::fromLatin1(raw);
            return {};
        }
        SeekLine l;
        l.timestamp = m.captured(1);
        l.stream = m.captured(2).toInt();
        l.codec = m.captured(3);
        l.size = QSize(m.captured(4).toInt(), m.captured(5).toInt());
        l.key = m.captured(6) == QLatin1String("1");
        l.bytes = m.captured(7).toLongLong();
        l.offset = offset;
        offset += l.bytes;
        lines.append(l);
    }
    return lines;
}

struct Decoded {
    QImage image;
    bool key = false;
};

class Decoder {
public:
    explicit Decoder(AVCodecID id)
    {
        const AVCodec* codec = avcodec_find_decoder(id);
        m_ctx = avcodec_alloc_context3(codec);
        m_ctx->thread_count = 1; // frame threads would hold pictures back
        m_ok = avcodec_open2(m_ctx, codec, nullptr) >= 0;
        m_frame = av_frame_alloc();
        m_packet = av_packet_alloc();
    }
    ~Decoder()
    {
        sws_freeContext(m_sws);
        av_packet_free(&m_packet);
        av_frame_free(&m_frame);
        avcodec_free_context(&m_ctx);
    }
    bool ok() const { return m_ok; }

    // Decodes one coded frame; returns the pictures it gave (nullptr bytes: flush).
    QList<Decoded> decode(const QByteArray* bytes)
    {
        QList<Decoded> out;
        if (bytes) {
            av_packet_unref(m_packet);
            if (av_new_packet(m_packet, int(bytes->size())) < 0)
                return out;
            memcpy(m_packet->data, bytes->constData(), size_t(bytes->size()));
            if (avcodec_send_packet(m_ctx, m_packet) < 0)
                return out;
        } else {
            avcodec_send_packet(m_ctx, nullptr);
        }
        while (avcodec_receive_frame(m_ctx, m_frame) >= 0) {
            out.append({to_image(m_frame), m_frame->key_frame != 0});
            av_frame_unref(m_frame);
        }
        return out;
    }

    QImage to_image(const AVFrame* f)
    {
        QImage image(f->width, f->height, QImage::Format_RGB32);
        m_sws = sws_getCachedContext(m_sws, f->width, f->height, AVPixelFormat(f->format), f->width, f->height,
                                     AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
        uint8_t* dst[4] = {image.bits(), nullptr, nullptr, nullptr};
        int stride[4] = {int(image.bytesPerLine()), 0, 0, 0};
        sws_scale(m_sws, f->data, f->linesize, 0, f->height, dst, stride);
        return image;
    }

private:
    AVCodecContext* m_ctx = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    SwsContext* m_sws = nullptr;
    bool m_ok = false;
};

AVCodecID codec_id(Codec c)
{
    switch (c) {
    case Codec::H264: return AV_CODEC_ID_H264;
    case Codec::H265: return AV_CODEC_ID_HEVC;
    case Codec::MJPEG: return AV_CODEC_ID_MJPEG;
    case Codec::MPEG4: return AV_CODEC_ID_MPEG4;
    }
    return AV_CODEC_ID_NONE;
}

const char* raw_demuxer(Codec c)
{
    switch (c) {
    case Codec::H264: return "h264";
    case Codec::H265: return "hevc";
    case Codec::MJPEG: return "mjpeg";
    case Codec::MPEG4: return "m4v";
    }
    return "";
}

// What `ffprobe -f <raw demuxer>` sees: the data file opened as a raw
// elementary stream, split by FFmpeg's own parser and decoded.
int count_frames_as_raw_stream(const QString& path, Codec c, QSize* size)
{
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, QFile::encodeName(path).constData(), av_find_input_format(raw_demuxer(c)), nullptr) <
        0)
        return -1;
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> guard(fmt, [](AVFormatContext* p) {
        avformat_close_input(&p);
    });
    if (avformat_find_stream_info(fmt, nullptr) < 0 || fmt->nb_streams != 1)
        return -1;
    Decoder dec(fmt->streams[0]->codecpar->codec_id);
    if (!dec.ok())
        return -1;
    int frames = 0;
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(fmt, pkt) >= 0) {
        const QByteArray bytes(reinterpret_cast<const char*>(pkt->data), pkt->size);
        for (const Decoded& d : dec.decode(&bytes)) {
            *size = d.image.size();
            ++frames;
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    frames += int(dec.decode(nullptr).size());
    return frames;
}

QString ts(const QDate& d, int h, int m, int s, int ms)
{
    return QString::asprintf("%04d%02d%02d%02d%02d%02d%03d", d.year(), d.month(), d.day(), h, m, s, ms);
}

} // namespace

class TestZqFixture : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { av_log_set_level(AV_LOG_QUIET); }

    void recordings_decode_as_their_seek_index_says_data();
    void recordings_decode_as_their_seek_index_says();
    void folder_layout();
    void damage_data();
    void damage();
    void stamps_data();
    void stamps();
    void refused_options_data();
    void refused_options();
    void pattern_rejects_other_pictures();
    void command_line_data();
    void command_line();
};

void TestZqFixture::recordings_decode_as_their_seek_index_says_data()
{
    QTest::addColumn<Codec>("codec");
    QTest::addColumn<QString>("codec_text");
    QTest::addColumn<bool>("second_stream");
    QTest::addColumn<int>("gop");

    QTest::newRow("h264") << Codec::H264 << "frame/h264" << false << 10;
    QTest::newRow("h265") << Codec::H265 << "frame/h265" << false << 12;
    QTest::newRow("mjpeg") << Codec::MJPEG << "frame/jpeg" << false << 10;
    QTest::newRow("mpeg4") << Codec::MPEG4 << "frame/MPEG4" << false << 7;
    QTest::newRow("h264 with video2") << Codec::H264 << "frame/h264" << true << 10;
    QTest::newRow("mpeg4 with video2") << Codec::MPEG4 << "frame/MPEG4" << true << 10;
}

// Frame count, sizes, offsets, keyframe flags and timestamps in the seek index
// against what FFmpeg decodes from the data file, packet by packet as the
// players read it, and the picture of each frame against its line.
void TestZqFixture::recordings_decode_as_their_seek_index_says()
{
    QFETCH(Codec, codec);
    QFETCH(QString, codec_text);
    QFETCH(bool, second_stream);
    QFETCH(int, gop);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Options o;
    o.output_parent = dir.path();
    o.cameras = {42};
    o.dates = {QDate(2024, 3, 5)};
    o.start_time = QTime(10, 15, 30);
    o.seconds_per_recording = 2;
    o.fps = 15;
    o.gop = gop;
    o.codec = codec;
    o.second_stream = second_stream;
    o.size = QSize(320, 240);
    const Result r = write(o);
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(r.files.size(), 1);
    const WrittenFile& file = r.files.first();
    const int n = 30;
    QCOMPARE(file.frame_count, n);
    QCOMPARE(file.second_stream_frames, second_stream ? n : 0);

    QString error;
    const QList<SeekLine> lines = read_seek_index(file.seek_path, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(lines.size(), second_stream ? 2 * n : n);

    QFile data(file.data_path);
    QVERIFY(data.open(QIODevice::ReadOnly));
    // Nothing before, between or after the frames.
    QCOMPARE(data.size(), lines.last().offset + lines.last().bytes);
    QCOMPARE(file.data_size, data.size());
    QCOMPARE(file.first_timestamp, ts(o.dates.first(), 10, 15, 30, 0));
    QCOMPARE(file.last_timestamp, ts(o.dates.first(), 10, 15, 31, 933));

    Decoder decoders[2] = {Decoder(codec_id(codec)), Decoder(codec_id(codec))};
    QVERIFY(decoders[0].ok() && decoders[1].ok());
    int seen[2] = {0, 0};
    for (int i = 0; i < lines.size(); ++i) {
        const SeekLine& l = lines[i];
        // "video2" lines follow their "video1" line, same time.
        const int stream = second_stream ? 1 + i % 2 : 1;
        QCOMPARE(l.stream, stream);
        const int index = seen[stream - 1]++;
        QCOMPARE(l.codec, codec_text);
        QCOMPARE(l.size, stream == 1 ? QSize(320, 240) : QSize(160, 120));
        QCOMPARE(l.timestamp, ts(o.dates.first(), 10, 15, 30 + index * 1000 / 15 / 1000, index * 1000 / 15 % 1000));
        QCOMPARE(l.key, codec == Codec::MJPEG || index % gop == 0);
        QCOMPARE(file.frames[i].offset, l.offset);

        QVERIFY(data.seek(l.offset));
        const QByteArray bytes = data.read(l.bytes);
        QCOMPARE(bytes.size(), l.bytes);
        // One picture per coded frame, straight away: the players hand
        // frames to the decoder one at a time.
        const QList<Decoded> pictures = decoders[stream - 1].decode(&bytes);
        QCOMPARE(pictures.size(), 1);
        const Decoded& p = pictures.first();
        QCOMPARE(p.image.size(), l.size);
        QCOMPARE(p.key, l.key);

        const PatternValue v = read_pattern(p.image);
        QVERIFY2(v.valid, qPrintable(QStringLiteral("line %1").arg(i)));
        QCOMPARE(v.camera, 42);
        QCOMPARE(v.stream, stream);
        QCOMPARE(v.frame_index, index);
        QCOMPARE(QString(timestamp_text(o.dates.first(), v.time_ms())), l.timestamp);
        if (i == 0) {
            // Still readable after the display scales the picture.
            for (const QSize& s : {QSize(160, 120), QSize(1280, 720)}) {
                const PatternValue scaled =
                    read_pattern(p.image.scaled(s, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
                QVERIFY(scaled.valid);
                QCOMPARE(scaled.frame_index, 0);
                QCOMPARE(scaled.camera, 42);
            }
        }
    }
    QVERIFY(decoders[0].decode(nullptr).isEmpty());

    // A player that seeks starts a fresh decoder on a later keyframe: the
    // parameter sets must come with every keyframe, not only the first.
    {
        const int line = second_stream ? 2 * gop : gop;
        QVERIFY(lines[line].key);
        Decoder fresh(codec_id(codec));
        QVERIFY(data.seek(lines[line].offset));
        const QByteArray bytes = data.read(lines[line].bytes);
        const QList<Decoded> pictures = fresh.decode(&bytes);
        QCOMPARE(pictures.size(), 1);
        QCOMPARE(read_pattern(pictures.first().image).frame_index, gop);
    }

    if (!second_stream) {
        // The data file is a plain elementary stream that FFmpeg's raw
        // demuxer splits into the same frames.
        QSize size;
        QCOMPARE(count_frames_as_raw_stream(file.data_path, codec, &size), n);
        QCOMPARE(size, QSize(320, 240));
    }
}

void TestZqFixture::folder_layout()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Options o;
    o.output_parent = dir.path();
    o.root_id = QStringLiteral("zqcore_00ff-1a2b-3c4d-5e6f");
    o.cameras = {12, 3};
    o.dates = {QDate(2024, 1, 2), QDate(2023, 12, 31)};
    o.start_time = QTime(23, 59, 50);
    o.recordings_per_camera = 2;
    o.seconds_per_recording = 1;
    o.gap_seconds = 3;
    o.fps = 5;
    o.gop = 5;
    o.codec = Codec::MJPEG;
    const Result r = write(o);
    QVERIFY2(r.ok, qPrintable(r.error));

    const QString root = QDir(dir.path()).absoluteFilePath(QStringLiteral("zqcore_00ff-1a2b-3c4d-5e6f"));
    QCOMPARE(r.root_path, root);
    QCOMPARE(r.day_folders, QStringList({root + "/2023-12-31", root + "/2024-01-02"}));

    // Sorted by day, start time, camera; start-time folders in the day
    // folder; names <camera>_<yyyyMMdd>_<HHmmss>.
    const QStringList expected = {
        "2023-12-31/235950/3_20231231_235950",  "2023-12-31/235950/12_20231231_235950",
        "2023-12-31/235954/3_20231231_235954",  "2023-12-31/235954/12_20231231_235954",
        "2024-01-02/235950/3_20240102_235950",  "2024-01-02/235950/12_20240102_235950",
        "2024-01-02/235954/3_20240102_235954",  "2024-01-02/235954/12_20240102_235954",
    };
    QCOMPARE(r.files.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        QCOMPARE(r.files[i].data_path, root + "/" + expected[i] + ".zqvideo");
        QCOMPARE(r.files[i].seek_path, root + "/" + expected[i] + ".zqseek");
        QVERIFY(QFileInfo(r.files[i].data_path).size() > 0);
        QCOMPARE(r.files[i].frame_count, 5);
    }
    QCOMPARE(r.files[7].first_timestamp, QStringLiteral("20240102235954000"));
    QCOMPARE(r.files[7].last_timestamp, QStringLiteral("20240102235954800"));

    // Nothing else in the tree.
    QStringList all;
    QDirIterator it(root, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        all << QDir(root).relativeFilePath(it.next());
    QCOMPARE(all.size(), 2 + 4 + 16);
}

void TestZqFixture::damage_data()
{
    QTest::addColumn<Codec>("codec");
    QTest::addColumn<int>("corrupt_frame");
    QTest::addColumn<bool>("truncate");
    QTest::addColumn<int>("outage_frame");

    QTest::newRow("h264 corrupt keyframe") << Codec::H264 << 0 << false << -1;
    QTest::newRow("mjpeg corrupt frame") << Codec::MJPEG << 3 << false << -1;
    QTest::newRow("h264 truncated") << Codec::H264 << -1 << true << -1;
    QTest::newRow("h264 outage from frame 4") << Codec::H264 << -1 << false << 4;
}

// Damage lands on the chosen recording only, and the seek index still
// describes the undamaged frames, as a recording cut off by a crash would.
// An outage moves the stamps of the frames after it, in the index and on the
// painted clock, and nothing else.
void TestZqFixture::damage()
{
    QFETCH(Codec, codec);
    QFETCH(int, corrupt_frame);
    QFETCH(bool, truncate);
    QFETCH(int, outage_frame);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Options o;
    o.output_parent = dir.path();
    o.cameras = {1, 2};
    o.seconds_per_recording = 1;
    o.fps = 10;
    o.gop = 5;
    o.codec = codec;
    o.corrupt_frame = corrupt_frame;
    o.truncate = truncate;
    o.outage_frame = outage_frame;
    o.outage_seconds = 7;
    o.damaged_recording = 1;
    const Result r = write(o);
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(r.files.size(), 2);

    for (int i = 0; i < 2; ++i) {
        const WrittenFile& file = r.files[i];
        const bool damaged = i == 1;
        QString error;
        const QList<SeekLine> lines = read_seek_index(file.seek_path, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(lines.size(), 10);
        const qint64 described = lines.last().offset + lines.last().bytes;
        const qint64 on_disk = QFileInfo(file.data_path).size();
        QCOMPARE(file.truncated, damaged && truncate);
        QCOMPARE(on_disk, file.truncated ? described - lines.last().bytes + lines.last().bytes / 2 : described);
        QCOMPARE(file.corrupted_frame, damaged ? corrupt_frame : -1);
        for (int k = 0; k < lines.size(); ++k) {
            const bool later = damaged && outage_frame >= 0 && k >= outage_frame;
            const QString want = timestamp_text(o.dates.first(), 8 * 3600000 + k * 100 + (later ? 7000 : 0));
            QCOMPARE(lines[k].timestamp, want);
            QCOMPARE(timestamp_text(file.date, file.frames[k].time_ms), want);
        }

        QFile data(file.data_path);
        QVERIFY(data.open(QIODevice::ReadOnly));
        Decoder dec(codec_id(codec));
        for (int k = 0; k < lines.size(); ++k) {
            QVERIFY(data.seek(lines[k].offset));
            const QByteArray bytes = data.read(lines[k].bytes);
            const bool cut = file.truncated && k == lines.size() - 1;
            QCOMPARE(bytes.size() < lines[k].bytes, cut);
            if (cut)
                break;
            const QList<Decoded> pictures = dec.decode(&bytes);
            const bool readable = pictures.size() == 1 && read_pattern(pictures.first().image).frame_index == k;
            if (k == file.corrupted_frame)
                QVERIFY2(!readable, "a corrupt frame still decodes to its picture");
            else if (file.corrupted_frame < 0 || k < file.corrupted_frame)
                QVERIFY2(readable, qPrintable(QStringLiteral("frame %1").arg(k)));
        }
    }
}

void TestZqFixture::stamps_data()
{
    QTest::addColumn<int>("fps");
    QTest::addColumn<double>("period");
    QTest::addColumn<bool>("rounded");
    QTest::addColumn<int>("count");      // frames of a two-second recording
    QTest::addColumn<QList<int>>("at");  // frame indexes
    QTest::addColumn<QList<int>>("ms");  // their stamps after the start

    QTest::newRow("30 fps cut") << 30 << 0.0 << false << 60 << QList<int>{1, 2, 3, 59} << QList<int>{33, 66, 100, 1966};
    QTest::newRow("30 fps rounded") << 30 << 0.0 << true << 60 << QList<int>{1, 2, 3, 59} << QList<int>{33, 67, 100, 1967};
    QTest::newRow("12.5 fps") << 12 << 80.0 << false << 25 << QList<int>{1, 24} << QList<int>{80, 1920};
    QTest::newRow("25 fps, clock 0.04 % slow") << 25 << 40.016 << false << 50 << QList<int>{1, 25, 49}
                                               << QList<int>{40, 1000, 1960};
    QTest::newRow("rounded period") << 25 << 40.6 << true << 50 << QList<int>{1, 2, 49} << QList<int>{41, 81, 1989};
}

// Stamps as cameras write them: cut or rounded to the millisecond, at a
// period that is not a whole number of milliseconds.
void TestZqFixture::stamps()
{
    QFETCH(int, fps);
    QFETCH(double, period);
    QFETCH(bool, rounded);
    QFETCH(int, count);
    QFETCH(QList<int>, at);
    QFETCH(QList<int>, ms);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Options o;
    o.output_parent = dir.path();
    o.seconds_per_recording = 2;
    o.size = QSize(32, 32);
    o.fps = fps;
    o.gop = 10;
    o.stamp_period_ms = period;
    o.round_stamps = rounded;
    o.threads = 1;
    const Result r = write(o);
    QVERIFY2(r.ok, qPrintable(r.error));
    const WrittenFile& file = r.files.first();
    QCOMPARE(file.frame_count, count);
    QString error;
    const QList<SeekLine> lines = read_seek_index(file.seek_path, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(lines.size(), count);
    const qint64 start = o.start_time.msecsSinceStartOfDay();
    for (int k = 0; k < at.size(); ++k) {
        QCOMPARE(file.frames[at[k]].time_ms - start, qint64(ms[k]));
        QCOMPARE(lines[at[k]].timestamp, timestamp_text(o.dates.first(), start + ms[k]));
    }
}

void TestZqFixture::refused_options_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");

    QTest::newRow("root id too short") << "root" << "zqcore_0a1b-2c3d-4e5f-678";
    QTest::newRow("root id not hex") << "root" << "zqcore_0a1b-2c3d-4e5f-678g";
    QTest::newRow("odd width") << "size" << "321x240";
    QTest::newRow("past midnight") << "start" << "23:59:59 for 2 s";
    QTest::newRow("corrupt frame beyond the end") << "corrupt" << "25";
    QTest::newRow("damaged recording missing") << "damaged" << "1";
    QTest::newRow("outage after the last frame") << "outage" << "25";
    QTest::newRow("outage of no length") << "outage-seconds" << "0";
    QTest::newRow("stamp period under a millisecond") << "stamp-period" << "0.5";
    QTest::newRow("stamp period not a number") << "stamp-period" << "nan";
}

// A bad request fails with a message and writes nothing, rather than leaving
// a half-made folder that a test would take for a fixture.
void TestZqFixture::refused_options()
{
    QFETCH(QString, field);
    QFETCH(QString, value);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Options o;
    o.output_parent = dir.path();
    o.seconds_per_recording = 1;
    if (field == "root")
        o.root_id = value;
    else if (field == "size")
        o.size = QSize(value.section('x', 0, 0).toInt(), value.section('x', 1, 1).toInt());
    else if (field == "start") {
        o.start_time = QTime(23, 59, 59);
        o.seconds_per_recording = 2;
    }
    else if (field == "corrupt")
        o.corrupt_frame = value.toInt();
    else if (field == "damaged") {
        o.truncate = true;
        o.damaged_recording = value.toInt();
    }
    else if (field == "outage") {
        o.outage_frame = value.toInt();
        o.outage_seconds = 5;
    }
    else if (field == "stamp-period")
        o.stamp_period_ms = value == "nan" ? qQNaN() : value.toDouble();
    else if (field == "outage-seconds") {
        o.outage_frame = 3;
        o.outage_seconds = value.toInt();
    }
    const Result r = write(o);
    QVERIFY(!r.ok);
    QVERIFY(!r.error.isEmpty());
    QVERIFY(QDir(dir.path()).isEmpty());
}

void TestZqFixture::pattern_rejects_other_pictures()
{
    QImage black(320, 240, QImage::Format_RGB32);
    black.fill(Qt::black);
    QVERIFY(!read_pattern(black).valid);
    QImage grey(320, 240, QImage::Format_RGB32);
    grey.fill(QColor(128, 128, 128));
    QVERIFY(!read_pattern(grey).valid);
    QVERIFY(!read_pattern(QImage()).valid);
}

void TestZqFixture::command_line_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("ok");

    QTest::newRow("two cameras, second stream")
        << QStringList{"--root-id", "1234-abcd-0000-ffff", "--date", "2024-02-29", "--cameras", "5,6", "--start",
                       "120000", "--minutes", "2", "--seconds-per-file", "1", "--gap-seconds", "2", "--size", "64x48",
                       "--fps", "5", "--gop", "5", "--codec", "mpeg4", "--second-stream"}
        << true;
    QTest::newRow("unknown codec") << QStringList{"--codec", "vp8"} << false;
    QTest::newRow("impossible date") << QStringList{"--date", "2023-02-29"} << false;
    QTest::newRow("bad start") << QStringList{"--start", "126000"} << false;
    QTest::newRow("stamp period under a millisecond") << QStringList{"--stamp-period", "0.5", "--round-stamps"} << false;
}

void TestZqFixture::command_line()
{
    QFETCH(QStringList, args);
    QFETCH(bool, ok);

    const QString tool = qEnvironmentVariable("ZQ_FIXTURE_TOOL");
    if (tool.isEmpty())
        QSKIP("ZQ_FIXTURE_TOOL is not set");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QProcess p;
    p.start(tool, QStringList{"--out", dir.path()} + args);
    QVERIFY(p.waitForFinished(120000));
    const QString out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode() == 0, ok);
    if (!ok) {
        QVERIFY(err.contains(QLatin1String("zqfixture: ")));
        QVERIFY(out.isEmpty());
        return;
    }
    const QString root = QDir(dir.path()).absoluteFilePath(QStringLiteral("zqcore_1234-abcd-0000-ffff"));
    QCOMPARE(out, root);
    for (const char* name : {"2024-02-29/120000/5_20240229_120000", "2024-02-29/120000/6_20240229_120000",
                             "2024-02-29/120003/5_20240229_120003", "2024-02-29/120003/6_20240229_120003"}) {
        QString error;
        const QList<SeekLine> lines = read_seek_index(root + "/" + name + ".zqseek", &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(lines.size(), 10);
        QCOMPARE(lines[1].stream, 2);
        QCOMPARE(lines[1].size, QSize(32, 24));
        QCOMPARE(QFileInfo(root + "/" + name + ".zqvideo").size(), lines.last().offset + lines.last().bytes);
    }
}

QTEST_GUILESS_MAIN(TestZqFixture)
#include "test_zqfixture.moc"
