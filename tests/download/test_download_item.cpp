#include "download/download_item_presentation.h"
#include "download/squeeze_label.h"
#include "tests/support/download_routes.h"
#include "tests/support/loopback_server.h"

#include <QApplication>
#include <QDir>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QSettings>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>

using DownloadRoutes::Answer;
Q_DECLARE_METATYPE(Answer)

// The single-file row's network face against the loopback server: what the row shows, whether it
// failed, and what stays on disk.
class TestDownloadItem : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void download_data();
    void download();
    void untrusted_certificate();
    void stop_then_again();
    void default_file_name();

private:
    static DownloadRoutes::Route route(const QByteArray& path, const QByteArray& body, Answer answer)
    {
        DownloadRoutes::Route r;
        r.path = path;
        r.body = body;
        r.answer = answer;
        return r;
    }
    QByteArray m_body;
};

void TestDownloadItem::initTestCase()
{
    m_body.resize(300000);
    for (int i = 0; i < m_body.size(); ++i)
        m_body[i] = char(i * 31 + 7);
}

void TestDownloadItem::download_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<bool>("https");
    QTest::addColumn<int>("copies"); // the body is that many times the 300,000 test bytes
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("line"); // beginning of the information line of a failure
    QTest::newRow("file") << Answer::File << false << 1 << true << "";
    QTest::newRow("file, https") << Answer::File << true << 1 << true << "";
    QTest::newRow("html 500") << Answer::Html500 << false << 1 << false << "Download Error - <html><head><title>500 Internal Server Error";
    QTest::newRow("json") << Answer::Json << false << 1 << false << "Download Error - ZQ_FILE_NOT_FOUND";
    QTest::newRow("404") << Answer::NotFound << false << 1 << false << "Download Error - HTTP 404";
    // Half the announced body, then the connection closes. Depending on when the client sees the
    // close, Qt may end such a reply without any error: the row must still refuse it.
    QTest::newRow("drop") << Answer::Drop << false << 1 << false << "Erreur réseau : ";
    QTest::newRow("drop, https") << Answer::Drop << true << 1 << false << "Erreur réseau : ";
    QTest::newRow("drop, beyond the read buffer") << Answer::Drop << false << 10 << false << "Erreur réseau : ";
}

void TestDownloadItem::download()
{
    QFETCH(Answer, answer);
    QFETCH(bool, https);
    QFETCH(bool, ok);
    QFETCH(QString, line);
    LoopbackServer server(https ? LoopbackServer::Https : LoopbackServer::Http);
    QFETCH(int, copies);
    const QByteArray body = m_body.repeated(copies);
    DownloadRoutes::add(server, route("/f.bin", body, answer));
    QTemporaryDir dir;
    QNetworkAccessManager manager;
    const QString target = dir.filePath(QStringLiteral("f.bin"));
    DownloadItem_Presentation row(nullptr, target);
    row.set_access_manager(&manager);
    row.set_url_text(server.url_string(QStringLiteral("/f.bin")));
    if (https) {
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.setCaCertificates({server.tls().ca_certificate()});
        row.set_ssl_configuration(ssl);
    }
    row.start_downloading_item();
    QVERIFY(QTest::qWaitFor([&] { return row.isFinished(); }, 20000));
    QCOMPARE(row.hasError(), !ok);
    QCOMPARE(row.downloadedSuccessfully(), ok);
    if (ok) {
        QFile f(target);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), body);
    } else {
        QVERIFY2(row.downloadInfoLabel->text().startsWith(line), qPrintable(row.downloadInfoLabel->text()));
        QVERIFY(row.tryAgainOffered());
    }
    // Never a partial file, nor a temporary one, after a failure.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), ok ? 1 : 0);
}

void TestDownloadItem::untrusted_certificate()
{
    LoopbackServer server(LoopbackServer::Https);
    DownloadRoutes::add(server, route("/f.bin", m_body, Answer::File));
    QTemporaryDir dir;
    QNetworkAccessManager manager;
    DownloadItem_Presentation row(nullptr, dir.filePath(QStringLiteral("f.bin")));
    row.set_access_manager(&manager);
    row.set_url_text(server.url_string(QStringLiteral("/f.bin")));
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.setCaCertificates({TlsMaterial::generate().ca_certificate()});
    row.set_ssl_configuration(ssl);
    row.start_downloading_item();
    QVERIFY(QTest::qWaitFor([&] { return row.isFinished(); }, 20000));
    QVERIFY(row.hasError());
    QVERIFY(row.downloadInfoLabel->text().startsWith(QStringLiteral("Erreur réseau : ")));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 0);
}

void TestDownloadItem::stop_then_again()
{
    LoopbackServer server;
    DownloadRoutes::add(server, route("/slow", m_body.left(20000), Answer::Trickle));
    QTemporaryDir dir;
    QNetworkAccessManager manager;
    const QString target = dir.filePath(QStringLiteral("s.bin"));
    DownloadItem_Presentation row(nullptr, target);
    row.set_access_manager(&manager);
    row.set_url_text(server.url_string(QStringLiteral("/slow")));
    row.start_downloading_item();
    QVERIFY(server.wait_for_requests(1));
    QTest::qWait(200);
    row.stopButton->click();
    QVERIFY(QTest::qWaitFor([&] { return row.isFinished(); }, 5000));
    QVERIFY(!row.hasError()); // a stop is not a failure
    QCOMPARE(row.downloadInfoLabel->text(), QStringLiteral("Arrêt de l'utilisateur."));
    QVERIFY(row.tryAgainOffered());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 0);

    DownloadRoutes::add(server, route("/slow", m_body.left(20000), Answer::File));
    row.tryAgainButton->click();
    QVERIFY(QTest::qWaitFor([&] { return row.downloadedSuccessfully(); }, 10000));
    QCOMPARE(QFileInfo(target).size(), 20000);
}

void TestDownloadItem::default_file_name()
{
    QTemporaryDir dir;
    QSettings settings;
    settings.beginGroup(QStringLiteral("downloadmanager"));
    settings.setValue(QStringLiteral("downloadDirectory"), dir.path());
    settings.endGroup();
    settings.sync();
    DownloadItem_Presentation row(nullptr, QString());
    row.set_url_text(QStringLiteral("http://127.0.0.1:1/files/clip.final.mp4?x=1"));
    row.start_downloading_item(); // no access manager: no request, the address is read
    QCOMPARE(row.getFileName(), dir.filePath(QStringLiteral("clip.final.mp4")));
    QFile(dir.filePath(QStringLiteral("clip.final.mp4"))).open(QIODevice::WriteOnly);
    QFile(dir.filePath(QStringLiteral("clip.final-1.mp4"))).open(QIODevice::WriteOnly);
    QCOMPARE(row.getFileName(), dir.filePath(QStringLiteral("clip.final-2.mp4")));
    row.set_url_text(QStringLiteral("http://127.0.0.1:1/"));
    row.start_downloading_item();
    QCOMPARE(row.getFileName(), dir.filePath(QStringLiteral("unnamed_download")));
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("ZQCoreTest"));
    app.setApplicationName(QStringLiteral("test_download_item"));
    TestDownloadItem test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_download_item.moc"
