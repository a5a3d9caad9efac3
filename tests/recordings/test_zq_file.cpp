#include "log_capture.h"
#include "recordings/encrypt.h"
#include "recordings/vignette.h"
#include "recordings/zq_file.h"
#include "recordings/zq_tag.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/stat.h>

using CameraTable = QHash<int, QString>;
Q_DECLARE_METATYPE(CameraTable)

class TestZQFile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_serial = 0;

    // A fresh folder per case, so that file names of one row never meet another's.
    QString fresh_folder()
    {
        const QString folder = m_dir.filePath(QString::number(++m_serial));
        QDir().mkpath(folder);
        return folder;
    }
    static void write_plain(const QString& path, const QByteArray& data)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(data);
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // Camera-information files in every form the storage holds, read into a table that may
    // already name some cameras. `kind`: "text" / "hex" (encrypted with that key form),
    // "scrambled" (plain scrambled lines), "plain" (unencrypted bytes).
    void cameraForms_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<CameraTable>("before");
        QTest::addColumn<CameraTable>("after");
        QTest::addColumn<bool>("warnsCamId");

        const QByteArray list2 = "{\"cameras\":[{\"cam_id\":3,\"cam_name\":\"Quai\"},{\"cam_id\":5,\"cam_name\":\"Parking\"}]}";
        QTest::newRow("list") << "index.zqnfo" << "text" << list2 << CameraTable{} << CameraTable{{3, "Quai"}, {5, "Parking"}} << false;
        QTest::newRow("list-hex-key") << "index.zqnfo" << "hex" << list2 << CameraTable{} << CameraTable{{3, "Quai"}, {5, "Parking"}} << false;
        QTest::newRow("list-first-name-wins")
            << "index.zqnfo" << "text"
            << QByteArray("{\"cameras\":[{\"cam_id\":3,\"cam_name\":\"A\"},{\"cam_id\":3,\"cam_name\":\"B\"}]}")
            << CameraTable{} << CameraTable{{3, "A"}} << false;
        QTest::newRow("list-table-keeps-its-name") << "index.zqnfo" << "text" << list2 << CameraTable{{3, "Old"}}
                                                   << CameraTable{{3, "Old"}, {5, "Parking"}} << false;
        QTest::newRow("list-drops-bad-entries")
            << "index.zqnfo" << "text"
            << QByteArray("{\"cameras\":[{\"cam_id\":-1,\"cam_name\":\"X\"},{\"cam_id\":4,\"cam_name\":\"\"},"
                          "{\"cam_id\":6},{\"cam_id\":\"7\",\"cam_name\":\"S\"},{\"cam_id\":1e12,\"cam_name\":\"Big\"},"
                          "{\"cam_id\":2.5,\"cam_name\":\"Half\"},17,{\"cam_id\":8,\"cam_name\":\"Ok\"}]}")
            << CameraTable{} << CameraTable{{8, "Ok"}} << false;
        QTest::newRow("name-control-chars")
            << "index.zqnfo" << "text"
            << QByteArray("{\"cameras\":[{\"cam_id\":1,\"cam_name\":\"Ga\\u0007te\\n\"},{\"cam_id\":2,\"cam_name\":\"<b>x</b>\"},"
                          "{\"cam_id\":9,\"cam_name\":\"\\u0001\\u0002\"}]}")
            << CameraTable{} << CameraTable{{1, "Gate"}, {2, "<b>x</b>"}} << false;
        QTest::newRow("single-same-id") << "12_20240101_083000.zqnfo" << "text"
                                        << QByteArray("{\"cam_id\":12,\"cam_name\":\"Hall\"}") << CameraTable{}
                                        << CameraTable{{12, "Hall"}} << false;
        QTest::newRow("single-other-id") << "12_20240101_083000.zqnfo" << "text"
                                         << QByteArray("{\"cam_id\":7,\"cam_name\":\"Hall\"}") << CameraTable{}
                                         << CameraTable{{12, "CAMERA 12"}} << true;
        QTest::newRow("single-index-name-keeps-id") << "old_index.zqnfo" << "text"
                                                    << QByteArray("{\"cam_id\":7,\"cam_name\":\"Hall\"}") << CameraTable{}
                                                    << CameraTable{{7, "Hall"}} << false;
        QTest::newRow("single-empty-cameras-array") << "cam.zqnfo" << "text"
                                                    << QByteArray("{\"cameras\":[],\"cam_id\":4,\"cam_name\":\"Porte\"}")
                                                    << CameraTable{} << CameraTable{{4, "Porte"}} << false;
        QTest::newRow("single-non-numeric-file-prefix") << "cam_x.zqnfo" << "text"
                                                        << QByteArray("{\"cam_id\":4,\"cam_name\":\"Porte\"}")
                                                        << CameraTable{} << CameraTable{{4, "Porte"}} << false;
        QTest::newRow("single-id-minus-one") << "12_a.zqnfo" << "text" << QByteArray("{\"cam_id\":-1,\"cam_name\":\"N\"}")
                                             << CameraTable{} << CameraTable{} << false;
        QTest::newRow("json-array") << "index.zqnfo" << "text" << QByteArray("[1,2,3]") << CameraTable{{1, "A"}}
                                    << CameraTable{{1, "A"}} << false;
        QTest::newRow("not-json") << "index.zqnfo" << "text" << QByteArray("cam_id=3") << CameraTable{} << CameraTable{} << false;
        QTest::newRow("empty-plain") << "index.zqnfo" << "text" << QByteArray() << CameraTable{} << CameraTable{} << false;
        QTest::newRow("unencrypted") << "index.zqnfo" << "plain" << list2 << CameraTable{} << CameraTable{} << false;
        QTest::newRow("truncated") << "index.zqnfo" << "truncated" << list2 << CameraTable{} << CameraTable{} << false;

        const QByteArray scrambled = (ZQFile::make_scrambled_nfo_line(3, "Gate") + "\n"
                                      + ZQFile::make_scrambled_nfo_line(40, "Entrée €", "x", "y") + "\r\n"
                                      + "no-underscore-line\n" + ZQFile::make_scrambled_nfo_line(3, "Other") + "\n")
                                         .toUtf8();
        QTest::newRow("scrambled") << "1_20240101_080000.zqnfo" << "scrambled" << scrambled << CameraTable{}
                                   << CameraTable{{3, "Gate"}, {40, "Entrée €"}} << false;
        // "id=3|name=Gate" encodes to a base64 text with "=" padding: characters outside the
        // permuted alphabet pass through unchanged.
        QTest::newRow("scrambled-padding") << "a.zqnfo" << "scrambled"
                                           << (ZQFile::make_scrambled_nfo_line(3, "Gat") + "\n").toUtf8()
                                           << CameraTable{} << CameraTable{{3, "Gat"}} << false;
        // Lines as the server writes them, worked out by hand from the two alphabets: they catch a
        // scrambler and descrambler that agree with each other but not with the server.
        QTest::newRow("scrambled-server-lines")
            << "5_20240101_080000.zqnfo" << "scrambled"
            << QByteArray("s1_=KUDaDK3XHIhRMGQZnIf_e\nv2_==nCZb17kW43YXU7uVIDmH4gpVw6_f\n") << CameraTable{}
            << CameraTable{{3, "Gate"}, {12, "Quai"}} << false;
        QString noName = QString::fromLatin1(QByteArray("id=3|label=Gate").toBase64());
        std::reverse(noName.begin(), noName.end());
        QTest::newRow("scrambled-without-name") << "a.zqnfo" << "scrambled"
                                                << ("a_" + ZQFile::scramble(noName) + "_b\n").toUtf8() << CameraTable{}
                                                << CameraTable{} << false;
        QString badId = QString::fromLatin1(QByteArray("id=99999999999|name=Big").toBase64());
        std::reverse(badId.begin(), badId.end());
        QTest::newRow("scrambled-id-out-of-range") << "a.zqnfo" << "scrambled"
                                                   << ("a_" + ZQFile::scramble(badId) + "_b\n").toUtf8()
                                                   << CameraTable{} << CameraTable{} << false;
    }
    void cameraForms()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, kind);
        QFETCH(QByteArray, content);
        QFETCH(CameraTable, before);
        QFETCH(CameraTable, after);
        QFETCH(bool, warnsCamId);

        const QString path = QDir(fresh_folder()).filePath(fileName);
        if (kind == "text" || kind == "hex") {
            QCOMPARE(Encrypt::encrypt_to_file(content, path,
                                              kind == "hex" ? Encrypt::KeyForm::Hex : Encrypt::KeyForm::Text),
                     1);
        } else if (kind == "truncated") {
            QCOMPARE(Encrypt::encrypt_to_file(content, path), 1);
            QFile f(path);
            QVERIFY(f.resize(f.size() - 16));
        } else {
            write_plain(path, content);
        }

        LogCapture log;
        const CameraTable got = kind == "scrambled" ? ZQFile::read_scrambled_nfo_lines(QFileInfo(path), before)
                                                    : ZQFile::check_and_parse_nfo_file(QFileInfo(path), before);
        QCOMPARE(got, after);
        QCOMPARE(log.has("different camid in nfo. Set NFO filename camid"), warnsCamId);
    }

    // The writer's output reads back through the reader, in camera-id order, and an empty table
    // still writes the list form.
    void writeIndexRoundTrip()
    {
        const QString folder = fresh_folder();
        const QFileInfo target(QDir(folder).filePath("day/index.zqnfo"));
        const CameraTable table{{10, "Dix"}, {2, "Deux"}, {7, "Sept \"quoted\""}};
        QVERIFY(ZQFile::create_zqnfo_index_file(target, table));
        QCOMPARE(ZQFile::check_and_parse_nfo_file(target, {}), table);
        const QByteArray plain = QByteArray::fromStdString(Encrypt::decrypt_file(target.filePath()));
        QCOMPARE(plain, QByteArray("{\"cameras\":[{\"cam_id\":2,\"cam_name\":\"Deux\"},{\"cam_id\":7,\"cam_name\":"
                                   "\"Sept \\\"quoted\\\"\"},{\"cam_id\":10,\"cam_name\":\"Dix\"}]}"));

        QVERIFY(ZQFile::create_zqnfo_index_file(target, {}));
        QCOMPARE(QByteArray::fromStdString(Encrypt::decrypt_file(target.filePath())), QByteArray("{\"cameras\":[]}"));

        // A folder where the file should be: the failure is reported.
        const QFileInfo blocked(QDir(folder).filePath("blocked.zqnfo"));
        QVERIFY(QDir().mkpath(blocked.filePath()));
        QVERIFY(!ZQFile::create_zqnfo_index_file(blocked, table));
    }

    // The folder's "index" files come first; the per-camera files only when those name nobody.
    void hashCamerasList()
    {
        const QString folder = fresh_folder();
        QCOMPARE(Encrypt::encrypt_to_file(QByteArray("{\"cam_id\":4,\"cam_name\":\"Seul\"}"),
                                          folder + "/4_20240101_080000.zqnfo"),
                 1);
        QCOMPARE(ZQFile::hash_cameras_list(folder, {}), (CameraTable{{4, "Seul"}}));
        QCOMPARE(Encrypt::encrypt_to_file(QByteArray("{\"cameras\":[{\"cam_id\":1,\"cam_name\":\"Un\"}]}"),
                                          folder + "/index.zqnfo"),
                 1);
        QCOMPARE(ZQFile::hash_cameras_list(folder, {}), (CameraTable{{1, "Un"}}));
        LogCapture log;
        QCOMPARE(ZQFile::hash_cameras_list(QString(), {{9, "x"}}), (CameraTable{{9, "x"}}));
        QVERIFY(log.has("[ERROR] ZQFile :: hash cameras list :: root directory is empty"));
    }

    // Old-form camera files: the substitution covers the whole alphabet both ways, and an
    // over-long line (megabytes of junk) is skipped without being decoded, the lines after it
    // still read.
    void scrambledLines()
    {
        const QString plain = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=-é";
        QCOMPARE(ZQFile::descramble(ZQFile::scramble(plain)), plain);
        QCOMPARE(ZQFile::scramble("+/="), QStringLiteral("+/="));
        QCOMPARE(ZQFile::scramble("Az9"), QStringLiteral("zjZ"));

        const QString path = fresh_folder() + "/old.zqnfo";
        QByteArray text = ZQFile::make_scrambled_nfo_line(3, "Trois").toUtf8() + "\n";
        text += "nfo_" + QByteArray(2 * 1024 * 1024, 'Q') + "_end\n";
        text += ZQFile::make_scrambled_nfo_line(4, "Quatre").toUtf8() + "\n";
        write_plain(path, text);
        LogCapture log;
        QCOMPARE(ZQFile::read_scrambled_nfo_lines(QFileInfo(path), {}), (CameraTable{{3, "Trois"}, {4, "Quatre"}}));
        QVERIFY(log.has("[WARN] ZQFile :: read scrambled nfo lines :: line too long skipped :: "));
    }

    // A day of old-form camera files: a recording's file of a camera already known is not read,
    // and reading stops once the byte budget is spent, so the window is not held for seconds.
    void scrambledFilesBudget()
    {
        const QString folder = fresh_folder();
        auto writeLines = [&](const QString& name, const QByteArray& lines) { write_plain(folder + "/" + name, lines); };
        writeLines("1_20240101_080000.zqnfo", ZQFile::make_scrambled_nfo_line(1, "Un").toUtf8() + "\n");
        // Camera 1 again: not read (it would name camera 9 too).
        writeLines("1_20240101_080100.zqnfo", ZQFile::make_scrambled_nfo_line(9, "Neuf").toUtf8() + "\n");
        const QByteArray junk(12 * 1024 * 1024, 'x');
        writeLines("2_20240101_080000.zqnfo", junk);
        writeLines("3_20240101_080000.zqnfo", junk);
        writeLines("4_20240101_080000.zqnfo", junk);
        writeLines("5_20240101_080000.zqnfo", ZQFile::make_scrambled_nfo_line(5, "Cinq").toUtf8() + "\n");
        QFileInfoList files;
        for (const char* n : {"1_20240101_080000.zqnfo", "1_20240101_080100.zqnfo", "2_20240101_080000.zqnfo",
                              "3_20240101_080000.zqnfo", "4_20240101_080000.zqnfo", "5_20240101_080000.zqnfo"})
            files << QFileInfo(folder + "/" + n);
        LogCapture log;
        QCOMPARE(ZQFile::read_scrambled_nfo_files(files, {}), (CameraTable{{1, "Un"}}));
        QVERIFY(log.has("[WARN] ZQFile :: read scrambled nfo files :: too much to read, stopped at :: " + folder
                        + "/4_20240101_080000.zqnfo"));
        // Without the junk the last file is read.
        files.removeAt(4);
        files.removeAt(3);
        QCOMPARE(ZQFile::read_scrambled_nfo_files(files, {}), (CameraTable{{1, "Un"}, {5, "Cinq"}}));
    }

    // Tag files: every key by its type, a missing or out-of-range camera as "-1", "tags" arrays
    // and undecryptable files as nothing.
    void tagFiles_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("isTag");
        QTest::addColumn<QString>("camId");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("dateTime");
        QTest::addColumn<QString>("id");

        QTest::newRow("full") << QByteArray("{\"tag_id\":\"t1\",\"tag_datetime\":\"20240101083000\",\"tag_user_id\":\"u\","
                                            "\"tag_name\":\"Livraison\",\"tag_created_at\":\"c\",\"tag_description\":\"d\","
                                            "\"file_encoded_at\":\"e\",\"tag_cam_id\":3}")
                              << true << "3" << "Livraison" << "20240101083000" << "t1";
        QTest::newRow("no-camera") << QByteArray("{\"tag_name\":\"N\"}") << true << "-1" << "N" << QString() << QString();
        QTest::newRow("camera-as-text") << QByteArray("{\"tag_cam_id\":\"3\",\"tag_id\":5}") << true << "-1" << QString()
                                        << QString() << QString();
        QTest::newRow("camera-out-of-range") << QByteArray("{\"tag_cam_id\":4294967296}") << true << "-1" << QString()
                                             << QString() << QString();
        QTest::newRow("tags-array") << QByteArray("{\"tags\":[{\"tag_name\":\"x\"}]}") << false << QString() << QString()
                                    << QString() << QString();
        QTest::newRow("empty-tags-array") << QByteArray("{\"tags\":[],\"tag_name\":\"y\"}") << true << "-1" << "y"
                                          << QString() << QString();
        QTest::newRow("json-array") << QByteArray("[{\"tag_name\":\"x\"}]") << false << QString() << QString() << QString()
                                    << QString();
    }
    void tagFiles()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, isTag);
        QFETCH(QString, camId);
        QFETCH(QString, name);
        QFETCH(QString, dateTime);
        QFETCH(QString, id);
        const QString path = fresh_folder() + "/a.zqtag";
        QCOMPARE(Encrypt::encrypt_to_file(json, path), 1);
        std::unique_ptr<ZQTag> tag(ZQFile::read_tags_file(QFileInfo(path)));
        QCOMPARE(bool(tag), isTag);
        if (!tag)
            return;
        QVERIFY(!tag->is_empty());
        QCOMPARE(tag->get_cam_id(), camId);
        QCOMPARE(tag->get_name(), name);
        QCOMPARE(tag->get_datetime(), dateTime);
        QCOMPARE(tag->get_id(), id);
        QCOMPARE(ZQFile::read_decrypted_text(QFileInfo(path)), QString::fromUtf8(json));
    }

    void decryptedTextOfBadFiles()
    {
        // A pipe named like a camera file is passed over, not opened (which would wait forever).
        const QString pipe = fresh_folder() + "/1_20240101_080000.zqnfo";
        QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        QCOMPARE(ZQFile::read_scrambled_nfo_lines(QFileInfo(pipe), {{2, "B"}}), (CameraTable{{2, "B"}}));
        QCOMPARE(ZQFile::check_and_parse_nfo_file(QFileInfo(pipe), {}), CameraTable{});

        const QString path = fresh_folder() + "/bad.zqtag";
        write_plain(path, "{\"tag_name\":\"plain\"}");
        QVERIFY(ZQFile::read_decrypted_text(QFileInfo(path)).isNull());
        QVERIFY(!ZQFile::read_tags_file(QFileInfo(path)));
        QVERIFY(!ZQFile::read_tags_file(QFileInfo(path + ".missing")));
    }

    void tagEmptyFlag()
    {
        ZQTag tag;
        QVERIFY(tag.is_empty());
        tag.set_marker_x(10);
        tag.set_marker_width(4);
        QVERIFY(tag.is_empty());
        tag.set_name("n");
        QVERIFY(!tag.is_empty());
    }

    // Date and time of a media item: its own when it has one, otherwise from the picture's name.
    void vignetteDateTime_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("dateTime");
        QTest::addColumn<QString>("expected");
        QTest::newRow("tag-form") << "x_20240101_083000.jpg" << "20231231235959" << "20231231235959";
        QTest::newRow("alarm-thumb") << "12_345_20240101_083000-thumb.jpg" << QString() << "20240101083000";
        QTest::newRow("alarm-full") << "12_345_20240101_083000.jpg" << QString() << "20240101083000";
        QTest::newRow("three-part-thumb") << "12_20240101_083000-thumb.jpg" << QString() << "20240101083000";
        QTest::newRow("three-part") << "12_20240101_083000.jpg" << QString() << "20240101083000";
        QTest::newRow("preview") << "12_20240101_083000_preview.jpg" << QString() << "20240101083000";
        QTest::newRow("no-underscore") << "picture.jpg" << QString() << QString();
        QTest::newRow("two-parts") << "12_20240101.jpg" << QString() << QString();
        QTest::newRow("short-time") << "12_345_20240101_0830.jpg" << QString() << QString();
        QTest::newRow("letters-in-day") << "12_345_2024O101_083000.jpg" << QString() << QString();
        QTest::newRow("empty") << QString() << QString() << QString();
    }
    void vignetteDateTime()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, dateTime);
        QFETCH(QString, expected);
        const Vignette alarm(fileName, "/x/" + fileName, "Cam", "12", QString(), QString());
        if (dateTime.isEmpty()) {
            QCOMPARE(alarm.get_datetime(), expected);
        } else {
            const Vignette tag(fileName, "/x", QFileInfo("/x/a.zqtag"), "Cam", dateTime, "n", "d", "1", "12");
            QCOMPARE(tag.get_datetime(), expected);
            QCOMPARE(tag.tag_file_name, fileName);
            QVERIFY(tag.file_name.isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(TestZQFile)
#include "test_zq_file.moc"
