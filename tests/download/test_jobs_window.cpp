#include "download/download_item_presentation.h"
#include "download/download_job_host.h"
#include "download/download_presentation.h"
#include "download/encode_item_presentation.h"
#include "download/squeeze_label.h"
#include "export/export_dialogs.h"
#include "export/ff_export.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// One camera's recording of `seconds` at 10 frames a second from 08:00:00.
ZQFixture::Result ten_fps_recording(const QString& parent, int seconds)
{
    ZQFixture::Options o;
    o.output_parent = parent;
    o.fps = 10;
    o.gop = 10;
    o.seconds_per_recording = seconds;
    return ZQFixture::write(o);
}

// An export of stream 1 of `files` from `begin` to `end` (HHmmss) at 2048 kb/s; `band` shows the
// status band burnt into the pictures.
ff_export* make_export(const QString& out, const char* codec, bool band, const QList<QFileInfo>& files,
                       const char* begin, const char* end)
{
    auto* worker = new ff_export;
    worker->init(out, QString::fromLatin1(codec), 2048, -1, -1, band, QStringLiteral("normal"));
    worker->set_files(files);
    worker->set_begin(QString::fromLatin1(begin));
    worker->set_end(QString::fromLatin1(end));
    worker->set_stream_id(QStringLiteral("1"));
    return worker;
}

// A row driven by the test: it records what the window asks of it and ends
// when told, as a worker thread would report.
class ScriptedRow : public Presentation_Interface
{
public:
    explicit ScriptedRow(QString name)
        : m_name(std::move(name))
    {
        setUpRow(m_name);
    }
    int starts = 0;
    int stops = 0;

    void init() override {}
    void setFinished() override
    {
        m_finished = true;
        m_started = false;
        m_error = false;
    }
    void setStarted() override
    {
        m_started = true;
        m_finished = false;
    }
    bool isStopped() override { return false; }
    QString fileName() override { return m_name; }
    void start_downloading_item() override
    {
        ++starts;
        setStarted();
        setStopButton(true);
        setOpenButtons(false);
        setProgressShown(true);
    }
    void updateInfoLabel() override {}
    void finished() override
    {
        setProgressShown(false);
        setStopButton(false);
        setOpenButtons(true);
        setFinished();
        emit statusChanged();
    }
    void fail(const QString& text)
    {
        downloadInfoLabel->setText(text);
        setTryAgain(true);
        setStopButton(false);
        m_error = true;
        emit statusChanged();
    }
    void downloadReadyRead() override {}
    void error(QNetworkReply::NetworkError) override {}
    void downloadProgress(qint64, qint64) override {}
    void metaDataChanged() override {}
    void stop() override { ++stops; }

private:
    void tryAgain() override {}
    QString m_name;
};

struct Answers : ExportDialogs
{
    bool answer = false;
    int asked = 0;
    Answers() { ExportDialogs::set_instance(this); }
    ~Answers() override { ExportDialogs::set_instance(nullptr); }
    bool question(QWidget*, const QString&, const QString&) override
    {
        ++asked;
        return answer;
    }
};

struct Shell : QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

void press(QWidget* w, Qt::Key key)
{
    QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

} // namespace

class TestJobsWindow : public QObject
{
    Q_OBJECT
private slots:
    void two_run_third_waits();
    void failure_copy_and_delete_key();
    void close_asks_while_running();
    void squeeze_label_keeps_its_text();
    void header_icon_shown_whole();
    void export_row_end_to_end();
    void export_row_error_lands_in_failures();
    void export_row_stopped_is_a_success();
    void export_row_stopped_at_once_is_a_stop();
    void export_row_names_the_part_without_pictures_data();
    void export_row_names_the_part_without_pictures();
};

void TestJobsWindow::two_run_third_waits()
{
    QPointer<Download_presentation> w = new Download_presentation;
    auto* a = new ScriptedRow("/x/a.mp4");
    auto* b = new ScriptedRow("/x/b.mp4");
    auto* c = new ScriptedRow("/x/c.mp4");
    w->add_item(a);
    w->add_item(b);
    w->add_item(c);
    QCOMPARE(a->starts, 1);
    QCOMPARE(b->starts, 1);
    QCOMPARE(c->starts, 0);
    QCOMPARE(c->downloadInfoLabel->text(), QStringLiteral("En attente..."));
    QCOMPARE(w->running_count(), 2);
    // Repeated changes while two run start nothing.
    emit a->statusChanged();
    QCOMPARE(c->starts, 0);

    a->finished();
    QCOMPARE(c->starts, 1);
    QCOMPARE(w->running_list.size(), 2);
    QCOMPARE(w->success_list.size(), 1);
    auto* copy = qobject_cast<DownloadItem_Presentation*>(w->success_list.first());
    QVERIFY(copy);
    QCOMPARE(copy->fileName(), QStringLiteral("/x/a.mp4"));
    QVERIFY(copy->downloadedSuccessfully());
    QVERIFY(copy->openOffered());
    QCOMPARE(w->label_current_download->text(), QStringLiteral("En cours (2)"));
    QCOMPARE(w->tabWidget->tabText(0), QStringLiteral("Réussis (1)"));
    // A late signal of the row already copied changes nothing (one copy per row).
    emit a->statusChanged();
    QCOMPARE(w->success_list.size(), 1);
    // Its buttons open the copied path through the desktop shell.
    Shell shell;
    QDesktopServices::setUrlHandler("file", &shell, "open");
    QTest::mouseClick(copy->openRepButton, Qt::LeftButton);
    copy->openButton->click();
    QDesktopServices::unsetUrlHandler("file");
    QCOMPARE(shell.opened.size(), 2);
    QCOMPARE(shell.opened.last().toLocalFile(), QStringLiteral("/x/a.mp4"));

    b->finished();
    c->finished();
    QCOMPARE(w->running_list.size(), 0);
    QCOMPARE(w->tabWidget->tabText(0), QStringLiteral("Réussis (3)"));
    delete w;
}

void TestJobsWindow::failure_copy_and_delete_key()
{
    Download_presentation w;
    auto* a = new ScriptedRow("/x/a.mp4");
    auto* b = new ScriptedRow("/x/b.mp4");
    w.add_item(a);
    w.add_item(b);
    // Running lines: the tooltip shows the line, the Delete key keeps them.
    QVERIFY(!w.running_model()->data(w.running_model()->index(0, 0), Qt::ToolTipRole).isNull());
    w.downloadsView->setCurrentIndex(w.running_model()->index(0, 0));
    press(w.downloadsView, Qt::Key_Delete);
    QCOMPARE(w.running_list.size(), 2);

    a->fail("Erreur de récupération des données vidéos.");
    b->fail("<b>markup</b>");
    QCOMPARE(w.failure_list.size(), 2);
    QCOMPARE(w.failure_list.first()->downloadInfoLabel->text(), QStringLiteral("Erreur de récupération des données vidéos."));
    QCOMPARE(w.tabWidget->tabText(1), QStringLiteral("Echoués (2)"));
    QCOMPARE(w.tabWidget->tabBar()->tabTextColor(1), QColor(Qt::red));
    QCOMPARE(w.failure_list.at(1)->downloadInfoLabel->textFormat(), Qt::PlainText);
    // The copy is finished without a retry: no tooltip, and Delete removes it.
    QVERIFY(w.failure_model()->data(w.failure_model()->index(0, 0), Qt::ToolTipRole).isNull());
    QVERIFY(!w.failure_list.first()->tryAgainOffered());
    w.failure_downloadsView->setCurrentIndex(w.failure_model()->index(1, 0));
    press(w.failure_downloadsView, Qt::Key_Delete);
    QCOMPARE(w.failure_list.size(), 1);
    QCOMPARE(w.failure_downloadsView->currentIndex().row(), 0);
    // Out-of-range removals are ignored.
    QVERIFY(w.failure_model()->removeRows(5, 3));
    QCOMPARE(w.failure_list.size(), 1);
}

// Closing with jobs running asks; "Non" keeps everything, "Oui" stops the
// rows, hides the window and deletes it only after every job has ended.
void TestJobsWindow::close_asks_while_running()
{
    Answers answers;
    QPointer<Download_presentation> w = new Download_presentation;
    w->setAttribute(Qt::WA_DeleteOnClose);
    auto* a = new ScriptedRow("/x/a.mp4");
    auto* b = new ScriptedRow("/x/b.mp4");
    w->add_item(a);
    w->add_item(b);
    QVERIFY(w->isVisible());
    answers.answer = false;
    QVERIFY(!w->close());
    QCOMPARE(answers.asked, 1);
    QVERIFY(w->isVisible());
    QCOMPARE(a->stops, 0);

    answers.answer = true;
    w->close();
    QCOMPARE(answers.asked, 2);
    QCOMPARE(a->stops, 1);
    QCOMPARE(b->stops, 1);
    QVERIFY(!w->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!w.isNull());
    a->finished();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!w.isNull());
    b->finished();
    QTRY_VERIFY(w.isNull());

    // Nothing running: no question.
    QPointer<Download_presentation> idle = new Download_presentation;
    idle->setAttribute(Qt::WA_DeleteOnClose);
    idle->show();
    QVERIFY(idle->close());
    QCOMPARE(answers.asked, 2);
    QTRY_VERIFY(idle.isNull());
}

void TestJobsWindow::squeeze_label_keeps_its_text()
{
    SqueezeLabel label;
    label.resize(80, 20);
    const QString long_text = QString("/very/long/path/") + QString(200, QLatin1Char('x')) + "/<i>clip</i>.mp4";
    label.setText(long_text);
    label.show();
    QVERIFY(QTest::qWaitForWindowExposed(&label));
    label.repaint();
    QCOMPARE(label.text(), long_text);
    QVERIFY(label.displayed_text().size() < long_text.size());
    QVERIFY(label.displayed_text().contains(QChar(0x2026)));
    QVERIFY(label.toolTip().contains("&lt;i&gt;"));
    QCOMPARE(label.textFormat(), Qt::PlainText);
    label.setText(QString(100000, QLatin1Char('y')));
    QVERIFY(label.text().size() <= 10000);
}

// The header's download icon sits whole in its white badge: the label's
// room inside its padding holds the whole picture, none of it cut off.
void TestJobsWindow::header_icon_shown_whole()
{
    Download_presentation w;
    w.resize(1080, 768);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* icon = w.findChild<QLabel*>(QStringLiteral("label_14"));
    QVERIFY(icon);
    const QSize picture = icon->pixmap().size();
    QCOMPARE(picture, QSize(20, 20));
    QTRY_VERIFY2(icon->contentsRect().width() >= picture.width() && icon->contentsRect().height() >= picture.height(),
                 qPrintable(QStringLiteral("%1 x %2").arg(icon->contentsRect().width()).arg(icon->contentsRect().height())));
}

// A real export through the host: the window opens with the row, runs the
// worker and shows the file in "Réussis (1)".
void TestJobsWindow::export_row_end_to_end()
{
    QTemporaryDir dir;
    const ZQFixture::Result r = ten_fps_recording(dir.path(), 3);
    QVERIFY(r.ok);
    const QString out = dir.filePath("clip_MJPEG.avi");
    auto* worker = make_export(out, "mjpeg", true, {QFileInfo(r.files.first().data_path)}, "080000", "080002");
    QPointer<ff_export> guard = worker;
    DownloadJobHost host;
    host.host_reencode(worker, out);
    QPointer<Download_presentation> w = host.last_window();
    QVERIFY(w);
    QCOMPARE(w->windowTitle(), QStringLiteral("Téléchargement"));
    QCOMPARE(w->running_list.size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(w->success_list.size(), 1, 60000);
    QCOMPARE(w->tabWidget->tabText(0), QStringLiteral("Réussis (1)"));
    QCOMPARE(w->success_list.first()->fileName(), out);
    QVERIFY(QFileInfo(out).size() > 0);
    // A finished export's line is the file's size, never the running "Encodage en cours [ ... ]".
    QCOMPARE(w->success_list.first()->downloadInfoLabel->text(),
             w->success_list.first()->formatSize(QFileInfo(out).size()));
    // The worker went once its thread had finished.
    QTRY_VERIFY(guard.isNull());
    w->close();
    QTRY_VERIFY(w.isNull());
}

void TestJobsWindow::export_row_error_lands_in_failures()
{
    QTemporaryDir dir;
    const QString out = dir.filePath("none.avi");
    auto* worker = make_export(out, "mjpeg", false, {QFileInfo(dir.filePath("missing/1_20240101_080000.zqvideo"))},
                               "080000", "080002");
    QPointer<ff_export> guard = worker;
    DownloadJobHost host;
    host.host_reencode(worker, out);
    QPointer<Download_presentation> w = host.last_window();
    QTRY_COMPARE_WITH_TIMEOUT(w->failure_list.size(), 1, 60000);
    QCOMPARE(w->failure_list.first()->downloadInfoLabel->text(),
             QStringLiteral("Erreur de récupération des données vidéos."));
    QCOMPARE(w->running_list.size(), 0);
    QTRY_VERIFY(guard.isNull());
    QVERIFY(!QFileInfo::exists(out));
    delete w;
}

// Stop ends the export with what it encoded: the row lands in "Réussis"
// with its file.
void TestJobsWindow::export_row_stopped_is_a_success()
{
    QTemporaryDir dir;
    const ZQFixture::Result r = ten_fps_recording(dir.path(), 30);
    QVERIFY(r.ok);
    const QString out = dir.filePath("stopped_H264.mp4");
    auto* worker = make_export(out, "libx264", true, {QFileInfo(r.files.first().data_path)}, "080000", "080030");
    QPointer<ff_export> guard = worker;
    DownloadJobHost host;
    host.host_reencode(worker, out);
    QPointer<Download_presentation> w = host.last_window();
    auto* row = qobject_cast<EncodeItem_Presentation*>(w->running_list.first());
    QVERIFY(row);
    QTRY_VERIFY_WITH_TIMEOUT(guard && guard->frames_encoded() >= 3, 60000);
    QVERIFY(row->stopEnabled());
    row->stopButton->click();
    QTRY_COMPARE_WITH_TIMEOUT(w->success_list.size(), 1, 60000);
    QVERIFY(w->failure_list.isEmpty());
    QVERIFY(QFileInfo(out).size() > 0);
    // The copy says the export was stopped, not that it is still encoding.
    QCOMPARE(w->success_list.first()->downloadInfoLabel->text(), QStringLiteral("Arrêt de l'utilisateur."));
    QTRY_VERIFY(guard.isNull());
    delete w;
}

// Stop pressed as soon as the window has started the export, before any
// picture is encoded: the job ends as a stop, not as a range without video.
void TestJobsWindow::export_row_stopped_at_once_is_a_stop()
{
    QTemporaryDir dir;
    const ZQFixture::Result r = ten_fps_recording(dir.path(), 30);
    QVERIFY(r.ok);
    const QString out = dir.filePath("at_once_H264.mp4");
    auto* worker = make_export(out, "libx264", true, {QFileInfo(r.files.first().data_path)}, "080000", "080030");
    QPointer<ff_export> guard = worker;
    DownloadJobHost host;
    host.host_reencode(worker, out);
    QPointer<Download_presentation> w = host.last_window();
    auto* row = qobject_cast<EncodeItem_Presentation*>(w->running_list.first());
    QVERIFY(row);
    QVERIFY(row->stopEnabled());
    row->stopButton->click();
    QTRY_COMPARE_WITH_TIMEOUT(w->success_list.size() + w->failure_list.size(), 1, 60000);
    QCOMPARE(w->failure_list.size(), 0);
    QCOMPARE(w->success_list.first()->downloadInfoLabel->text(), QStringLiteral("Arrêt de l'utilisateur."));
    // Nothing was written: the copy offers no file to open.
    QVERIFY(!QFileInfo::exists(out));
    QVERIFY(!w->success_list.first()->openOffered());
    QCOMPARE(w->tabWidget->tabText(1), QStringLiteral("Echoués (0)"));
    QTRY_VERIFY(guard.isNull());
    delete w;
}

void TestJobsWindow::export_row_names_the_part_without_pictures_data()
{
    // Three recordings of 2 s from 08:00:00; the range is the whole 6 s.
    // damage: recording index and what is done to it ("data" emptied,
    // "seek" index emptied, "half" data cut in half), comma-separated.
    QTest::addColumn<QString>("damage");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<QString>("line");
    QTest::newRow("first recording's data empty") << "0data" << false << "Aucune image de 08:00:00.000 à 08:00:02.000";
    QTest::newRow("middle seek index empty") << "1seek" << false << "Aucune image de 08:00:02.000 à 08:00:04.000";
    QTest::newRow("empty data, then empty seek index") << "0data,1seek" << false
                                                       << "Aucune image de 08:00:00.000 à 08:00:04.000";
    QTest::newRow("middle data cut in half") << "1half" << false << "";
    QTest::newRow("last recording's data empty") << "2data" << false << "Aucune image de 08:00:04.000 à 08:00:06.000";
    QTest::newRow("two holes") << "0seek,2data" << false
                               << "Aucune image de 08:00:00.000 à 08:00:02.000, de 08:00:04.000 à 08:00:06.000";
    QTest::newRow("nothing readable") << "0data,1data,2seek" << true
                                      << "L'intervalle selectionnée ne contient pas de vidéo.";
}

// Recordings that cannot be read are passed over so that the rest is still
// exported, but the job never reads as a clean success: its line in the
// finished list names the part of the range that had no pictures, and a job
// that could write nothing is a failure.
void TestJobsWindow::export_row_names_the_part_without_pictures()
{
    QFETCH(QString, damage);
    QFETCH(bool, fails);
    QFETCH(QString, line);
    QTemporaryDir dir;
    ZQFixture::Options o;
    o.output_parent = dir.path();
    o.fps = 10;
    o.gop = 10;
    o.recordings_per_camera = 3;
    o.seconds_per_recording = 2;
    const ZQFixture::Result r = ZQFixture::write(o);
    QVERIFY(r.ok);
    QCOMPARE(r.files.size(), 3);
    QList<QFileInfo> files;
    for (const ZQFixture::WrittenFile& f : r.files)
        files << QFileInfo(f.data_path);
    for (const QString& d : damage.split(',')) {
        const ZQFixture::WrittenFile& f = r.files.at(d.left(1).toInt());
        const QString what = d.mid(1);
        if (what == "data") {
            QVERIFY(QFile::resize(f.data_path, 0));
        } else if (what == "seek") {
            QVERIFY(QFile::resize(f.seek_path, 0));
        } else {
            const qint64 cut = f.data_size / 2;
            QVERIFY(QFile::resize(f.data_path, cut));
            // The hole starts where the last whole picture's period ends.
            qint64 last = -1;
            for (const ZQFixture::FrameEntry& e : f.frames) {
                if (e.offset + e.size <= cut)
                    last = e.time_ms;
            }
            QVERIFY(last > 0);
            line = "Aucune image de " + QTime::fromMSecsSinceStartOfDay(int(last + 100)).toString("HH:mm:ss.zzz")
                   + " à 08:00:04.000";
        }
    }
    const QString out = dir.filePath("damaged_MJPEG.avi");
    auto* worker = make_export(out, "mjpeg", false, files, "080000", "080006");
    QPointer<ff_export> guard = worker;
    DownloadJobHost host;
    host.host_reencode(worker, out);
    QPointer<Download_presentation> w = host.last_window();
    QTRY_COMPARE_WITH_TIMEOUT(w->success_list.size() + w->failure_list.size(), 1, 60000);
    QCOMPARE(w->failure_list.size(), fails ? 1 : 0);
    Presentation_Interface* copy = fails ? w->failure_list.first() : w->success_list.first();
    QCOMPARE(copy->downloadInfoLabel->text(), line);
    QCOMPARE(QFileInfo::exists(out), !fails);
    QTRY_VERIFY(guard.isNull());
    delete w;
}

QTEST_MAIN(TestJobsWindow)
#include "test_jobs_window.moc"
