// End to end: the integrity button of the real main window, under Xvfb, on a storage folder
// written with its metadata (hash lists included) and on copies of it opened as an operator opens
// a folder: intact, with one byte of one recording changed, and with one recording deleted.

#include "integrity/integrity_check.h"
#include "integrity/integrity_dialog.h"
#include "integrity/integrity_run.h"
#include "player/zq_player_inferface_controller.h"
#include "recordings/encrypt.h"
#include "player/zq_player_qmlpresentation.h"
#include "tools/zqfixture/lib/fixture_metadata.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include "../recordings/log_capture.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QQuickItem>
#include <QQuickWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kRootId = QStringLiteral("zqcore_ab12-cd34-ef56-7890");
const QString kDay = QStringLiteral("2025-06-18");

bool copy_tree(const QString& from, const QString& to)
{
    if (!QDir().mkpath(to))
        return false;
    QDirIterator it(from, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + QLatin1Char('/') + QDir(from).relativeFilePath(path);
        if (it.fileInfo().isDir() ? !QDir().mkpath(target) : !QFile::copy(path, target))
            return false;
    }
    return true;
}

IntegrityDialog* open_dialog()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* d = qobject_cast<IntegrityDialog*>(w); d && d->isVisible())
            return d;
    }
    return nullptr;
}

} // namespace

class TestIntegrityE2E : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString m_root;
    QString m_changed_name;
    QString m_deleted_path; // relative to the day folder
    int m_forged = 0;

    // Opens the folder as the folder chooser's answer does, then presses the integrity button and
    // returns the dialog once the check has ended.
    void check_folder(ZQ_Player_qmlpresentation& window, const QString& root, QPointer<IntegrityDialog>* out)
    {
        QQuickItem* home = window.sidePanel()->rootObject()->property("homePanel").value<QQuickItem*>();
        QVERIFY(home);
        QMetaObject::invokeMethod(home, "selectFolder", Q_ARG(QVariant, root));
        QQuickItem* button = window.timelinePanel()->rootObject()->findChild<QQuickItem*>(QStringLiteral("integrity"));
        QVERIFY(button);
        QTRY_VERIFY_WITH_TIMEOUT(window.controller()->root_folder() == root, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled() && button->isVisible(), 60000);
        const QPointF centre = button->mapToScene(QPointF(button->width() / 2, button->height() / 2));
        QTest::mouseClick(window.timelinePanel(), Qt::LeftButton, {}, centre.toPoint());
        QTRY_VERIFY_WITH_TIMEOUT(open_dialog() != nullptr, 10000);
        QPointer<IntegrityDialog> dialog = open_dialog();
        // A second press while it is open opens nothing more.
        IntegrityRun* run = window.controller()->integrity_run();
        window.controller()->check_integrity();
        QCOMPARE(window.controller()->integrity_run(), run);
        // Ended: started (the status line exists) and no longer running.
        QTRY_VERIFY_WITH_TIMEOUT(dialog && dialog->status_label() && !dialog->is_running(), 60000);
        *out = dialog;
    }

    void close_dialog(ZQ_Player_qmlpresentation& window, QPointer<IntegrityDialog> dialog)
    {
        QTest::mouseClick(dialog->button(), Qt::LeftButton);
        QTRY_VERIFY(dialog.isNull());
        QTRY_VERIFY(window.controller()->integrity_run() == nullptr);
    }

private slots:
    void initTestCase()
    {
        ZQFixture::Options o;
        o.output_parent = m_tmp.filePath(QStringLiteral("original"));
        o.root_id = kRootId;
        o.dates = {QDate(2025, 6, 18)};
        o.cameras = {1, 2};
        o.start_time = QTime(9, 15, 0);
        o.recordings_per_camera = 3;
        o.seconds_per_recording = 20;
        o.size = QSize(160, 120);
        o.fps = 5;
        o.gop = 5;
        ZQFixture::MetadataOptions m;
        m.camera_names = {{1, QStringLiteral("Entrée Nord")}, {2, QStringLiteral("Parking")}};
        const ZQFixture::StorageResult r = ZQFixture::write_storage(o, m);
        QVERIFY2(r.ok, qPrintable(r.error));
        m_root = r.storage.root_path;
        QCOMPARE(r.metadata.hash_lists.size(), 1);

        const QString changed = QDir(m_root).filePath(kDay + QStringLiteral("/091540/2_20250618_091540.zqvideo"));
        const QString deleted = QDir(m_root).filePath(kDay + QStringLiteral("/091520/1_20250618_091520.zqvideo"));
        QVERIFY(QFileInfo::exists(changed) && QFileInfo::exists(deleted));
        m_changed_name = QFileInfo(changed).fileName();
        m_deleted_path = QDir(QDir(m_root).filePath(kDay)).relativeFilePath(deleted);
    }

    void validOriginal()
    {
        ZQ_Player_qmlpresentation window(nullptr);
        window.resize(1600, 900);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // No folder open yet: the button does nothing.
        window.controller()->check_integrity();
        QVERIFY(!window.controller()->integrity_run());
        QVERIFY(!open_dialog());

        QPointer<IntegrityDialog> dialog;
        check_folder(window, m_root, &dialog);
        QVERIFY(dialog);
        QCOMPARE(dialog->progress_bar()->format(), QStringLiteral("Intégrité validée"));
        const QStringList lines = dialog->result_lines();
        QVERIFY2(lines.contains(QStringLiteral("Vérification d'intégrité terminée et validée")),
                 qPrintable(lines.join(QLatin1Char('\n'))));
        close_dialog(window, dialog);
    }

    void changedCopy()
    {
        const QString copy = m_tmp.filePath(QStringLiteral("changed/") + kRootId);
        QVERIFY(copy_tree(m_root, copy));
        QFile f(QDir(copy).filePath(kDay + QStringLiteral("/091540/") + m_changed_name));
        QVERIFY(f.open(QIODevice::ReadWrite) && f.seek(200));
        char c = 0;
        QVERIFY(f.getChar(&c) && f.seek(200) && f.putChar(char(c ^ 0x01)));
        f.close();

        ZQ_Player_qmlpresentation window(nullptr);
        window.resize(1600, 900);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QPointer<IntegrityDialog> dialog;
        check_folder(window, copy, &dialog);
        QVERIFY(dialog);
        QCOMPARE(dialog->progress_bar()->format(), QStringLiteral("Intégrité non valide"));
        const QStringList lines = dialog->result_lines();
        QVERIFY2(lines.contains(QStringLiteral("Erreur lors de la vérification du fichier : ") + m_changed_name),
                 qPrintable(lines.join(QLatin1Char('\n'))));
        QVERIFY(lines.contains(QStringLiteral("Intégrité du compte de fichiers : OK")));
        close_dialog(window, dialog);
    }

    void deletedCopy()
    {
        const QString copy = m_tmp.filePath(QStringLiteral("deleted/") + kRootId);
        QVERIFY(copy_tree(m_root, copy));
        QVERIFY(QFile::remove(QDir(copy).filePath(kDay + QLatin1Char('/') + m_deleted_path)));

        ZQ_Player_qmlpresentation window(nullptr);
        window.resize(1600, 900);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        LogCapture capture;
        QPointer<IntegrityDialog> dialog;
        check_folder(window, copy, &dialog);
        QVERIFY(dialog);
        QCOMPARE(dialog->progress_bar()->format(), QStringLiteral("Intégrité non valide"));
        const QStringList lines = dialog->result_lines();
        QVERIFY2(lines.contains(QStringLiteral("Intégrité du compte de fichiers : ERREUR")),
                 qPrintable(lines.join(QLatin1Char('\n'))));
        // Which file is missing is told by the log; the dialog's file lines are for files checked.
        QVERIFY(capture.has(QStringLiteral("invalid integrity :: file missing :: ") + m_deleted_path));
        QVERIFY2(lines.filter(QStringLiteral("Erreur lors de la vérification du fichier")).isEmpty(),
                 qPrintable(lines.join(QLatin1Char('\n'))));
        QVERIFY(lines.contains(QStringLiteral("Vérification d'intégrité terminée et non conforme")));
        close_dialog(window, dialog);
    }

    // Files added under names holding "hash.json", "zqvideoindex.json" or "index.zqnfo": each is a
    // file the player shows (a recording with its seek index, a tag), so the check counts it and
    // names it as added, and the player does not take it for a recording of its time.
    void forgedCopy_data()
    {
        QTest::addColumn<QString>("added"); // relative to the day folder
        QTest::addColumn<QString>("from");  // the file whose bytes it gets; empty: any tag of the day
        QTest::addColumn<bool>("replaces"); // put in place of 091520/1_..._091520, whose entries leave the list
        QTest::newRow("hash.json in a recording name")
            << QStringLiteral("091520/1_20250618_091530_hash.json.zqvideo")
            << QStringLiteral("091520/2_20250618_091520.zqvideo") << false;
        QTest::newRow("zqvideoindex.json in a tag name") << QStringLiteral("9_zqvideoindex.json.zqtag") << QString()
                                                         << false;
        QTest::newRow("index.zqnfo in place of a removed recording")
            << QStringLiteral("091520/1_20250618_091520_index.zqnfo.zqvideo")
            << QStringLiteral("091520/2_20250618_091520.zqvideo") << true;
    }

    void forgedCopy()
    {
        QFETCH(QString, added);
        QFETCH(QString, from);
        QFETCH(bool, replaces);
        const QString copy = m_tmp.filePath(QStringLiteral("forged-") + QString::number(m_forged++) + QLatin1Char('/')
                                            + kRootId);
        QVERIFY(copy_tree(m_root, copy));
        const QDir day(QDir(copy).filePath(kDay));
        if (from.isEmpty()) {
            QDirIterator tags(day.path(), {QStringLiteral("*.zqtag")}, QDir::Files, QDirIterator::Subdirectories);
            QVERIFY(tags.hasNext());
            from = day.relativeFilePath(tags.next());
        }
        QStringList pairs{added};
        const bool recording = added.endsWith(QLatin1String(".zqvideo"));
        if (recording)
            pairs << added.chopped(8) + QStringLiteral(".zqseek");
        QStringList sources{from};
        if (recording)
            sources << from.chopped(8) + QStringLiteral(".zqseek");
        if (replaces) {
            // The recording goes, with its entries in the list, and the forged one takes its place.
            const QString gone = QStringLiteral("091520/1_20250618_091520");
            for (const QString& suffix : {QStringLiteral(".zqvideo"), QStringLiteral(".zqseek")})
                QVERIFY(QFile::remove(day.filePath(gone + suffix)));
            const QString list = day.filePath(QStringLiteral("hash.json"));
            const std::string plain = Encrypt::decrypt_file(list, Encrypt::Expect::JsonArray, Encrypt::kMaxHashListSize);
            QJsonArray entries = QJsonDocument::fromJson(QByteArray::fromStdString(plain)).array();
            QVERIFY(!entries.isEmpty());
            for (qsizetype i = entries.size() - 1; i >= 0; --i) {
                if (entries.at(i).toObject().value(QStringLiteral("path")).toString().startsWith(gone + QLatin1Char('.')))
                    entries.removeAt(i);
            }
            QVERIFY(Encrypt::encrypt_to_file(QJsonDocument(entries).toJson(QJsonDocument::Compact), list,
                                             Encrypt::KeyForm::Text, Encrypt::kMaxHashListSize) == 1);
        }
        for (int i = 0; i < pairs.size(); ++i)
            QVERIFY(QFile::copy(day.filePath(sources.at(i)), day.filePath(pairs.at(i))));

        ZQ_Player_qmlpresentation window(nullptr);
        window.resize(1600, 900);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        LogCapture capture;
        QPointer<IntegrityDialog> dialog;
        check_folder(window, copy, &dialog);
        QVERIFY(dialog);
        QCOMPARE(dialog->progress_bar()->format(), QStringLiteral("Intégrité non valide"));
        const QStringList lines = dialog->result_lines();
        QVERIFY2(lines.contains(QStringLiteral("Intégrité du compte de fichiers : ERREUR")),
                 qPrintable(lines.join(QLatin1Char('\n'))));
        for (const QString& file : std::as_const(pairs))
            QVERIFY2(capture.has(QStringLiteral("invalid integrity :: file added :: ") + file), qPrintable(file));
        QVERIFY2(lines.filter(QStringLiteral("Erreur lors de la vérification du fichier")).isEmpty(),
                 qPrintable(lines.join(QLatin1Char('\n'))));
        // Nor does the day play it as a recording of camera 1.
        for (const QFileInfo& f : window.controller()->day_video_list())
            QVERIFY2(!f.fileName().contains(QLatin1String(".json")) && !f.fileName().contains(QLatin1String(".zqnfo")),
                     qPrintable(f.filePath()));
        close_dialog(window, dialog);
    }

    // The window closing while a check runs stops the check and waits for it: nothing of the pair
    // outlives the window.
    void closeWhileChecking()
    {
        auto* window = new ZQ_Player_qmlpresentation(nullptr);
        window->resize(1600, 900);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QQuickItem* home = window->sidePanel()->rootObject()->property("homePanel").value<QQuickItem*>();
        QVERIFY(home);
        QMetaObject::invokeMethod(home, "selectFolder", Q_ARG(QVariant, m_root));
        QTRY_VERIFY_WITH_TIMEOUT(!window->controller()->selected_date().isEmpty(), 30000);
        window->controller()->check_integrity();
        QPointer<IntegrityRun> run = window->controller()->integrity_run();
        QVERIFY(run);
        QPointer<IntegrityCheck> check = run->check();
        delete window;
        QVERIFY(run.isNull() && check.isNull());
        QVERIFY(!open_dialog());
    }
};

QTEST_MAIN(TestIntegrityE2E)
#include "test_integrity_e2e.moc"
