// The multipart stream parser: parts split anywhere give the same parts,
// header values persist, pauses and messages are told apart, bad lengths are
// skipped without losing the stream.

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include "tests/support/stream_parts.h"
#include "view/stream_multipart_parser.h"

using StreamParts::Part;

namespace {

QList<StreamPart> parse_chunks(const QByteArray& bytes, const QList<qsizetype>& cuts, int* dropped = nullptr)
{
    StreamMultipartParser parser;
    QList<StreamPart> out;
    auto handler = [&](StreamPart& p) {
        out << p;
        return true;
    };
    qsizetype from = 0;
    for (qsizetype cut : cuts) {
        parser.feed(bytes.constData() + from, cut - from, handler);
        from = cut;
    }
    parser.feed(bytes.constData() + from, bytes.size() - from, handler);
    if (dropped)
        *dropped = parser.dropped_parts();
    return out;
}

QList<StreamPart> parse_whole(const QByteArray& bytes, int* dropped = nullptr)
{
    return parse_chunks(bytes, {}, dropped);
}

QString describe(const StreamPart& p)
{
    return QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8|%9")
        .arg(QString::fromLatin1(p.body.toHex()), p.codec, p.draw_overlay, p.frametag, p.fps_text, p.time_text,
             p.message, QString::number(p.is_pause), QString::number(p.is_message));
}

Part simple(const QByteArray& body, const QString& ts, bool crlf)
{
    Part p;
    p.body = body;
    p.timestamp = ts;
    p.crlf = crlf;
    return p;
}

} // namespace

class TestStreamMultipartParser : public QObject
{
    Q_OBJECT

private slots:
    void split_anywhere_data();
    void split_anywhere();
    void values_persist_and_frametag_empties();
    void kinds_data();
    void kinds();
    void boundary_inside_body_and_names_in_values();
    void bad_content_length_data();
    void bad_content_length();
    void long_header_value_capped();
    void timestamp_forms_data();
    void timestamp_forms();
    void fixture_bodies();
};

void TestStreamMultipartParser::split_anywhere_data()
{
    QTest::addColumn<bool>("crlf");
    QTest::newRow("LF") << false;
    QTest::newRow("CR LF") << true;
}

// Any cut of the byte stream, inside a name, a value, the boundary or the
// body, yields the same parts as one delivery.
void TestStreamMultipartParser::split_anywhere()
{
    QFETCH(bool, crlf);
    Part a = simple(QByteArray("\x00\x01\n\n--my", 7), QStringLiteral("20261210101112345"), crlf);
    a.draw_overlay = QStringLiteral("RECT;1;2;3;4");
    Part b = simple("second", QStringLiteral("20261210101112385"), crlf);
    b.frametag = QStringLiteral("tagged");
    Part c = StreamParts::pause_part(QStringLiteral("20261210101112425"));
    c.crlf = crlf;
    const QByteArray bytes = "junk before" + StreamParts::encode(a) + StreamParts::encode(b) + StreamParts::encode(c);

    const QList<StreamPart> whole = parse_whole(bytes);
    QCOMPARE(whole.size(), 3);
    QCOMPARE(whole[0].body, a.body);
    QCOMPARE(whole[0].time_text, QStringLiteral("2026-12-10 10:11:12.345"));
    QCOMPARE(whole[0].fps_text, QStringLiteral(" 25.00"));
    QCOMPARE(whole[0].fps, 25.0);
    QCOMPARE(whole[0].codec, QStringLiteral("h264"));
    QCOMPARE(whole[1].frametag, QStringLiteral("tagged"));
    QVERIFY(whole[2].is_pause);
    QStringList expected;
    for (const StreamPart& p : whole)
        expected << describe(p);

    for (qsizetype cut = 1; cut < bytes.size(); ++cut) {
        QStringList got;
        for (const StreamPart& p : parse_chunks(bytes, {cut}))
            got << describe(p);
        QVERIFY2(got == expected, qPrintable(QStringLiteral("cut at %1").arg(cut)));
    }
    // One byte at a time.
    QList<qsizetype> every;
    for (qsizetype i = 1; i < bytes.size(); ++i)
        every << i;
    QStringList got;
    for (const StreamPart& p : parse_chunks(bytes, every))
        got << describe(p);
    QCOMPARE(got, expected);
}

void TestStreamMultipartParser::values_persist_and_frametag_empties()
{
    Part a = simple("aaaaaa", QStringLiteral("20261210101112345"), false);
    a.draw_overlay = QStringLiteral("LINE;1;1;5;5");
    a.frametag = QStringLiteral("person");
    Part b = simple("bbbbbb", QString(), false);
    b.codec.clear();
    b.fps = QString();
    const QList<StreamPart> parts = parse_whole(StreamParts::encode(a) + StreamParts::encode(b));
    QCOMPARE(parts.size(), 2);
    QCOMPARE(parts[1].draw_overlay, QStringLiteral("LINE;1;1;5;5"));
    QCOMPARE(parts[1].codec, QStringLiteral("h264"));
    QCOMPARE(parts[1].fps_text, QStringLiteral(" 25.00"));
    QCOMPARE(parts[1].time_text, QStringLiteral("2026-12-10 10:11:12.345"));
    QCOMPARE(parts[1].frametag, QString());
}

void TestStreamMultipartParser::kinds_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("framesize");
    QTest::addColumn<QString>("frametag");
    QTest::addColumn<bool>("pause");
    QTest::addColumn<bool>("message");
    QTest::addColumn<QString>("text");
    QTest::newRow("pause") << QByteArray(1, 'x') << "null" << "" << true << false << "";
    QTest::newRow("pause with tag is that message") << QByteArray(1, 'x') << "null" << "camera off" << false << true
                                                    << "camera off";
    QTest::newRow("noobjects") << QByteArray(1, 'x') << "" << "noobjects" << false << true << "NO ACTIVITY";
    QTest::newRow("NOOBJECTS") << QByteArray(1, 'x') << "" << "NOOBJECTS" << false << true << "NO ACTIVITY";
    QTest::newRow("PAUSE among text") << QByteArray(2, 'x') << "" << "server PAUSE now" << false << false << "";
    QTest::newRow("frame with tag") << QByteArray(40, 'x') << "" << "person" << false << false << "";
    QTest::newRow("two-byte null frame") << QByteArray(2, 'x') << "null" << "" << false << false << "";
}

void TestStreamMultipartParser::kinds()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, framesize);
    QFETCH(QString, frametag);
    QFETCH(bool, pause);
    QFETCH(bool, message);
    QFETCH(QString, text);
    Part p = simple(body, QStringLiteral("20261210101112345"), false);
    p.framesize = framesize;
    p.frametag = frametag;
    const QList<StreamPart> parts = parse_whole(StreamParts::encode(p));
    QCOMPARE(parts.size(), 1);
    QCOMPARE(parts[0].is_pause, pause);
    QCOMPARE(parts[0].is_message, message);
    QCOMPARE(parts[0].message, text);
    QCOMPARE(parts[0].frametag, pause ? QStringLiteral("PAUSE") : frametag);
    QCOMPARE(parts[0].body, body);
}

void TestStreamMultipartParser::boundary_inside_body_and_names_in_values()
{
    Part a = simple("--myboundary\nContent-Length: 3\n\nabc", QStringLiteral("20261210101112345"), false);
    a.text_overlay = QStringLiteral("Fps: 99 Content-Length: 7 Frametag: x");
    a.draw_overlay = QStringLiteral("TEXT;1;1;Timestamp: 20000101000000000");
    const QList<StreamPart> parts = parse_whole(StreamParts::encode(a));
    QCOMPARE(parts.size(), 1);
    QCOMPARE(parts[0].body, a.body);
    QCOMPARE(parts[0].fps_text, QStringLiteral(" 25.00"));
    QCOMPARE(parts[0].frametag, QString());
    QCOMPARE(parts[0].time_text, QStringLiteral("2026-12-10 10:11:12.345"));
    QCOMPARE(parts[0].draw_overlay, a.draw_overlay);
}

void TestStreamMultipartParser::bad_content_length_data()
{
    QTest::addColumn<QByteArray>("length");
    QTest::newRow("negative") << QByteArray("-5");
    QTest::newRow("letters") << QByteArray("12abc");
    QTest::newRow("blank") << QByteArray(" 12");
    QTest::newRow("huge") << QByteArray("67108865");
    QTest::newRow("overflow") << QByteArray("99999999999999999999");
    QTest::newRow("empty") << QByteArray();
}

// A part with a bad length is dropped; the next part still comes through.
void TestStreamMultipartParser::bad_content_length()
{
    QFETCH(QByteArray, length);
    Part bad = simple("zzzzzzzzzzzz", QStringLiteral("20261210101112345"), false);
    bad.content_length = length.isEmpty() ? QByteArray("x") : length;
    QByteArray bytes = StreamParts::encode(bad);
    if (length.isEmpty())
        bytes.replace("Content-Length: x\n", "");
    bytes += StreamParts::encode(simple("good", QStringLiteral("20261210101112385"), false));
    int dropped = 0;
    const QList<StreamPart> parts = parse_whole(bytes, &dropped);
    QCOMPARE(dropped, 1);
    QCOMPARE(parts.size(), 1);
    QCOMPARE(parts[0].body, QByteArray("good"));
}

void TestStreamMultipartParser::long_header_value_capped()
{
    Part a = simple("body", QStringLiteral("20261210101112345"), false);
    a.draw_overlay = QString(200000, QLatin1Char('A'));
    const QList<StreamPart> parts = parse_whole(StreamParts::encode(a));
    QCOMPARE(parts.size(), 1);
    QCOMPARE(parts[0].draw_overlay.size(), StreamMultipartParser::max_header_value);
    QCOMPARE(parts[0].body, QByteArray("body"));
}

void TestStreamMultipartParser::timestamp_forms_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("shown");
    QTest::newRow("ok") << "20240229235959999" << "2024-02-29 23:59:59.999";
    QTest::newRow("bad day") << "20230229235959999" << "";
    QTest::newRow("short") << "2024022923595999" << "";
    QTest::newRow("zeros") << "00000000000000000" << "";
    QTest::newRow("arabic digits") << QStringLiteral("2024022923595999\u0661") << "";
}

void TestStreamMultipartParser::timestamp_forms()
{
    QFETCH(QString, raw);
    QFETCH(QString, shown);
    const QList<StreamPart> parts = parse_whole(StreamParts::encode(simple("b", raw, true)));
    QCOMPARE(parts.size(), 1);
    QCOMPARE(parts[0].time_text, shown);
    QCOMPARE(parts[0].timestamp_raw, raw);
}

// The bodies handed on are exactly the recording's coded frames, whatever
// the delivery sizes.
void TestStreamMultipartParser::fixture_bodies()
{
    QTemporaryDir dir;
    StreamParts::Recording rec;
    QString error;
    QVERIFY2(StreamParts::make_recording(dir.path(), 2, QSize(160, 120), ZQFixture::Codec::H264, &rec, &error),
             qPrintable(error));
    QByteArray bytes;
    for (int i = 0; i < rec.frames.size(); ++i)
        bytes += StreamParts::encode(StreamParts::frame_part(rec, i));
    QList<qsizetype> cuts;
    QRandomGenerator rng(15);
    for (qsizetype at = 0;;) {
        at += 1 + rng.bounded(3000);
        if (at >= bytes.size())
            break;
        cuts << at;
    }
    const QList<StreamPart> parts = parse_chunks(bytes, cuts);
    QCOMPARE(parts.size(), rec.frames.size());
    for (int i = 0; i < parts.size(); ++i) {
        QCOMPARE(parts[i].body, rec.frames[i].bytes);
        QCOMPARE(parts[i].timestamp_raw, rec.frames[i].timestamp);
    }
}

QTEST_GUILESS_MAIN(TestStreamMultipartParser)
#include "test_stream_multipart_parser.moc"
