// The controller as QML sees it: every signal, slot and invokable with its
// exact signature and order, and the values arriving in JavaScript with the
// types the QML files rely on.

#include "player/zq_player_controller_ui.h"
#include "player/zq_player_inferface_controller.h"
#include "tests/player/open_day.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QDir>
#include <QFile>
#include <QJSValue>
#include <QMetaMethod>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlError>
#include <QQmlExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct SilentUi : ZQPlayerControllerUi
{
    void warning(const QString&, const QString&) override {}
    void open_alarm_viewer(const QString&, const QString&) override {}
    void open_snapshot_viewer(const QImage&, const QString&) override {}
};

} // namespace

class TestControllerQml : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString m_root;

private slots:
    void initTestCase()
    {
        ZQFixture::Options o;
        o.output_parent = m_tmp.path();
        o.cameras = {1};
        o.start_time = QTime(10, 15, 0);
        o.recordings_per_camera = 2;
        o.seconds_per_recording = 60;
        o.size = QSize(64, 48);
        o.fps = 5;
        o.gop = 5;
        const ZQFixture::Result r = ZQFixture::write(o);
        QVERIFY2(r.ok, qPrintable(r.error));
        m_root = r.root_path;
        const QString folder = QDir(m_root).filePath(QStringLiteral("2024-01-01/101500"));
        for (const char* name : {"1_12_20240101_101530.jpg", "1_20240101_101500_preview.jpg"}) {
            QFile f(QDir(folder).filePath(QString::fromLatin1(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("jpg");
        }
    }

    // Meta-object signatures: what QML can call and listen to, in order.
    void signatures_data()
    {
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("result");
        const int S = int(QMetaMethod::Signal), L = int(QMetaMethod::Slot), M = int(QMetaMethod::Method);
        const QList<std::tuple<const char*, int, const char*>> rows = {
            {"dataChanged()", S, "void"},
            {"timeChanged()", S, "void"},
            {"startRead()", S, "void"},
            {"startIndexGeneration()", S, "void"},
            {"indexGenerated()", S, "void"},
            {"indexFailed()", S, "void"},
            {"updateStreams()", S, "void"},
            {"stopRead()", S, "void"},
            {"set_next_file()", L, "void"},
            {"set_previous_file()", L, "void"},
            {"setTime(QTime)", L, "void"},
            {"recv_available_videostream(QStringList)", L, "void"},
            {"integrity_check_done()", L, "void"},

            {"video_export_end()", L, "void"},
            {"get_available_days(QString)", M, "QStringList"},
            {"selected_date()", M, "QString"},
            {"selected_camera()", M, "QString"},
            {"get_cameras_for_date(QString)", M, "QStringList"},
            {"set_selected_camera(QString)", M, "void"},
            {"set_selected_date(QString)", M, "void"},
            {"day_timestamp_list()", M, "QList<qint64>"},
            {"day_alarm_list_string()", M, "QVariantList"},
            {"day_tags_list_string()", M, "QVariantList"},
            {"day_audio_list_string()", M, "QStringList"},
            {"day_preview_list_string()", M, "QVariantList"},
            {"set_zqstream_reader_read_timestamp(QString)", M, "void"},
            {"get_current_read_time_is_ms()", M, "int"},
            {"pause_button()", M, "void"},
            {"start_button()", M, "void"},
            {"snapshot_full_button()", M, "void"},
            {"snapshot_button()", M, "void"},
            {"previous_frame_button()", M, "void"},
            {"next_frame_button()", M, "void"},
            {"set_playback_rate(int)", M, "void"},
            {"check_integrity()", M, "void"},

            {"video_export()", M, "void"},
            {"get_alarm_thumbnail_path(QString)", M, "QString"},
            {"get_videostreams_list()", M, "QStringList"},
            {"set_selected_videostream(int)", M, "void"},
            {"open_alarm_popup(QString)", M, "void"},
            {"regenerate_index()", M, "void"},
            {"regenerate_index_for_current_date()", M, "void"},
            {"is_zqcore_directory(QString)", M, "bool"},
            {"camera_ids()", M, "QList<int>"},
            {"set_selected_camera_id(int)", M, "void"},
        };
        for (const auto& [sig, type, result] : rows)
            QTest::newRow(sig) << QByteArray(sig) << type << QByteArray(result);
    }
    void signatures()
    {
        QFETCH(QByteArray, signature);
        QFETCH(int, type);
        QFETCH(QByteArray, result);
        const QMetaObject& mo = ZQPlayerInferfaceController::staticMetaObject;
        const int index = mo.indexOfMethod(signature.constData());
        QVERIFY2(index >= 0, signature.constData());
        const QMetaMethod m = mo.method(index);
        QCOMPARE(int(m.methodType()), type);
        QCOMPARE(QByteArray(m.typeName()), result);
        QCOMPARE(m.access(), QMetaMethod::Public);
    }

    // The table above is also the meta-object's order, and nothing else is
    // exposed besides it.
    void order()
    {
        const QMetaObject& mo = ZQPlayerInferfaceController::staticMetaObject;
        QStringList own;
        for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
            const QMetaMethod m = mo.method(i);
            if (m.access() == QMetaMethod::Public)
                own << QString::fromLatin1(m.methodSignature());
        }
        QCOMPARE(own.size(), 45);
        QCOMPARE(own.first(), QStringLiteral("dataChanged()"));
        QCOMPARE(own.indexOf("get_available_days(QString)"), 14);
        QCOMPARE(own.last(), QStringLiteral("set_selected_camera_id(int)"));
        QVERIFY(own.indexOf("set_playback_rate(int)") < own.indexOf("get_alarm_thumbnail_path(QString)"));
        QCOMPARE(own.indexOf("integrity_check_done()"), own.indexOf("recv_available_videostream(QStringList)") + 1);
        QCOMPARE(own.indexOf("check_integrity()"), own.indexOf("set_playback_rate(int)") + 1);
    }

    // What the QML files do with the values: arrays, objects, numbers.
    void javascript_values()
    {
        ZQPlayerInferfaceController c;
        c.set_ui(std::make_unique<SilentUi>());
        QQmlEngine engine;
        engine.rootContext()->setContextProperty(QStringLiteral("videoWidget"), &c);
        auto eval = [&](const QString& js) {
            QQmlExpression expr(engine.rootContext(), nullptr, js);
            const QVariant v = expr.evaluate();
            if (expr.hasError())
                qWarning() << expr.error().toString();
            return v;
        };
        // String lists arrive as sequences (Array.isArray is false for them in
        // Qt 6.4, but they are Array instances with the Array methods, and
        // serialise as arrays); the others as plain arrays.
        auto is_array = [&](const QString& js) {
            return eval(QStringLiteral("(function(v){ return (Array.isArray(v) || v instanceof Array)"
                                       " && typeof v.length === 'number' && typeof v.map === 'function'"
                                       " && JSON.stringify(v).charAt(0) === '['; })(%1)")
                            .arg(js))
                .toBool();
        };
        QVERIFY(is_array(QStringLiteral("videoWidget.get_available_days('%1')").arg(m_root)));
        zqtest::open_day(c, QStringLiteral("2024-01-01"));
        QVERIFY(is_array(QStringLiteral("videoWidget.get_cameras_for_date('2024-01-01')")));
        QCOMPARE(eval(QStringLiteral("videoWidget.get_cameras_for_date('2024-01-01')[0]")).toString(),
                 QStringLiteral("Camera 1"));
        eval(QStringLiteral("videoWidget.set_selected_camera('Camera 1')"));

        QVERIFY(eval(QStringLiteral("Array.isArray(videoWidget.day_timestamp_list())")).toBool());
        QCOMPARE(eval(QStringLiteral("videoWidget.day_timestamp_list()[0] + 0")).toLongLong(), 36900000LL);
        QCOMPARE(eval(QStringLiteral("typeof videoWidget.day_timestamp_list()[1]")).toString(), QStringLiteral("number"));
        QVERIFY(eval(QStringLiteral("Array.isArray(videoWidget.day_alarm_list_string())")).toBool());
        QCOMPARE(eval(QStringLiteral("videoWidget.day_alarm_list_string()[0].datetime")).toString(),
                 QStringLiteral("20240101101530"));
        QCOMPARE(eval(QStringLiteral("typeof videoWidget.day_alarm_list_string()[0]")).toString(),
                 QStringLiteral("object"));
        QVERIFY(is_array(QStringLiteral("videoWidget.day_tags_list_string()")));
        QVERIFY(is_array(QStringLiteral("videoWidget.day_audio_list_string()")));
        QCOMPARE(eval(QStringLiteral("videoWidget.day_preview_list_string()[0].ms + 1")).toInt(), 36900001);
        QVERIFY(eval(QStringLiteral("videoWidget.day_preview_list_string()[0].url")).toString().startsWith("file:///"));
        QVERIFY(is_array(QStringLiteral("videoWidget.get_videostreams_list()")));

        // A timeline click at 10:15:30 arrives as the text 36930000.
        eval(QStringLiteral("videoWidget.set_zqstream_reader_read_timestamp(36930000)"));
        QCOMPARE(QFileInfo(c.current_file()).absoluteDir().dirName(), QStringLiteral("101500"));
        QCOMPARE(c.state(), 1);
        // A rate of 1.0 arrives as 1.
        eval(QStringLiteral("videoWidget.set_playback_rate(1.0)"));
        QCOMPARE(c.playback_rate(), 1);
        eval(QStringLiteral("videoWidget.set_playback_rate(-2)"));
        QCOMPARE(c.playback_rate(), -2);
        QCOMPARE(eval(QStringLiteral("typeof videoWidget.get_current_read_time_is_ms()")).toString(),
                 QStringLiteral("number"));
    }
};

QTEST_MAIN(TestControllerQml)
#include "test_controller_qml.moc"
