#include "download/download_encode_item_presentation.h"
#include "download/download_multi_items_presentation.h"
#include "download/download_presentation.h"
#include "download/squeeze_label.h"
#include "download/zq_download_encode_data.h"
#include "export/export_dialogs.h"
#include "tests/download/loopback_stream_job.h"
#include "tests/support/download_routes.h"
#include "tests/support/loopback_server.h"
#include "tests/support/stream_routes.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <curl/curl.h>

namespace {

class YesDialogs : public ExportDialogs
{
public:
    bool question(QWidget*, const QString&, const QString&) override { return true; }
    void information(QWidget*, const QString&, const QString&) override {}
};

DownloadFileEntry entry(const QString& url, const QString& path)
{
    DownloadFileEntry e;
    e.url = url;
    e.path = path;
    return e;
}

} // namespace

// Download rows in the jobs window: a multi-file row with a failing file is split into a success
// copy and a failure copy whose "Relancer" runs again; a stream job stopped by the user fails with
// its stop text and runs again from a fresh copy holding the same job; the window closes only once
// every job has ended.
class TestJobsWindowDownloads : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void multi_row_failed_file_then_relancer();
    void encode_row_stop_then_relancer();
    void encode_row_cut_stream_fails();
    void encode_row_remux_failure_fails();
    void close_with_jobs_running();

private:
    // A stream download-and-encode job of the whole recording from the loopback stream route.
    DownloadEncodeJob stream_job(const LoopbackServer& server, const QString& video, const QString& format) const;

    QTemporaryDir m_dir;
    QSharedPointer<StreamParts::Recording> m_rec;
    YesDialogs m_yes;
};

void TestJobsWindowDownloads::initTestCase()
{
    ExportDialogs::set_instance(&m_yes);
    m_rec = QSharedPointer<StreamParts::Recording>::create();
    QString error;
    QVERIFY2(StreamParts::make_recording(m_dir.filePath(QStringLiteral("rec")), 3, QSize(160, 120),
                                         ZQFixture::Codec::H264, m_rec.get(), &error),
             qPrintable(error));
}

DownloadEncodeJob TestJobsWindowDownloads::stream_job(const LoopbackServer& server, const QString& video,
                                                     const QString& format) const
{
    return loopback_stream_job(server, *m_rec, video, format, 50);
}

void TestJobsWindowDownloads::multi_row_failed_file_then_relancer()
{
    LoopbackServer server;
    DownloadRoutes::Route ok;
    ok.path = "/a";
    ok.body = QByteArray(3000, 'a');
    DownloadRoutes::add(server, ok);
    DownloadRoutes::Route bad = ok;
    bad.path = "/b";
    bad.answer = DownloadRoutes::Answer::Html500;
    DownloadRoutes::add(server, bad);
    QTemporaryDir out;

    auto* window = new Download_presentation;
    auto* row = new DownloadMultiItems_Presentation(
        {entry(server.url_string(QStringLiteral("/a")), QStringLiteral("a.bin")),
         entry(server.url_string(QStringLiteral("/b")), QStringLiteral("b.bin"))},
        {}, out.path());
    row->set_retry_delay_ms(10);
    row->clearFlags(); // a multi row is built finished: the window starts only fresh rows
    window->add_item(row);
    QVERIFY(QTest::qWaitFor([&] { return window->success_list.size() == 1 && window->failure_list.size() == 1; }, 20000));
    QVERIFY(window->running_list.isEmpty());
    auto* failed = qobject_cast<DownloadMultiItems_Presentation*>(window->failure_list.first());
    QVERIFY(failed);
    QCOMPARE(failed->files_to_download().size(), 1);
    QVERIFY(failed->tryAgainButton->isEnabled());

    // The server mends; "Relancer" puts a fresh row for the failed file into the running list.
    ok.path = "/b";
    DownloadRoutes::add(server, ok);
    failed->tryAgainButton->click();
    QVERIFY(QTest::qWaitFor([&] { return window->success_list.size() == 2; }, 20000));
    QVERIFY(window->failure_list.isEmpty());
    QVERIFY(QFile::exists(out.filePath(QStringLiteral("b.bin"))));
    delete window;
}

void TestJobsWindowDownloads::encode_row_stop_then_relancer()
{
    LoopbackServer server;
    StreamScript script;
    script.recording = m_rec;
    script.realtime = true;
    add_stream_route(server, "/video.cgi", script);
    QTemporaryDir out;
    DownloadEncodeJob j = stream_job(server, out.filePath(QStringLiteral("v.mp4")), QStringLiteral("raw"));
    QPointer<ZQDownload_encode_data> job = new ZQDownload_encode_data(j);

    auto* window = new Download_presentation;
    auto* row = new DownloadEncodeItem_Presentation(window, j.video_path);
    row->set_worker(job);
    window->add_item(row);
    QVERIFY(QTest::qWaitFor([&] { return job->isRunning(); }, 5000));
    QVERIFY(QTest::qWaitFor([&] { return row->downloadInfoLabel->text().startsWith(QStringLiteral("Téléchargement / encodage en cours [ ")); }, 10000));
    row->stopButton->click();
    QVERIFY(QTest::qWaitFor([&] { return window->failure_list.size() == 1; }, 5000));
    auto* failed = qobject_cast<DownloadEncodeItem_Presentation*>(window->failure_list.first());
    QVERIFY(failed);
    QCOMPARE(failed->worker(), job.data());
    QVERIFY(failed->tryAgainButton->isEnabled());
    QVERIFY(QTest::qWaitFor([&] { return job->isFinished(); }, 5000));

    failed->tryAgainButton->click();
    QVERIFY(QTest::qWaitFor([&] { return window->success_list.size() == 1; }, 30000));
    QVERIFY(QFile::exists(j.video_path));
    // After a success the window lets the job go once its thread has ended.
    QVERIFY(QTest::qWaitFor([&] { return job.isNull(); }, 5000));
    delete window;
}

// A stream cut before the range's end is a failure, listed with the client error's text.
void TestJobsWindowDownloads::encode_row_cut_stream_fails()
{
    LoopbackServer server;
    StreamScript script;
    script.recording = m_rec;
    script.drop_after = 60;
    add_stream_route(server, "/video.cgi", script);
    QTemporaryDir out;
    DownloadEncodeJob j = stream_job(server, out.filePath(QStringLiteral("v.mp4")), QString());
    for (const QString& format : {QStringLiteral("raw"), QStringLiteral("h264")}) {
        j.video_format = format;
        QPointer<ZQDownload_encode_data> job = new ZQDownload_encode_data(j);
        auto* window = new Download_presentation;
        auto* row = new DownloadEncodeItem_Presentation(window, j.video_path);
        row->set_worker(job);
        window->add_item(row);
        QVERIFY2(QTest::qWaitFor([&] { return window->failure_list.size() + window->success_list.size() == 1; }, 30000),
                 qPrintable(format));
        QVERIFY2(window->success_list.isEmpty(), qPrintable(format));
        QCOMPARE(window->failure_list.first()->downloadInfoLabel->text(),
                 QStringLiteral("Erreur lors du parsing des données."));
        QVERIFY(!QFile::exists(j.video_path));
        QVERIFY(QTest::qWaitFor([&] { return job.isNull() || job->isFinished(); }, 5000));
        delete window; // the failed copy holds the job; it goes with it
        QVERIFY(QTest::qWaitFor([&] { return job.isNull(); }, 5000));
    }
}

// A raw job whose remux fails after its set-up (here the final rename, refused by a folder at the
// video path) is listed as failed with the unknown-error text, never as a success.
void TestJobsWindowDownloads::encode_row_remux_failure_fails()
{
    LoopbackServer server;
    StreamScript script;
    script.recording = m_rec;
    add_stream_route(server, "/video.cgi", script);
    QTemporaryDir out;
    DownloadEncodeJob j = stream_job(server, out.filePath(QStringLiteral("v.mp4")), QStringLiteral("raw"));
    QVERIFY(QDir().mkpath(j.video_path));
    QPointer<ZQDownload_encode_data> job = new ZQDownload_encode_data(j);
    auto* window = new Download_presentation;
    auto* row = new DownloadEncodeItem_Presentation(window, j.video_path);
    row->set_worker(job);
    window->add_item(row);
    QVERIFY(QTest::qWaitFor([&] { return window->failure_list.size() + window->success_list.size() == 1; }, 60000));
    QVERIFY(window->success_list.isEmpty());
    QCOMPARE(window->failure_list.first()->downloadInfoLabel->text(), QStringLiteral("Erreur inconnue."));
    QVERIFY(QFileInfo(j.video_path).isDir());
    QVERIFY(QTest::qWaitFor([&] { return job.isNull() || job->isFinished(); }, 5000));
    delete window;
    QVERIFY(QTest::qWaitFor([&] { return job.isNull(); }, 5000));
}

void TestJobsWindowDownloads::close_with_jobs_running()
{
    LoopbackServer server;
    DownloadRoutes::Route slow;
    slow.path = "/slow";
    slow.body = QByteArray(200000, 's');
    slow.answer = DownloadRoutes::Answer::Trickle;
    DownloadRoutes::add(server, slow);
    StreamScript script;
    script.recording = m_rec;
    script.realtime = true;
    add_stream_route(server, "/video.cgi", script);
    QTemporaryDir out;

    QPointer<Download_presentation> window = new Download_presentation;
    window->setAttribute(Qt::WA_DeleteOnClose);
    auto* multi = new DownloadMultiItems_Presentation({entry(server.url_string(QStringLiteral("/slow")), QStringLiteral("s.bin"))}, {}, out.path());
    multi->clearFlags();
    window->add_item(multi);
    DownloadEncodeJob j = stream_job(server, out.filePath(QStringLiteral("v.mp4")), QStringLiteral("h264"));
    j.frame_wait_ms = -1;
    QPointer<ZQDownload_encode_data> job = new ZQDownload_encode_data(j);
    auto* row = new DownloadEncodeItem_Presentation(window, j.video_path);
    row->set_worker(job);
    window->add_item(row);
    QVERIFY(QTest::qWaitFor([&] { return !job.isNull() && job->isRunning() && server.request_count() >= 2; }, 5000));
    window->close();
    QVERIFY(QTest::qWaitFor([&] { return window.isNull(); }, 10000));
    QVERIFY(QTest::qWaitFor([&] { return job.isNull(); }, 10000));
    QVERIFY(!QFile::exists(out.filePath(QStringLiteral("s.bin"))));
}

int main(int argc, char** argv)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QApplication app(argc, argv);
    TestJobsWindowDownloads test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_jobs_window_downloads.moc"
