// Stand-ins for what the desktop offers: theme, drives, sleep, process figures, shell.
#include "platform/desktop_shell.h"
#include "platform/drives.h"
#include "platform/precise_sleep.h"
#include "platform/process_stats.h"
#include "platform/theme.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QPalette>
#include <QTest>
#include <QUrl>

class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

class TestPlatform : public QObject
{
    Q_OBJECT
private slots:
    void theme_data()
    {
        QTest::addColumn<QByteArray>("forced");
        QTest::addColumn<QColor>("window");
        QTest::addColumn<bool>("light");
        QTest::newRow("light palette") << QByteArray() << QColor(240, 240, 240) << true;
        QTest::newRow("dark palette") << QByteArray() << QColor(30, 30, 30) << false;
        QTest::newRow("lightness 128 is light") << QByteArray() << QColor::fromHsl(0, 0, 128) << true;
        QTest::newRow("lightness 127 is dark") << QByteArray() << QColor::fromHsl(0, 0, 127) << false;
        QTest::newRow("forced dark over a light palette") << QByteArray("dark") << QColor(240, 240, 240) << false;
        QTest::newRow("forced light over a dark palette") << QByteArray("LIGHT") << QColor(30, 30, 30) << true;
    }
    void theme()
    {
        QFETCH(QByteArray, forced);
        QFETCH(QColor, window);
        QFETCH(bool, light);
        if (forced.isEmpty())
            qunsetenv("ZQPLAYER_THEME");
        else
            qputenv("ZQPLAYER_THEME", forced);
        QPalette palette;
        palette.setColor(QPalette::Window, window);
        QCOMPARE(zq::platform::uses_light_theme(palette), light);
        qunsetenv("ZQPLAYER_THEME");
    }

    void drivesEndWithHome()
    {
        const QList<zq::platform::Drive> drives = zq::platform::available_drives();
        QVERIFY(!drives.isEmpty());
        QCOMPARE(drives.last().path, QDir::homePath());
        for (const auto& d : drives)
            QVERIFY(!d.path.contains('\\'));
    }

    void preciseSleepWaitsAtLeast()
    {
        QElapsedTimer timer;
        timer.start();
        zq::platform::precise_sleep_us(20000);
        QVERIFY(timer.nsecsElapsed() >= 20000000);
        zq::platform::precise_sleep_us(-5); // returns at once, no wrap-around
    }

    void processFigures()
    {
        volatile double sink = 0;
        for (int i = 0; i < 20000000; ++i)
            sink = sink + i * 0.5;
        const auto times = zq::platform::process_cpu_times();
        QVERIFY(times.valid);
        QVERIFY(times.user_ms + times.system_ms >= 0);
        QVERIFY(zq::platform::process_resident_bytes() > 1024 * 1024);
        QVERIFY(zq::platform::processor_count() >= 1);
    }

    void meminfo_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<qint64>("totalKib");
        QTest::addColumn<qint64>("availableKib");
        QTest::newRow("kernel form") << QByteArray("MemTotal:       16318480 kB\nMemFree:          512000 kB\n"
                                                   "MemAvailable:    8123456 kB\nBuffers: 1 kB\n")
                                     << true << qint64(16318480) << qint64(8123456);
        QTest::newRow("no end of line") << QByteArray("MemAvailable: 2 kB\nMemTotal: 4 kB") << true << qint64(4)
                                        << qint64(2);
        QTest::newRow("old kernel without MemAvailable") << QByteArray("MemTotal: 4 kB\nMemFree: 2 kB\n") << false
                                                         << qint64(0) << qint64(0);
        QTest::newRow("other unit") << QByteArray("MemTotal: 4 MB\nMemAvailable: 2 kB\n") << false << qint64(0)
                                    << qint64(0);
        QTest::newRow("not a number") << QByteArray("MemTotal: -4 kB\nMemAvailable: x kB\n") << false << qint64(0)
                                      << qint64(0);
        QTest::newRow("beyond range") << QByteArray("MemTotal: 99999999999999999999 kB\nMemAvailable: 2 kB\n")
                                      << false << qint64(0) << qint64(0);
        QTest::newRow("name inside another") << QByteArray("XMemTotal: 4 kB\nMemAvailable: 2 kB\n") << false
                                             << qint64(0) << qint64(0);
        QTest::newRow("empty") << QByteArray() << false << qint64(0) << qint64(0);
    }
    void meminfo()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, valid);
        QFETCH(qint64, totalKib);
        QFETCH(qint64, availableKib);
        const auto m = zq::platform::parse_meminfo(text.constData(), std::size_t(text.size()));
        QCOMPARE(m.valid, valid);
        if (valid) {
            QCOMPARE(qint64(m.total_bytes), totalKib * 1024);
            QCOMPARE(qint64(m.available_bytes), availableKib * 1024);
        }
        // This machine's own file reads.
        const auto here = zq::platform::system_memory();
        QVERIFY(here.valid);
        QVERIFY(here.total_bytes >= here.available_bytes && here.available_bytes > 0);
    }

    void shellOpensFileUrls()
    {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        QVERIFY(zq::platform::open_with_shell(QStringLiteral("/tmp/some folder/export.mp4")));
        QVERIFY(!zq::platform::open_with_shell(QString()));
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(catcher.urls.size(), 1);
        QCOMPARE(catcher.urls.first().toLocalFile(), QStringLiteral("/tmp/some folder/export.mp4"));
    }
};

QTEST_MAIN(TestPlatform)
#include "test_platform.moc"
