// The jobs window's plain container: a style sheet's background must show on
// it (a bare QWidget subclass paints nothing of its sheet), and it says when
// it goes away.

#include "download/centralwidget_zqdownload.h"
#include "tests/recordings/log_capture.h"

#include <QImage>
#include <QPalette>
#include <QPixmap>
#include <QTest>

class TestCentralwidgetZqdownload : public QObject
{
    Q_OBJECT

private slots:
    void sheet_background_is_painted_data();
    void sheet_background_is_painted();
    void destruction_is_logged();
};

void TestCentralwidgetZqdownload::sheet_background_is_painted_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("by class") << QStringLiteral("Centralwidget_zqdownload { background: rgb(12, 34, 56); }")
                              << QColor(12, 34, 56);
    QTest::newRow("plain rule") << QStringLiteral("background: #B71C1C;") << QColor(0xB7, 0x1C, 0x1C);
}

void TestCentralwidgetZqdownload::sheet_background_is_painted()
{
    QFETCH(QString, sheet);
    QFETCH(QColor, expected);
    // Inside a window of another colour, as the container is used: an
    // unpainted container would show the window through it.
    QWidget window;
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(0, 200, 0));
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    window.resize(60, 50);
    auto* widget = new Centralwidget_zqdownload(&window);
    widget->setStyleSheet(sheet);
    widget->setGeometry(10, 10, 40, 30);
    const QImage picture = window.grab().toImage();
    QVERIFY(!picture.isNull());
    QCOMPARE(QColor(picture.pixel(2, 2)), QColor(0, 200, 0));
    // The centre and a corner of the container: its whole surface takes the sheet's colour.
    QCOMPARE(QColor(picture.pixel(30, 25)), expected);
    QCOMPARE(QColor(picture.pixel(11, 11)), expected);
}

void TestCentralwidgetZqdownload::destruction_is_logged()
{
    LogCapture log;
    auto* widget = new Centralwidget_zqdownload;
    QCOMPARE(log.count(QStringLiteral("[INFO] Download Presentation :: destruct")), 0);
    delete widget;
    QCOMPARE(log.count(QStringLiteral("[INFO] Download Presentation :: destruct")), 1);
}

QTEST_MAIN(TestCentralwidgetZqdownload)
#include "test_centralwidget_zqdownload.moc"
