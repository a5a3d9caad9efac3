// Time of one ContinuousMove, from ptz_command to send_request_finished, on
// a reused connection to the fake camera of the loopback server; beside the
// per-transfer time_total of one curl process posting the same SOAP body to
// the same address as many times. Median of each. The camera's nonce check
// is off for the run, since curl sends one body again and again.

#include <QCoreApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <vector>

#include "bench/bench_report.h"
#include "ptz/onvif.h"
#include "tests/support/loopback_server.h"
#include "tests/support/onvif_routes.h"

namespace {

double median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const int runs = 500;

    FakeOnvifDevice device;
    device.check_nonce = false;
    LoopbackServer server;
    add_onvif_routes(server, device);
    const QString port = QString::number(server.port());
    device.own_host_port = QStringLiteral("127.0.0.1:") + port;

    Onvif onvif(QStringLiteral("http"), QStringLiteral("127.0.0.1"), port, QStringLiteral("admin"),
                QStringLiteral("secret"), QStringLiteral("ONVIF"));
    QSignalSpy status(&onvif, &NativePTZInterface::status_message);
    QSignalSpy finished(&onvif, &NativePTZInterface::send_request_finished);
    onvif.start();
    if (!status.wait(20000) || status.last().at(0).toInt() != 1) {
        out << "the discovery chain did not finish" << Qt::endl;
        return 1;
    }

    std::vector<double> ours;
    ours.reserve(runs);
    QElapsedTimer clock;
    for (int i = 0; i < runs + 20; ++i) {
        const int before = int(finished.count());
        clock.start();
        onvif.ptz_command(QStringLiteral("ContinuousMove"), 0, 10.f + float(i % 7), -5.f, 0.f, 1920, 1080, 1, -1,
                          -1);
        while (finished.count() == before)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const double us = double(clock.nsecsElapsed()) / 1000.0;
        if (i >= 20) // warm-up: connection, first allocations
            ours.push_back(us);
    }

    // The same body, posted by curl to the same address, in one process.
    const QList<FakeOnvifDevice::Request> reqs = device.requests();
    QByteArray body;
    QString path;
    for (const auto& r : reqs) {
        if (r.operation == QLatin1String("ContinuousMove")) {
            body = r.body;
            path = r.path;
        }
    }
    QTemporaryDir dir;
    const QString body_file = dir.filePath(QStringLiteral("body.xml"));
    const QString config_file = dir.filePath(QStringLiteral("curl.cfg"));
    {
        QFile f(body_file);
        f.open(QIODevice::WriteOnly);
        f.write(body);
        QFile c(config_file);
        c.open(QIODevice::WriteOnly);
        const QByteArray url = server.url_string(path).toUtf8();
        for (int i = 0; i < runs + 20; ++i)
            c.write("url = \"" + url + "\"\noutput = /dev/null\n");
    }
    QProcess curl;
    curl.start(QStringLiteral("curl"),
               {QStringLiteral("-s"), QStringLiteral("-K"), config_file, QStringLiteral("-H"),
                QStringLiteral("Content-Type: application/soap+xml; charset=utf-8; "
                               "action=http://www.onvif.org/ver20/ptz/wsdl/ContinuousMove"),
                QStringLiteral("--data-binary"), QLatin1Char('@') + body_file, QStringLiteral("-w"),
                QStringLiteral("%{time_total}\\n")});
    // The server runs on its own thread: waiting here blocks nothing it needs.
    if (!curl.waitForFinished(300000) || curl.exitCode() != 0) {
        out << "curl failed: " << curl.readAllStandardError() << Qt::endl;
        return 1;
    }
    std::vector<double> reference;
    const QList<QByteArray> lines = curl.readAllStandardOutput().split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        bool ok = false;
        const double s = lines.at(i).trimmed().toDouble(&ok);
        if (ok && i >= 20)
            reference.push_back(s * 1.0e6);
    }
    out << "ContinuousMove round trips: " << ours.size() << " ours, " << reference.size() << " curl" << Qt::endl;
    zq::bench::print_ratio(out, QStringLiteral("ONVIF ContinuousMove median"), median(ours), median(reference),
                           QStringLiteral("us"), QStringLiteral("curl"));
    return 0;
}
