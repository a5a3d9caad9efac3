#include "../recordings/log_capture.h"
#include "export/export_dialogs.h"
#include "export/popup_export.h"
#include "player/zq_player_controller_ui.h"
#include "player/zq_player_inferface_controller.h"
#include "tests/player/open_day.h"
#include "tests/support/storage_tree.h"
#include "tools/zqfixture/lib/fixture_metadata.h"
#include "tools/zqfixture/lib/fixture_writer.h"
#include "view/canvas.h"

#include <QApplication>
#include <QComboBox>
#include <QDirIterator>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QtTest>

namespace {

struct RecordingUi : ZQPlayerControllerUi
{
    QStringList boxes; // title|text
    void warning(const QString& title, const QString& text) override { boxes << title + "|" + text; }
    void information(const QString& title, const QString& text) override { boxes << title + "|" + text; }
    void open_alarm_viewer(const QString&, const QString&) override {}
    void open_snapshot_viewer(const QImage&, const QString&) override {}
};

struct SilentDialogs : ExportDialogs
{
    SilentDialogs() { ExportDialogs::set_instance(this); }
    ~SilentDialogs() override { ExportDialogs::set_instance(nullptr); }
    void information(QWidget*, const QString&, const QString&) override {}
};

QList<PopupExport*> open_dialogs()
{
    QList<PopupExport*> r;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<PopupExport*>(w))
            r << d;
    return r;
}

} // namespace

class TestControllerExport : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void nothing_without_a_frame();
    void end_disposes_of_its_sender();
    void raw_failure_is_a_warning();
    void cancelled_dialog_goes();
    void raw_copy_never_replaces_nor_follows_links_data();
    void raw_copy_never_replaces_nor_follows_links();
    void raw_copy_of_the_opened_root_data();
    void raw_copy_of_the_opened_root();

private:
    QTemporaryDir m_dir;
    ZQFixture::Result m_storage;
    std::unique_ptr<ZQPlayerInferfaceController> make(RecordingUi** ui, Canvas* canvas)
    {
        auto c = std::make_unique<ZQPlayerInferfaceController>();
        auto u = std::make_unique<RecordingUi>();
        *ui = u.get();
        c->set_ui(std::move(u));
        c->set_canvas(canvas);
        c->get_available_days(m_storage.root_path);
        c->set_selected_date("2024-01-01");
        const QStringList cams = zqtest::open_day(*c, QStringLiteral("2024-01-01"));
        if (!cams.isEmpty())
            c->set_selected_camera(cams.first());
        return c;
    }
};

void TestControllerExport::initTestCase()
{
    ZQFixture::Options o;
    o.output_parent = m_dir.filePath("store");
    o.fps = 10;
    o.gop = 10;
    o.seconds_per_recording = 3;
    m_storage = ZQFixture::write(o);
    QVERIFY2(m_storage.ok, qPrintable(m_storage.error));
}

void TestControllerExport::nothing_without_a_frame()
{
    RecordingUi* ui = nullptr;
    Canvas canvas;
    auto c = make(&ui, &canvas);
    c->video_export();
    QVERIFY(open_dialogs().isEmpty());
    LogCapture log;
    canvas.set_current_timestamp("not a time");
    c->video_export();
    QVERIFY(open_dialogs().isEmpty());
    // Both lines carry the controller's prefix; the time on screen after two blanks.
    const QString day = m_storage.root_path + QStringLiteral("/2024-01-01");
    QVERIFY2(log.has(QStringLiteral("[INFO] ZQPlayer Interface Controller :: export :: ") + day),
             qPrintable(log.lines().join('\n')));
    QVERIFY2(log.has(QStringLiteral("[INFO] ZQPlayer Interface Controller :: export ::  timestamp not a time")),
             qPrintable(log.lines().join('\n')));
    auto none = make(&ui, nullptr);
    none->video_export();
    QVERIFY(open_dialogs().isEmpty());
}

// Two dialogs open; the older one's end must dispose of it, not of the newest.
void TestControllerExport::end_disposes_of_its_sender()
{
    RecordingUi* ui = nullptr;
    Canvas canvas;
    auto c = make(&ui, &canvas);
    canvas.set_current_timestamp("2024-01-01 08:00:01.000");
    c->video_export();
    c->video_export();
    QList<PopupExport*> dialogs = open_dialogs();
    QCOMPARE(dialogs.size(), 2);
    QVERIFY(dialogs.at(0)->isModal());
    QPointer<PopupExport> first = dialogs.at(0), second = dialogs.at(1);
    emit first->endingsignal();
    QTRY_VERIFY(first.isNull());
    QVERIFY(!second.isNull());
    QCOMPARE(ui->boxes, QStringList{"Information|Votre exportation est terminée."});
    delete second;
}

// A raw copy that cannot write its target ends with the sentence in an
// "Attention" box, and the dialog goes.
void TestControllerExport::raw_failure_is_a_warning()
{
    SilentDialogs boxes;
    RecordingUi* ui = nullptr;
    Canvas canvas;
    auto c = make(&ui, &canvas);
    canvas.set_current_timestamp("2024-01-01 08:00:01.000");
    c->video_export();
    QCOMPARE(open_dialogs().size(), 1);
    QPointer<PopupExport> d = open_dialogs().first();
    d->findChild<QComboBox*>("formatList")->setCurrentIndex(5);
    // The storage root's own parent: every copy would land on its source.
    d->findChild<QLineEdit*>("fileNameEdit")->setText(m_dir.filePath("store/x.zqcore"));
    d->findChild<QTimeEdit*>("endTime")->setTime(QTime(8, 0, 2));
    d->doExport();
    QTRY_VERIFY_WITH_TIMEOUT(d.isNull(), 30000);
    QCOMPARE(ui->boxes, QStringList{"Attention|Le fichier d'export n'a pas pu être ouvert.\n"
                                    + m_storage.files.first().data_path});
}

void TestControllerExport::raw_copy_never_replaces_nor_follows_links_data()
{
    QTest::addColumn<bool>("link");
    QTest::newRow("an earlier export with other bytes") << false;
    QTest::newRow("the day folder is a link") << true;
}

// A raw copy into a folder that already holds another file under the
// recording's name leaves that file as it is; one whose day folder is a link
// writes nothing where the link leads. Either way the operator is told which
// file failed.
void TestControllerExport::raw_copy_never_replaces_nor_follows_links()
{
    QFETCH(bool, link);
    SilentDialogs boxes;
    QTemporaryDir out;
    QTemporaryDir elsewhere;
    const QString data = m_storage.files.first().data_path;
    const QString rel = data.mid(QFileInfo(m_storage.root_path).absolutePath().size() + 1);
    const QString target = out.filePath(rel);
    const QString day = out.filePath(rel.section('/', 0, 1));
    QVERIFY(QDir().mkpath(link ? QFileInfo(day).absolutePath() : QFileInfo(target).absolutePath()));
    if (link) {
        QVERIFY(QFile::link(elsewhere.path(), day));
        QVERIFY(QDir().mkpath(elsewhere.filePath(rel.section('/', 2, 2))));
    } else {
        QFile f(target);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("an earlier export");
    }

    RecordingUi* ui = nullptr;
    Canvas canvas;
    auto c = make(&ui, &canvas);
    canvas.set_current_timestamp("2024-01-01 08:00:01.000");
    c->video_export();
    QCOMPARE(open_dialogs().size(), 1);
    QPointer<PopupExport> d = open_dialogs().first();
    d->findChild<QComboBox*>("formatList")->setCurrentIndex(5);
    d->findChild<QLineEdit*>("fileNameEdit")->setText(out.filePath("x.zqcore"));
    d->findChild<QTimeEdit*>("endTime")->setTime(QTime(8, 0, 2));
    d->doExport();
    QTRY_VERIFY_WITH_TIMEOUT(d.isNull(), 30000);
    QCOMPARE(ui->boxes, QStringList{"Attention|Le fichier d'export n'a pas pu être ouvert.\n" + target});
    if (link) {
        QDirIterator it(elsewhere.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        QVERIFY2(!it.hasNext(), qPrintable(it.hasNext() ? it.next() : QString()));
    } else {
        QFile f(target);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("an earlier export"));
    }
}

// A dialog closed without exporting is gone, and the button opens a new one.
void TestControllerExport::cancelled_dialog_goes()
{
    RecordingUi* ui = nullptr;
    Canvas canvas;
    auto c = make(&ui, &canvas);
    canvas.set_current_timestamp("2024-01-01 08:00:01.000");
    for (int round = 0; round < 2; ++round) {
        c->video_export();
        QCOMPARE(open_dialogs().size(), 1);
        QPointer<PopupExport> d = open_dialogs().first();
        QVERIFY(d->isVisible());
        QTest::keyClick(d.data(), Qt::Key_Escape);
        QTRY_VERIFY(d.isNull());
        QVERIFY(open_dialogs().isEmpty());
    }
    QVERIFY(ui->boxes.isEmpty());
}

void TestControllerExport::raw_copy_of_the_opened_root_data()
{
    // How the operator opened the root: "real" by its own path, "own link" through a link named
    // as it, "parent link" inside a linked folder.
    QTest::addColumn<QString>("opened");
    // A folder named as a storage root planted in the day, with a recording of the camera that
    // starts a second before the day's first (so first in the range) and a camera file.
    QTest::addColumn<bool>("planted");
    QTest::newRow("root opened through a link to it") << "own link" << false;
    QTest::newRow("root opened in a linked folder") << "parent link" << false;
    QTest::newRow("planted root-named folder first in the range") << "real" << true;
    QTest::newRow("planted root-named folder, root opened through a link") << "own link" << true;
}

// The raw copy started from the player is placed below the export's copy of the root the operator
// opened, however it was reached, and carries every camera-information file of that storage once:
// a root-named folder in a day stays a folder of that day.
void TestControllerExport::raw_copy_of_the_opened_root()
{
    QFETCH(QString, opened);
    QFETCH(bool, planted);
    SilentDialogs boxes;
    QTemporaryDir dir;
    const ZQFixture::StorageResult storage = zqtest::write_camera_storage(dir.filePath("store"));
    QVERIFY2(storage.ok, qPrintable(storage.error));
    const QString root = storage.storage.root_path;
    const QString rootName = QFileInfo(root).fileName();
    QStringList expected; // below the export folder
    for (const QString& f : storage.metadata.files)
        if (f.endsWith(".zqnfo"))
            expected << f.mid(root.size() - rootName.size());
    QVERIFY(expected.size() >= 6);
    for (const auto& f : storage.storage.files)
        if (f.camera == 1 && f.date == QDate(2024, 1, 1) && f.start < QTime(8, 0, 4))
            for (const QString& p : {f.data_path, f.seek_path})
                expected << p.mid(root.size() - rootName.size());
    if (planted) {
        const QString nfo = storage.metadata.files.filter(QRegularExpression("/1_[0-9_]*\\.zqnfo$")).first();
        const QString path = zqtest::plant_root_named_folder(root, QDate(2024, 1, 1), 1, QTime(7, 59, 59), nfo,
                                                             dir.filePath("planted"));
        QVERIFY(!path.isEmpty());
        for (const QString& p : {path, QString(path).replace(".zqvideo", ".zqseek")})
            expected << p.mid(root.size() - rootName.size());
    }
    expected.sort();
    const zqtest::LinkedRoot linked = zqtest::link_root(root, dir.path());
    QVERIFY(!linked.ownLink.isEmpty());
    const QString openedRoot = opened == "own link" ? linked.ownLink : opened == "parent link" ? linked.parentLink : root;

    RecordingUi* ui = nullptr;
    Canvas canvas;
    auto c = std::make_unique<ZQPlayerInferfaceController>();
    {
        auto u = std::make_unique<RecordingUi>();
        ui = u.get();
        c->set_ui(std::move(u));
    }
    c->set_canvas(&canvas);
    QVERIFY(!c->get_available_days(openedRoot).isEmpty());
    c->set_selected_date("2024-01-01");
    const QStringList cams = zqtest::open_day(*c, QStringLiteral("2024-01-01"));
    QVERIFY(!cams.isEmpty());
    c->set_selected_camera(cams.first());
    canvas.set_current_timestamp("2024-01-01 08:00:01.000");
    c->video_export();
    QCOMPARE(open_dialogs().size(), 1);
    QPointer<PopupExport> d = open_dialogs().first();
    auto* cameras = d->findChild<QComboBox*>("cameraList");
    cameras->setCurrentIndex(cameras->findData(1));
    d->findChild<QComboBox*>("formatList")->setCurrentIndex(5);
    d->findChild<QTimeEdit*>("beginTime")->setTime(planted ? QTime(7, 59, 59) : QTime(8, 0, 0));
    d->findChild<QTimeEdit*>("endTime")->setTime(QTime(8, 0, 3));
    QTemporaryDir out;
    d->findChild<QLineEdit*>("fileNameEdit")->setText(out.filePath("x.zqcore"));
    d->findChild<QPushButton*>("exportButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(d.isNull(), 30000);
    QCOMPARE(ui->boxes, QStringList{"Information|Votre exportation est terminée."});
    QCOMPARE(zqtest::files_below(out.path()), expected);
}

QTEST_MAIN(TestControllerExport)
#include "test_controller_export.moc"
