#include "recordings/encrypt.h"
#include "recordings/vignette.h"
#include "recordings/zq_file.h"
#include "recordings/zq_tag.h"
#include "tools/zqfixture/lib/fixture_metadata.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The generator's metadata is what the readers of a real storage folder expect: camera files in
// both JSON forms and the scrambled form, tags, alarm pictures with thumbnails whose names carry
// their date and time, previews, and a hash list that matches the files.
class TestFixtureMetadata : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    ZQFixture::Result m_storage;
    ZQFixture::MetadataResult m_meta;
    ZQFixture::MetadataOptions m_options;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        ZQFixture::Options o;
        o.output_parent = m_dir.path();
        o.cameras = {4, 11};
        o.start_time = QTime(10, 58, 0);
        o.recordings_per_camera = 3;
        o.seconds_per_recording = 1;
        o.gap_seconds = 59;
        o.size = QSize(32, 32);
        o.fps = 2;
        m_storage = ZQFixture::write(o);
        QVERIFY2(m_storage.ok, qPrintable(m_storage.error));
        m_options.camera_names = {{4, "Portail"}};
        m_options.scrambled_cameras = {11};
        m_options.tags_per_camera = 2;
        m_meta = ZQFixture::write_metadata(m_storage.root_path, m_options);
        QVERIFY2(m_meta.ok, qPrintable(m_meta.error));
    }

    void cameraFiles()
    {
        const QString day = m_storage.day_folders.first();
        const QHash<int, QString> expected{{4, "Portail"}, {11, ZQFixture::fixture_camera_name(m_options, 11)}};
        QCOMPARE(ZQFile::check_and_parse_nfo_file(QFileInfo(day + "/index.zqnfo"), {}), expected);
        for (const ZQFixture::WrittenFile& f : m_storage.files) {
            const QFileInfo nfo(f.data_path.left(f.data_path.lastIndexOf('.')) + ".zqnfo");
            QVERIFY2(nfo.isFile(), qPrintable(nfo.filePath()));
            const QHash<int, QString> one = f.camera == 11 ? ZQFile::read_scrambled_nfo_lines(nfo, {})
                                                           : ZQFile::check_and_parse_nfo_file(nfo, {});
            QCOMPARE(one, (QHash<int, QString>{{f.camera, expected.value(f.camera)}}));
        }
    }

    void tagsAndPictures()
    {
        QCOMPARE(m_meta.tags.size(), 4);
        for (const QString& path : m_meta.tags) {
            std::unique_ptr<ZQTag> tag(ZQFile::read_tags_file(QFileInfo(path)));
            QVERIFY(tag);
            QVERIFY(path.startsWith(QFileInfo(path).absolutePath() + "/" + tag->get_cam_id() + "_"));
            QCOMPARE(tag->get_datetime().size(), 14);
        }
        // One alarm per camera and hour: 10:58 and 11:00 for each camera.
        QCOMPARE(m_meta.alarm_pictures.size(), 4);
        QCOMPARE(m_meta.thumbnails.size(), 4);
        for (const QString& path : m_meta.alarm_pictures + m_meta.thumbnails) {
            QImage image;
            QVERIFY2(image.load(path), qPrintable(path));
            const Vignette alarm(QFileInfo(path).fileName(), path, "c", "4", QString(), QString());
            QVERIFY(alarm.get_datetime().startsWith("20240101"));
        }
        QCOMPARE(m_meta.previews.size(), 8);
    }

    // The hash list decrypts through Encrypt, names every file of the day but itself and the two
    // index files, and each digest matches; "path" is relative to the day folder.
    void hashList()
    {
        const QString day = m_storage.day_folders.first();
        QCOMPARE(m_meta.hash_lists, QStringList{day + "/hash.json"});
        const std::string plain = Encrypt::decrypt_file(day + "/hash.json", Encrypt::Expect::JsonArray);
        const QJsonArray list = QJsonDocument::fromJson(QByteArray::fromStdString(plain)).array();
        QStringList listed;
        for (const QJsonValue& v : list) {
            const QJsonObject e = v.toObject();
            const QString abs = e.value("absolutepath").toString();
            QCOMPARE(day + "/" + e.value("path").toString(), abs);
            QCOMPARE(e.value("file").toString(), QFileInfo(abs).fileName());
            QFile f(abs);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(e.value("sha256").toString(),
                     QString::fromLatin1(QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex()));
            listed << abs;
        }
        QStringList onDisk;
        QDirIterator it(day, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString p = it.next();
            if (!p.endsWith("/hash.json") && !p.endsWith("/index.zqnfo"))
                onDisk << p;
        }
        listed.sort();
        onDisk.sort();
        QCOMPARE(listed, onDisk);
    }
};

QTEST_GUILESS_MAIN(TestFixtureMetadata)
#include "test_fixture_metadata.moc"
