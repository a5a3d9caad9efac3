#include "log_capture.h"
#include "recordings/zq_parser_thread.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestParserThread : public QObject
{
    Q_OBJECT

private slots:
    // A pass over real recordings with two video streams, an audio recording, a file that is no
    // recording and one whose seek index is missing or empty: the distinct video tokens in the
    // order first seen, each failure logged and the pass going on.
    void gathersVideoTokens()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        ZQFixture::Options o;
        o.output_parent = dir.path();
        o.cameras = {3};
        o.recordings_per_camera = 2;
        o.seconds_per_recording = 1;
        o.size = QSize(64, 48);
        o.fps = 5;
        o.second_stream = true;
        const ZQFixture::Result r = ZQFixture::write(o);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.files.size(), 2);

        const QString folder = QFileInfo(r.files.first().data_path).absolutePath();
        auto write = [&folder](const QString& name, const QByteArray& data) {
            QFile f(folder + "/" + name);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(data);
        };
        write("3_20240101_080000.zqaudio", QByteArray(30, 'a'));
        write("3_20240101_080000.zqaudioseek", "20240101080000000:audio1:aac:10\n20240101080000100:audio1:aac:20\n");
        write("9_20240101_080000.zqvideo", "x");
        write("9_20240101_080000.zqseek", "");

        QFileInfoList files;
        files << QFileInfo(folder + "/3_20240101_080000.zqaudio") << QFileInfo(r.files.at(0).data_path)
              << QFileInfo(folder + "/missing_20240101_080000.zqvideo") << QFileInfo(folder + "/notes.txt")
              << QFileInfo(folder + "/9_20240101_080000.zqvideo") << QFileInfo(r.files.at(1).data_path);

        LogCapture log;
        ZQParserThread thread;
        thread.set_files(files);
        QSignalSpy done(&thread, &QThread::finished);
        thread.start();
        QVERIFY(done.wait(30000));
        QCOMPARE(thread.get_streams(), (QStringList{"video1", "video2"}));
        QCOMPARE(log.count("[WARN] ZQParserThread :: read and parse zqseek :: Error Opening Seek File "), 1);
        QVERIFY(log.has("Error Opening Seek File " + folder + "/missing_20240101_080000.zqseek"));
        QCOMPARE(log.count("[WARN] ZQParserThread :: read and parse zqseek :: return empty frame"), 1);
        QCOMPARE(log.count("notes"), 0);
        QCOMPARE(log.count("[INFO] ZQParserThread :: run :: video files parsed in "), 1);
    }

    // Destroying a running pass stops and waits for it.
    void destroyWhileRunning()
    {
        QFileInfoList files;
        for (int i = 0; i < 2000; ++i)
            files << QFileInfo(QStringLiteral("/nonexistent/%1_20240101_080000.zqvideo").arg(i));
        auto* thread = new ZQParserThread;
        thread->set_files(files);
        thread->start();
        delete thread;
    }
};

QTEST_GUILESS_MAIN(TestParserThread)
#include "test_parser_thread.moc"
