// The updater against a loopback release server: the requests it makes, the
// ways a check fails, the prompt's details and every way a download ends.
#include "app/http_singleton.h"
#include "update_fixture.h"
#include "../recordings/log_capture.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

namespace {
QByteArray listing(const QStringList& folders)
{
    QByteArray html = "<html><body><ul>";
    for (const QString& f : folders)
        html += "<li><a href=\"" + f.toUtf8() + "/\">" + f.toUtf8() + "/</a></li>";
    return html + "</ul></body></html>";
}

enum Failure { Index404, Untrusted, HttpsToHttp, RedirectLoop, SilentListing, TricklingListing, HugeListing, NoDigest };
} // namespace

class TestUpdateNetwork : public QObject
{
    Q_OBJECT

    std::unique_ptr<LoopbackServer> m_https;
    std::unique_ptr<LoopbackServer> m_http;
    std::unique_ptr<InstallerFixture> m_installer;
    QStringList m_opened;
    bool m_openerResult = true;

    std::unique_ptr<DownloadBinary> makeUpdater(FakeUpdateUi& ui, const QString& version = "3.4.1",
                                                bool trust = true)
    {
        auto updater = std::make_unique<DownloadBinary>(version, nullptr, nullptr);
        updater->set_ui(&ui);
        updater->setPlatformKey("Linux/64");
        if (trust)
            updater->setSslConfiguration(trusting(*m_https));
        updater->setTimeBudget(8000);
        updater->setQuitAfterLaunch(false);
        updater->setOpener([this](const QString& path) {
            m_opened << path;
            return m_openerResult;
        });
        return updater;
    }

    QByteArray installerIndex(const QString& sha, qint64 size, const QByteArray& extra = {})
    {
        QByteArray index = "[" + assetJson("ZQPlayer-3.5.0.zip", m_https->url_string("/files/ZQPlayer-3.5.0.zip"), sha, size);
        if (!extra.isEmpty())
            index += "," + extra;
        return index + "]";
    }

    QStringList paths() const
    {
        QStringList out;
        for (const HttpRequest& r : m_https->requests())
            out << QString::fromUtf8(r.path);
        return out;
    }

private slots:
    void initTestCase()
    {
        m_https = std::make_unique<LoopbackServer>(LoopbackServer::Https);
        m_http = std::make_unique<LoopbackServer>(LoopbackServer::Http);
        m_installer = std::make_unique<InstallerFixture>(300 * 1024 + 7);
    }

    void init()
    {
        m_https->clear_requests();
        m_http->clear_requests();
        m_opened.clear();
        m_openerResult = true;
        clearDownloads();
        qputenv("ZQPLAYER_RELEASE_BASE_URL", m_https->url_string("/zqapps/").toUtf8());
        add_update_text_route(*m_https, kProduct, listing({"3.3", "3.5", "4.0"}));
        // Routes outlive a test: answer 404 for the indexes until one sets its own.
        for (const char* folder : {"3.3", "3.4"})
            for (const char* channel : {"STABLE", "TESTING"})
                add_update_text_route(*m_https, kProduct + folder + "/" + channel + "/index.json", "no", 404);
    }

    void requestsAndNothingNewer()
    {
        add_update_text_route(*m_https, kProduct + "3.3/STABLE/index.json",
                              installerIndex(m_installer->sha, 10).replace("3.5.0", "3.4.1"), 200,
                              "application/json");
        FakeUpdateUi ui;
        auto updater = makeUpdater(ui);
        QSignalSpy none(updater.get(), &DownloadBinary::noUpdateAvailable);
        QVERIFY(updater->checkAndPrompt(true));
        QCOMPARE(none.size(), 1);
        QCOMPARE(ui.questions, 0);
        QCOMPARE(paths(), (QStringList{QString(kProduct), QString(kProduct) + "3.3/STABLE/index.json"}));
        for (const HttpRequest& r : m_https->requests())
            QCOMPARE(r.header("user-agent"), QByteArray("AutoUpdate/3.4.1"));
        QVERIFY(Http_singleton::instance()->get_update_ok());
    }

    void testBuildAsksTestingOnce()
    {
        // Neither channel has an index: STABLE, then TESTING once, then the failure.
        FakeUpdateUi ui;
        auto updater = makeUpdater(ui, "3.4.1.DEV202401010000");
        QSignalSpy failed(updater.get(), &DownloadBinary::updateCheckFailed);
        QVERIFY(updater->checkAndPrompt(true));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(paths().filter("/TESTING/").size(), 1);
        QCOMPARE(paths().filter("/STABLE/").size(), 1);
        QVERIFY(!Http_singleton::instance()->get_update_ok());
    }

    void checkFailures_data()
    {
        QTest::addColumn<int>("failure");
        QTest::addColumn<QString>("text");
        QTest::newRow("index 404") << int(Index404) << "";
        QTest::newRow("untrusted certificate") << int(Untrusted) << "Erreur SSL: ";
        QTest::newRow("https to http redirect") << int(HttpsToHttp) << "Redirection de https vers http refusée";
        QTest::newRow("redirect loop") << int(RedirectLoop) << "";
        QTest::newRow("silent listing") << int(SilentListing) << "Délai de vérification";
        QTest::newRow("trickling listing") << int(TricklingListing) << "Délai de vérification";
        QTest::newRow("huge listing") << int(HugeListing) << "Réponse trop volumineuse.";
        QTest::newRow("only asset without SHA-256")
            << int(NoDigest) << "Aucun binaire vérifiable pour cette plateforme : empreinte SHA-256 absente.";
    }
    void checkFailures()
    {
        QFETCH(int, failure);
        QFETCH(QString, text);
        switch (Failure(failure)) {
        case Index404:
        case Untrusted:
            break;
        case HttpsToHttp:
            add_redirect_route(*m_https, kProduct, m_http->url_string(QString(kProduct)).toUtf8());
            add_update_text_route(*m_http, kProduct, listing({"3.4"}));
            break;
        case RedirectLoop:
            add_redirect_route(*m_https, kProduct, m_https->url_string(QString(kProduct)).toUtf8());
            break;
        case SilentListing:
            m_https->route("GET", kProduct, [](const HttpRequest&, HttpResponsePtr) {});
            break;
        case TricklingListing:
            m_https->route("GET", kProduct, [](const HttpRequest&, HttpResponsePtr res) {
                res->trickle(200, {{"Content-Length", "100000"}}, QByteArray(100000, ' '), 10, 50);
            });
            break;
        case HugeListing:
            add_update_text_route(*m_https, kProduct, QByteArray(2 * 1024 * 1024, 'x'));
            break;
        case NoDigest:
            add_update_text_route(*m_https, kProduct + "3.3/STABLE/index.json", installerIndex(QString(), 10));
            break;
        }
        FakeUpdateUi ui;
        auto updater = makeUpdater(ui, "3.4.1", failure != Untrusted);
        updater->setTimeBudget(1500);
        QSignalSpy failed(updater.get(), &DownloadBinary::updateCheckFailed);
        QVERIFY(updater->checkAndPrompt(true));
        QCOMPARE(failed.size(), 1);
        QVERIFY2(failed[0][0].toString().startsWith(text), qPrintable(failed[0][0].toString()));
        QCOMPARE(ui.questions, 0);
        QCOMPARE(m_http->request_count(), 0);
        QVERIFY(!Http_singleton::instance()->get_update_ok());
    }

    void promptAndDetails_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("cut");
        QTest::newRow("12000 characters") << 12000 << false;
        QTest::newRow("12001 characters") << 12001 << true;
    }
    void promptAndDetails()
    {
        QFETCH(int, length);
        QFETCH(bool, cut);
        const QString changelog = QString(length - 1, QChar(0xe9)) + "Z";
        add_update_text_route(*m_https, "/files/CHANGELOG.md", changelog.toUtf8(), 200, "text/markdown");
        const QByteArray entry = "{\"name\":\"CHANGELOG.md\",\"url\":\"" + m_https->url_string("/files/CHANGELOG.md").toUtf8() + "\"}";
        add_update_text_route(*m_https, kProduct + "3.3/STABLE/index.json",
                              installerIndex(m_installer->sha, 2048, entry));
        FakeUpdateUi ui;
        ui.answerYes = false;
        auto updater = makeUpdater(ui);
        QVERIFY(updater->checkAndPrompt(true));
        QCOMPARE(ui.questions, 1);
        QCOMPARE(ui.text, QStringLiteral("Version actuelle : 3.4.1\nVersion disponible : 3.5.0 (STABLE)\n"
                                         "Fichier : ZQPlayer-3.5.0.zip\nTaille : 2.00 Ko\nPlateforme : Linux/64"));
        const QString shown = cut ? changelog.left(12000) + "\n" + QChar(0x2026) : changelog;
        QCOMPARE(ui.details, shown + "\nSHA-256 : " + m_installer->sha);
        QVERIFY(!paths().contains("/files/ZQPlayer-3.5.0.zip"));
        QCOMPARE(m_https->last_request().header("user-agent"), QByteArray("AutoUpdate/3.4.1"));
    }

    void downloads_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("hashForm"); // 0 as is, 1 upper case with colons, 2 wrong
        QTest::addColumn<bool>("openerAccepts");
        QTest::addColumn<bool>("announceHalf");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<bool>("goesOn");
        QTest::addColumn<bool>("fileKept");
        // The log line that tells how it ended ("PATH": the target's path); never a message box.
        QTest::addColumn<QString>("logged");
        QTest::addColumn<int>("openerCalls");
        const int normal = int(InstallerMode::Normal);
        QTest::newRow("verified, upper case with colons")
            << normal << 1 << true << false << false << false << true << "" << 1;
        QTest::newRow("shell refuses") << normal << 0 << false << false << false << false << true
                                       << "[WARN] Auto Update :: installer not opened :: Impossible d’ouvrir le fichier téléchargé. :: PATH"
                                       << 1;
        QTest::newRow("wrong hash") << normal << 2 << true << false << false << true << false
                                    << "[WARN] Auto Update :: verification failed, file removed :: expected " << 0;
        QTest::newRow("dropped") << int(InstallerMode::Drop) << 0 << true << false << false << true << false
                                 << "[WARN] Auto Update :: download failed :: " << 0;
        QTest::newRow("404") << int(InstallerMode::NotFound) << 0 << true << false << false << true << false
                             << "[WARN] Auto Update :: download failed :: " << 0;
        QTest::newRow("no length") << int(InstallerMode::NoLength) << 0 << true << false << false << false << true
                                   << "" << 1;
        QTest::newRow("past the announced size")
            << normal << 0 << true << true << false << true << false
            << "[WARN] Auto Update :: download failed :: Le fichier reçu dépasse la taille annoncée." << 0;
        QTest::newRow("cancelled") << normal << 0 << true << false << true << true << false
                                   << "[WARN] Auto Update :: download failed :: Téléchargement annulé." << 0;
    }
    void downloads()
    {
        QFETCH(int, mode);
        QFETCH(int, hashForm);
        QFETCH(bool, openerAccepts);
        QFETCH(bool, announceHalf);
        QFETCH(bool, cancel);
        QFETCH(bool, goesOn);
        QFETCH(bool, fileKept);
        QFETCH(QString, logged);
        QFETCH(int, openerCalls);
        LogCapture log;
        QString sha = m_installer->sha;
        if (hashForm == 1) {
            QStringList pairs;
            for (int i = 0; i < sha.size(); i += 2)
                pairs << sha.mid(i, 2).toUpper();
            sha = pairs.join(':');
        } else if (hashForm == 2) {
            sha = QString(64, '0');
        }
        const qint64 size = QFileInfo(m_installer->path).size();
        add_update_text_route(*m_https, kProduct + "3.3/STABLE/index.json",
                              installerIndex(sha, announceHalf ? size / 2 : size));
        add_installer_route(*m_https, "/files/ZQPlayer-3.5.0.zip", m_installer->path, InstallerMode(mode));
        m_openerResult = openerAccepts;
        FakeUpdateUi ui;
        ui.cancelOnProgress = cancel;
        auto updater = makeUpdater(ui);
        QCOMPARE(updater->checkAndPrompt(true), goesOn);
        QCOMPARE(updater->installerLaunched(), !goesOn && openerAccepts);
        QCOMPARE(m_opened.size(), openerCalls);
        const QString target = QDir(downloadsFolder()).filePath("ZQPlayer-3.5.0.zip");
        if (fileKept) {
            QCOMPARE(downloadsContent(), QStringList{"ZQPlayer-3.5.0.zip"});
            QCOMPARE(zq::Sha256::ofFile(target), m_installer->sha);
        } else {
            QCOMPARE(downloadsContent(), QStringList());
        }
        const QStringList failures = log.lines().filter(QStringLiteral("[WARN] Auto Update :: "));
        if (logged.isEmpty()) {
            QCOMPARE(failures, QStringList());
        } else {
            QCOMPARE(failures.size(), 1);
            const QString expected = QString(logged).replace("PATH", QDir::toNativeSeparators(target));
            QVERIFY2(failures[0].contains(expected), qPrintable(failures[0]));
        }
    }

    void downloadRequestRules_data()
    {
        QTest::addColumn<int>("rule"); // 0 untrusted, 1 redirect to http, 2 redirect loop, 3 redirect to https
        QTest::addColumn<QString>("error");
        QTest::newRow("untrusted certificate") << 0 << "Erreur SSL: ";
        QTest::newRow("https to http redirect") << 1 << "Redirection de https vers http refusée";
        QTest::newRow("redirect loop") << 2 << "Trop de redirections.";
        QTest::newRow("https redirect followed") << 3 << "";
    }
    void downloadRequestRules()
    {
        QFETCH(int, rule);
        QFETCH(QString, error);
        add_installer_route(*m_https, "/files/real.zip", m_installer->path, InstallerMode::Normal);
        add_installer_route(*m_http, "/files/real.zip", m_installer->path, InstallerMode::Normal);
        QByteArray location = m_https->url_string("/files/real.zip").toUtf8();
        if (rule == 1)
            location = m_http->url_string("/files/real.zip").toUtf8();
        if (rule == 2)
            location = m_https->url_string("/files/hop.zip").toUtf8();
        add_redirect_route(*m_https, "/files/hop.zip", location);
        FakeUpdateUi ui;
        auto updater = makeUpdater(ui, "3.4.1", rule != 0);
        QSignalSpy failed(updater.get(), &DownloadBinary::downloadFailed);
        QSignalSpy finished(updater.get(), &DownloadBinary::downloadFinished);
        const QUrl url = rule == 0 ? m_https->url("/files/real.zip") : m_https->url("/files/hop.zip");
        updater->startDownload(url, QString(), m_installer->sha, false, false);
        QTRY_VERIFY_WITH_TIMEOUT(failed.size() + finished.size() > 0, 20000);
        QTest::qWait(100);
        QCOMPARE(failed.size() + finished.size(), 1); // one terminal signal
        if (error.isEmpty()) {
            QCOMPARE(finished.size(), 1);
            QCOMPARE(downloadsContent(), QStringList{"hop.zip"}); // named after the address asked for
        } else {
            QVERIFY2(failed[0][0].toString().startsWith(error), qPrintable(failed[0][0].toString()));
            QCOMPARE(downloadsContent(), QStringList());
        }
        QCOMPARE(m_http->request_count(), 0);
    }

    void unwritableTargetIsAFolder()
    {
        const qint64 size = QFileInfo(m_installer->path).size();
        add_update_text_route(*m_https, kProduct + "3.3/STABLE/index.json", installerIndex(m_installer->sha, size));
        add_installer_route(*m_https, "/files/ZQPlayer-3.5.0.zip", m_installer->path, InstallerMode::Normal);
        QDir().mkpath(QDir(downloadsFolder()).filePath("ZQPlayer-3.5.0.zip"));
        FakeUpdateUi ui;
        auto updater = makeUpdater(ui);
        LogCapture log;
        QVERIFY(updater->checkAndPrompt(true));
        QVERIFY(log.has("[WARN] Auto Update :: download failed :: Impossible d’ouvrir le fichier destination."));
        QVERIFY(!paths().contains("/files/ZQPlayer-3.5.0.zip"));
        QCOMPARE(downloadsContent(), QStringList{"ZQPlayer-3.5.0.zip"});
    }
};

QTEST_MAIN(TestUpdateNetwork)
#include "test_update_network.moc"
