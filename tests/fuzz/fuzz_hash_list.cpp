// The integrity list after decryption: elements, paths, digests. Each input is read by the list
// parser, whose usable entries must be confined to the day folder with a well-formed digest, and
// then checked for real against a small fixed day folder (two files, a link to a FIFO outside the
// day, a FIFO beside it): the check must end, and may call the day valid only when the list names
// exactly its two files with their right digests.
#include "harness.h"

#include "integrity/integrity_check.h"
#include "recordings/encrypt.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <cstdlib>

namespace {

// "x" and "yy": the two files of the day.
const QString kDigestA = QStringLiteral("2d711642b726b04401627ca9fbac32f5c8530fb1903cc4db02258717921a4881");
const QString kDigestB = QStringLiteral("ef90d9c1ec76b1edc9edfaf2c0c05359c10ccc49ae8ecf7b7fd25ce9c02e86a4");

// In memory where the system offers it: every input rewrites the list, and a saved file is synced.
QString temp_template()
{
    if (QFileInfo(QStringLiteral("/dev/shm")).isWritable())
        return QStringLiteral("/dev/shm/zq_fuzz_hash_list-XXXXXX");
    return QDir::temp().filePath(QStringLiteral("zq_fuzz_hash_list-XXXXXX"));
}

struct Day
{
    QTemporaryDir tmp{temp_template()};
    QString path;
    bool ok = false;
};

Day& day()
{
    // Destroyed at exit, which removes the folder.
    static Day d;
    static const bool made = [] {
        d.path = d.tmp.filePath(QStringLiteral("2024-01-01"));
        QDir().mkpath(d.path + QStringLiteral("/a"));
        QFile a(d.path + QStringLiteral("/a/x.bin"));
        QFile b(d.path + QStringLiteral("/b.bin"));
        const QString fifo = d.tmp.filePath(QStringLiteral("outside.fifo"));
        d.ok = a.open(QIODevice::WriteOnly) && a.write("x") == 1 && b.open(QIODevice::WriteOnly)
            && b.write("yy") == 2 && ::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0
            && QFile::link(fifo, d.path + QStringLiteral("/a/link.bin"))
            && ::mkfifo(QFile::encodeName(d.path + QStringLiteral("/inside.fifo")).constData(), 0600) == 0;
        return true;
    }();
    (void)made;
    return d;
}

// run() is the thread's body; here it runs in the fuzzer's thread, signals delivered directly.
class Check : public IntegrityCheck
{
public:
    using IntegrityCheck::IntegrityCheck;
    void run_here() { run(); }
};

// 64 hexadecimal digits, kept in the case the list wrote them: an upper-case digest is kept as
// such and never matches the computed lower-case one.
bool is_digest(const QString& s)
{
    if (s.size() != 64)
        return false;
    for (const QChar c : s) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
              || (c >= QLatin1Char('A') && c <= QLatin1Char('F'))))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    const QByteArray plain(reinterpret_cast<const char*>(data), qsizetype(size));

    const IntegrityCheck::List list = IntegrityCheck::parse_list(plain);
    if (!list.array && !list.entries.isEmpty())
        std::abort();
    for (const IntegrityCheck::Entry& e : list.entries) {
        if (e.label.isEmpty() || e.label.size() > 1001)
            std::abort();
        if (!e.sha256.isEmpty() && !is_digest(e.sha256))
            std::abort();
        if (!e.relative.isEmpty()) {
            const QString clean = QDir::cleanPath(e.relative);
            if (clean != e.relative || QDir::isAbsolutePath(e.relative) || e.relative == QLatin1String("..")
                || e.relative.startsWith(QLatin1String("../")) || e.relative == QLatin1String("."))
                std::abort();
        }
        if (e.problem.isEmpty() && (e.relative.isEmpty() || e.sha256.isEmpty()))
            std::abort();
    }

    Day& d = day();
    if (!d.ok)
        std::abort();
    const QString listPath = d.path + QStringLiteral("/hash.json");
    QFile::remove(listPath);
    if (size > 0 && Encrypt::encrypt_to_file(plain, listPath, Encrypt::KeyForm::Text, Encrypt::kMaxHashListSize) != 1)
        std::abort();

    Check check(d.path);
    bool ended = false;
    bool valid = false;
    QObject::connect(&check, &IntegrityCheck::end_check, &check, [&](bool ok) {
        ended = true;
        valid = ok;
    });
    check.run_here();
    if (!ended)
        std::abort();
    if (valid) {
        // Only the exact list of the two files: a list that "absolutepath" makes usable is
        // re-read here only through what the parser accepted.
        QSet<QString> named;
        for (const IntegrityCheck::Entry& e : list.entries) {
            const QString rel = !e.relative.isEmpty() ? e.relative
                                                      : QDir(d.path).relativeFilePath(QDir::cleanPath(e.listed));
            if ((rel == QLatin1String("a/x.bin") && e.sha256 == kDigestA)
                || (rel == QLatin1String("b.bin") && e.sha256 == kDigestB))
                named.insert(rel);
            else
                std::abort();
        }
        if (list.entries.size() != 2 || named.size() != 2)
            std::abort();
    }
    return 0;
}
