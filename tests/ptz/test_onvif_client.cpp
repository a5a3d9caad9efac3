// The ONVIF client against the fake camera on the loopback server: the
// discovery chain and its failures, the service addresses, the digest seen
// by the camera, movement bodies with clamped speeds, the kept stop, and a
// tile driving the camera through it.

#include <QSignalSpy>
#include <QTest>

#include <cmath>

#include "ptz/onvif.h"
#include "ptz/onvif_ptz.h"
#include "ptz/ptz_gestures.h"
#include "ptz_loopback.h"
#include "tests/view/view_test_util.h"

namespace R = OnvifReplies;
using Misbehave = FakeOnvifDevice::Misbehave;
using XAddrForm = FakeOnvifDevice::XAddrForm;

Q_DECLARE_METATYPE(R::Prefixes)
Q_DECLARE_METATYPE(FakeOnvifDevice::Misbehave)
Q_DECLARE_METATYPE(FakeOnvifDevice::XAddrForm)

namespace {

struct Camera
{
    LoopbackOnvif server;
    std::unique_ptr<Onvif> client;
    std::unique_ptr<QSignalSpy> status;
    std::unique_ptr<QSignalSpy> finished;

    explicit Camera(bool https = false) : server(https) { server.device().own_host_port = QStringLiteral("127.0.0.1:") + server.port(); }

    FakeOnvifDevice& device() { return server.device(); }

    Onvif* make(const QString& user = QStringLiteral("admin"), const QString& password = QStringLiteral("secret"),
                int timeout_ms = 0)
    {
        client = std::make_unique<Onvif>(server.scheme(), QStringLiteral("127.0.0.1"), server.port(), user, password,
                                         QStringLiteral("ONVIF"), server.ca());
        if (timeout_ms > 0)
            client->set_request_timeout_ms(timeout_ms);
        status = std::make_unique<QSignalSpy>(client.get(), &NativePTZInterface::status_message);
        finished = std::make_unique<QSignalSpy>(client.get(), &NativePTZInterface::send_request_finished);
        return client.get();
    }

    // Starts the chain and waits for its one status message.
    bool run_chain()
    {
        client->start();
        if (!QTest::qWaitFor([&] { return status->count() >= 1; }, 20000))
            return false;
        QTest::qWait(50); // nothing may follow
        return status->count() == 1;
    }

    int last_status() const { return status->isEmpty() ? -1000 : status->last().at(0).toInt(); }
    QString last_command() const { return status->isEmpty() ? QString() : status->last().at(1).toString(); }
    QString last_fault() const { return status->isEmpty() ? QString() : status->last().at(2).toString(); }
};

bool near(double a, double b)
{
    return std::fabs(a - b) < 1e-4;
}

} // namespace

class TestOnvifClient : public QObject
{
    Q_OBJECT

private slots:
    void chain_data();
    void chain();
    void chain_failures_data();
    void chain_failures();
    void untrusted_certificate_refused();
    void xaddr_forms_data();
    void xaddr_forms();
    void user_name_arrives_intact();
    void moves_data();
    void moves();
    void refused_commands();
    void stop_kept_while_busy();
    void movement_fault();
    void tile_drives_camera();
};

void TestOnvifClient::chain_data()
{
    QTest::addColumn<R::Prefixes>("prefixes");
    QTest::addColumn<double>("offset_hours");
    QTest::addColumn<bool>("https");
    QTest::newRow("plain") << R::Prefixes() << 0.0 << false;
    QTest::newRow("https, env prefixes") << R::env_prefixes() << 0.0 << true;
    QTest::newRow("clock 3 h ahead, foreign prefixes") << R::foreign_prefixes() << 3.0 << false;
    QTest::newRow("clock 3 h behind, https") << R::Prefixes() << -3.0 << true;
}

void TestOnvifClient::chain()
{
    QFETCH(R::Prefixes, prefixes);
    QFETCH(double, offset_hours);
    QFETCH(bool, https);
    Camera cam(https);
    cam.device().prefixes = prefixes;
    cam.device().clock_offset_hours = offset_hours;
    Onvif* onvif = cam.make();
    QSignalSpy clock(onvif, &Onvif::timestamp);
    QVERIFY(cam.run_chain());
    QCOMPARE(cam.last_status(), 1);
    QCOMPARE(cam.last_command(), QStringLiteral("GetStatus"));
    QVERIFY(onvif->is_ready());
    QCOMPARE(clock.count(), 1);
    QCOMPARE(cam.device().operations(),
             QStringList({"GetSystemDateAndTime", "GetServices", "GetProfiles", "GetNode", "GetPresets", "GetStatus"}));
    QCOMPARE(cam.device().refused(), 0);
    // Created follows the camera's clock.
    const QDateTime created = QDateTime::fromString(onvif->created_time(), Qt::ISODate);
    const QDateTime camera_now = QDateTime::currentDateTimeUtc().addSecs(qint64(offset_hours * 3600));
    QVERIFY(qAbs(created.secsTo(camera_now)) < 30);
    Onvif_ptz* ptz = onvif->description();
    QCOMPARE(ptz->get_profile_tokens(), QStringList({"prof_1"}));
    QCOMPARE(ptz->get_presets().size(), 1);
    QVERIFY(near(ptz->get_zoom(), 0.3));
    QVERIFY(onvif->status_text().contains(QLatin1String("prof_1")));
}

void TestOnvifClient::chain_failures_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<Misbehave>("how");
    QTest::addColumn<QString>("setting");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("fault");
    QTest::newRow("no services") << "" << Misbehave::None << "no services" << -1 << "GetServices" << "not supported";
    QTest::newRow("no media service") << "" << Misbehave::None << "no media" << -1 << "GetProfiles"
                                      << "not supported";
    QTest::newRow("no profile") << "" << Misbehave::None << "no profile" << -1 << "GetProfiles" << "not supported";
    QTest::newRow("no PTZ") << "" << Misbehave::None << "no ptz" << -1 << "GetNodes" << "not supported";
    QTest::newRow("wrong password") << "" << Misbehave::None << "wrong password" << -1 << "GetServices"
                                    << "not authorized";
    QTest::newRow("fault") << "GetProfiles" << Misbehave::Fault << "" << -1 << "GetProfiles" << "not supported";
    QTest::newRow("not authorized fault") << "GetNode" << Misbehave::NotAuthorized << "" << -1 << "GetNodes"
                                          << "not authorized";
    QTest::newRow("non-XML") << "GetServices" << Misbehave::NotXml << "" << -1 << "GetServices" << "not supported";
    QTest::newRow("empty") << "GetNode" << Misbehave::Empty << "" << -1 << "GetNodes" << "not supported";
    QTest::newRow("huge") << "GetPresets" << Misbehave::Huge << "" << -1 << "GetPresets" << "not supported";
    QTest::newRow("deep") << "GetStatus" << Misbehave::Deep << "" << -1 << "GetStatus" << "not supported";
    QTest::newRow("HTTP 500") << "GetProfiles" << Misbehave::Http500 << "" << -1 << "GetProfiles" << "not supported";
    QTest::newRow("stall") << "GetPresets" << Misbehave::Stall << "" << -1 << "GetPresets" << "not supported";
    QTest::newRow("clock stall") << "GetSystemDateAndTime" << Misbehave::Stall << "" << -99
                                 << "GetSystemDateAndTime" << "time-out";
    QTest::newRow("clock non-XML") << "GetSystemDateAndTime" << Misbehave::NotXml << "" << -99
                                   << "GetSystemDateAndTime" << "not supported";
    QTest::newRow("clock empty") << "GetSystemDateAndTime" << Misbehave::Empty << "" << -99
                                 << "GetSystemDateAndTime" << "not supported";
    QTest::newRow("clock fault") << "GetSystemDateAndTime" << Misbehave::Fault << "" << -99
                                 << "GetSystemDateAndTime" << "not supported";
    QTest::newRow("clock refused") << "GetSystemDateAndTime" << Misbehave::NotAuthorized << "" << -99
                                   << "GetSystemDateAndTime" << "not authorized";
}

void TestOnvifClient::chain_failures()
{
    QFETCH(QString, operation);
    QFETCH(Misbehave, how);
    QFETCH(QString, setting);
    QFETCH(int, status);
    QFETCH(QString, command);
    QFETCH(QString, fault);
    Camera cam;
    FakeOnvifDevice& dev = cam.device();
    if (!operation.isEmpty())
        dev.script(operation, how);
    if (setting == QLatin1String("no services"))
        dev.no_services = true;
    else if (setting == QLatin1String("no media"))
        dev.no_media_service = true;
    else if (setting == QLatin1String("no profile"))
        dev.profiles.clear();
    else if (setting == QLatin1String("no ptz"))
        dev.profiles = {{QStringLiteral("prof_1"), QString()}, {QStringLiteral("prof_2"), QString()}};
    Onvif* onvif = cam.make(QStringLiteral("admin"),
                            setting == QLatin1String("wrong password") ? QStringLiteral("guess") : QStringLiteral("secret"),
                            1500);
    QVERIFY(cam.run_chain());
    QCOMPARE(cam.last_status(), status);
    QCOMPARE(cam.last_command(), command);
    QCOMPARE(cam.last_fault(), fault);
    QVERIFY(!onvif->is_ready());
    QVERIFY(!onvif->is_busy());
}

void TestOnvifClient::untrusted_certificate_refused()
{
    LoopbackOnvif server(true);
    // Trusts the system's CAs only: the test CA's certificate is refused.
    Onvif onvif(server.scheme(), QStringLiteral("127.0.0.1"), server.port(), QStringLiteral("admin"),
                QStringLiteral("secret"), QStringLiteral("ONVIF"));
    QSignalSpy status(&onvif, &NativePTZInterface::status_message);
    onvif.start();
    QVERIFY(status.wait(10000));
    QCOMPARE(status.first().at(0).toInt(), -99);
    QCOMPARE(status.first().at(1).toString(), QStringLiteral("GetSystemDateAndTime"));
    QVERIFY(server.device().operations().isEmpty());
}

void TestOnvifClient::xaddr_forms_data()
{
    QTest::addColumn<XAddrForm>("form");
    QTest::addColumn<QString>("media_path");
    QTest::newRow("full") << XAddrForm::Full << "/onvif/media_service";
    QTest::newRow("relative") << XAddrForm::Relative << "/onvif/media_service";
    QTest::newRow("foreign host") << XAddrForm::ForeignHost << "/onvif/media_service";
    QTest::newRow("no /onvif/") << XAddrForm::NoOnvifPath << "/cam/media_service";
}

void TestOnvifClient::xaddr_forms()
{
    QFETCH(XAddrForm, form);
    QFETCH(QString, media_path);
    Camera cam;
    cam.device().xaddr_form = form;
    cam.make();
    // Every request reached this server: only the path of an address is used.
    QVERIFY(cam.run_chain());
    QCOMPARE(cam.last_status(), 1);
    const QList<FakeOnvifDevice::Request> reqs = cam.device().requests();
    QCOMPARE(reqs.at(2).operation, QStringLiteral("GetProfiles"));
    QCOMPARE(reqs.at(2).path, media_path);
}

void TestOnvifClient::user_name_arrives_intact()
{
    Camera cam;
    cam.device().user = QStringLiteral("op<&\"'>");
    cam.make(QStringLiteral("op<&\"'>"));
    QVERIFY(cam.run_chain());
    QCOMPARE(cam.last_status(), 1);
    QCOMPARE(cam.device().requests().last().username, QStringLiteral("op<&\"'>"));
}

void TestOnvifClient::moves_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("zoom_only");
    QTest::addColumn<float>("pan");
    QTest::addColumn<float>("tilt");
    QTest::addColumn<float>("zoom");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("pan_tilt");
    QTest::addColumn<bool>("has_zoom");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<double>("z");
    // Tilt range of the node: -0.5 .. 0.5.
    QTest::newRow("move") << "ContinuousMove" << 0 << 50.f << -100.f << 0.f << "ContinuousMove" << true << true << 0.5
                          << -0.5 << 0.0;
    QTest::newRow("clamped") << "ContinuousMove" << 0 << 500.f << 300.f << -250.f << "ContinuousMove" << true << true
                             << 1.0 << 0.5 << -1.0;
    QTest::newRow("zoom only") << "ContinuousMove" << 1 << 0.f << 0.f << 50.f << "ContinuousMove" << false << true
                               << 0.0 << 0.0 << 0.5;
    QTest::newRow("pan-tilt only") << "PanTilt_ContinuousMove" << 0 << -20.f << 10.f << 90.f << "ContinuousMove"
                                   << true << false << -0.2 << 0.05 << 0.0;
    QTest::newRow("zero is stop") << "ContinuousMove" << 0 << 0.f << 0.f << 0.f << "Stop" << true << true << 0.0
                                  << 0.0 << 0.0;
    QTest::newRow("STOP") << "STOP" << 0 << 3.f << 3.f << 3.f << "Stop" << true << true << 0.0 << 0.0 << 0.0;
    QTest::newRow("security stop") << "STOP_PanTilt_ContinuousMove" << 0 << 0.f << 0.f << 0.f << "Stop" << true
                                   << true << 0.0 << 0.0 << 0.0;
    // A click at 3/4 of the width and 1/4 of the height of 1920 x 1080; the
    // relative tilt range is the node's too.
    QTest::newRow("clic") << "clic" << 0 << 1440.f << 270.f << 0.f << "RelativeMove" << true << false << 0.5 << 0.25
                          << 0.0;
    QTest::newRow("area, factor 4") << "area" << 0 << 480.f << 810.f << 400.f << "RelativeMove" << true << true
                                    << -0.5 << -0.25 << 0.75;
}

void TestOnvifClient::moves()
{
    QFETCH(QString, command);
    QFETCH(int, zoom_only);
    QFETCH(float, pan);
    QFETCH(float, tilt);
    QFETCH(float, zoom);
    QFETCH(QString, operation);
    QFETCH(bool, pan_tilt);
    QFETCH(bool, has_zoom);
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(double, z);
    Camera cam;
    cam.device().ranges.tilt_min = QStringLiteral("-0.5");
    cam.device().ranges.tilt_max = QStringLiteral("0.5");
    Onvif* onvif = cam.make();
    QVERIFY(cam.run_chain());
    onvif->ptz_command(command, zoom_only, pan, tilt, zoom, 1920, 1080, 5, -1, -1);
    QTRY_COMPARE(cam.finished->count(), 1);
    QCOMPARE(cam.finished->first().at(0).toInt(), 1);
    QCOMPARE(cam.device().moves().size(), 1);
    const FakeOnvifDevice::Move m = cam.device().moves().first();
    QCOMPARE(m.operation, operation);
    QCOMPARE(m.pan_tilt, pan_tilt);
    QCOMPARE(m.zoom, has_zoom);
    QVERIFY2(near(m.pan, x), qPrintable(QString::number(m.pan)));
    QVERIFY2(near(m.tilt, y), qPrintable(QString::number(m.tilt)));
    QVERIFY2(near(m.z, z), qPrintable(QString::number(m.z)));
}

void TestOnvifClient::refused_commands()
{
    Camera cam;
    Onvif* onvif = cam.make();
    // Before the chain: nothing is sent.
    onvif->ptz_command(QStringLiteral("ContinuousMove"), 0, 10, 10, 0, 100, 100, 1, -1, -1);
    QVERIFY(!onvif->is_busy());
    QVERIFY(cam.run_chain());
    cam.status->clear();
    onvif->ptz_command(QStringLiteral("right_clic"), 0, 0, 0, 0, 100, 100, 1, -1, -1);
    onvif->ptz_command(QStringLiteral("ContinuousMove"), 0, std::nanf(""), 0, 0, 100, 100, 1, -1, -1);
    onvif->ptz_command(QStringLiteral("ContinuousMove"), 0, 0, INFINITY, 0, 100, 100, 1, -1, -1);
    QCOMPARE(cam.status->count(), 3);
    QCOMPARE(cam.status->at(0).at(2).toString(), QStringLiteral("not supported"));
    QCOMPARE(cam.status->at(0).at(0).toInt(), -2);
    // Each refusal ends its request, after the call returns, with code 0
    // (nothing sent): a caller that waits for the end is never left busy.
    QTRY_COMPARE(cam.finished->count(), 4);
    for (const QList<QVariant>& f : std::as_const(*cam.finished))
        QCOMPARE(f.at(0).toInt(), 0);
    QTest::qWait(100);
    QVERIFY(cam.device().moves().isEmpty());
    QCOMPARE(cam.finished->count(), 4);
}

void TestOnvifClient::stop_kept_while_busy()
{
    Camera cam;
    Onvif* onvif = cam.make(QStringLiteral("admin"), QStringLiteral("secret"), 1000);
    QVERIFY(cam.run_chain());
    cam.device().script(QStringLiteral("ContinuousMove"), Misbehave::Stall, 1);
    onvif->ptz_command(QStringLiteral("ContinuousMove"), 0, 30, 0, 0, 100, 100, 1, -1, -1);
    QVERIFY(onvif->is_busy());
    // Refused moves are dropped; the latest stop is kept.
    onvif->ptz_command(QStringLiteral("ContinuousMove"), 0, 60, 0, 0, 100, 100, 1, -1, -1);
    onvif->ptz_command(QStringLiteral("STOP"), 0, 0, 0, 0, 100, 100, 1, -1, -1);
    QTRY_COMPARE_WITH_TIMEOUT(cam.finished->count(), 2, 5000);
    QCOMPARE(cam.finished->at(0).at(0).toInt(), -1); // the stalled move timed out
    QCOMPARE(cam.finished->at(1).at(0).toInt(), 1);
    QStringList ops;
    for (const auto& m : cam.device().moves())
        ops << m.operation;
    QCOMPARE(ops, QStringList({"ContinuousMove", "Stop"}));
}

void TestOnvifClient::movement_fault()
{
    Camera cam;
    Onvif* onvif = cam.make();
    QVERIFY(cam.run_chain());
    cam.status->clear();
    for (Misbehave how : {Misbehave::Fault, Misbehave::NotXml}) {
        cam.device().script(QStringLiteral("ContinuousMove"), how, 1);
        onvif->ptz_command(QStringLiteral("ContinuousMove"), 0, 30, 0, 0, 100, 100, 1, -1, -1);
        QTRY_VERIFY(!onvif->is_busy());
    }
    QCOMPARE(cam.finished->count(), 2);
    QCOMPARE(cam.finished->at(0).at(0).toInt(), -1);
    QCOMPARE(cam.finished->at(1).at(0).toInt(), -1);
    QCOMPARE(cam.status->count(), 2);
    QCOMPARE(cam.status->at(1).at(0).toInt(), -2);
    QCOMPARE(cam.status->at(1).at(2).toString(), QStringLiteral("PTZ command failed"));
}

void TestOnvifClient::tile_drives_camera()
{
    LoopbackOnvif server(true);
    server.device().own_host_port = QStringLiteral("127.0.0.1:") + server.port();
    Canvas c;
    setup_like_player(c, 1280, 720);
    push_frame(c, plain_image(1920, 1080, Qt::darkGray), 0);
    c.grab();
    c.set_ptz_mode(true);
    c.set_ptz_options({"holdclic", "area", "zoom", "rightclic"});
    c.set_ptz_enabled(true);
    PtzGestures::attach(&c);
    auto* onvif = new Onvif(server.scheme(), QStringLiteral("127.0.0.1"), server.port(), QStringLiteral("admin"),
                            QStringLiteral("secret"), QStringLiteral("Onvif"), server.ca());
    c.set_ptz_driver(onvif);
    c.Go();
    QCOMPARE(c.get_ptz_status_command(), QStringLiteral("starting"));
    onvif->start();
    QTRY_COMPARE_WITH_TIMEOUT(c.get_ptz_status_command(), QStringLiteral("GetStatus"), 20000);
    QCOMPARE(c.get_ptz_status_code(), 1);
    const QImage shown = c.grab().toImage();
    Q_UNUSED(shown);

    // A hold up and to the left: pan < 0, tilt > 0, within [-1, 1].
    send_mouse(c, QEvent::MouseButtonPress, QPointF(100, 100), Qt::LeftButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!server.device().moves().isEmpty(), 5000);
    send_mouse(c, QEvent::MouseButtonRelease, QPointF(100, 100), Qt::LeftButton, Qt::NoButton);
    QTRY_VERIFY_WITH_TIMEOUT(server.device().moves().size() >= 2, 5000);
    QList<FakeOnvifDevice::Move> moves = server.device().moves();
    QCOMPARE(moves.first().operation, QStringLiteral("ContinuousMove"));
    QVERIFY(moves.first().pan < 0 && moves.first().pan >= -1);
    QVERIFY(moves.first().tilt > 0 && moves.first().tilt <= 1);
    QCOMPARE(moves.last().operation, QStringLiteral("Stop"));

    // A wheel zoom in, then its security stop.
    QTest::qWait(600);
    const int before = int(server.device().moves().size());
    wheel(c, QPointF(600, 300), 120);
    QTRY_VERIFY_WITH_TIMEOUT(server.device().moves().size() >= before + 2, 5000);
    moves = server.device().moves();
    QCOMPARE(moves.at(before).operation, QStringLiteral("ContinuousMove"));
    QVERIFY(!moves.at(before).pan_tilt);
    QVERIFY(near(moves.at(before).z, 0.5));
    QCOMPARE(moves.last().operation, QStringLiteral("Stop"));
}

QTEST_MAIN(TestOnvifClient)
#include "test_onvif_client.moc"
