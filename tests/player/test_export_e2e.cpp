// End to end: from the real main window, the "export" button opens the export
// dialog on the frame shown; filled and confirmed, it exports a range of the
// generated day in each format (checked with ffprobe) and as a raw copy.
//
// The program runs twice: first it writes the storage folder and places a hard
// link to itself inside the root (the window then opens that folder by
// itself), then it runs that link, which builds the window.

#include "download/download_job_host.h"
#include "download/download_presentation.h"
#include "export/export_dialogs.h"
#include "export/popup_export.h"
#include "player/zq_player_controller_ui.h"
#include "player/zq_player_inferface_controller.h"
#include "player/zq_player_qmlpresentation.h"
#include "tests/player/e2e_child.h"
#include "tools/zqfixture/lib/fixture_metadata.h"
#include "tools/zqfixture/lib/fixture_writer.h"
#include "view/canvas.h"

#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QQuickItem>
#include <QQuickWidget>
#include <QTabWidget>
#include <QTest>
#include <QTextStream>
#include <QTimeEdit>

namespace {

const char* kRootId = "zqcore_ab12-cd34-ef56-7890";
const QString kDay = QStringLiteral("2025-06-19");

struct RecordingUi : ZQPlayerControllerUi
{
    QStringList boxes;
    void warning(const QString& title, const QString& text) override { boxes << title + "|" + text; }
    void information(const QString& title, const QString& text) override { boxes << title + "|" + text; }
    void open_alarm_viewer(const QString&, const QString&) override {}
    void open_snapshot_viewer(const QImage&, const QString&) override {}
};

struct Answers : ExportDialogs
{
    QStringList infos;
    Answers() { ExportDialogs::set_instance(this); }
    ~Answers() override { ExportDialogs::set_instance(nullptr); }
    void information(QWidget*, const QString& t, const QString& x) override { infos << t + "|" + x; }
    bool question(QWidget*, const QString&, const QString&) override { return true; }
};

QByteArray sha256(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(&f);
    return h.result().toHex();
}

// "key=value" lines of ffprobe for the file's first video stream and its container.
QHash<QString, QString> ffprobe(const QString& path)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"),
            {"-v", "error", "-count_packets", "-select_streams", "v:0", "-show_entries",
             "stream=codec_name,nb_read_packets,start_time:format=format_name,duration", "-of", "default=nw=1", path});
    p.waitForFinished(120000);
    QHash<QString, QString> r;
    for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            r.insert(line.left(eq), line.mid(eq + 1).trimmed());
    }
    return r;
}

// The EBML header's DocType.
QByteArray doc_type(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray head = f.read(64);
    const int at = head.indexOf(QByteArray("\x42\x82", 2));
    if (at < 0 || at + 3 >= head.size())
        return QByteArray();
    const int len = uchar(head.at(at + 2)) & 0x7f;
    return head.mid(at + 3, len);
}

int runParent(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QString base = QDir::home().filePath(QStringLiteral("e2e"));
    QDir(base).removeRecursively();
    QDir().mkpath(base);
    ZQFixture::Options o;
    o.output_parent = base;
    o.root_id = QString::fromLatin1(kRootId);
    o.dates = {QDate(2025, 6, 19)};
    o.cameras = {1, 2};
    o.start_time = QTime(9, 15, 0);
    o.recordings_per_camera = 2;
    o.seconds_per_recording = 20;
    o.size = QSize(320, 240);
    o.fps = 10;
    o.gop = 15;
    const ZQFixture::Result r = ZQFixture::write(o);
    if (!r.ok) {
        err << "fixture: " << r.error << Qt::endl;
        return 1;
    }
    ZQFixture::MetadataOptions m;
    m.camera_names = {{1, QStringLiteral("Entrée Nord")}, {2, QStringLiteral("Parking")}};
    if (!ZQFixture::write_metadata(r.root_path, m).ok)
        return 1;
    const QString inside = zqtest::place_program_in(r.root_path);
    if (inside.isEmpty())
        return 1;
    const QHash<QString, QString> vars{{QStringLiteral("ZQ_E2E_CHILD"), QStringLiteral("1")},
                                       {QStringLiteral("ZQ_E2E_ROOT"), r.root_path},
                                       {QStringLiteral("ZQ_E2E_OUT"), QDir(base).filePath(QStringLiteral("exports"))}};
    return zqtest::run_child(inside, vars, zqtest::arguments_of(argc, argv), 480000);
}

PopupExport* open_dialog()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<PopupExport*>(w); d && d->isVisible())
            return d;
    return nullptr;
}

} // namespace

class TestExportE2E : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void export_each_format_data();
    void export_each_format();
    void raw_copy();

private:
    PopupExport* press_export();
    ZQ_Player_qmlpresentation* m_window = nullptr;
    RecordingUi* m_ui = nullptr;
    QString m_root;
    QString m_out;
};

void TestExportE2E::initTestCase()
{
    m_root = qEnvironmentVariable("ZQ_E2E_ROOT");
    m_out = qEnvironmentVariable("ZQ_E2E_OUT");
    QVERIFY(!m_root.isEmpty());
    m_window = new ZQ_Player_qmlpresentation(nullptr);
    m_window->resize(1600, 900);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    auto ui = std::make_unique<RecordingUi>();
    m_ui = ui.get();
    m_window->controller()->set_ui(std::move(ui));
    // Playback starts by itself on the folder's last day: a frame is on screen.
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->canvas()->get_current_timestamp().isEmpty(), 90000);
    QCOMPARE(m_window->controller()->selected_camera(), QStringLiteral("Entrée Nord"));
}

void TestExportE2E::cleanupTestCase()
{
    delete m_window;
}

PopupExport* TestExportE2E::press_export()
{
    QObject* button = m_window->timelinePanel()->rootObject()->findChild<QObject*>(QStringLiteral("export"));
    if (!button)
        return nullptr;
    for (int i = 0; i < 600 && !button->property("enabled").toBool(); ++i)
        QTest::qWait(50);
    QMetaObject::invokeMethod(button, "clicked");
    PopupExport* d = nullptr;
    for (int i = 0; i < 100 && !(d = open_dialog()); ++i)
        QTest::qWait(50);
    return d;
}

void TestExportE2E::export_each_format_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("codec");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("H.264") << 0 << "h264" << "mov,mp4" << "_H264.mp4";
    QTest::newRow("H.265") << 1 << "hevc" << "mov,mp4" << "_H265.mp4";
    QTest::newRow("MJPEG") << 2 << "mjpeg" << "avi" << "_MJPEG.avi";
    QTest::newRow("VP9") << 3 << "vp9" << "matroska,webm" << "_VP9.webm";
    QTest::newRow("AV1") << 4 << "av1" << "matroska,webm" << "_AV1.mkv";
}

void TestExportE2E::export_each_format()
{
    QFETCH(int, format);
    QFETCH(QString, codec);
    QFETCH(QString, container);
    QFETCH(QString, suffix);
    Answers answers;
    PopupExport* d = press_export();
    QVERIFY(d);
    QVERIFY(d->isModal());
    d->findChild<QComboBox*>("formatList")->setCurrentIndex(format);
    // From mid-GOP in the first recording into the second one.
    d->findChild<QTimeEdit*>("beginTime")->setTime(QTime(9, 15, 7));
    d->findChild<QTimeEdit*>("endTime")->setTime(QTime(9, 15, 24));
    d->findChild<QLineEdit*>("fileNameEdit")->setText(m_out + "/clip");
    d->findChild<QPushButton*>("exportButton")->click();
    QCOMPARE(answers.infos, QStringList());
    const QString path = m_out + "/clip" + suffix;
    QPointer<Download_presentation> jobs = DownloadJobHost::instance()->last_window();
    QVERIFY(jobs);
    QCOMPARE(jobs->windowTitle(), QStringLiteral("Téléchargement"));
    QTRY_COMPARE_WITH_TIMEOUT(jobs->tabWidget->tabText(0), QStringLiteral("Réussis (1)"), 240000);
    QCOMPARE(jobs->tabWidget->tabText(1), QStringLiteral("Echoués (0)"));

    // Expected: the seek-index entries from the first keyframe at or after the
    // begin to the first entry at or after the end.
    int frames = 0;
    qint64 keyMs = -1;
    bool done = false;
    for (const char* start : {"091500", "091520"}) {
        QFile seek(m_root + "/" + kDay + "/" + start + "/1_20250619_" + start + ".zqseek");
        QVERIFY(seek.open(QIODevice::ReadOnly));
        while (!seek.atEnd() && !done) {
            const QList<QByteArray> f = seek.readLine().trimmed().split(':');
            if (f.size() < 6 || f.at(1) != "video1")
                continue;
            const QTime t = QTime::fromString(QString::fromLatin1(f.at(0).mid(8)), "HHmmsszzz");
            if (keyMs < 0 && (t < QTime(9, 15, 7) || f.at(4) != "1"))
                continue;
            if (keyMs < 0)
                keyMs = t.msecsSinceStartOfDay();
            ++frames;
            if (t >= QTime(9, 15, 24))
                done = true;
        }
    }
    const QHash<QString, QString> probe = ffprobe(path);
    QCOMPARE(probe.value("codec_name"), codec);
    QVERIFY2(probe.value("format_name").startsWith(container), qPrintable(probe.value("format_name")));
    QCOMPARE(probe.value("nb_read_packets").toInt(), frames);
    QVERIFY2(qAbs(probe.value("start_time").toDouble()) < 1e-3, qPrintable(probe.value("start_time")));
    const double want = (QTime(9, 15, 24).msecsSinceStartOfDay() - keyMs) / 1000.0;
    QVERIFY2(qAbs(probe.value("duration").toDouble() - want) <= 0.1 + 1e-3,
             qPrintable(probe.value("duration") + " vs " + QString::number(want)));
    if (suffix.endsWith(".webm"))
        QCOMPARE(doc_type(path), QByteArray("webm"));
    if (suffix.endsWith(".mkv"))
        QCOMPARE(doc_type(path), QByteArray("matroska"));
    jobs->close();
    QTRY_VERIFY(jobs.isNull());
}

// The raw copy writes each recording and seek index of the range under the
// export folder, byte for byte, and the controller tells the end.
void TestExportE2E::raw_copy()
{
    Answers answers;
    m_ui->boxes.clear();
    PopupExport* d = press_export();
    QVERIFY(d);
    d->findChild<QComboBox*>("formatList")->setCurrentIndex(5);
    d->findChild<QTimeEdit*>("beginTime")->setTime(QTime(9, 15, 7));
    d->findChild<QTimeEdit*>("endTime")->setTime(QTime(9, 15, 24));
    d->findChild<QLineEdit*>("fileNameEdit")->setText(m_out + "/raw/copy");
    d->findChild<QPushButton*>("exportButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(m_ui->boxes, QStringList{"Information|Votre exportation est terminée."}, 60000);
    const QString rootName = QFileInfo(m_root).fileName();
    for (const char* start : {"091500", "091520"}) {
        for (const char* ext : {".zqvideo", ".zqseek"}) {
            const QString rel = rootName + "/" + kDay + "/" + start + "/1_20250619_" + start + ext;
            const QString copy = m_out + "/raw/" + rel;
            QVERIFY2(QFileInfo::exists(copy), qPrintable(copy));
            QCOMPARE(sha256(copy), sha256(QFileInfo(m_root).absolutePath() + "/" + rel));
        }
    }
    QVERIFY(!QFileInfo::exists(m_out + "/raw/" + rootName + "/" + kDay + "/091500/2_20250619_091500.zqvideo"));
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("ZQ_E2E_CHILD"))
        return runParent(argc, argv);
    QApplication app(argc, argv);
    TestExportE2E test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_export_e2e.moc"
