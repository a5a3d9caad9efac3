#include "recordings/seek_index.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

// Seek indexes are written here as small text files; every case says what a
// wrong parser would get wrong.
class TestSeekIndex : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_count = 0;

    QString write(const QByteArray& text, const QString& name = QString())
    {
        const QString file = name.isEmpty() ? QStringLiteral("12_20240101_%1.zqseek").arg(++m_count, 6, 10, QLatin1Char('0')) : name;
        const QString path = QDir(m_dir.path()).filePath(file);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        f.write(text);
        return path;
    }

    static QList<qint64> offsets(const QList<ZQFrame>& frames)
    {
        QList<qint64> r;
        for (const ZQFrame& f : frames)
            r << f.get_offset();
        return r;
    }

private slots:
    void initTestCase()
    {
        // Times inside a daylight-saving gap must still count.
        qputenv("TZ", "Europe/Paris");
        QVERIFY(m_dir.isValid());
    }

    // Offsets run over every line with a valid timestamp, whatever its stream;
    // malformed lines take no place in the data file; the stream filter is an
    // equality ("1" must not take "11").
    void offsets_and_filter_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("stream");
        QTest::addColumn<QList<qint64>>("expectedOffsets");
        QTest::addColumn<QStringList>("streams");

        const QByteArray mixed = "20240101083000000:video1:frame/h264:1920x1080:1:100\n"
                                 "20240101083000040:video2:frame/h264:640x360:1:250\n"
                                 "garbage line without fields\n"
                                 "2024010108300008x:video1:frame/h264:1920x1080:0:999\n"
                                 "20240101083000080:video11:frame/h264:1920x1080:0:30\n"
                                 "20240101083000120:video1:frame/h264:1920x1080:0:75\n";
        QTest::newRow("stream 1") << mixed << "1" << QList<qint64>{0, 380} << QStringList{"1", "2", "11"};
        QTest::newRow("stream 2") << mixed << "2" << QList<qint64>{100} << QStringList{"1", "2", "11"};
        QTest::newRow("stream 11") << mixed << "11" << QList<qint64>{350} << QStringList{"1", "2", "11"};
        QTest::newRow("empty request keeps all") << mixed << "" << QList<qint64>{0, 100, 350, 380}
                                                 << QStringList{"1", "2", "11"};
        QTest::newRow("dst gap time is valid")
            << QByteArray("20240331023000000:video1:frame/h264:1x1:1:10\n20240331023000040:video1:frame/h264:1x1:0:5\n")
            << "1" << QList<qint64>{0, 10} << QStringList{"1"};
        QTest::newRow("impossible dates skipped")
            << QByteArray("20240230083000000:video1:frame/h264:1x1:1:10\n"
                          "20240101246000000:video1:frame/h264:1x1:1:20\n"
                          "20240101083000000:video1:frame/h264:1x1:1:30\n")
            << "1" << QList<qint64>{0} << QStringList{"1"};
        QTest::newRow("crlf and blank lines")
            << QByteArray("\r\n20240101083000000:video1:frame/h264:1x1:1:100\r\n\r\n   \n"
                          "20240101083000040:video1:frame/h264:1x1:0:250\r\n")
            << "1" << QList<qint64>{0, 100} << QStringList{"1"};
        QTest::newRow("last line without line feed")
            << QByteArray("20240101083000000:video1:frame/h264:1x1:1:100\n20240101083000040:video1:frame/h264:1x1:0:5")
            << "1" << QList<qint64>{0, 100} << QStringList{"1"};
        QTest::newRow("bad sizes never decrease the offset")
            << QByteArray("20240101083000000:video1:frame/h264:1x1:1:-100\n"
                          "20240101083000040:video1:frame/h264:1x1:0:abc\n"
                          "20240101083000080:video1:frame/h264:1x1:0:99999999999999999999\n"
                          "20240101083000120:video1:frame/h264:1x1:0:7\n"
                          "20240101083000160:video1:frame/h264:1x1:0:1\n")
            << "1" << QList<qint64>{0, 0, 0, 0, 7} << QStringList{"1"};
        QTest::newRow("non utf8 bytes")
            << QByteArray("20240101083000000:video1:frame/h264:\xff\xfe:1:10\n\xc3\x28:\xff\n"
                          "20240101083000040:video1:frame/h264:1x1:0:5\n")
            << "1" << QList<qint64>{0, 10} << QStringList{"1"};
        // The stream is the token with every "video" taken out, wherever it stands.
        const QByteArray tokens = "20240101083000000:videovideo1:frame/h264:1x1:1:10\n"
                                  "20240101083000040:1video:frame/h264:1x1:0:20\n"
                                  "20240101083000080:vivideodeo1:frame/h264:1x1:0:40\n"
                                  "20240101083000120:video:frame/h264:1x1:0:80\n"
                                  "20240101083000160:video1:frame/h264:1x1:0:5\n";
        QTest::newRow("token forms, stream 1") << tokens << "1" << QList<qint64>{0, 10, 150}
                                               << QStringList{"1", "video1"};
        QTest::newRow("token forms, stream video1") << tokens << "video1" << QList<qint64>{30}
                                                    << QStringList{"1", "video1"};
        // A token that is not UTF-8 names the stream its text reads, replacement characters
        // included.
        QTest::newRow("stream token not utf8")
            << QByteArray("20240101083000000:\xd6" "1:frame/h264:1x1:1:10\n"
                          "20240101083000040:video1:frame/h264:1x1:0:5\n")
            << QString::fromUtf8("\xef\xbf\xbd" "1") << QList<qint64>{0}
            << QStringList{QString::fromUtf8("\xef\xbf\xbd" "1"), QStringLiteral("1")};
        QTest::newRow("offsets past 2 GiB")
            << QByteArray("20240101083000000:video1:frame/h265:3840x2160:1:2147483000\n"
                          "20240101083000040:video1:frame/h265:3840x2160:0:3000\n"
                          "20240101083000080:video1:frame/h265:3840x2160:0:3000\n")
            << "1" << QList<qint64>{0, 2147483000, 2147486000} << QStringList{"1"};
    }

    void offsets_and_filter()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, stream);
        QFETCH(QList<qint64>, expectedOffsets);
        QFETCH(QStringList, streams);

        SeekIndexOptions options;
        options.stream = stream;
        SeekIndexResult result;
        const QList<ZQFrame> frames = parse_seek_index(write(text), options, &result);
        QVERIFY(result.opened);
        QCOMPARE(offsets(frames), expectedOffsets);
        QCOMPARE(result.streams, streams);
        for (const ZQFrame& f : frames) {
            QCOMPARE(f.get_in_range(), 1);
            QCOMPARE(f.get_kind(), QStringLiteral("video"));
            if (!stream.isEmpty())
                QCOMPARE(f.get_stream(), stream);
        }
    }

    // Too long, too short and oversized-across-chunks lines.
    void line_limits()
    {
        QByteArray text = "20240101083000000:video1:frame/h264:1x1:1:10\n";
        text += "20240101083000040:video1:frame/h264:" + QByteArray(480, 'x') + ":0:1000\n"; // over 511 bytes
        text += "20240101083000080:video1:frame/h264:" + QByteArray(450, 'x') + ":0:20\n";   // just under
        text += "20240101083000120:video1\n";                                                 // short line
        text += "20240101083000160:video1:frame/h264:1x1:0:30\n";
        SeekIndexOptions options;
        SeekIndexResult result;
        const QList<ZQFrame> frames = parse_seek_index(write(text), options, &result);
        QCOMPARE(frames.size(), 4);
        QCOMPARE(offsets(frames), (QList<qint64>{0, 10, 30, 30}));
        QCOMPARE(frames.at(1).get_extra().size(), 450);
        // A line with too few fields keeps its time but has no stream and no size.
        QCOMPARE(frames.at(2).get_timestamp(), QStringLiteral("20240101083000120"));
        QVERIFY(frames.at(2).get_stream().isEmpty());
        QVERIFY(frames.at(2).get_codec().isEmpty());
        QCOMPARE(frames.at(2).get_size(), qint64(0));
        QCOMPARE(result.skippedLines, qint64(1));

        // With a stream requested the short line is left out.
        options.stream = QStringLiteral("1");
        QCOMPARE(parse_seek_index(write(text), options).size(), 3);
    }

    // A large index crosses the reader's chunk boundaries in the middle of lines.
    void long_file_streams_across_chunks()
    {
        QByteArray text;
        qint64 expected = 0;
        const int lines = 20000;
        for (int i = 0; i < lines; ++i) {
            const int ms = i * 40;
            const QByteArray stamp = QByteArray("20240101") + QByteArray::number(80000000 + (ms / 1000 % 60) * 1000 + ms % 1000 + (ms / 60000) * 100000).rightJustified(9, '0');
            text += stamp + ":video1:frame/h264:1920x1080:" + (i % 50 == 0 ? "1" : "0") + ":" + QByteArray::number(1000 + i % 777) + "\n";
            if (i < lines - 1)
                expected += 1000 + i % 777;
        }
        QVERIFY(text.size() > 3 * 256 * 1024);
        SeekIndexOptions options;
        options.stream = QStringLiteral("1");
        SeekIndexResult result;
        const QList<ZQFrame> frames = parse_seek_index(write(text), options, &result);
        QCOMPARE(frames.size(), lines);
        QCOMPARE(frames.last().get_offset(), expected);
        QCOMPARE(result.skippedLines, qint64(0));
        int keyframes = 0;
        for (const ZQFrame& f : frames)
            keyframes += f.keyframe_starts_with_one();
        QCOMPARE(keyframes, lines / 50);
    }

    void companions_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("seek");
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("camera");

        QTest::newRow("seek") << "/s/2024-01-01/083000/12_20240101_083000.zqseek"
                              << "/s/2024-01-01/083000/12_20240101_083000.zqseek"
                              << "/s/2024-01-01/083000/12_20240101_083000.zqvideo" << "video" << "12";
        QTest::newRow("video") << "/s/12_20240101_083000.zqvideo" << "/s/12_20240101_083000.zqseek"
                               << "/s/12_20240101_083000.zqvideo" << "video" << "12";
        QTest::newRow("audio seek") << "/s/cam.zqaudioseek" << "/s/cam.zqaudioseek" << "/s/cam.zqaudio" << "audio"
                                    << "cam.zqaudioseek";
        QTest::newRow("audio") << "/s/7_20240101_083000.zqaudio" << "/s/7_20240101_083000.zqaudioseek"
                               << "/s/7_20240101_083000.zqaudio" << "audio" << "7";
        // Only the suffix changes, never a folder that holds the word.
        QTest::newRow("folder named zqvideo") << "/data/my.zqvideo/zqvideo_zqseek/3_x.zqseek"
                                              << "/data/my.zqvideo/zqvideo_zqseek/3_x.zqseek"
                                              << "/data/my.zqvideo/zqvideo_zqseek/3_x.zqvideo" << "video" << "3";
        QTest::newRow("unknown") << "/data/my.zqvideo/file.txt" << "" << "" << "" << "";
        QTest::newRow("no suffix") << "/data/a.zqseek/file" << "" << "" << "" << "";
    }

    void companions()
    {
        QFETCH(QString, path);
        QFETCH(QString, seek);
        QFETCH(QString, data);
        QFETCH(QString, kind);
        QFETCH(QString, camera);
        const SeekCompanions c = seek_index_companions(path);
        QCOMPARE(c.seekPath, seek);
        QCOMPARE(c.dataFile, data);
        QCOMPARE(c.kind, kind);
        if (c.valid())
            QCOMPARE(seek_index_camera_id(c.seekPath), camera);
    }

    // Spacings that an index of one stream can show, in milliseconds.
    void typical_spacing_data()
    {
        QTest::addColumn<QList<qint64>>("spacings");
        QTest::addColumn<double>("typical");
        QTest::newRow("even") << QList<qint64>{40, 40, 40} << 40.0;
        QTest::newRow("cut to the millisecond") << QList<qint64>{33, 33, 34, 33, 33, 34} << 100.0 / 3;
        QTest::newRow("one outage") << QList<qint64>{40, 40, 20040, 40, 40} << 40.0;
        QTest::newRow("an outage among two spacings") << QList<qint64>{40, 20040, 40} << 40.0;
        QTest::newRow("one short") << QList<qint64>{40, 1, 40, 40} << 40.0;
        // Pictures stamped alike in bunches: the mean of every spacing.
        QTest::newRow("mostly alike") << QList<qint64>{0, 0, 0, 1000, 0, 0, 0, 1000} << 250.0;
        QTest::newRow("all alike") << QList<qint64>{0, 0} << -1.0;
        QTest::newRow("none") << QList<qint64>{} << -1.0;
    }

    void typical_spacing()
    {
        QFETCH(QList<qint64>, spacings);
        QFETCH(double, typical);
        QVERIFY2(qAbs(::typical_spacing(spacings) - typical) < 1e-9, qPrintable(QString::number(::typical_spacing(spacings))));
    }

    void codec_names_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("decoder");
        QTest::newRow("h264") << "frame/h264" << "libx264";
        QTest::newRow("h265") << "frame/h265" << "hevc";
        QTest::newRow("mpeg4 lower") << "frame/mpeg4" << "mpeg4";
        QTest::newRow("MPEG4 upper") << "frame/MPEG4" << "mpeg4";
        QTest::newRow("jpeg") << "frame/jpeg" << "mjpeg";
        QTest::newRow("aac") << "frame/aac" << "aac";
        QTest::newRow("empty") << "" << "mjpeg";
    }

    // The decoder name is derived in the playback form; the export form keeps
    // the text as written.
    void codec_names()
    {
        QFETCH(QString, text);
        QFETCH(QString, decoder);
        const QByteArray line = "20240101083000000:video1:" + text.toUtf8() + ":1x1:1:10\n";
        const QString path = write(line);
        SeekIndexOptions options;
        QList<ZQFrame> frames = parse_seek_index(path, options);
        QCOMPARE(frames.size(), 1);
        QCOMPARE(frames.first().get_codec(), decoder);
        options.deriveCodecName = false;
        frames = parse_seek_index(path, options);
        QCOMPARE(frames.first().get_codec(), text);
    }

    void audio_lines()
    {
        const QString path = write("20240101083000000:audio1:aac:300\n20240101083000020:audio1:aac:310\n",
                                   QStringLiteral("5_20240101_083000.zqaudioseek"));
        SeekIndexOptions options;
        options.stream = QStringLiteral("1");
        SeekIndexResult result;
        const QList<ZQFrame> frames = parse_seek_index(path, options, &result);
        QCOMPARE(frames.size(), 2);
        QCOMPARE(frames.at(1).get_offset(), qint64(300));
        QCOMPARE(frames.at(1).get_size(), qint64(310));
        QCOMPARE(frames.at(0).get_kind(), QStringLiteral("audio"));
        QCOMPARE(frames.at(0).get_codec(), QStringLiteral("aac"));
        QCOMPARE(frames.at(0).get_data_file(), result.dataFile);
        QVERIFY(result.dataFile.endsWith(QLatin1String(".zqaudio")));
        QCOMPARE(result.streamTokens, QStringList{"audio1"});
    }

    // The stream the file holds is reported when the requested one is absent.
    void detected_stream()
    {
        const QString path = write("20240101083000000:video2:frame/h264:1x1:1:10\n"
                                   "20240101083000040:video3:frame/h264:1x1:1:10\n");
        SeekIndexOptions options;
        options.stream = QStringLiteral("1");
        SeekIndexResult result;
        QVERIFY(parse_seek_index(path, options, &result).isEmpty());
        QCOMPARE(result.detectedStream, QStringLiteral("2"));
        QCOMPARE(result.streamTokens, (QStringList{"video2", "video3"}));
        options.stream = QStringLiteral("3");
        QCOMPARE(parse_seek_index(path, options, &result).size(), 1);
        QVERIFY(result.detectedStream.isEmpty());

        // Missing file and empty file.
        QVERIFY(parse_seek_index(QDir(m_dir.path()).filePath("9_missing.zqseek"), options, &result).isEmpty());
        QVERIFY(!result.opened);
        QVERIFY(parse_seek_index(write(""), options, &result).isEmpty());
        QVERIFY(result.opened);
        QVERIFY(result.detectedStream.isEmpty());
        // A pipe named like a seek index is not opened (that would wait for a writer).
        const QString pipe = QDir(m_dir.path()).filePath("9_pipe.zqseek");
        QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        QVERIFY(parse_seek_index(pipe, options, &result).isEmpty());
        QVERIFY(!result.opened);
    }

    void camera_names()
    {
        const QByteArray line = "20240101083000000:video1:frame/h264:1x1:1:10\n";
        QHash<int, QString> cameras{{12, QStringLiteral("Entrance")}};
        SeekIndexOptions options;
        options.cameras = &cameras;
        QCOMPARE(parse_seek_index(write(line), options).first().get_camera_name(), QStringLiteral("Entrance"));
        QCOMPARE(parse_seek_index(write(line, "13_20240101_083000.zqseek"), options).first().get_camera_name(),
                 QStringLiteral("CAMERA 13"));
        options.cameras = nullptr;
        QCOMPARE(parse_seek_index(write(line, "12_20240101_090000.zqseek"), options).first().get_camera_name(),
                 QStringLiteral("CAMERA 12"));
    }

    // The export form's window: in range from the first entry inside it up to
    // the first one at or after its end (included); the state carries over to
    // the next file of the same export.
    void time_window()
    {
        const QString first = write("20240101095959960:video1:frame/h264:1x1:1:1\n"
                                    "20240101100000000:video1:frame/h264:1x1:0:2\n"
                                    "20240101100009960:video1:frame/h264:1x1:0:4\n"
                                    "20240101100010000:video1:frame/h264:1x1:0:8\n"
                                    "20240101100010040:video1:frame/h264:1x1:0:16\n"
                                    "20240101100005000:video1:frame/h264:1x1:0:32\n"
                                    "20240101100005040:video2:frame/h264:1x1:0:64\n");
        SeekIndexOptions options;
        options.stream = QStringLiteral("1");
        options.deriveCodecName = false;
        options.windowBegin = QStringLiteral("100000");
        options.windowEnd = QStringLiteral("100010");
        bool open = false;
        options.windowOpen = &open;
        QList<ZQFrame> frames = parse_seek_index(first, options);
        QList<qint64> sizes;
        for (const ZQFrame& f : frames)
            sizes << f.get_size();
        QCOMPARE(sizes, (QList<qint64>{2, 4, 8, 32}));
        QVERIFY(open); // the entry back inside the window opened it again

        options.keepAll = true;
        open = false;
        frames = parse_seek_index(first, options);
        QCOMPARE(frames.size(), 7);
        QCOMPARE(frames.at(0).get_in_range(), 0);
        QCOMPARE(frames.at(4).get_in_range(), 0);
        QCOMPARE(frames.at(6).get_offset(), qint64(63));

        // An open window runs on into the next file.
        options.keepAll = false;
        open = true;
        const QString second = write("20240101100009000:video1:frame/h264:1x1:1:1\n"
                                     "20240101100011000:video1:frame/h264:1x1:0:2\n"
                                     "20240101100012000:video1:frame/h264:1x1:0:4\n");
        QCOMPARE(parse_seek_index(second, options).size(), 2);
        QVERIFY(!open);
    }

    void cancel()
    {
        QByteArray text;
        for (int i = 0; i < 1000; ++i)
            text += "20240101083000000:video1:frame/h264:1x1:1:10\n";
        std::atomic<bool> stop{true};
        SeekIndexOptions options;
        options.cancel = &stop;
        SeekIndexResult result;
        QVERIFY(parse_seek_index(write(text), options, &result).isEmpty());
        QVERIFY(result.cancelled);
    }

    // The record keeps what the setters give and shares nothing it should not.
    // Every line with a new stream token: the token lists must stay hashed, or 80,000 tokens take
    // many seconds and a few million lines minutes. The first-seen order is kept.
    void many_stream_tokens()
    {
        const int n = 80000;
        QByteArray text;
        text.reserve(n * 56);
        for (int i = 0; i < n; ++i)
            text += "20240101083000000:video" + QByteArray::number(i) + ":frame/h264:64x48:1:10\n";
        text += "20240101083000000:video7:frame/h264:64x48:1:10\n";
        SeekIndexResult result;
        SeekIndexOptions options;
        options.keepAll = true;
        const QList<ZQFrame> frames = parse_seek_index(write(text), options, &result);
        QCOMPARE(frames.size(), n + 1);
        QCOMPARE(result.streams.size(), n);
        QCOMPARE(result.streamTokens.size(), n);
        QCOMPARE(result.streams.at(12345), QStringLiteral("12345"));
        QCOMPARE(frames.last().get_stream(), QStringLiteral("7"));
        QCOMPARE(frames.last().get_offset(), qint64(n) * 10);
    }

    // One stream asked for in a file naming a new stream on every line: the lines of the others
    // are skipped, their streams listed up to the bound and counted beyond it, and the offsets of
    // the stream asked for still count every line before them.
    void many_streams_one_asked_for()
    {
        const int n = 80000;
        QByteArray text;
        text.reserve(n * 56);
        text += "20240101083000000:video1:frame/h264:64x48:1:10\n";
        for (int i = 2; i < n; ++i)
            text += "20240101083000000:video" + QByteArray::number(i) + ":frame/h264:64x48:0:10\n";
        text += "20240101083001000:video1:frame/h264:64x48:0:10\n";
        SeekIndexOptions options;
        options.stream = QStringLiteral("1");
        SeekIndexResult result;
        const QList<ZQFrame> frames = parse_seek_index(write(text), options, &result);
        QCOMPARE(offsets(frames), (QList<qint64>{0, qint64(n - 1) * 10}));
        QCOMPARE(result.lines, qint64(n));
        QCOMPARE(result.streams.size(), kMaxListedStreams);
        QCOMPARE(result.streams.first(), QStringLiteral("1"));
        QCOMPARE(result.streams.last(), QString::number(kMaxListedStreams));
        QCOMPARE(result.unlistedLines, qint64(n - 1 - kMaxListedStreams));
        QCOMPARE(plausible_stream_ids(result.streams, nullptr).size(), kMaxOfferedStreams);
    }

    // A seek index far larger than any recording's is refused whole, with an error line, rather
    // than parsed into millions of records on the way to playing.
    void oversized_index_refused()
    {
        const QString path = write("20240101083000000:video1:frame/h264:64x48:1:10\n");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.resize(kMaxSeekIndexBytes + 1));
        }
        SeekIndexResult result;
        QVERIFY(parse_seek_index(path, SeekIndexOptions(), &result).isEmpty());
        QVERIFY(result.refused);
        QVERIFY(result.opened);

        // Within the size, more records than any recording holds: refused too. (The requested
        // stream matches none of them, so the test does not hold millions of records.)
        const QByteArray line = "20240101083000000\n";
        QByteArray many;
        many.reserve(line.size() * (kMaxSeekIndexRecords + 1));
        for (qint64 i = 0; i <= kMaxSeekIndexRecords; ++i)
            many += line;
        SeekIndexOptions options;
        options.stream = QStringLiteral("9");
        SeekIndexResult counted;
        QVERIFY(parse_seek_index(write(many), options, &counted).isEmpty());
        QVERIFY(counted.refused);
        // One record fewer is a (strange) index like any other.
        many.chop(line.size());
        SeekIndexResult fine;
        parse_seek_index(write(many), options, &fine);
        QVERIFY(!fine.refused);
        QCOMPARE(fine.lines, kMaxSeekIndexRecords);
    }

    void frame_record()
    {
        ZQFrame a;
        // An empty record has no place in any data file: size and offset -1, not a frame at 0.
        QCOMPARE(a.get_size(), qint64(-1));
        QCOMPARE(a.get_offset(), qint64(-1));
        QVERIFY(a.get_timestamp().isNull());
        QVERIFY(a.get_stream().isNull());
        QCOMPARE(a.time_of_day_ms(), qint64(-1));
        a.set_timestamp(QStringLiteral("20240101083015040"));
        a.set_stream(QStringLiteral("1"));
        ZQFrame b = a;
        b.set_stream(QStringLiteral("2"));
        QCOMPARE(a.get_stream(), QStringLiteral("1"));
        QCOMPARE(b.get_stream(), QStringLiteral("2"));
        QCOMPARE(a.get_timestamp(), QStringLiteral("20240101083015040"));
        QCOMPARE(a.time_of_day_ms(), qint64(((8 * 60 + 30) * 60 + 15) * 1000 + 40));
        QCOMPARE(a.date(), QDate(2024, 1, 1));
        b.set_timestamp(QStringLiteral("not a time"));
        QCOMPARE(b.get_timestamp(), QStringLiteral("not a time"));
        QVERIFY(!b.has_valid_timestamp());
        b.set_timestamp(QStringLiteral("00000000000000000"));
        QCOMPARE(b.get_timestamp(), QStringLiteral("00000000000000000"));
        QVERIFY(!b.has_valid_timestamp());
    }
};

QTEST_GUILESS_MAIN(TestSeekIndex)
#include "test_seek_index.moc"
