// Runs a fuzz target once over each input: the files given on the command line (files or
// folders), or else every file of the target's seed corpus. Built with GCC and the sanitizers of
// the normal test build, so the corpora are replayed by the test suite without clang or libFuzzer.
#include "harness.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>
#include <vector>

namespace {

void collect(const QString& path, QStringList* files)
{
    const QFileInfo info(path);
    if (info.isDir()) {
        const QFileInfoList entries = QDir(path).entryInfoList(
            QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
        for (const QFileInfo& e : entries)
            collect(e.filePath(), files);
    } else if (info.isFile()) {
        files->append(info.filePath());
    }
}

} // namespace

int main(int argc, char** argv)
{
    QStringList roots;
    for (int i = 1; i < argc; ++i)
        roots.append(QString::fromLocal8Bit(argv[i]));
    if (roots.isEmpty())
        roots.append(QStringLiteral(ZQ_FUZZ_CORPUS));

    QStringList files;
    for (const QString& r : roots) {
        if (!QFileInfo::exists(r)) {
            std::fprintf(stderr, "FAIL!  : fuzz_replay_%s: no such corpus or input: %s\n",
                         ZQ_FUZZ_NAME, qPrintable(r));
            return 1;
        }
        collect(r, &files);
    }
    if (files.isEmpty()) {
        std::fprintf(stderr, "FAIL!  : fuzz_replay_%s: the seed corpus is empty: %s\n", ZQ_FUZZ_NAME,
                     qPrintable(roots.join(QLatin1Char(' '))));
        return 1;
    }

    zq_fuzz_init_qt();
    qint64 bytes = 0;
    for (const QString& f : files) {
        QFile file(f);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "FAIL!  : fuzz_replay_%s: cannot read %s\n", ZQ_FUZZ_NAME,
                         qPrintable(f));
            return 1;
        }
        const QByteArray data = file.readAll();
        // A copy of exactly the input's size, so ASan sees a read past its end.
        std::vector<uint8_t> copy(data.begin(), data.end());
        std::fprintf(stdout, "RUN    : %s (%lld bytes)\n", qPrintable(QFileInfo(f).fileName()),
                     static_cast<long long>(copy.size()));
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(copy.empty() ? nullptr : copy.data(), copy.size());
        bytes += data.size();
    }
    std::fprintf(stdout, "PASS   : fuzz_replay_%s: %lld inputs, %lld bytes\n", ZQ_FUZZ_NAME,
                 static_cast<long long>(files.size()), static_cast<long long>(bytes));
    return 0;
}
