// Zooms the day timeline of a busy camera in and out, one wheel notch per
// frame, and prints the GUI thread's work per zoom step and the time between
// swapped frames beside the 16 ms frame budget.
//
// The day: a recording every minute, 400 alarms, 300 tags and a preview every
// 30 seconds.

#include "fake_objects.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtQml/qqmlextensionplugin.h>

#include <algorithm>
#include <cstdio>

Q_IMPORT_QML_PLUGIN(PlayerZqCorePlugin)

namespace {

QString dateTime(int second)
{
    return QStringLiteral("20250619%1%2%3")
        .arg(second / 3600, 2, 10, QLatin1Char('0'))
        .arg(second / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(second % 60, 2, 10, QLatin1Char('0'));
}

double percentile(QList<qint64> values, double p)
{
    if (values.isEmpty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const int i = std::min<int>(values.size() - 1, int(values.size() * p));
    return values[i] / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);

    QTemporaryDir tmp;
    const QString preview = QDir(tmp.path()).filePath(QStringLiteral("preview.jpg"));
    QImage picture(320, 180, QImage::Format_RGB32);
    picture.fill(QColor(90, 110, 60));
    picture.save(preview);

    auto* fake = new FakeVideoWidget(&app);
    QVariantList starts, alarms, tags, previews;
    for (int m = 0; m < 1440; ++m)
        starts << qint64(m) * 60000;
    for (int i = 0; i < 400; ++i)
        alarms << QVariantMap{{QStringLiteral("datetime"), dateTime(i * 211)}};
    for (int i = 0; i < 300; ++i)
        tags << QVariantMap{{QStringLiteral("tag_datetime"), dateTime(i * 283)},
                            {QStringLiteral("tag_name"), QStringLiteral("tag")},
                            {QStringLiteral("tag_description"), QString()}};
    for (int i = 0; i < 2880; ++i)
        previews << QVariantMap{{QStringLiteral("ms"), i * 30000},
                                {QStringLiteral("url"), QUrl::fromLocalFile(preview).toString()}};
    fake->setProperty("timestamps", starts);
    fake->setProperty("alarms", alarms);
    fake->setProperty("tags", tags);
    fake->setProperty("previews", previews);

    QQuickView view;
    view.engine()->addImportPath(QStringLiteral("qrc:/qml/Zqplayer/"));
    view.engine()->rootContext()->setContextProperty(QStringLiteral("videoWidget"), fake);
    view.setResizeMode(QQuickView::SizeRootObjectToView);
    view.resize(1570, 250);
    view.setSource(QUrl(QStringLiteral("qrc:/qml/Zqplayer/PlayerZqCore/TimelineView.qml")));
    if (view.status() != QQuickView::Ready) {
        std::fprintf(stderr, "cannot load the timeline\n");
        return 1;
    }
    view.show();
    QQuickItem* timeline = view.rootObject()->property("timeline").value<QQuickItem*>();

    QElapsedTimer clock;
    clock.start();
    QList<qint64> frameGaps;
    QList<qint64> stepWork;
    qint64 lastSwap = -1;
    QObject::connect(&view, &QQuickWindow::frameSwapped, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastSwap >= 0)
            frameGaps << now - lastSwap;
        lastSwap = now;
    });

    constexpr int kStepsEachWay = 60;
    int step = 0;
    QTimer ticker;
    ticker.setInterval(16);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        QElapsedTimer work;
        work.start();
        const double delta = step < kStepsEachWay ? 120.0 : -120.0;
        const double pointer = 300.0 + (step % 7) * 150.0;
        QMetaObject::invokeMethod(timeline, "wheelZoom", Q_ARG(QVariant, pointer), Q_ARG(QVariant, delta));
        stepWork << work.nsecsElapsed();
        if (++step >= 2 * kStepsEachWay) {
            ticker.stop();
            QTimer::singleShot(200, &app, &QGuiApplication::quit);
        }
    });
    QTimer::singleShot(1500, [&] {
        frameGaps.clear();
        lastSwap = -1;
        ticker.start();
    });
    app.exec();

    std::printf("qml timeline zoom, %d wheel steps, 1440 files, 400 alarms, 300 tags, 2880 previews\n",
                int(stepWork.size()));
    std::printf("  GUI work per zoom step: median %.2f ms, p95 %.2f ms, max %.2f ms (budget 16 ms, ratio %.2f)\n",
                percentile(stepWork, 0.5), percentile(stepWork, 0.95), percentile(stepWork, 1.0),
                percentile(stepWork, 1.0) / 16.0);
    std::printf("  time between frames:    median %.2f ms, p95 %.2f ms, max %.2f ms over %d frames\n",
                percentile(frameGaps, 0.5), percentile(frameGaps, 0.95), percentile(frameGaps, 1.0),
                int(frameGaps.size()));
    return 0;
}
