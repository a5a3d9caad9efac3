// The crash form: what check() offers, the two refusals, the details, and the
// disabled "Envoyer" without an endpoint.
#include "app/zq_log.h"
#include "crash/crash_file_checker.h"
#include "crash/dump_sender.h"
#include "crash/reporter_widget.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

#include <curl/curl.h>

namespace {
struct FakeUi : ReporterWidgetUi
{
    QStringList titles;
    void warn(QWidget*, const QString& title, const QString&) override { titles << title; }
};

void writeDump(const QString& path, int ageSeconds)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("MDMP-fixture");
    f.flush();
    f.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds), QFileDevice::FileModificationTime);
}
} // namespace

class TestCrashForm : public QObject
{
    Q_OBJECT
private slots:
    // As the program does at start-up: the upload thread uses libcurl, whose global set-up (and
    // OpenSSL's with it) is not safe to run on a thread while another one starts using OpenSSL.
    void initTestCase() { curl_global_init(CURL_GLOBAL_DEFAULT); }

    void init()
    {
        qunsetenv("ZQPLAYER_CRASH_REPORT_URL");
        QDir(CrashFileChecker::reportsFolder()).removeRecursively();
    }

    void checkOffersTheNewestOnTop()
    {
        const QDir reports(CrashFileChecker::reportsFolder());
        writeDump(reports.filePath("a/one.dmp"), 300);
        writeDump(reports.filePath("b/two.dmp"), 10);
        writeDump(reports.filePath("b/three.dmp"), 100);
        QPointer<ReporterWidget> form = CrashFileChecker::check();
        QVERIFY(form);
        QCOMPARE(form->windowTitle(), QStringLiteral("Rapport de plantage"));
        QCOMPARE(form->size(), QSize(422, 510));
        QVERIFY(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(form->isVisible());
        QVERIFY(QFile::exists(reports.filePath("b/two.dmp")));
        QVERIFY(!QFile::exists(reports.filePath("a/one.dmp")));
        QVERIFY(!QFile::exists(reports.filePath("b/three.dmp")));
        QVERIFY(form->findChild<QLabel*>("crashdateLabel")->text().startsWith("Date de génération du fichier dump : "));
        form->close();
        QTRY_VERIFY(form.isNull()); // deleted on close
    }

    void noDumpNoForm() { QVERIFY(!CrashFileChecker::check()); }

    void descriptionStartsEmptyAndUntouched()
    {
        // Sending needs a change of the description: building the form is none.
        qputenv("ZQPLAYER_CRASH_REPORT_URL", "https://127.0.0.1:1/traitement");
        ReporterWidget form("x.dmp", "/nonexistent/x.dmp");
        FakeUi ui;
        form.setUi(&ui);
        auto* comment = form.findChild<QTextEdit*>("commentTextEdit");
        QVERIFY(comment->toPlainText().isEmpty());
        QVERIFY(comment->placeholderText().endsWith("cliquer sur \"Quitter\"."));
        form.findChild<QLineEdit*>("emailLineEdit")->setText("a@b.c");
        QTest::mouseClick(form.findChild<QPushButton*>("restartButton"), Qt::LeftButton);
        QCOMPARE(ui.titles, QStringList{"Détails non fournis"});
        // One letter typed and erased counts as a description.
        comment->setPlainText("x");
        comment->clear();
        bool created = false;
        connect(&form, &ReporterWidget::senderCreated, this, [&](DumpSender* sender) {
            created = true;
            QVERIFY(sender->endpoint().isValid());
        });
        QTest::mouseClick(form.findChild<QPushButton*>("restartButton"), Qt::LeftButton);
        QVERIFY(created);
        qunsetenv("ZQPLAYER_CRASH_REPORT_URL");
    }

    void withoutEndpointSendIsDisabled()
    {
        ReporterWidget form("x.dmp", "/nonexistent/x.dmp");
        auto* send = form.findChild<QPushButton*>("restartButton");
        QVERIFY(!send->isEnabled());
        QCOMPARE(send->toolTip(), QStringLiteral("Serveur de rapports non configuré."));
        QVERIFY(DumpSender::configuredEndpoint().isEmpty());
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("warning");
        QTest::newRow("no description") << QString() << "a@b.c" << "Détails non fournis";
        QTest::newRow("no e-mail") << "it froze" << QString() << "Adresse e-mail non fournis";
    }
    void refusals()
    {
        QFETCH(QString, description);
        QFETCH(QString, email);
        QFETCH(QString, warning);
        qputenv("ZQPLAYER_CRASH_REPORT_URL", "https://127.0.0.1:1/traitement");
        ReporterWidget form("x.dmp", "/nonexistent/x.dmp");
        FakeUi ui;
        form.setUi(&ui);
        if (!description.isEmpty())
            form.findChild<QTextEdit*>("commentTextEdit")->setPlainText(description);
        form.findChild<QLineEdit*>("emailLineEdit")->setText(email);
        bool created = false;
        connect(&form, &ReporterWidget::senderCreated, this, [&] { created = true; });
        form.show();
        QTest::mouseClick(form.findChild<QPushButton*>("restartButton"), Qt::LeftButton);
        QCOMPARE(ui.titles, QStringList{warning});
        QVERIFY(!created);
        QVERIFY(form.isVisible());
    }

    void detailsAreComposedAtEachOpening()
    {
        const QString dump = QDir(CrashFileChecker::reportsFolder()).filePath("crash.2024.dmp");
        writeDump(dump, 5);
        ReporterWidget form("crash.2024.dmp", dump);
        form.findChild<QLineEdit*>("emailLineEdit")->setText("first@x");
        QTest::mouseClick(form.findChild<QPushButton*>("detailButton"), Qt::LeftButton);
        auto* dialog = form.findChild<DetailDialog*>();
        QVERIFY(dialog);
        QVERIFY(dialog->text().contains("Email: first@x"));
        QVERIFY(dialog->text().contains("Fichier dump : crash.dmp (12 octets)"));
        QVERIFY(dialog->text().contains("Fichier journal : zqlogfile.log"));
        QVERIFY(!dialog->text().contains("Commentaires"));
        form.findChild<QLineEdit*>("emailLineEdit")->setText("second@x");
        form.findChild<QTextEdit*>("commentTextEdit")->setPlainText("boom");
        QTest::mouseClick(form.findChild<QPushButton*>("detailButton"), Qt::LeftButton);
        QCOMPARE(form.findChildren<DetailDialog*>().size(), 1);
        QVERIFY(dialog->text().contains("Email: second@x"));
        QVERIFY(dialog->text().contains("Commentaires: boom"));
    }

    void quitRemovesTheDumpAndEmptiesTheLog()
    {
        const QString dump = QDir(CrashFileChecker::reportsFolder()).filePath("q.dmp");
        writeDump(dump, 5);
        QDir().mkpath(QFileInfo(ZQLog::logFilePath()).absolutePath());
        QFile log(ZQLog::logFilePath());
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.write("old lines\n");
        log.close();
        auto* form = new ReporterWidget("q.dmp", dump);
        form->setAttribute(Qt::WA_DeleteOnClose);
        form->show();
        QTest::mouseClick(form->findChild<QPushButton*>("quitButton"), Qt::LeftButton);
        QVERIFY(!QFile::exists(dump));
        QCOMPARE(QFileInfo(ZQLog::logFilePath()).size(), 0);
    }
};

QTEST_MAIN(TestCrashForm)
#include "test_crash_form.moc"
