// An installer downloaded by the updater (hash check and commit included)
// and by the downloads window's download thread (hash and rename included),
// both on the one libcurl transfer core, over HTTPS and HTTP from the loopback
// server, against `curl --cacert CA -o FILE` on the same URL in the same run; then a crash
// report (a large dump and a 15 MB log) posted by DumpSender against
// `curl -F` posting the same files. Prints throughput, time and the growth
// of peak resident memory.
//
//   bench_update [--size-mib N] [--dump-mib N]     (defaults 1024 and 512)

#include "app/sha256.h"
#include "app/zq_log.h"
#include "bench/bench_report.h"
#include "crash/dump_sender.h"
#include "download/zq_download_thread.h"
#include "tests/support/update_routes.h"
#include "update/download_binary.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <unistd.h>

namespace {

qint64 peakRssKib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

void resetPeakRss()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

QString writeRandomFile(const QString& path, qint64 size)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    quint64 x = 0x9E3779B97F4A7C15ull;
    QByteArray block(4 * 1024 * 1024, Qt::Uninitialized);
    zq::Sha256 hash;
    for (qint64 left = size; left > 0;) {
        auto* words = reinterpret_cast<quint64*>(block.data());
        for (int i = 0; i < block.size() / 8; ++i) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            words[i] = x;
        }
        const qint64 n = std::min<qint64>(left, block.size());
        f.write(block.constData(), n);
        hash.add(block.constData(), n);
        left -= n;
    }
    return hash.hexDigest();
}

// Each timed run starts without dirty pages of the one before, so that no run
// pays for another's write-back.
void settleDisk()
{
    ::sync();
}

double runCurl(const QStringList& args)
{
    settleDisk();
    QProcess curl;
    QElapsedTimer timer;
    timer.start();
    curl.start(QStringLiteral("curl"), args);
    // The server lives in this process: keep its thread serving while curl runs.
    while (!curl.waitForFinished(50)) {
        if (curl.state() == QProcess::NotRunning)
            break;
        QCoreApplication::processEvents();
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (curl.exitCode() != 0)
        QTextStream(stderr) << "curl failed: " << curl.readAllStandardError() << Qt::endl;
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qint64 sizeMib = 1024;
    qint64 dumpMib = 512;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--size-mib"))
            sizeMib = args[i + 1].toLongLong();
        if (args[i] == QLatin1String("--dump-mib"))
            dumpMib = args[i + 1].toLongLong();
    }
    QTextStream out(stdout);
    QTemporaryDir work;
    const qint64 size = sizeMib * 1024 * 1024;
    const QString installer = work.filePath(QStringLiteral("installer.bin"));
    const QString sha = writeRandomFile(installer, size);
    out << "installer: " << sizeMib << " MiB" << Qt::endl;

    for (const LoopbackServer::Scheme scheme : {LoopbackServer::Https, LoopbackServer::Http}) {
        LoopbackServer server(scheme);
        add_installer_route(server, "/files/installer.zip", installer, InstallerMode::Normal);
        const QUrl url = server.url(QStringLiteral("/files/installer.zip"));
        const QString name = scheme == LoopbackServer::Https ? QStringLiteral("HTTPS") : QStringLiteral("HTTP");

        const QString target = work.filePath(QStringLiteral("dl"));
        QDir().mkpath(target);
        DownloadBinary updater(QStringLiteral("3.4.1"), nullptr, nullptr);
        if (scheme == LoopbackServer::Https) {
            QSslConfiguration config = QSslConfiguration::defaultConfiguration();
            config.setCaCertificates({server.tls().ca_certificate()});
            updater.setSslConfiguration(config);
        }
        updater.setDownloadFolder(target);
        updater.setOpener([](const QString&) { return true; });
        bool ended = false;
        bool ok = false;
        QString failure;
        QObject::connect(&updater, &DownloadBinary::downloadFinished, [&] { ended = ok = true; });
        QObject::connect(&updater, &DownloadBinary::downloadFailed, [&](const QString& e) {
            ended = true;
            failure = e;
        });
        QObject::connect(&updater, &DownloadBinary::verificationFailed, [&] {
            ended = true;
            failure = QStringLiteral("hash mismatch");
        });
        const QString curlFile = work.filePath(QStringLiteral("curl.bin"));
        QStringList curlArgs{QStringLiteral("-s"), QStringLiteral("-o"), curlFile, url.toString()};
        if (scheme == LoopbackServer::Https)
            curlArgs.prepend(server.tls().ca_file()), curlArgs.prepend(QStringLiteral("--cacert"));
        // The reference first and last, ours between: the file cache and the
        // disk's write-back treat both alike.
        const double referenceFirst = runCurl(curlArgs);
        QFile::remove(curlFile);

        settleDisk();
        resetPeakRss();
        const qint64 rssBefore = peakRssKib();
        QElapsedTimer timer;
        timer.start();
        updater.startDownload(url, QString(), sha, false, false, size);
        while (!ended)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        const double ours = timer.nsecsElapsed() / 1e9;
        const qint64 rssGrowth = peakRssKib() - rssBefore;
        if (!ok) {
            out << name << ": download failed: " << failure << Qt::endl;
            return 1;
        }
        QFile::remove(QDir(target).filePath(QStringLiteral("installer.zip")));

        // The downloads window's thread on the same file.
        const QString threadTarget = work.filePath(QStringLiteral("thread.bin"));
        ZQDownload_thread thread(nullptr, url.toString(), threadTarget);
        if (scheme == LoopbackServer::Https)
            thread.set_ca_file(server.tls().ca_file());
        bool threadEnded = false;
        QString threadFailure;
        QObject::connect(&thread, &ZQDownload_thread::download_error, [&](const QString&, const QString& e) {
            threadFailure = e;
        });
        QObject::connect(&thread, &QThread::finished, [&] { threadEnded = true; });
        settleDisk();
        QElapsedTimer threadTimer;
        threadTimer.start();
        thread.start();
        while (!threadEnded)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        const double threadSeconds = threadTimer.nsecsElapsed() / 1e9;
        if (!threadFailure.isEmpty() || thread.computed_sha256() != sha) {
            out << name << ": download thread failed: " << threadFailure << Qt::endl;
            return 1;
        }
        QFile::remove(threadTarget);

        const double reference = (referenceFirst + runCurl(curlArgs)) / 2;
        QFile::remove(curlFile);

        const double mb = double(size) / 1e6;
        zq::bench::print_ratio(out, name + QStringLiteral(" installer download MB/s"), mb / ours, mb / reference,
                               QStringLiteral("MB/s"), QStringLiteral("curl"));
        zq::bench::print_ratio(out, name + QStringLiteral(" download thread MB/s"), mb / threadSeconds,
                               mb / reference, QStringLiteral("MB/s"), QStringLiteral("curl"));
        out << name << " installer download peak RSS growth: " << rssGrowth / 1024 << " MiB" << Qt::endl;
    }
    QFile::remove(installer);

    // Crash report upload.
    const QString dump = work.filePath(QStringLiteral("crash.dmp"));
    writeRandomFile(dump, dumpMib * 1024 * 1024);
    QDir().mkpath(QFileInfo(ZQLog::logFilePath()).absolutePath());
    {
        QFile log(ZQLog::logFilePath());
        log.open(QIODevice::WriteOnly);
        const QByteArray line = "[01/01/2024 00:00:00.000] {Debug} [INFO] bench :: a log line of a usual length\n";
        for (qint64 written = 0; written < 15000000; written += line.size())
            log.write(line);
    }
    LoopbackServer server(LoopbackServer::Https);
    auto script = std::make_shared<CrashEndpointScript>();
    script->store = false;
    script->reply = "{}"; // nothing accepted: the files stay for curl
    add_crash_routes(server, script);
    auto* sender = new DumpSender();
    sender->setEndpoint(server.url(QStringLiteral("/traitement")));
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setCaCertificates({server.tls().ca_certificate()});
    sender->setSslConfiguration(config);
    bool done = false;
    QString error;
    QObject::connect(sender, &DumpSender::sendFinished, [&](bool, bool, const QString& e) {
        done = true;
        error = e;
    });
    settleDisk();
    resetPeakRss();
    const qint64 rssBefore = peakRssKib();
    QElapsedTimer timer;
    timer.start();
    sender->send(dump);
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double ours = timer.nsecsElapsed() / 1e9;
    const qint64 rssGrowth = peakRssKib() - rssBefore;
    const double reference =
        runCurl({QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("--cacert"),
                 server.tls().ca_file(), QStringLiteral("-F"), QStringLiteral("upload_file_minidump=@") + dump,
                 QStringLiteral("-F"), QStringLiteral("upload_file_log=@") + ZQLog::logFilePath(),
                 server.url_string(QStringLiteral("/traitement"))});
    out << "upload: " << dumpMib << " MiB dump + 15 MB log, answer \"" << error << "\"" << Qt::endl;
    zq::bench::print_ratio(out, QStringLiteral("crash upload seconds"), ours, reference, QStringLiteral("s"),
                           QStringLiteral("curl"));
    out << "crash upload peak RSS growth: " << rssGrowth / 1024 << " MiB" << Qt::endl;
    return 0;
}
