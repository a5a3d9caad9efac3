// ONVIF messages without a network: Base64, the password digest and nonce,
// the request texts, the reply parser under several prefix sets and hostile
// replies, the service addresses and the web control's URLs.

#include <QSet>
#include <QTest>
#include <QUrlQuery>

#include <cmath>

#include "ptz/base64.h"
#include "ptz/dom_parser.h"
#include "ptz/http_answer_parser.h"
#include "ptz/onvif.h"
#include "ptz/onvif_ptz.h"
#include "ptz/onvif_soap.h"
#include "ptz/ptz_ctrl_web.h"
#include "tests/support/onvif_replies.h"

namespace R = OnvifReplies;

Q_DECLARE_METATYPE(R::Prefixes)

class TestOnvifMessages : public QObject
{
    Q_OBJECT

private slots:
    void base64_data();
    void base64();
    void base64_decode_stops();
    void digest_matches_reference();
    void nonces_are_fresh();
    void header_escapes_user_and_hides_password();
    void envelope_parses_with_namespaces();
    void move_bodies();
    void parser_prefixes_data();
    void parser_prefixes();
    void parser_fault_data();
    void parser_fault();
    void parser_hostile_data();
    void parser_hostile();
    void presets_capped();
    void ranges_refuse_non_finite();
    void utc_padding();
    void service_path_data();
    void service_path();
    void web_url_data();
    void web_url();
    void http_answer_data();
    void http_answer();
};

void TestOnvifMessages::base64_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    // RFC 4648 test vectors, plus bytes above 127.
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("f") << QByteArray("f") << "Zg==";
    QTest::newRow("fo") << QByteArray("fo") << "Zm8=";
    QTest::newRow("foo") << QByteArray("foo") << "Zm9v";
    QTest::newRow("foob") << QByteArray("foob") << "Zm9vYg==";
    QTest::newRow("fooba") << QByteArray("fooba") << "Zm9vYmE=";
    QTest::newRow("foobar") << QByteArray("foobar") << "Zm9vYmFy";
    QTest::newRow("high") << QByteArray("\xff\xfe\x80", 3) << "//6A";
}

void TestOnvifMessages::base64()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(Base64::encode(bytes), text);
    QCOMPARE(Base64::decode(text), bytes);
}

void TestOnvifMessages::base64_decode_stops()
{
    // 28 characters ending with "=" hold 20 bytes.
    const QString nonce = QStringLiteral("AQIDBAUGBwgJCgsMDQ4PEBESExQ=");
    QCOMPARE(nonce.size(), 28);
    const QByteArray bytes = Base64::decode(nonce);
    QCOMPARE(bytes.size(), 20);
    QCOMPARE(bytes.at(19), char(20));
    // Anything outside the alphabet ends the data.
    QCOMPARE(Base64::decode(QStringLiteral("Zm9v Zm9v")), QByteArray("foo"));
    QCOMPARE(Base64::decode(QStringLiteral("Zm9v\nYmFy")), QByteArray("foo"));
}

void TestOnvifMessages::digest_matches_reference()
{
    // Base64(SHA-1(nonce + created + password)) computed apart with another
    // SHA-1 implementation.
    QByteArray nonce;
    for (int i = 1; i <= 20; ++i)
        nonce += char(i);
    QCOMPARE(OnvifSoap::password_digest(nonce, QStringLiteral("2026-12-10T10:00:00Z"), QStringLiteral("secret")),
             QStringLiteral("2zzS5LVjGPp1ZcdHIMxuJESv21A="));
    const QByteArray h = OnvifSoap::security_header(QStringLiteral("admin"), QStringLiteral("secret"),
                                                    QStringLiteral("2026-12-10T10:00:00Z"), nonce);
    QVERIFY(h.contains(">2zzS5LVjGPp1ZcdHIMxuJESv21A=</Password>"));
    QVERIFY(h.contains(">AQIDBAUGBwgJCgsMDQ4PEBESExQ=</Nonce>"));
}

static QString element_text(const QByteArray& xml, const char* ns, const char* local)
{
    QString error;
    auto root = DomParser::read_document(QString::fromUtf8(xml), &error);
    if (!root)
        return QStringLiteral("<unreadable: ") + error + QLatin1Char('>');
    std::vector<const DomParser::Element*> stack{root.get()};
    while (!stack.empty()) {
        const DomParser::Element* e = stack.back();
        stack.pop_back();
        if (e->name == QLatin1String(local) && e->ns == QLatin1String(ns))
            return e->text;
        for (const auto& c : e->children)
            stack.push_back(c.get());
    }
    return QString();
}

void TestOnvifMessages::nonces_are_fresh()
{
    Onvif onvif(QStringLiteral("http"), QStringLiteral("127.0.0.1"), QStringLiteral("1"), QStringLiteral("u"),
                QStringLiteral("p"), QStringLiteral("ONVIF"));
    QSet<QString> seen;
    for (int i = 0; i < 500; ++i) {
        const QByteArray env = OnvifSoap::envelope(
            onvif.build_security_header(QStringLiteral("u"), QStringLiteral("p"), QString()), QByteArray());
        const QString nonce = element_text(env, OnvifSoap::wsse_ns, "Nonce");
        QCOMPARE(nonce.size(), 28);
        QCOMPARE(Base64::decode(nonce).size(), 20);
        QVERIFY2(!seen.contains(nonce), "a nonce came twice");
        seen.insert(nonce);
        // Created defaults to the current UTC time.
        const QString created = element_text(env, OnvifSoap::wsu_ns, "Created");
        const QDateTime t = QDateTime::fromString(created, Qt::ISODate);
        QVERIFY(t.isValid());
        QVERIFY(qAbs(t.secsTo(QDateTime::currentDateTimeUtc())) < 60);
    }
}

void TestOnvifMessages::header_escapes_user_and_hides_password()
{
    const QString user = QStringLiteral("a<&b\"\r\n'>");
    const QByteArray env = OnvifSoap::envelope(
        OnvifSoap::security_header(user, QStringLiteral("pass<word>"), QStringLiteral("2026-12-10T10:00:00Z"),
                                   OnvifSoap::make_nonce()),
        QByteArray());
    QCOMPARE(element_text(env, OnvifSoap::wsse_ns, "Username"), user);
    QVERIFY(!env.contains("pass<word>"));
    QVERIFY(!env.contains("pass&lt;word"));
}

void TestOnvifMessages::envelope_parses_with_namespaces()
{
    const QByteArray body = OnvifSoap::element_with_child(OnvifNs::ptz, QStringLiteral("GetNode"),
                                                          QStringLiteral("NodeToken"), QStringLiteral("n<1&"));
    const QByteArray env = OnvifSoap::envelope(QByteArray(), body);
    QVERIFY(!env.startsWith("<?xml"));
    QCOMPARE(element_text(env, OnvifNs::ptz, "NodeToken"), QStringLiteral("n<1&"));
}

void TestOnvifMessages::move_bodies()
{
    const QByteArray move = OnvifSoap::envelope(
        QByteArray(), OnvifSoap::continuous_move(QStringLiteral("p1"), true, 0.25, -1, true, 0.5));
    QString error;
    auto root = DomParser::read_document(QString::fromUtf8(move), &error);
    QVERIFY2(root, qPrintable(error));
    QVERIFY(move.contains("x=\"0.25\" y=\"-1\""));
    QVERIFY(move.contains("<Zoom xmlns=\"http://www.onvif.org/ver10/schema\" x=\"0.5\"/>"));
    // Numbers never in the French locale's form.
    QVERIFY(!move.contains("0,25"));
    const QByteArray zoom_only = OnvifSoap::continuous_move(QStringLiteral("p1"), false, 0, 0, true, -0.5);
    QVERIFY(!zoom_only.contains("PanTilt"));
    const QByteArray stop = OnvifSoap::stop(QStringLiteral("p1"));
    QVERIFY(stop.contains("<PanTilt>true</PanTilt><Zoom>true</Zoom>"));
    QCOMPARE(OnvifSoap::number(std::nan("")), QStringLiteral("0"));
}

void TestOnvifMessages::parser_prefixes_data()
{
    QTest::addColumn<R::Prefixes>("p");
    QTest::newRow("s/tds/tt") << R::Prefixes();
    QTest::newRow("env") << R::env_prefixes();
    QTest::newRow("SOAP-ENV/ns2") << R::foreign_prefixes();
}

void TestOnvifMessages::parser_prefixes()
{
    QFETCH(R::Prefixes, p);
    DomParser parser;
    // Clock: fields padded, whatever the prefixes.
    QCOMPARE(parser.get_utc_datetime(R::date_time(p, QDateTime(QDate(2024, 3, 7), QTime(9, 5, 0), Qt::UTC))),
             QStringLiteral("2024-03-07T09:05:00Z"));
    // Services: three entries, a later reply adds to the same table.
    QHash<QString, QString> s = parser.get_services(
        R::services(p, {{OnvifNs::device, QStringLiteral("http://10.0.0.1/onvif/device_service")},
                        {OnvifNs::media, QStringLiteral("http://10.0.0.1/onvif/media_service")},
                        {OnvifNs::ptz, QStringLiteral("http://10.0.0.1/onvif/ptz_service")}}));
    QCOMPARE(s.size(), 3);
    QCOMPARE(s.value(OnvifNs::ptz), QStringLiteral("http://10.0.0.1/onvif/ptz_service"));
    s = parser.get_services(R::services(p, {{QStringLiteral("urn:other"), QStringLiteral("/x")}}));
    QCOMPARE(s.size(), 4);
    // Profiles: the one without PTZ adds its token but no node.
    Onvif_ptz* ptz = parser.get_profile(
        R::profiles(p, {{QStringLiteral("prof1"), QStringLiteral("node1")}, {QStringLiteral("prof2"), QString()}}));
    QCOMPARE(ptz->get_profile_tokens(), QStringList({"prof1", "prof2"}));
    QCOMPARE(ptz->get_node_tokens(), QStringList({"node1"}));
    // Node: each space reads its own ranges.
    R::NodeRanges r;
    r.tilt_min = QStringLiteral("-0.5");
    r.tilt_max = QStringLiteral("0.5");
    r.zoom_min = QStringLiteral("-0.25");
    parser.get_nodes(R::node(p, r));
    QVERIFY(ptz->is_continuous_supported());
    QVERIFY(ptz->is_relative_supported());
    QCOMPARE(ptz->get_continuous_pan_range().min, -1.f);
    QCOMPARE(ptz->get_continuous_pan_range().max, 1.f);
    QCOMPARE(ptz->get_continuous_tilt_range().min, -0.5f);
    QCOMPARE(ptz->get_continuous_tilt_range().max, 0.5f);
    QCOMPARE(ptz->get_continuous_zoom_range().min, -0.25f);
    // Presets: the camera's default names are not listed.
    parser.get_presets(R::presets(p, {{QStringLiteral("t3"), QStringLiteral("Preset 3")},
                                      {QStringLiteral("t7"), QStringLiteral("Entrance")}}));
    QCOMPARE(ptz->get_presets().size(), 1);
    QCOMPARE(ptz->get_presets().first().token, QStringLiteral("t7"));
    QCOMPARE(ptz->get_presets().first().name, QStringLiteral("Entrance"));
    // Status.
    parser.get_status(R::status(p, QStringLiteral("0.5"), QStringLiteral("-0.25"), QStringLiteral("0.75")));
    QCOMPARE(ptz->get_pan(), 0.5f);
    QCOMPARE(ptz->get_tilt(), -0.25f);
    QCOMPARE(ptz->get_zoom(), 0.75f);
    // No fault in any of them.
    QCOMPARE(parser.get_fault(R::status(p, "0", "0", "0")), QString());
}

void TestOnvifMessages::parser_fault_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("auth");
    QTest::newRow("not authorized") << R::not_authorized(R::Prefixes()) << "Sender not Authorized" << true;
    QTest::newRow("not authorized, foreign")
        << R::not_authorized(R::foreign_prefixes()) << "Sender not Authorized" << true;
    QTest::newRow("action failed") << R::fault(R::env_prefixes(), "ActionNotSupported", "No such action") << "No such action"
                                   << false;
    QTest::newRow("wsse") << R::fault(R::Prefixes(), "FailedAuthentication", "bad digest") << "bad digest" << true;
    // A fault's name outside the SOAP namespace is no fault.
    QTest::newRow("foreign Fault element")
        << R::envelope(R::Prefixes(), "<tt:Fault xmlns:tt=\"urn:x\"><tt:Reason>x</tt:Reason></tt:Fault>") << ""
        << false;
    QTest::newRow("SOAP 1.1")
        << QStringLiteral("<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Body><e:Fault>"
                          "<faultcode>e:Client</faultcode><faultstring>old style</faultstring></e:Fault></e:Body>"
                          "</e:Envelope>")
        << "old style" << false;
}

void TestOnvifMessages::parser_fault()
{
    QFETCH(QString, reply);
    QFETCH(QString, fault);
    QFETCH(bool, auth);
    DomParser parser;
    QCOMPARE(parser.get_fault(reply), fault);
    QCOMPARE(parser.is_not_authorized(reply), auth);
}

void TestOnvifMessages::parser_hostile_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("readable");
    QString deep;
    for (int i = 0; i < 100; ++i)
        deep += QStringLiteral("<a>");
    QTest::newRow("deep") << R::envelope(R::Prefixes(), deep) << false;
    QTest::newRow("huge") << R::envelope(R::Prefixes(), QString(DomParser::max_reply_bytes, QLatin1Char(' ')))
                          << false;
    QTest::newRow("not xml") << QStringLiteral("<html><body>404 Not Found") << false;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("entities")
        << QStringLiteral("<!DOCTYPE s [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
                          "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"><s:Body>&b;&b;&b;"
                          "</s:Body></s:Envelope>")
        << false;
    QTest::newRow("no body") << QStringLiteral(
        "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"><s:Header/></s:Envelope>")
                             << true;
    QTest::newRow("unbound prefix") << QStringLiteral("<s:Envelope><s:Body/></s:Envelope>") << false;
    QTest::newRow("prefix s, wrong namespace")
        << QStringLiteral("<s:Envelope xmlns:s=\"urn:not-soap\"><s:Body><tds:GetServicesResponse "
                          "xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\"/></s:Body></s:Envelope>")
        << true;
}

void TestOnvifMessages::parser_hostile()
{
    QFETCH(QString, reply);
    QFETCH(bool, readable);
    DomParser parser;
    const QString clock = parser.get_utc_datetime(reply);
    QCOMPARE(parser.last_parse_ok(), readable);
    if (readable)
        QCOMPARE(clock, QString());
    else
        QVERIFY(!clock.isEmpty()); // the parse error
    QVERIFY(parser.get_services(reply).isEmpty());
    QVERIFY(parser.get_profile(reply)->get_profile_tokens().isEmpty());
    QCOMPARE(parser.get_fault(reply).isEmpty(), readable);
}

void TestOnvifMessages::presets_capped()
{
    QList<QPair<QString, QString>> many;
    for (int i = 0; i < 3000; ++i)
        many.append({QStringLiteral("t%1").arg(i), QStringLiteral("Spot %1").arg(i)});
    DomParser parser;
    Onvif_ptz* ptz = parser.get_presets(R::presets(R::Prefixes(), many));
    QCOMPARE(ptz->get_presets().size(), Onvif_ptz::max_presets);
    parser.get_presets(R::presets(R::Prefixes(), many));
    QCOMPARE(ptz->get_presets().size(), Onvif_ptz::max_presets);
}

void TestOnvifMessages::ranges_refuse_non_finite()
{
    R::NodeRanges r;
    r.pan_min = QStringLiteral("nan");
    r.pan_max = QStringLiteral("inf");
    r.tilt_min = QStringLiteral("-1e999");
    r.zoom_max = QStringLiteral("abc");
    DomParser parser;
    Onvif_ptz* ptz = parser.get_nodes(R::node(R::Prefixes(), r));
    QCOMPARE(ptz->get_continuous_pan_range().min, -1.f);
    QCOMPARE(ptz->get_continuous_pan_range().max, 1.f);
    QCOMPARE(ptz->get_continuous_tilt_range().min, -1.f);
    // Not a number reads as 0.
    QCOMPARE(ptz->get_continuous_zoom_range().max, 0.f);
    parser.get_status(R::status(R::Prefixes(), "nan", "inf", "x"));
    QVERIFY(std::isfinite(ptz->get_pan()));
    QVERIFY(std::isfinite(ptz->get_tilt()));
    QCOMPARE(ptz->get_zoom(), 0.f);
}

void TestOnvifMessages::utc_padding()
{
    DomParser parser;
    QCOMPARE(parser.get_utc_datetime(R::date_time(R::foreign_prefixes(),
                                                  QDateTime(QDate(2026, 12, 31), QTime(23, 59, 58), Qt::UTC))),
             QStringLiteral("2026-12-31T23:59:58Z"));
}

void TestOnvifMessages::service_path_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("path");
    QTest::newRow("name") << "device_service" << "/onvif/device_service";
    QTest::newRow("full") << "http://10.1.2.3:8080/onvif/ptz_service" << "/onvif/ptz_service";
    QTest::newRow("foreign host") << "https://attacker.example/onvif/Media" << "/onvif/Media";
    QTest::newRow("last onvif") << "http://h/onvif/x/onvif/ptz" << "/onvif/ptz";
    QTest::newRow("no onvif") << "http://h:81/cgi/ptz.cgi" << "/cgi/ptz.cgi";
    QTest::newRow("query dropped") << "http://h/onvif/ptz?x=1#f" << "/onvif/ptz";
    QTest::newRow("list") << "http://h/onvif/media http://[fe80::1]/onvif/media" << "/onvif/media";
    QTest::newRow("dots") << "http://h/a/../../onvif/ptz" << "/onvif/ptz";
    QTest::newRow("relative dots") << "../../etc/passwd" << "/onvif///etc/passwd";
    QTest::newRow("empty") << "" << "/onvif/";
}

void TestOnvifMessages::service_path()
{
    QFETCH(QString, address);
    QFETCH(QString, path);
    QCOMPARE(Onvif::service_path(address), path);
}

void TestOnvifMessages::web_url_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("session");
    QTest::addColumn<QString>("expected");
    QTest::newRow("click") << "http://127.0.0.1/ptz.php?cam=3" << "clic" << "10,20" << "abc"
                           << "http://127.0.0.1/ptz.php?cam=3&clic=10,20&resolution=1920x1080&PHPSESSID=abc";
    QTest::newRow("empty base") << "" << "clic" << "10,20" << ""
                                << "?clic=10,20&resolution=1920x1080&PHPSESSID=";
    QTest::newRow("hostile session") << "http://h/p?a=1" << "zoom" << "1,0" << "x&y=1\r\n<#"
                                     << "http://h/p?a=1&zoom=1,0&resolution=1920x1080&PHPSESSID=x%26y%3D1%0D%0A%3C%23";
}

void TestOnvifMessages::web_url()
{
    QFETCH(QString, base);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, session);
    QFETCH(QString, expected);
    const QUrl url = PtzCtrlWeb::build_url(base, {{key, value}}, 1920, 1080, session);
    QCOMPARE(url.toString(QUrl::FullyEncoded), expected);
    // The session id comes back whole as one parameter.
    QCOMPARE(QUrlQuery(url).queryItemValue(QStringLiteral("PHPSESSID"), QUrl::FullyDecoded), session);
    QCOMPARE(QUrlQuery(url).allQueryItemValues(QStringLiteral("y")).size(), 0);
}

void TestOnvifMessages::http_answer_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("closed"); // the connection ends after the bytes
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    const int done = HttpAnswerParser::Done, more = HttpAnswerParser::NeedMore, failed = HttpAnswerParser::Failed;
    QTest::newRow("length") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello") << false << done << 200
                            << QByteArray("hello");
    QTest::newRow("short") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nhello") << false << more << 200
                           << QByteArray();
    QTest::newRow("cut short") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nhello") << true << failed
                               << 200 << QByteArray();
    QTest::newRow("chunked") << QByteArray("HTTP/1.1 400 Bad\r\ntransfer-encoding: chunked\r\n\r\n"
                                           "3\r\nabc\r\n2;x=y\r\nde\r\n0\r\n\r\n")
                             << false << done << 400 << QByteArray("abcde");
    QTest::newRow("continue first") << QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 500 E\r\nContent-Length: 1\r\n\r\nx")
                                    << false << done << 500 << QByteArray("x");
    QTest::newRow("until close") << QByteArray("HTTP/1.0 200 OK\r\n\r\nall of it") << true << done << 200
                                 << QByteArray("all of it");
    QTest::newRow("too large") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2000000\r\n\r\n") << false << failed
                               << 200 << QByteArray();
    QTest::newRow("two lengths") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab")
                                 << false << failed << 200 << QByteArray();
    QTest::newRow("not http") << QByteArray("SSH-2.0-OpenSSH\r\n\r\n") << false << failed << 0 << QByteArray();
    QTest::newRow("bad chunk end") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabcXY0\r\n\r\n")
                                   << false << failed << 200 << QByteArray();
    QTest::newRow("huge chunk") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nfffffffffffffff\r\n")
                                << false << failed << 200 << QByteArray();
}

void TestOnvifMessages::http_answer()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, closed);
    QFETCH(int, state);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    // Whole, and one byte at a time: the same outcome.
    for (bool bytewise : {false, true}) {
        HttpAnswerParser p(1024 * 1024);
        HttpAnswerParser::State s = HttpAnswerParser::NeedMore;
        if (bytewise) {
            for (char c : bytes)
                s = p.feed(QByteArray(1, c));
        } else {
            s = p.feed(bytes);
        }
        if (closed)
            s = p.end_of_stream();
        QCOMPARE(int(s), state);
        if (state != HttpAnswerParser::Failed || status != 0)
            QCOMPARE(p.status(), status);
        if (state == HttpAnswerParser::Done)
            QCOMPARE(p.body(), body);
    }
}

QTEST_GUILESS_MAIN(TestOnvifMessages)
#include "test_onvif_messages.moc"
