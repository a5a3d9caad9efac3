// The display-and-buffer thread's arithmetic: buffer sizes, the search for
// the next frame id over gaps, duplicates and the id wrap, pacing waits and
// the adaptive growth of the buffer.

#include <QTest>

#include "view/new_display_thread.h"

class TestDisplayThreadTables : public QObject
{
    Q_OBJECT

private slots:
    void buffer_size_data();
    void buffer_size();
    void search_next_data();
    void search_next();
    void pace_data();
    void pace();
    void growth_only_grows();
};

void TestDisplayThreadTables::buffer_size_data()
{
    QTest::addColumn<int>("fps");
    QTest::addColumn<int>("duration");
    QTest::addColumn<int>("size");
    QTest::newRow("25 fps, 1 s") << 25 << 1000 << 50;
    QTest::newRow("1 fps, 1 s: raised to 3") << 1 << 1000 << 3;
    QTest::newRow("120 fps, 2 s: lowered to 200") << 120 << 2000 << 200;
    QTest::newRow("25 fps, 300 ms") << 25 << 300 << 14;
    QTest::newRow("1000 fps, huge duration") << 1000 << 2000000000 << 200;
    QTest::newRow("zero duration") << 25 << 0 << 3;
}

void TestDisplayThreadTables::buffer_size()
{
    QFETCH(int, fps);
    QFETCH(int, duration);
    QFETCH(int, size);
    QCOMPARE(new_display_thread::compute_buffer_size(fps, duration), size);
}

void TestDisplayThreadTables::search_next_data()
{
    QTest::addColumn<QList<int>>("ids");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("found");
    QTest::addColumn<int>("last_after");
    QTest::newRow("start: any record") << QList<int>{5, 6, 7} << 1 << -1 << 1 << -1;
    QTest::newRow("in place") << QList<int>{5, 6, 7} << 1 << 5 << 1 << 5;
    QTest::newRow("backward to the next id") << QList<int>{1, 2, 3, 4, 5} << 4 << 1 << 1 << 1;
    QTest::newRow("forward over shown ids") << QList<int>{1, 2, 3, 4, 5} << 0 << 3 << 3 << 3;
    QTest::newRow("gap: forward stops past it") << QList<int>{1, 2, 7, 8} << 1 << 2 << 2 << 7;
    QTest::newRow("duplicate ids move on") << QList<int>{3, 3, 3, 4} << 0 << 3 << 3 << 3;
    QTest::newRow("backward stops at the first record") << QList<int>{10, 11, 12} << 2 << 3 << 0 << 3;
    QTest::newRow("index beyond the end is clamped") << QList<int>{1, 2, 3} << 9 << 2 << 2 << 2;
    QTest::newRow("wrap ahead: 999999 then 0") << QList<int>{999998, 999999, 0, 1} << 0 << 999999 << 2 << 999999;
    QTest::newRow("no walk back over a wrap") << QList<int>{999999, 0, 1, 2} << 3 << 0 << 2 << 0;
    QTest::newRow("empty") << QList<int>{} << 0 << 0 << -1 << 0;
}

void TestDisplayThreadTables::search_next()
{
    QFETCH(QList<int>, ids);
    QFETCH(int, index);
    QFETCH(int, last);
    QFETCH(int, found);
    QFETCH(int, last_after);
    std::vector<int> v(ids.begin(), ids.end());
    int last_shown = last;
    QCOMPARE(new_display_thread::search_next(v, index, &last_shown), found);
    QCOMPARE(last_shown, last_after);
}

void TestDisplayThreadTables::pace_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<qint64>("previous");
    QTest::addColumn<bool>("compensate");
    QTest::addColumn<qint64>("wait");
    QTest::addColumn<int>("skip");
    QTest::newRow("25 fps, no compensation") << 25.0 << qint64(1000) << false << qint64(40000) << 0;
    QTest::newRow("25 fps, 1 ms paint") << 25.0 << qint64(1000) << true << qint64(38500) << 0;
    QTest::newRow("rate below 1 counts as 1") << 0.2 << qint64(0) << true << qint64(1000000) << 0;
    QTest::newRow("NaN rate counts as 1") << qQNaN() << qint64(0) << true << qint64(1000000) << 0;
    QTest::newRow("late by two periods") << 25.0 << qint64(80000) << true << qint64(-80000) << 2;
    QTest::newRow("very late: skip at most 5") << 25.0 << qint64(10000000) << true << qint64(-14960000) << 5;
}

void TestDisplayThreadTables::pace()
{
    QFETCH(double, rate);
    QFETCH(qint64, previous);
    QFETCH(bool, compensate);
    QFETCH(qint64, wait);
    QFETCH(int, skip);
    int s = 0;
    QCOMPARE(new_display_thread::pace_wait_us(rate, previous, compensate, &s), wait);
    QCOMPARE(s, skip);
}

// More than ten samples make a mean; a size only 3 or less above the current
// one, or below it, changes nothing.
void TestDisplayThreadTables::growth_only_grows()
{
    new_display_thread t;
    t.buffer_duration_ms = 1000;
    auto feed = [&t](double rate) {
        int size = 0;
        for (int i = 0; i < 11; ++i)
            size = t.set_max_list_size(rate);
        return size;
    };
    QCOMPARE(t.set_max_list_size(25.0), -1); // ten samples or fewer: no mean yet
    for (int i = 0; i < 9; ++i)
        t.set_max_list_size(25.0);
    QCOMPARE(t.set_max_list_size(25.0), 50);
    QCOMPARE(feed(26.0), 50); // 52: three more or less is ignored
    QCOMPARE(feed(30.0), 60);
    QCOMPARE(feed(10.0), 60); // never shrinks
    QCOMPARE(feed(qInf()), 60);
}

QTEST_GUILESS_MAIN(TestDisplayThreadTables)
#include "test_display_thread_tables.moc"
