// An installer downloaded by the updater (hash check and commit included)
// and by the downloads window's download thread (hash and rename included),
// both on the one libcurl transfer core, over HTTPS and HTTP from the loopback
// server, against `curl --cacert CA -o FILE` on the same URL in the same run; then a crash
// report (a large dump and a 15 MB log) posted by DumpSender against
// `curl -F` posting the same files. Prints throughput, time and the growth
// of peak resident memory. The installer's figure is also set beside a
// verified download made with the tools (`curl -o FILE` then `sha256sum
// FILE`), beside `sha256sum FILE` alone on the same file, and beside SHA-256
// itself (`openssl speed`), which a download that checks its hash cannot pass.
//
//   bench_update [--size-mib N] [--dump-mib N] [--rounds N]   (defaults 1024, 512 and 3;
//   each figure is the best of the rounds, taken in turns with the reference)

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
#include <QThreadPool>
#include <QTimer>

#include <unistd.h>

#include <optional>

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

// Runs a tool to its end; its time in seconds. Its standard output goes to
// `output` when given; a failure is told on stderr and leaves `output` empty.
double runTool(const QString& program, const QStringList& args, QByteArray* output = nullptr)
{
    QProcess tool;
    QElapsedTimer timer;
    timer.start();
    tool.start(program, args);
    // The server lives in this process: keep its thread serving while the tool runs.
    while (!tool.waitForFinished(50)) {
        if (tool.state() == QProcess::NotRunning)
            break;
        QCoreApplication::processEvents();
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        QTextStream(stderr) << program << " failed: " << tool.readAllStandardError() << Qt::endl;
        return seconds;
    }
    if (output)
        *output = tool.readAllStandardOutput();
    return seconds;
}

// The GUI thread's longest stretch without serving its event loop while it
// lives, seen by a 2 ms timer.
class LongestBlock
{
public:
    LongestBlock()
    {
        m_ticker.setInterval(2);
        QObject::connect(&m_ticker, &QTimer::timeout, [this] {
            m_longest = std::max(m_longest, m_beat.nsecsElapsed() / 1e6);
            m_beat.restart();
        });
        m_beat.start();
        m_ticker.start();
    }
    double ms() const { return std::max(m_longest, m_beat.nsecsElapsed() / 1e6); }

private:
    QTimer m_ticker;
    QElapsedTimer m_beat;
    double m_longest = 0;
};

double runCurl(const QStringList& args)
{
    settleDisk();
    return runTool(QStringLiteral("curl"), args);
}

// The time one hashing tool takes over the file, best of `rounds` (the file
// is in the page cache); -1 when it fails or gets another digest than `sha`.
double hashTime(const QString& program, const QStringList& args, const QString& sha, int rounds)
{
    double best = 1e9;
    for (int round = 0; round < rounds; ++round) {
        QByteArray printed;
        const double seconds = runTool(program, args, &printed);
        if (!printed.contains(sha.toLatin1())) {
            QTextStream(stderr) << program << ": no digest " << sha << " in " << printed << Qt::endl;
            return -1;
        }
        best = std::min(best, seconds);
    }
    return best;
}

// SHA-256 in MB/s as `openssl speed` measures it on 256 KiB blocks, best of
// `rounds`; -1 when it cannot be run.
double opensslSha256Speed(int rounds)
{
    double best = -1;
    for (int round = 0; round < rounds; ++round) {
        QByteArray printed;
        runTool(QStringLiteral("openssl"),
                {QStringLiteral("speed"), QStringLiteral("-mr"), QStringLiteral("-evp"), QStringLiteral("sha256"),
                 QStringLiteral("-bytes"), QStringLiteral("262144"), QStringLiteral("-seconds"), QStringLiteral("1")},
                &printed);
        // "+F:<n>:sha256:<bytes a second>"
        for (const QByteArray& line : printed.split('\n'))
            if (line.startsWith("+F:"))
                best = std::max(best, line.split(':').last().trimmed().toDouble() / 1e6);
    }
    return best;
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
    int rounds = 3;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--size-mib"))
            sizeMib = args[i + 1].toLongLong();
        if (args[i] == QLatin1String("--dump-mib"))
            dumpMib = args[i + 1].toLongLong();
        if (args[i] == QLatin1String("--rounds"))
            rounds = std::max(1, args[i + 1].toInt());
    }
    QTextStream out(stdout);
    QTemporaryDir work;
    const qint64 size = sizeMib * 1024 * 1024;
    const QString installer = work.filePath(QStringLiteral("installer.bin"));
    const QString sha = writeRandomFile(installer, size);
    out << "installer: " << sizeMib << " MiB" << Qt::endl;
    // What hashing the installer alone takes (the file still in the page cache
    // from its writing): a download that checks the hash cannot go faster
    // than its hash. sha256sum is the usual tool; openssl's speed test gives
    // SHA-256 itself in large blocks in memory with the processor's SHA
    // instructions, as our hash runs: the ceiling of a verified download.
    const double sha256sumSeconds = hashTime(QStringLiteral("sha256sum"), {installer}, sha, rounds);
    const double hashCeiling = opensslSha256Speed(rounds);
    if (sha256sumSeconds < 0 || hashCeiling <= 0)
        return 1;

    for (const LoopbackServer::Scheme scheme : {LoopbackServer::Https, LoopbackServer::Http}) {
        LoopbackServer server(scheme);
        add_installer_route(server, "/files/installer.zip", installer, InstallerMode::Normal);
        const QUrl url = server.url(QStringLiteral("/files/installer.zip"));
        const QString name = scheme == LoopbackServer::Https ? QStringLiteral("HTTPS") : QStringLiteral("HTTP");

        const QString target = work.filePath(QStringLiteral("dl"));
        QDir().mkpath(target);
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        if (scheme == LoopbackServer::Https)
            config.setCaCertificates({server.tls().ca_certificate()});

        // The updater's download, hash check and commit included.
        qint64 rssGrowth = 0;
        double installerBlockMs = 0;
        auto updaterRun = [&]() -> double {
            DownloadBinary updater(QStringLiteral("3.4.1"), nullptr, nullptr);
            if (scheme == LoopbackServer::Https)
                updater.setSslConfiguration(config);
            updater.setDownloadFolder(target);
            updater.setOpener([](const QString&) { return true; });
            bool ended = false;
            bool ok = false;
            QObject::connect(&updater, &DownloadBinary::downloadFinished, [&] { ended = ok = true; });
            QObject::connect(&updater, &DownloadBinary::downloadFailed, [&](const QString& e) {
                ended = true;
                out << name << ": download failed: " << e << Qt::endl;
            });
            QObject::connect(&updater, &DownloadBinary::verificationFailed, [&] {
                ended = true;
                out << name << ": hash mismatch" << Qt::endl;
            });
            settleDisk();
            resetPeakRss();
            const qint64 rssBefore = peakRssKib();
            QElapsedTimer timer;
            timer.start();
            std::optional<LongestBlock> block(std::in_place);
            updater.startDownload(url, QString(), sha, false, false, size);
            while (!ended)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            const double seconds = timer.nsecsElapsed() / 1e9;
            installerBlockMs = std::max(installerBlockMs, block->ms());
            block.reset();
            rssGrowth = std::max(rssGrowth, peakRssKib() - rssBefore);
            QFile::remove(QDir(target).filePath(QStringLiteral("installer.zip")));
            return ok ? seconds : -1;
        };
        // The downloads window's thread, hash and rename included.
        auto threadRun = [&]() -> double {
            const QString threadTarget = work.filePath(QStringLiteral("thread.bin"));
            ZQDownload_thread thread(nullptr, url.toString(), threadTarget);
            if (scheme == LoopbackServer::Https)
                thread.set_ca_file(server.tls().ca_file());
            bool threadEnded = false;
            QString threadFailure;
            QObject::connect(&thread, &ZQDownload_thread::download_error,
                             [&](const QString&, const QString& e) { threadFailure = e; });
            QObject::connect(&thread, &QThread::finished, [&] { threadEnded = true; });
            settleDisk();
            QElapsedTimer timer;
            timer.start();
            thread.start();
            while (!threadEnded)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            const double seconds = timer.nsecsElapsed() / 1e9;
            QFile::remove(threadTarget);
            if (!threadFailure.isEmpty() || thread.computed_sha256() != sha) {
                out << name << ": download thread failed: " << threadFailure << Qt::endl;
                return -1;
            }
            return seconds;
        };
        const QString curlFile = work.filePath(QStringLiteral("curl.bin"));
        QStringList curlArgs{QStringLiteral("-s"), QStringLiteral("-o"), curlFile, url.toString()};
        if (scheme == LoopbackServer::Https)
            curlArgs.prepend(server.tls().ca_file()), curlArgs.prepend(QStringLiteral("--cacert"));
        auto curlRun = [&]() {
            const double seconds = runCurl(curlArgs);
            QFile::remove(curlFile);
            return seconds;
        };
        // curl then sha256sum on what it wrote: a verified download made with the tools.
        auto curlHashRun = [&]() {
            const double download = runCurl(curlArgs);
            QByteArray printed;
            const double hash = runTool(QStringLiteral("sha256sum"), {curlFile}, &printed);
            QFile::remove(curlFile);
            if (!printed.contains(sha.toLatin1())) {
                out << name << ": curl + sha256sum got another file" << Qt::endl;
                return -1.0;
            }
            return download + hash;
        };
        // Taken in turns, best of each: the machine's other work and the
        // disk's write-back then weigh alike on all of them.
        double reference = 1e9, ours = 1e9, threadSeconds = 1e9, curlHash = 1e9;
        for (int round = 0; round < rounds; ++round) {
            reference = std::min(reference, curlRun());
            const double verified = curlHashRun();
            if (verified < 0)
                return 1;
            curlHash = std::min(curlHash, verified);
            const double u = updaterRun();
            const double t = threadRun();
            if (u < 0 || t < 0)
                return 1;
            ours = std::min(ours, u);
            threadSeconds = std::min(threadSeconds, t);
        }

        const double mb = double(size) / 1e6;
        zq::bench::print_ratio(out, name + QStringLiteral(" installer download MB/s"), mb / ours, mb / reference,
                               QStringLiteral("MB/s"), QStringLiteral("curl"));
        zq::bench::print_ratio(out, name + QStringLiteral(" download thread MB/s"), mb / threadSeconds,
                               mb / reference, QStringLiteral("MB/s"), QStringLiteral("curl"));
        zq::bench::print_ratio(out, name + QStringLiteral(" installer download MB/s"), mb / ours, mb / curlHash,
                               QStringLiteral("MB/s"), QStringLiteral("curl + sha256sum"));
        zq::bench::print_ratio(out, name + QStringLiteral(" installer download MB/s"), mb / ours,
                               mb / sha256sumSeconds, QStringLiteral("MB/s"), QStringLiteral("sha256sum alone"));
        zq::bench::print_ratio(out, name + QStringLiteral(" installer download MB/s"), mb / ours, hashCeiling,
                               QStringLiteral("MB/s"), QStringLiteral("openssl speed sha256"));
        zq::bench::print_ratio(out, name + QStringLiteral(" download thread MB/s"), mb / threadSeconds, hashCeiling,
                               QStringLiteral("MB/s"), QStringLiteral("openssl speed sha256"));
        out << name << " installer download peak RSS growth: " << rssGrowth / 1024 << " MiB" << Qt::endl;
        out << name << " installer download GUI thread longest block: " << QString::number(installerBlockMs, 'f', 1)
            << " ms" << Qt::endl;
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
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setCaCertificates({server.tls().ca_certificate()});

    // One report from send() to its answer; the GUI thread's longest stretch
    // without serving its event loop is measured with a 2 ms timer.
    struct Run
    {
        double seconds = 0;
        double longestBlockMs = 0;
        qint64 rssGrowthMib = 0;
        QString error;
    };
    auto upload = [&](bool prepared) {
        Run run;
        if (prepared) {
            // What the report form does when it opens: the digest is made
            // while the operator types; here we wait for it before timing.
            DumpSender::prepareDigest(dump);
            QThreadPool::globalInstance()->waitForDone();
        }
        auto* sender = new DumpSender();
        sender->setEndpoint(server.url(QStringLiteral("/traitement")));
        sender->setSslConfiguration(config);
        bool done = false;
        QObject::connect(sender, &DumpSender::sendFinished, [&](bool, bool, const QString& e) {
            done = true;
            run.error = e;
        });
        settleDisk();
        resetPeakRss();
        const qint64 rssBefore = peakRssKib();
        std::optional<LongestBlock> block(std::in_place);
        QElapsedTimer timer;
        timer.start();
        sender->send(dump);
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        run.seconds = timer.nsecsElapsed() / 1e9;
        run.longestBlockMs = block->ms();
        block.reset();
        run.rssGrowthMib = (peakRssKib() - rssBefore) / 1024;
        return run;
    };
    const double reference =
        runCurl({QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("--cacert"),
                 server.tls().ca_file(), QStringLiteral("-F"), QStringLiteral("upload_file_minidump=@") + dump,
                 QStringLiteral("-F"), QStringLiteral("upload_file_log=@") + ZQLog::logFilePath(),
                 server.url_string(QStringLiteral("/traitement"))});
    const Run cold = upload(false);
    const Run prepared = upload(true);
    const double reference2 =
        runCurl({QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("--cacert"),
                 server.tls().ca_file(), QStringLiteral("-F"), QStringLiteral("upload_file_minidump=@") + dump,
                 QStringLiteral("-F"), QStringLiteral("upload_file_log=@") + ZQLog::logFilePath(),
                 server.url_string(QStringLiteral("/traitement"))});
    const double curlSeconds = (reference + reference2) / 2;
    out << "upload: " << dumpMib << " MiB dump + 15 MB log, answer \"" << cold.error << "\"" << Qt::endl;
    zq::bench::print_ratio(out, QStringLiteral("crash upload s, digest at send"), cold.seconds, curlSeconds,
                           QStringLiteral("s"), QStringLiteral("curl -F"), 34);
    zq::bench::print_ratio(out, QStringLiteral("crash upload s, form's digest"), prepared.seconds, curlSeconds,
                           QStringLiteral("s"), QStringLiteral("curl -F"), 34);
    out << "crash upload GUI thread longest block: " << QString::number(cold.longestBlockMs, 'f', 1) << " ms / "
        << QString::number(prepared.longestBlockMs, 'f', 1) << " ms" << Qt::endl;
    out << "crash upload peak RSS growth: " << cold.rssGrowthMib << " MiB" << Qt::endl;
    QFile::remove(dump);
    return 0;
}
