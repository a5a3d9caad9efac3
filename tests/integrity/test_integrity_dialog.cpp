// The integrity dialog driven slot by slot as the check drives it, and the pair started by
// IntegrityRun: closed while the check runs, the check goes only after its thread has ended.

#include "integrity/integrity_check.h"
#include "integrity/integrity_dialog.h"
#include "integrity/integrity_run.h"
#include "recordings/encrypt.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QSemaphore>
#include <QTest>

#include <chrono>
#include <thread>

namespace {

// One step of a sequence: a slot call with its argument, or an operator action.
void play(IntegrityDialog* d, const QString& step)
{
    const QString name = step.section(QLatin1Char(':'), 0, 0);
    const QString arg = step.section(QLatin1Char(':'), 1, -2);
    const bool flag = step.endsWith(QLatin1String(":1"));
    if (name == "found")
        d->is_hash_file_found(flag);
    else if (name == "count")
        d->get_file_count(step.section(QLatin1Char(':'), 1).toInt());
    else if (name == "countcheck")
        d->is_file_count_check(flag);
    else if (name == "start")
        d->start_check();
    else if (name == "begin")
        d->begin_check_file(step.section(QLatin1Char(':'), 1));
    else if (name == "end")
        d->end_check_file(arg, flag);
    else if (name == "done")
        d->end_check(flag);
    else if (name == "click")
        QTest::mouseClick(d->button(), Qt::LeftButton);
    else if (name == "escape")
        QTest::keyClick(d, Qt::Key_Escape);
    else if (name == "close")
        d->close();
    else
        QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
}

bool write_list(const QString& day, const QJsonArray& list)
{
    return Encrypt::encrypt_to_file(QJsonDocument(list).toJson(QJsonDocument::Compact),
                                    day + QStringLiteral("/hash.json"), Encrypt::KeyForm::Text,
                                    Encrypt::kMaxHashListSize) == 1;
}

// A day of a few large files, so that a check runs long enough to be interrupted.
bool write_large_day(const QString& day, int files, qint64 size)
{
    if (!QDir().mkpath(day))
        return false;
    QJsonArray list;
    for (int i = 0; i < files; ++i) {
        const QString name = QStringLiteral("big%1.bin").arg(i);
        QFile f(day + QLatin1Char('/') + name);
        if (!f.open(QIODevice::WriteOnly) || !f.resize(size))
            return false;
        list.append(QJsonObject{{"file", name}, {"path", name}, {"sha256", QString(64, QLatin1Char('a'))}});
    }
    return write_list(day, list);
}

} // namespace

class TestIntegrityDialog : public QObject
{
    Q_OBJECT

private slots:
    void sequences_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("format");     // the bar's format afterwards
        QTest::addColumn<QString>("shown");      // the bar's text afterwards
        QTest::addColumn<QStringList>("lines");  // result lines, top to bottom
        QTest::addColumn<QString>("button");     // text, "-" when disabled, "closed" when gone
        QTest::addColumn<int>("stops");          // user_stopped() emissions

        const QString hashOk = QStringLiteral("Fichier HASH trouvé : OK");
        const QString countOk = QStringLiteral("Intégrité du compte de fichiers : OK");
        QTest::newRow("OK") << "found:1 count:2 start countcheck:1 begin:a end:a:1 begin:b end:b:1 done:1"
                            << "Intégrité validée" << "Intégrité validée"
                            << QStringList{hashOk, "Nombre de fichiers à vérifier : 2",
                                           "État de la vérification d'intégrité : OK", countOk,
                                           "Vérification d'intégrité terminée et validée"}
                            << "Fermer" << 0;
        QTest::newRow("not OK") << "found:1 count:2 start countcheck:1 begin:a end:a:1 begin:b end:b:0 done:0"
                                << "Intégrité non valide" << "Intégrité non valide"
                                << QStringList{hashOk, "Nombre de fichiers à vérifier : 2",
                                               "État de la vérification d'intégrité : ERREUR", countOk,
                                               "Erreur lors de la vérification du fichier : b",
                                               "Vérification d'intégrité terminée et non conforme"}
                                << "Fermer" << 0;
        QTest::newRow("no list") << "found:0 count:0 start countcheck:1 done:0"
                                 << "Intégrité non valide" << "Intégrité non valide"
                                 << QStringList{"Fichier HASH trouvé : ERREUR", "Nombre de fichiers à vérifier : 0",
                                                "État de la vérification d'intégrité : ERREUR", countOk,
                                                "Vérification d'intégrité terminée et non conforme"}
                                 << "Fermer" << 0;
        // The stop wins over a result that came in as OK (the last file was being hashed).
        QTest::newRow("stop") << "found:1 count:3 start countcheck:1 begin:a click done:1"
                              << "Vérification arrêtée" << "Vérification arrêtée"
                              << QStringList{hashOk, "Nombre de fichiers à vérifier : 3",
                                             "État de la vérification : interrompue par l'utilisateur", countOk,
                                             "Arrêt de la vérification demandé par l'utilisateur.",
                                             "Vérification interrompue avant la fin.", ""}
                              << "Fermer" << 1;
        QTest::newRow("stop requested, running") << "found:1 count:3 start countcheck:1 begin:a click"
                                                 << "33 %  [ a ]" << "33 %  [ a ]"
                                                 << QStringList{hashOk, "Nombre de fichiers à vérifier : 3",
                                                                "État de la vérification d'intégrité : EN COURS ...",
                                                                countOk,
                                                                "Arrêt de la vérification demandé par l'utilisateur."}
                                                 << "-" << 1;
        QTest::newRow("66 %  [ b ]") << "count:3 start begin:a begin:b"
                                     << "66 %  [ b ]" << "66 %  [ b ]"
                                     << QStringList{"Nombre de fichiers à vérifier : 3",
                                                    "État de la vérification d'intégrité : EN COURS ..."}
                                     << "Arrêter" << 0;
        QTest::newRow("% in a name") << "count:3 start begin:50%p%v%m.zqvideo"
                                     << "33 %  [ 50%p%v%m.zqvideo ]" << "33 %  [ 50%p%v%m.zqvideo ]"
                                     << QStringList{"Nombre de fichiers à vérifier : 3",
                                                    "État de la vérification d'intégrité : EN COURS ..."}
                                     << "Arrêter" << 0;
        QTest::newRow("markup in a name") << "count:1 start begin:<b>x</b> end:<b>x</b>:0"
                                          << "100 %  [ <b>x</b> ]" << "100 %  [ <b>x</b> ]"
                                          << QStringList{"Nombre de fichiers à vérifier : 1",
                                                         "État de la vérification d'intégrité : EN COURS ...",
                                                         "Erreur lors de la vérification du fichier : <b>x</b>"}
                                          << "Arrêter" << 0;
        QTest::newRow("Escape and close while running")
            << "count:1 start escape close" << "Vérification en attente ..." << "Vérification en attente ..."
            << QStringList{"Nombre de fichiers à vérifier : 1", "État de la vérification d'intégrité : EN COURS ..."}
            << "Arrêter" << 0;
        QTest::newRow("Escape once ended") << "count:0 start done:0 escape" << "" << "" << QStringList() << "closed"
                                           << 0;
        QTest::newRow("Fermer before the start") << "click" << "" << "" << QStringList() << "closed" << 0;
    }

    void sequences()
    {
        QFETCH(QString, steps);
        QFETCH(QString, format);
        QFETCH(QString, shown);
        QFETCH(QStringList, lines);
        QFETCH(QString, button);
        QFETCH(int, stops);

        QPointer<IntegrityDialog> d = new IntegrityDialog(QStringLiteral("/data/zqcore_0a1b-2c3d-4e5f-6789"),
                                                          QStringLiteral("2024-01-01"));
        QSignalSpy stopped(d.data(), &IntegrityDialog::user_stopped);
        QSignalSpy finished(d.data(), &QDialog::finished);
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d.data()));
        for (const QString& step : steps.split(QLatin1Char(' ')))
            play(d, step);
        QCOMPARE(stopped.size(), stops);

        if (button == QLatin1String("closed")) {
            QCOMPARE(finished.size(), 1);
            QTRY_VERIFY(d.isNull());
            return;
        }
        QCOMPARE(finished.size(), 0);
        QVERIFY(d->isVisible());
        QCOMPARE(d->progress_bar()->format(), format);
        QCOMPARE(d->progress_bar()->text(), shown);
        QCOMPARE(d->result_lines(), lines);
        if (button == QLatin1String("-")) {
            QVERIFY(!d->button()->isEnabled());
        } else {
            QVERIFY(d->button()->isEnabled());
            QCOMPARE(d->button()->text(), button);
        }
        // Names from the storage folder are never read as markup.
        for (QLabel* label : d->findChildren<QLabel*>())
            QCOMPARE(label->textFormat(), Qt::PlainText);
        delete d;
    }

    void window_and_title()
    {
        IntegrityDialog d(QStringLiteral("/data/zqcore_0a1b-2c3d-4e5f-6789"), QStringLiteral("2024-01-01"));
        QVERIFY(d.testAttribute(Qt::WA_DeleteOnClose));
        QCOMPARE(d.windowModality(), Qt::ApplicationModal);
        QCOMPARE(d.windowFlags() & (Qt::Tool | Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint),
                 Qt::Tool | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
        QStringList texts;
        for (QLabel* label : d.findChildren<QLabel*>())
            texts << label->text();
        QVERIFY(texts.contains(QStringLiteral("Vérification d'intégrité de la journée du 2024-01-01")));
        QVERIFY(texts.contains(QStringLiteral("[/data/zqcore_0a1b-2c3d-4e5f-6789]")));
        QCOMPARE(d.button()->text(), QStringLiteral("Fermer"));
        d.setAttribute(Qt::WA_DeleteOnClose, false);
    }

    // The pair closed while the check runs: the dialog goes at once, the check only once its thread
    // has ended (AddressSanitizer reports a check deleted under its running thread).
    void run_closed_while_checking()
    {
        QTemporaryDir tmp;
        const QString day = tmp.filePath(QStringLiteral("2024-01-01"));
        QVERIFY(write_large_day(day, 2, 1024 * 1024));

        QPointer<IntegrityRun> run = IntegrityRun::start(nullptr, tmp.path(), QStringLiteral("2024-01-01"));
        QVERIFY(run);
        QCOMPARE(run->day_folder(), day);
        QPointer<IntegrityCheck> check = run->check();
        QPointer<IntegrityDialog> dialog = run->dialog();
        QVERIFY(check && dialog);
        // The worker waits at its first file until the dialog has gone.
        QSemaphore gate;
        connect(check.data(), &IntegrityCheck::begin_check_file, check.data(), [&gate] { gate.acquire(); },
                Qt::DirectConnection);
        bool threadEnded = false;
        bool endedBeforeDelete = false;
        connect(check.data(), &QThread::finished, this, [&] { threadEnded = true; }, Qt::DirectConnection);
        connect(check.data(), &QObject::destroyed, this, [&] { endedBeforeDelete = threadEnded; });
        QSignalSpy finished(run.data(), &IntegrityRun::finished);

        QTRY_VERIFY(dialog->is_running());
        dialog->done(0); // closed by other means than its button (Escape and close are ignored)
        QCOMPARE(finished.size(), 1);
        QTRY_VERIFY(dialog.isNull());
        QTest::qWait(50);
        QVERIFY(check && check->isRunning());
        gate.release();
        QTRY_VERIFY_WITH_TIMEOUT(run.isNull() && check.isNull(), 30000);
        QVERIFY(endedBeforeDelete);
    }

    // The dialog deleted with its parent window while the check runs: the owner still hears the
    // end, and the check goes once its thread has ended.
    void run_parent_deleted_while_checking()
    {
        QTemporaryDir tmp;
        const QString day = tmp.filePath(QStringLiteral("2024-01-01"));
        QVERIFY(write_large_day(day, 2, 1024 * 1024));
        auto* parent = new QWidget;
        QPointer<IntegrityRun> run = IntegrityRun::start(parent, tmp.path(), QStringLiteral("2024-01-01"));
        QVERIFY(run);
        QPointer<IntegrityCheck> check = run->check();
        QSemaphore gate;
        connect(check.data(), &IntegrityCheck::begin_check_file, check.data(), [&gate] { gate.acquire(); },
                Qt::DirectConnection);
        QSignalSpy finished(run.data(), &IntegrityRun::finished);
        QTRY_VERIFY(run->dialog()->is_running());
        delete parent;
        QCOMPARE(finished.size(), 1);
        QVERIFY(check);
        gate.release();
        QTRY_VERIFY_WITH_TIMEOUT(run.isNull() && check.isNull(), 30000);
    }

    // Started on a day folder, the pair names that folder and its day; nothing without a day.
    void run_on_a_day_folder()
    {
        QVERIFY(!IntegrityRun::start(nullptr, QStringLiteral("/x"), QString()));
        QVERIFY(!IntegrityRun::start(nullptr, QString(), QStringLiteral("2024-01-01")));

        QTemporaryDir tmp;
        const QString day = tmp.filePath(QStringLiteral("2024-01-02"));
        QVERIFY(write_large_day(day, 1, 1024));
        QPointer<IntegrityRun> run = IntegrityRun::start(nullptr, QString(), day);
        QVERIFY(run);
        QPointer<IntegrityDialog> dialog = run->dialog();
        QStringList texts;
        for (QLabel* label : dialog->findChildren<QLabel*>())
            texts << label->text();
        QVERIFY(texts.contains(QStringLiteral("Vérification d'intégrité de la journée du 2024-01-02")));
        QVERIFY(texts.contains(QStringLiteral("[") + day + QStringLiteral("]")));
        // The digest in the list is wrong: the run ends not valid, and "Fermer" disposes of the pair.
        QTRY_COMPARE_WITH_TIMEOUT(dialog->progress_bar()->format(), QStringLiteral("Intégrité non valide"), 30000);
        QVERIFY(dialog->result_lines().contains(QStringLiteral("Erreur lors de la vérification du fichier : big0.bin")));
        QSignalSpy finished(run.data(), &IntegrityRun::finished);
        QTest::mouseClick(dialog->button(), Qt::LeftButton);
        QCOMPARE(finished.size(), 1);
        QTRY_VERIFY(run.isNull() && dialog.isNull());
    }

    // Deleting the pair (the window closing) stops the check and waits for it.
    void run_deleted_while_checking()
    {
        QTemporaryDir tmp;
        const QString day = tmp.filePath(QStringLiteral("2024-01-01"));
        QVERIFY(write_large_day(day, 2, 1024 * 1024));
        IntegrityRun* run = IntegrityRun::start(nullptr, tmp.path(), QStringLiteral("2024-01-01"));
        QVERIFY(run);
        QSemaphore gate;
        connect(run->check(), &IntegrityCheck::begin_check_file, run->check(), [&gate] { gate.acquire(); },
                Qt::DirectConnection);
        QTRY_VERIFY(run->dialog()->is_running());
        std::thread opener([&gate] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            gate.release();
        });
        delete run;
        opener.join();
    }
};

QTEST_MAIN(TestIntegrityDialog)
#include "test_integrity_dialog.moc"
