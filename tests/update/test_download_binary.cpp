// The updater without a server: what never touches the network, the refusals
// made before any request, and the progress label's 250 ms rule.
#include "app/http_singleton.h"
#include "update/download_binary.h"

#include <QApplication>
#include <QDir>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

namespace {
struct FakeUi : DownloadBinaryUi
{
    int questions = 0;
    QString label;
    int maximum = -1;
    int value = -1;
    bool askUpdate(const QString&, const QString&, const QString&, const QString&) override
    {
        ++questions;
        return true;
    }
    QString askSaveFile(const QString&, const QString& proposed, const QString&) override { return proposed; }
    void showProgress(const QString&, const QString& l, std::function<void()>) override { label = l; }
    void setProgress(int max, int v) override
    {
        maximum = max;
        value = v;
    }
    QString progressLabel() const override { return label; }
    void setProgressLabel(const QString& l) override { label = l; }
    void closeProgress() override {}
};
} // namespace

class TestDownloadBinary : public QObject
{
    Q_OBJECT
private slots:
    void notConfiguredGoesOnWithoutNetwork()
    {
        qunsetenv("ZQPLAYER_RELEASE_BASE_URL");
        DownloadBinary updater("3.4.1", nullptr, nullptr);
        FakeUi ui;
        updater.set_ui(&ui);
        QSignalSpy started(&updater, &DownloadBinary::updateCheckStarted);
        QVERIFY(updater.checkAndPrompt(true));
        QCOMPARE(started.size(), 0);
        QVERIFY(!Http_singleton::instance()->get_update_ok());
    }

    void refusedBaseAddresses_data()
    {
        QTest::addColumn<QByteArray>("base");
        QTest::newRow("file") << QByteArray("file:///tmp/zqapps/");
        QTest::newRow("plain http elsewhere") << QByteArray("http://192.0.2.1/zqapps/");
    }
    void refusedBaseAddresses()
    {
        QFETCH(QByteArray, base);
        qputenv("ZQPLAYER_RELEASE_BASE_URL", base);
        DownloadBinary updater("3.4.1", nullptr, nullptr);
        FakeUi ui;
        updater.set_ui(&ui);
        QSignalSpy failed(&updater, &DownloadBinary::updateCheckFailed);
        QVERIFY(updater.checkAndPrompt(true));
        QCOMPARE(failed.size(), 1);
        QVERIFY(failed[0][0].toString().startsWith("Adresse refusée"));
        QCOMPARE(ui.questions, 0);
        QVERIFY(!Http_singleton::instance()->get_update_ok());
        qunsetenv("ZQPLAYER_RELEASE_BASE_URL");
    }

    void refusalsBeforeAnyRequest_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<QString>("sha");
        QTest::addColumn<QString>("error");
        QTest::newRow("no hash") << QUrl("https://127.0.0.1:1/a.zip") << "  "
                                 << "Aucune empreinte SHA-256 annoncée : téléchargement refusé.";
        QTest::newRow("file scheme") << QUrl("file:///etc/hostname") << QString(64, 'a') << "Adresse refusée";
    }
    void refusalsBeforeAnyRequest()
    {
        QFETCH(QUrl, url);
        QFETCH(QString, sha);
        QFETCH(QString, error);
        DownloadBinary updater("3.4.1", nullptr, nullptr);
        FakeUi ui;
        updater.set_ui(&ui);
        QSignalSpy failed(&updater, &DownloadBinary::downloadFailed);
        QSignalSpy started(&updater, &DownloadBinary::downloadStarted);
        updater.startDownload(url, QString(), sha, false, false);
        QCOMPARE(failed.size(), 1);
        QVERIFY(failed[0][0].toString().startsWith(error));
        QCOMPARE(started.size(), 0);
        const QDir downloads(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
        QVERIFY(downloads.isEmpty());
    }

    void labelChangesAtMostEvery250ms()
    {
        DownloadBinary updater("3.4.1", nullptr, nullptr);
        FakeUi ui;
        updater.set_ui(&ui);
        qint64 now = 1000000;
        updater.setClock([&] { return now; });
        updater.showProgressDialog("t", "setup.exe");
        QCOMPARE(ui.label, QStringLiteral("Téléchargement du paquet\nFichier : setup.exe"));
        now += 100;
        updater.updateProgressLabel(512 * 1024, 1024 * 1024);
        QCOMPARE(ui.value, 50);
        QCOMPARE(ui.label, QStringLiteral("Téléchargement du paquet\nFichier : setup.exe")); // bar only
        now += 150;
        updater.updateProgressLabel(512 * 1024, 1024 * 1024);
        // 512 Kio in 250 ms: 2 Mo/s, 512 Kio left: 0:00.
        QCOMPARE(ui.label, QStringLiteral("Téléchargement du paquet\nReçu : 512 Ko / 1.00 Mo  ·  Débit : 2.00 Mo/s  ·  Restant : 0:00"));
        now += 300;
        // Unknown total: a busy bar, received and rate, no remaining time.
        updater.updateProgressLabel(1024 * 1024 + 512 * 1024, -1);
        QCOMPARE(ui.maximum, 0);
        QCOMPARE(ui.label, QStringLiteral("Téléchargement du paquet\nReçu : 1.50 Mo  ·  Débit : 3.33 Mo/s"));
    }
};

QTEST_MAIN(TestDownloadBinary)
#include "test_download_binary.moc"
