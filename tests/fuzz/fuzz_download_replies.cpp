// What the download workers read from a server: the "Content-Digest" header, the HTML and JSON
// error bodies, and the entry names of an archive through the extractor's path check. The input
// is split at its first NUL-free line: line one is a header value / entry name, the rest a body.
#include "harness.h"

#include "download/archive_extractor.h"
#include "download/zq_download_thread.h"

#include <QByteArray>
#include <QDir>
#include <QString>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype cut = bytes.indexOf('\n');
    const QByteArray first = cut < 0 ? bytes : bytes.left(cut);
    const QByteArray rest = cut < 0 ? QByteArray() : bytes.mid(cut + 1);

    // A usable digest is always the 32 bytes of a SHA-256.
    if (const auto digest = ZQDownload_thread::parse_content_digest(first); digest && digest->size() != 32)
        std::abort();

    for (const QByteArray& type : {QByteArray("text/html"), QByteArray("application/json"), first}) {
        const QString message = ZQDownload_thread::error_body_message(type, rest);
        if (message.size() > 1000) // shown in a row: capped
            std::abort();
        (void)ZQDownload_thread::is_error_reply(200, type);
    }

    // An accepted entry name always lands strictly inside the destination.
    const QString destination = QStringLiteral("/srv/dest");
    const QString name = QString::fromUtf8(first);
    const QString full = ArchiveExtractor::safe_entry_path(destination, name);
    if (!full.isEmpty()) {
        if (!full.startsWith(destination + QLatin1Char('/')) || QDir::cleanPath(full) != full
            || full.contains(QLatin1String("/../")) || full.endsWith(QLatin1String("/..")))
            std::abort();
    }
    // An accepted link target keeps the link inside whatever the destination is called: one that
    // leaves and comes back in by a name ("../dest/x") lands inside one of these and outside another.
    const QString target = QString::fromUtf8(rest.left(rest.indexOf('\n') < 0 ? rest.size() : rest.indexOf('\n')));
    if (!full.isEmpty() && ArchiveExtractor::safe_link_target(name, target)) {
        for (const QString& base : {destination, QStringLiteral("/d"), QStringLiteral("/srv/d/d")}) {
            const QString link = ArchiveExtractor::safe_entry_path(base, name);
            const QString resolved = QDir::cleanPath(QFileInfo(link).path() + QLatin1Char('/') + target);
            if (resolved != base && !resolved.startsWith(base + QLatin1Char('/')))
                std::abort();
        }
    }
    return 0;
}
