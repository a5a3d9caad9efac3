#include "player/alarm_viewer.h"
#include "player/app_info.h"
#include "player/preview_popup.h"
#include "player/zq_folder_dialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QPushButton>
#include <QFile>
#include <QImage>
#include <QAction>
#include <QImageReader>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QImage testPicture(int w, int h, QColor colour = Qt::darkCyan)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(colour);
    return img;
}

struct DialogRecorder
{
    QString answer;
    QStringList informations;
    QStringList warnings;
    QString askedStart;
    int asked = 0;

    void install()
    {
        AlarmViewer::Dialogs& d = AlarmViewer::dialogs();
        d.saveFileName = [this](QWidget*, const QString&, const QString& start, const QString&) {
            ++asked;
            askedStart = start;
            return answer;
        };
        d.information = [this](QWidget*, const QString& title, const QString& text) {
            informations << title + QLatin1Char('|') + text;
        };
        d.warning = [this](QWidget*, const QString& title, const QString& text) {
            warnings << title + QLatin1Char('|') + text;
        };
    }
};

} // namespace

class TestWindowParts : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { AlarmViewer::resetDialogs(); }

    void appInfoParentDir_data();
    void appInfoParentDir();
    void appInfoFindsRoot_data();
    void appInfoFindsRoot();

    void previewCaption_data();
    void previewCaption();
    void previewShowsAboveThePointer();

    void viewerCleanName_data();
    void viewerCleanName();
    void viewerAlarmName_data();
    void viewerAlarmName();
    void viewerSavesSnapshot();
    void viewerAlarmOpensFullPictureAndReplaces();
    void viewerCancelKeepsWindow();
    void viewerWriteFailureIsReported();
    void viewerHalvesLargePictures();
    void viewerLeftOpenDoesNotKeepProgramRunning();
    void viewerBoxShowsPathAsPlainText();

    void folderNameRule_data();
    void folderNameRule();
    void folderDialogValidates();
    void folderDialogDoubleClick();
};

void TestWindowParts::appInfoParentDir_data()
{
    QTest::addColumn<QString>("appDir");
    QTest::addColumn<QString>("expected");
    QTest::newRow("bin goes up twice") << "/d/zqcore_ab12-cd34-ef56-7890/player/bin" << "/d/zqcore_ab12-cd34-ef56-7890";
    QTest::newRow("BIN is not bin") << "/d/app/BIN" << "/d/app";
    QTest::newRow("plain folder") << "/opt/zqplayer" << "/opt";
}

void TestWindowParts::appInfoParentDir()
{
    QFETCH(QString, appDir);
    QFETCH(QString, expected);
    QCOMPARE(AppInfo::parentAppDirOf(appDir), expected);
}

void TestWindowParts::appInfoFindsRoot_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("expectedRoot");
    QTest::newRow("program below the root") << "zqcore_ab12-cd34-ef56-7890/player/bin" << "zqcore_ab12-cd34-ef56-7890";
    QTest::newRow("the root itself") << "zqcore_ab12-cd34-ef56-7890" << "zqcore_ab12-cd34-ef56-7890";
    QTest::newRow("capital letters") << "ZQCORE_AB12-CD34-EF56-7890/bin" << "ZQCORE_AB12-CD34-EF56-7890";
    QTest::newRow("a file inside") << "zqcore_ab12-cd34-ef56-7890/bin/ZQPlayer" << "zqcore_ab12-cd34-ef56-7890";
    QTest::newRow("no root") << "zqcore_ab12-cd34-ef56-789/bin" << "";
    QTest::newRow("suffixed name") << "zqcore_ab12-cd34-ef56-7890_old/bin" << "";
}

void TestWindowParts::appInfoFindsRoot()
{
    QFETCH(QString, relative);
    QFETCH(QString, expectedRoot);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString path = QDir(tmp.path()).filePath(relative);
    if (relative.endsWith(QLatin1String("ZQPlayer"))) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    } else {
        QVERIFY(QDir().mkpath(path));
    }
    const QString expected = expectedRoot.isEmpty() ? QString() : QDir(tmp.path()).filePath(expectedRoot);
    QCOMPARE(AppInfo::findZQCoreRoot(path), expected);
}

void TestWindowParts::previewCaption_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("caption");
    QTest::newRow("date-time") << "20250619091625" << "2025-06-19 09:16:25";
    QTest::newRow("not a date") << "Entrée Nord" << "Entrée Nord";
    QTest::newRow("impossible time") << "20250619256000" << "20250619256000";
    QTest::newRow("too short") << "2025061909162" << "2025061909162";
}

void TestWindowParts::previewCaption()
{
    QFETCH(QString, text);
    QFETCH(QString, caption);
    QCOMPARE(PreviewPopup::captionFor(text), caption);
}

void TestWindowParts::previewShowsAboveThePointer()
{
    QTemporaryDir tmp;
    const QString picture = QDir(tmp.path()).filePath(QStringLiteral("1_2_20250619_091625-thumb.jpg"));
    QVERIFY(testPicture(160, 120).save(picture));

    PreviewPopup popup;
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint at(screen.center().x(), screen.top() + 500);
    popup.showAtGlobal(at.x(), at.y(), picture, QStringLiteral("20250619091625"));
    QVERIFY(popup.isVisible());
    QVERIFY(popup.hasPicture());
    QCOMPARE(popup.caption(), QStringLiteral("2025-06-19 09:16:25"));
    QVERIFY(popup.width() <= 280 && popup.height() <= 210);
    QCOMPARE(popup.geometry().bottom() + 1, at.y() - 20);
    QVERIFY(std::abs(popup.geometry().center().x() - at.x()) <= 1);

    // An empty caption keeps the previous one; a missing picture leaves the area empty.
    popup.showAtGlobal(at.x(), at.y(), QDir(tmp.path()).filePath(QStringLiteral("missing.jpg")), QString());
    QCOMPARE(popup.caption(), QStringLiteral("2025-06-19 09:16:25"));
    QVERIFY(!popup.hasPicture());
    QVERIFY(popup.isVisible());

    // Near the top edge it stays on screen.
    popup.showAtGlobal(at.x(), screen.top() + 30, picture, QStringLiteral("x"));
    QVERIFY(popup.geometry().top() >= screen.top());

    // A file URL is read like a path.
    popup.showAtGlobal(at.x(), at.y(), QUrl::fromLocalFile(picture).toString(), QStringLiteral("y"));
    QVERIFY(popup.hasPicture());

    popup.hidePopup();
    QVERIFY(!popup.isVisible());
}

void TestWindowParts::viewerCleanName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("cleaned");
    QTest::newRow("forbidden characters") << "a:b/c." << "a_b_c";
    QTest::newRow("only dots and blanks") << " . . " << "fichier";
    QTest::newRow("timestamp") << "2025-06-19 09:16:25.120.jpg" << "2025-06-19 09_16_25.120.jpg";
    QTest::newRow("all of them") << "\\/:*?\"<>|x" << "_________x";
}

void TestWindowParts::viewerCleanName()
{
    QFETCH(QString, name);
    QFETCH(QString, cleaned);
    QCOMPARE(AlarmViewer::cleanFileName(name), cleaned);
}

void TestWindowParts::viewerAlarmName_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("camera");
    QTest::addColumn<QString>("expected");
    QTest::newRow("four parts thumbnail") << "12_345_20250619_091625-thumb.jpg" << "Entrée Nord"
                                          << "EntréeNord_345_2025-06-19_091625.jpg";
    QTest::newRow("three parts") << "12_20250619_091625.jpg" << "Quai 3" << "Quai3_2025-06-19_091625.jpg";
    QTest::newRow("camera name with a slash") << "1_2_20250619_091625.jpg" << "Nord/Sud"
                                              << "Nord_Sud_2_2025-06-19_091625.jpg";
}

void TestWindowParts::viewerAlarmName()
{
    QFETCH(QString, fileName);
    QFETCH(QString, camera);
    QFETCH(QString, expected);
    QCOMPARE(AlarmViewer::alarmFileName(fileName, camera), expected);
}

void TestWindowParts::viewerSavesSnapshot()
{
    QTemporaryDir tmp;
    DialogRecorder rec;
    rec.install();
    rec.answer = QDir(tmp.path()).filePath(QStringLiteral("capture")); // no suffix: ".jpg" is added

    QPointer<AlarmViewer> viewer = new AlarmViewer(testPicture(64, 48), QStringLiteral("2025-06-19 09:16:25.120.jpg"));
    QCOMPARE(viewer->suggestedName(), QStringLiteral("2025-06-19 09_16_25.120.jpg"));
    QCOMPARE(viewer->windowFilePath(), viewer->suggestedName());
    QVERIFY(viewer->hasPicture());
    // The Save action shows its icon: the picture is compiled in and found at run time.
    QAction* saveAction = nullptr;
    for (QAction* a : viewer->findChildren<QAction*>())
        if (a->text() == QStringLiteral("Enregistrer"))
            saveAction = a;
    QVERIFY(saveAction);
    QVERIFY(!saveAction->icon().isNull());
    QCOMPARE(QImage(QStringLiteral(":/imgs/save36.png")).size(), QSize(36, 36));
    viewer->show();
    QVERIFY(viewer->save());
    QCOMPARE(rec.asked, 1);
    QVERIFY(rec.askedStart.endsWith(QStringLiteral("/2025-06-19 09_16_25.120.jpg")));
    QCOMPARE(rec.informations, QStringList{QStringLiteral("Information|Fichier enregistré avec succés.")});
    QImageReader reader(rec.answer + QStringLiteral(".jpg"));
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    QCOMPARE(reader.size(), QSize(64, 48));
    // The viewer closed and deleted itself.
    QTRY_VERIFY(viewer.isNull());
}

void TestWindowParts::viewerAlarmOpensFullPictureAndReplaces()
{
    QTemporaryDir tmp;
    const QDir dir(tmp.path());
    const QString full = dir.filePath(QStringLiteral("12_345_20250619_091625.jpg"));
    const QString thumb = dir.filePath(QStringLiteral("12_345_20250619_091625-thumb.jpg"));
    QVERIFY(testPicture(200, 100, Qt::red).save(full));
    QVERIFY(testPicture(20, 10, Qt::blue).save(thumb));
    const QString target = dir.filePath(QStringLiteral("out.jpg"));
    {
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old contents");
    }

    DialogRecorder rec;
    rec.install();
    rec.answer = target;
    Vignette alarm;
    alarm.file = QFileInfo(thumb);
    alarm.file_name = alarm.file.fileName();
    alarm.camera_name = QStringLiteral("Entrée Nord");
    alarm.file_path = thumb;
    auto* viewer = new AlarmViewer(alarm);
    QCOMPARE(viewer->fullPicturePath(), full);
    QCOMPARE(viewer->currentPath(), full);
    QCOMPARE(viewer->suggestedName(), QStringLiteral("EntréeNord_345_2025-06-19_091625.jpg"));
    QVERIFY(viewer->save());
    // The confirmed replacement holds the full picture's bytes.
    QFile in(full), out(target);
    QVERIFY(in.open(QIODevice::ReadOnly) && out.open(QIODevice::ReadOnly));
    QCOMPARE(out.readAll(), in.readAll());
    QVERIFY(rec.warnings.isEmpty());
}

void TestWindowParts::viewerCancelKeepsWindow()
{
    DialogRecorder rec;
    rec.install();
    QPointer<AlarmViewer> viewer = new AlarmViewer(testPicture(32, 32), QStringLiteral("x.jpg"));
    viewer->show();
    QVERIFY(!viewer->save());
    QVERIFY(rec.informations.isEmpty() && rec.warnings.isEmpty());
    QTest::qWait(20);
    QVERIFY(!viewer.isNull());
    QVERIFY(viewer->isVisible());
    delete viewer;
}

void TestWindowParts::viewerWriteFailureIsReported()
{
    QTemporaryDir tmp;
    DialogRecorder rec;
    rec.install();
    rec.answer = QDir(tmp.path()).filePath(QStringLiteral("no/such/folder/x.jpg"));
    auto* viewer = new AlarmViewer(testPicture(32, 32), QStringLiteral("x.jpg"));
    QVERIFY(!viewer->save());
    QCOMPARE(rec.warnings, QStringList{QStringLiteral("Attention|Erreur lors de l'enregistrement du fichier")});
    QVERIFY(rec.informations.isEmpty());

    // An alarm picture that is gone cannot be shown, and saving it fails.
    DialogRecorder rec2;
    rec2.install();
    rec2.answer = QDir(tmp.path()).filePath(QStringLiteral("y.jpg"));
    Vignette alarm;
    alarm.file_path = QDir(tmp.path()).filePath(QStringLiteral("1_2_20250619_091625.jpg"));
    alarm.file_name = QStringLiteral("1_2_20250619_091625.jpg");
    auto* missing = new AlarmViewer(alarm);
    QCOMPARE(rec2.informations.size(), 1);
    QVERIFY(rec2.informations.first().contains(QStringLiteral("Cannot load")));
    QVERIFY(!missing->hasPicture());
    QVERIFY(!missing->save());
    QCOMPARE(rec2.warnings.size(), 1);
    QVERIFY(!QFile::exists(rec2.answer));
}

void TestWindowParts::viewerHalvesLargePictures()
{
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize big(available.width() * 2, available.height() * 2);
    auto* viewer = new AlarmViewer(testPicture(big.width(), big.height()), QStringLiteral("big.jpg"));
    QCOMPARE(viewer->size(), QSize(qRound(big.width() / 2.0), qRound(big.height() / 2.0)));
    delete viewer;
    auto* small = new AlarmViewer(testPicture(300, 200), QStringLiteral("small.jpg"));
    QCOMPARE(small->size(), QSize(300, 200));
    delete small;
}

// Closing the player window ends the program even while an alarm picture is
// still open in a viewer.
void TestWindowParts::viewerLeftOpenDoesNotKeepProgramRunning()
{
    QWidget player;
    player.show();
    QPointer<AlarmViewer> viewer = new AlarmViewer(testPicture(64, 48), QStringLiteral("capture"));
    viewer->show();
    QVERIFY(QTest::qWaitForWindowExposed(viewer));

    QTimer::singleShot(0, &player, [&player] { player.close(); });
    // Fires only when the program did not end with the player window.
    QTimer stillRunning;
    stillRunning.setSingleShot(true);
    connect(&stillRunning, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
    stillRunning.start(2000);
    const bool quitByItself = QCoreApplication::exec() == 0;
    stillRunning.stop();
    QVERIFY(quitByItself);
    delete viewer.data();
}

// The real message box of a picture that cannot be read shows its path (a name
// from the storage folder) as plain text, not as markup.
void TestWindowParts::viewerBoxShowsPathAsPlainText()
{
    QTemporaryDir tmp;
    const QString missing = QDir(tmp.path()).filePath(QStringLiteral("1_2_<b>20250619</b>_091625.jpg"));
    Vignette alarm;
    alarm.file = QFileInfo(missing);
    alarm.file_name = alarm.file.fileName();
    alarm.file_path = missing;

    QString shownText;
    Qt::TextFormat shownFormat = Qt::AutoText;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shownText = box->text();
            shownFormat = box->textFormat();
            box->accept();
        }
    });
    QPointer<AlarmViewer> viewer = new AlarmViewer(alarm);
    QVERIFY(shownText.contains(QStringLiteral("<b>20250619</b>")));
    QCOMPARE(shownFormat, Qt::PlainText);
    delete viewer.data();
}

void TestWindowParts::folderNameRule_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("lower case") << "zqcore_ab12-cd34-ef56-7890" << true;
    QTest::newRow("capitals") << "ZQCORE_AB12-CD34-EF56-7890" << true;
    QTest::newRow("three digits") << "zqcore_ab12-cd34-ef56-789" << false;
    QTest::newRow("suffix") << "zqcore_ab12-cd34-ef56-7890_old" << false;
    QTest::newRow("not hexadecimal") << "zqcore_ab12-cd34-ef56-78g0" << false;
    QTest::newRow("other folder") << "Videos" << false;
}

void TestWindowParts::folderNameRule()
{
    QFETCH(QString, name);
    QFETCH(bool, accepted);
    QCOMPARE(ZQFolderDialog::isStorageRootName(name), accepted);
}

void TestWindowParts::folderDialogValidates()
{
    QTemporaryDir tmp;
    const QDir dir(tmp.path());
    QVERIFY(dir.mkpath(QStringLiteral("zqcore_ab12-cd34-ef56-7890/2025-06-19")));
    QVERIFY(dir.mkpath(QStringLiteral("Videos")));
    const QString root = dir.filePath(QStringLiteral("zqcore_ab12-cd34-ef56-7890"));

    QStringList warnings;
    auto previous = ZQFolderDialog::warningBox();
    ZQFolderDialog::warningBox() = [&](QWidget*, const QString& title, const QString& text) {
        warnings << title + QLatin1Char('|') + text;
    };

    {
        // A wrong folder never leaves the dialog, whatever the route.
        ZQFolderDialog dialog;
        dialog.setDirectory(tmp.path());
        dialog.selectFile(dir.filePath(QStringLiteral("Videos")));
        dialog.show();
        dialog.validateAndAccept();
        QCOMPARE(warnings.size(), 1);
        QVERIFY(warnings.first().startsWith(QStringLiteral("Dossier invalide|Seuls les dossiers d'exportation ZQCore")));
        QVERIFY(dialog.isVisible());
        dialog.done(QDialog::Accepted);
        QCOMPARE(warnings.size(), 2);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        dialog.reject();
        QVERIFY(!dialog.isVisible());
    }
    {
        // Standing inside a storage root with nothing selected: Open accepts the current folder.
        ZQFolderDialog dialog;
        dialog.setDirectory(root);
        dialog.show();
        QTRY_COMPARE(dialog.selectedFiles().value(0), root);
        dialog.validateAndAccept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(warnings.size(), 2);
    }
    {
        // The side bar lists the home folder, and the Open button goes through the check.
        ZQFolderDialog dialog;
        const QUrl home = QUrl::fromLocalFile(QDir::cleanPath(QDir::home().absolutePath()));
        QVERIFY(dialog.sidebarUrls().contains(home));
        auto* sidebar = dialog.findChild<QListView*>(QStringLiteral("sidebar"));
        QVERIFY(sidebar && qobject_cast<HomeSidebarDelegate*>(sidebar->itemDelegate()));
        dialog.setDirectory(tmp.path());
        dialog.selectFile(dir.filePath(QStringLiteral("Videos")));
        dialog.show();
        auto* box = dialog.findChild<QDialogButtonBox*>();
        QVERIFY(box && box->button(QDialogButtonBox::Open));
        box->button(QDialogButtonBox::Open)->click();
        QCOMPARE(warnings.size(), 3);
        QVERIFY(dialog.isVisible());
        dialog.selectFile(root);
        box->button(QDialogButtonBox::Open)->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.selectedFiles().value(0), root);
    }
    ZQFolderDialog::warningBox() = previous;
}

void TestWindowParts::folderDialogDoubleClick()
{
    QTemporaryDir tmp;
    const QDir dir(tmp.path());
    QVERIFY(dir.mkpath(QStringLiteral("zqcore_ab12-cd34-ef56-7890")));
    QVERIFY(dir.mkpath(QStringLiteral("Videos")));

    ZQFolderDialog dialog;
    dialog.setViewMode(QFileDialog::List);
    dialog.setDirectory(tmp.path());
    dialog.show();
    auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"), Qt::FindChildrenRecursively);
    // The side bar is also a "listView"; the file list is the one showing the folder.
    for (QListView* candidate : dialog.findChildren<QListView*>()) {
        if (candidate->objectName() == QLatin1String("listView") && candidate->rootIndex().isValid())
            view = candidate;
    }
    QVERIFY(view);
    auto indexOf = [&](const QString& name) {
        QAbstractItemModel* model = view->model();
        for (int row = 0; row < model->rowCount(view->rootIndex()); ++row) {
            const QModelIndex i = model->index(row, 0, view->rootIndex());
            if (i.data().toString() == name)
                return i;
        }
        return QModelIndex();
    };
    QTRY_VERIFY(indexOf(QStringLiteral("Videos")).isValid() && indexOf(QStringLiteral("zqcore_ab12-cd34-ef56-7890")).isValid());

    // Any other folder opens, as usual.
    QModelIndex videos = indexOf(QStringLiteral("Videos"));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(videos).center());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(videos).center());
    QTRY_COMPARE(QDir(dialog.directory()).dirName(), QStringLiteral("Videos"));
    QVERIFY(dialog.isVisible());

    // A storage root is accepted at once.
    dialog.setDirectory(tmp.path());
    QTRY_VERIFY(indexOf(QStringLiteral("zqcore_ab12-cd34-ef56-7890")).isValid());
    const QModelIndex root = indexOf(QStringLiteral("zqcore_ab12-cd34-ef56-7890"));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(root).center());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(root).center());
    QTRY_COMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.selectedFiles().value(0), dir.filePath(QStringLiteral("zqcore_ab12-cd34-ef56-7890")));
}

QTEST_MAIN(TestWindowParts)
#include "test_window_parts.moc"
