#include "playback/zq_media_frame.h"

#include <QtTest>

extern "C" {
#include <libavutil/frame.h>
}

#include <cstring>

// Runs under the address sanitizer: a leak or a read past a buffer fails it.
class TestMediaFrame : public QObject
{
    Q_OBJECT

private slots:
    void defaults_free_nothing()
    {
        auto* f = new ZQMediaFrame;
        QCOMPARE(f->get_id(), QStringLiteral("-1"));
        QCOMPARE(f->get_width(), -1);
        QCOMPARE(f->get_fps(), -1.0);
        QVERIFY(!f->get_frame());
        QVERIFY(!f->get_timestamp());
        delete f;
    }

    // The record takes the picture's content; the caller's frame is blank and
    // reusable, and a second picture replaces the first without a leak.
    void set_frame_moves_content()
    {
        AVFrame* src = av_frame_alloc();
        src->format = AV_PIX_FMT_GRAY8;
        src->width = 16;
        src->height = 8;
        QCOMPARE(av_frame_get_buffer(src, 0), 0);
        std::memset(src->data[0], 0x5a, size_t(src->linesize[0]) * 8);

        ZQMediaFrame record;
        record.set_frame(nullptr);
        QVERIFY(!record.get_frame());
        record.set_frame(src);
        QVERIFY(record.get_frame());
        QCOMPARE(record.get_frame()->width, 16);
        QCOMPARE(record.get_frame()->data[0][3], uint8_t(0x5a));
        QVERIFY(!src->data[0]);
        QCOMPARE(src->width, 0);

        src->format = AV_PIX_FMT_GRAY8;
        src->width = 4;
        src->height = 4;
        QCOMPARE(av_frame_get_buffer(src, 0), 0);
        record.set_frame(src);
        QCOMPARE(record.get_frame()->width, 4);
        av_frame_free(&src);
    }

    // A 17-character timestamp is copied as it is, not 25 bytes of it; the
    // setters may be called again.
    void timestamp_and_data()
    {
        ZQMediaFrame record;
        const QByteArray stamp = "20240101083000040";
        char* exact = new char[stamp.size() + 1];
        std::memcpy(exact, stamp.constData(), size_t(stamp.size()) + 1);
        record.set_timestamp(exact);
        delete[] exact;
        QCOMPARE(QByteArray(record.get_timestamp()), stamp);
        record.set_timestamp("20240101083000080");
        QCOMPARE(QByteArray(record.get_timestamp()), QByteArray("20240101083000080"));

        const uint8_t bytes[3] = {1, 2, 3};
        record.set_data(bytes, 3);
        QCOMPARE(record.get_data_size(), 3);
        QCOMPARE(record.get_data()[2], uint8_t(3));
        record.set_data(bytes, 0);
        QCOMPARE(record.get_data_size(), 0);
        QVERIFY(record.get_data());
        record.set_data(nullptr, 5);
        QCOMPARE(record.get_data_size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestMediaFrame)
#include "test_media_frame.moc"
