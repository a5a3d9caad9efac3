#include "export/popup_export.h"
#include "export/raw_export.h"
#include "fake_dialogs.h"
#include "tools/zqfixture/lib/fixture_metadata.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QtTest>

namespace {

void touch(const QString& path, const QByteArray& bytes = QByteArray())
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QList<QFileInfo> videos(const ZQFixture::Result& r)
{
    QList<QFileInfo> l;
    for (const auto& f : r.files)
        l << QFileInfo(f.data_path);
    return l;
}

void set_times(PopupExport& d, QTime b, QTime e)
{
    d.findChild<QTimeEdit*>("beginTime")->setTime(b);
    d.findChild<QTimeEdit*>("endTime")->setTime(e);
}

} // namespace

class TestPopupExport : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void find_file_for_time_data();
    void find_file_for_time();
    void names_data();
    void names();
    void relative_name_uses_last_folder();
    void camera_ids_not_names();
    void range_errors_data();
    void range_errors();
    void overwrite_asks_first();
    void busy_target_refused();
    void reencode_handed_over();

private:
    QTemporaryDir m_dir;
    QString m_partDay; // the files of the worked example
    QList<QFileInfo> m_partFiles;
    ZQFixture::StorageResult m_storage;
};

void TestPopupExport::initTestCase()
{
    m_partDay = m_dir.filePath("zqcore_0a1b-2c3d-4e5f-6789/2024-03-05");
    for (const char* t : {"100200", "100000", "100100"}) {
        const QString path = m_partDay + "/" + t + "/3_20240305_" + t + ".zqvideo";
        touch(path);
        m_partFiles << QFileInfo(path);
    }
    touch(m_partDay + "/100200/3_20240305_100200.zqseek",
          "20240305100200000:video1:frame/h264:320x240:1:100\n20240305100259123:video1:frame/h264:320x240:0:50\n");
    // A camera 4 file in between: not part of camera 3's list.
    touch(m_partDay + "/100130/4_20240305_100130.zqvideo");
    m_partFiles.insert(1, QFileInfo(m_partDay + "/100130/4_20240305_100130.zqvideo"));

    ZQFixture::Options o;
    o.output_parent = m_dir.filePath("store");
    o.cameras = {1, 2};
    o.fps = 10;
    o.gop = 10;
    o.recordings_per_camera = 2;
    o.seconds_per_recording = 3;
    o.start_time = QTime(9, 0, 0);
    ZQFixture::MetadataOptions m;
    m.camera_names = {{1, "Hall"}, {2, "Hall"}};
    m.tags_per_camera = 0;
    m.alarms = false;
    m.previews = false;
    m.hash_list = false;
    m_storage = ZQFixture::write_storage(o, m);
    QVERIFY2(m_storage.ok, qPrintable(m_storage.error));
}

void TestPopupExport::find_file_for_time_data()
{
    QTest::addColumn<QString>("time");
    QTest::addColumn<bool>("begin");
    QTest::addColumn<QString>("file");
    QTest::newRow("begin at the second file's start") << "100100" << true << "3_20240305_100100";
    QTest::newRow("begin before it") << "100059" << true << "3_20240305_100000";
    QTest::newRow("begin inside the last file") << "100258" << true << "3_20240305_100200";
    QTest::newRow("begin at the last file's end") << "100259" << true << "";
    QTest::newRow("begin before the first file") << "095959" << true << "";
    QTest::newRow("end after the last file") << "100300" << false << "3_20240305_100200";
}

// The worked example, with the files given out of order and another
// camera's file among them.
void TestPopupExport::find_file_for_time()
{
    QFETCH(QString, time);
    QFETCH(bool, begin);
    QFETCH(QString, file);
    PopupExport d(m_partFiles, 3, "1", {}, m_partDay, "2024-03-05 10:01:30.000");
    d.select_camera_files(3);
    QCOMPARE(d.camera_files().size(), 3);
    QCOMPARE(d.camera_files().first().completeBaseName(), QStringLiteral("3_20240305_100000"));
    QCOMPARE(d.find_file_for_time(time, begin), file);
}

void TestPopupExport::names_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("normalised");
    QTest::newRow("tag replaced") << 2 << "/x/clip_h264.avi" << "/x/clip_MJPEG.avi";
    QTest::newRow("format changes the extension") << 3 << "/x/CAMERA12_2024-03-05_101500_H264.mp4"
                                                  << "/x/CAMERA12_2024-03-05_101500_VP9.webm";
    QTest::newRow("raw") << 5 << "/x/a.mp4" << "/x/a_RAW.zqcore";
}

void TestPopupExport::names()
{
    QFETCH(int, format);
    QFETCH(QString, typed);
    QFETCH(QString, normalised);
    PopupExport d(m_partFiles, 3, "1", {}, m_partDay, "2024-03-05 10:15:00.000");
    d.findChild<QComboBox*>("formatList")->setCurrentIndex(format);
    QCOMPARE(d.normalise_export_filename(typed), normalised);
    const QString def = d.default_export_filename("/docs");
    QVERIFY2(def.startsWith("/docs/CAMERA3_2024-03-05_101500_"), qPrintable(def));
    // A read time of 23:59:30 presets the end at 00:00:30: the button starts disabled.
    PopupExport late(m_partFiles, 3, "1", {}, m_partDay, "2024-03-05 23:59:30.000");
    QVERIFY(!late.findChild<QPushButton*>("exportButton")->isEnabled());
    QVERIFY(d.findChild<QPushButton*>("exportButton")->isEnabled());
}

void TestPopupExport::relative_name_uses_last_folder()
{
    QSettings("ZQCore", "ZQPlayer").setValue("export/lastDir", m_dir.filePath("out"));
    PopupExport d(m_partFiles, 3, "1", {}, m_partDay, "2024-03-05 10:15:00.000");
    QCOMPARE(d.normalise_export_filename("clip.mp4"), m_dir.filePath("out") + "/clip_H264.mp4");
    QVERIFY(d.findChild<QLineEdit*>("fileNameEdit")->text().startsWith(m_dir.filePath("out") + "/"));
    QSettings("ZQCore", "ZQPlayer").remove("export/lastDir");
}

// Two cameras of one name are two entries; the chosen one's files are exported.
void TestPopupExport::camera_ids_not_names()
{
    FakeDialogs dialogs;
    FakeHost host;
    const QString day = m_storage.storage.day_folders.first();
    PopupExport d(videos(m_storage.storage), 2, "1", {}, day, "2024-01-01 09:00:01.000");
    d.set_job_host(&host);
    auto* cams = d.findChild<QComboBox*>("cameraList");
    QCOMPARE(cams->count(), 2);
    QCOMPARE(cams->itemText(0), QStringLiteral("Hall"));
    QCOMPARE(cams->itemText(1), QStringLiteral("Hall"));
    QCOMPARE(cams->currentData().toInt(), 2);
    set_times(d, QTime(9, 0, 1), QTime(9, 0, 4));
    d.findChild<QLineEdit*>("fileNameEdit")->setText(m_dir.filePath("cams/hall.mp4"));
    QVERIFY(d.start_export());
    QCOMPARE(host.workers.size(), 1);
    QCOMPARE(host.paths.first(), m_dir.filePath("cams/hall_H264.mp4"));
    for (const QFileInfo& f : d.camera_files())
        QVERIFY(f.fileName().startsWith("2_"));
    QCOMPARE(d.camera_files().size(), 2);
}

void TestPopupExport::range_errors_data()
{
    QTest::addColumn<QTime>("begin");
    QTest::addColumn<QTime>("end");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("code");
    QTest::newRow("empty period") << QTime(9, 0, 1) << QTime(9, 0, 1) << "x.mp4" << -13;
    QTest::newRow("end before begin") << QTime(9, 0, 3) << QTime(9, 0, 1) << "x.mp4" << -13;
    QTest::newRow("begin before the recordings") << QTime(8, 0, 0) << QTime(9, 0, 1) << "x.mp4" << -1;
    QTest::newRow("begin after the recordings") << QTime(10, 0, 0) << QTime(10, 1, 0) << "x.mp4" << -1;
    QTest::newRow("empty file name") << QTime(9, 0, 1) << QTime(9, 0, 3) << "" << -9;
}

// Each refused press shows one box with the code's sentence; nothing starts.
void TestPopupExport::range_errors()
{
    QFETCH(QTime, begin);
    QFETCH(QTime, end);
    QFETCH(QString, name);
    QFETCH(int, code);
    FakeDialogs dialogs;
    FakeHost host;
    PopupExport d(videos(m_storage.storage), 1, "1", {}, m_storage.storage.day_folders.first(),
                  "2024-01-01 09:00:01.000");
    d.set_job_host(&host);
    set_times(d, begin, end);
    d.findChild<QLineEdit*>("fileNameEdit")->setText(name.isEmpty() ? QString() : m_dir.filePath(name));
    QSignalSpy spy(&d, &PopupExport::error);
    d.doExport();
    d.doExport();
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.first().first().toInt(), code);
    QCOMPARE(dialogs.infos.size(), 2);
    QCOMPARE(dialogs.infos.first(), "Erreur de paramétrage|" + export_error::error_text(code));
    QVERIFY(host.workers.isEmpty());
    QVERIFY(!d.export_started());
}

void TestPopupExport::overwrite_asks_first()
{
    FakeDialogs dialogs;
    FakeHost host;
    const QString target = m_dir.filePath("over/clip_H264.mp4");
    touch(target, "old");
    PopupExport d(videos(m_storage.storage), 1, "1", {}, m_storage.storage.day_folders.first(),
                  "2024-01-01 09:00:01.000");
    d.set_job_host(&host);
    d.findChild<QLineEdit*>("fileNameEdit")->setText(target);
    dialogs.answer = false;
    QVERIFY(!d.start_export());
    QCOMPARE(dialogs.questions.size(), 1);
    QVERIFY(dialogs.questions.first().startsWith("Le fichier existe déjà. Voulez-vous le remplacer ?|"));
    QVERIFY(host.workers.isEmpty());
    dialogs.answer = true;
    QVERIFY(d.start_export());
    QCOMPARE(host.workers.size(), 1);
}

// A file that a running export writes is not given to a second one.
void TestPopupExport::busy_target_refused()
{
    FakeDialogs dialogs;
    FakeHost host;
    const QString target = m_dir.filePath("busy/clip_H264.mp4");
    ff_export running;
    running.init(target, "libx264", 0, -1, -1, false, "normal");
    PopupExport d(videos(m_storage.storage), 1, "1", {}, m_storage.storage.day_folders.first(),
                  "2024-01-01 09:00:01.000");
    d.set_job_host(&host);
    d.findChild<QLineEdit*>("fileNameEdit")->setText(target);
    QSignalSpy spy(&d, &PopupExport::error);
    QVERIFY(!d.start_export());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().first().toInt(), -9);
    QVERIFY(host.workers.isEmpty());
}

// The worker handed over reads the chosen camera's files from the begin file
// to the end file and writes the normalised path; the dialog is disposed of.
void TestPopupExport::reencode_handed_over()
{
    FakeDialogs dialogs;
    FakeHost host;
    QPointer<PopupExport> d = new PopupExport(videos(m_storage.storage), 1, "1", {},
                                              m_storage.storage.day_folders.first(), "2024-01-01 09:00:01.000");
    d->set_job_host(&host);
    d->findChild<QComboBox*>("formatList")->setCurrentIndex(2);
    d->findChild<QLineEdit*>("fileNameEdit")->setText(m_dir.filePath("handed/x"));
    set_times(*d, QTime(9, 0, 1), QTime(9, 0, 5));
    QVERIFY(d->start_export());
    QCOMPARE(host.paths, QStringList{m_dir.filePath("handed/x_MJPEG.avi")});
    QVERIFY(QFileInfo(m_dir.filePath("handed")).isDir());
    QTRY_VERIFY(d.isNull());
}

QTEST_MAIN(TestPopupExport)
#include "test_popup_export.moc"
