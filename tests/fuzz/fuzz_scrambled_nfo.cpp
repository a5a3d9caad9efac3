// The older camera-file form: plain lines whose second "_"-separated part is a scrambled,
// reversed base64 text of "id=<n>|name=<text>". Any bytes give a clean table; the substitution
// is its own inverse pair on any text.
#include "harness.h"

#include "recordings/zq_file.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString text = QString::fromUtf8(bytes);
    if (ZQFile::descramble(ZQFile::scramble(text)) != text || ZQFile::scramble(ZQFile::descramble(text)) != text)
        std::abort();

    const QString path = dir.filePath(QStringLiteral("3_20240101_080000.zqnfo"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            std::abort();
    }
    const QHash<int, QString> table = ZQFile::read_scrambled_nfo_lines(QFileInfo(path), {{5, QStringLiteral("Five")}});
    if (table.value(5) != QStringLiteral("Five"))
        std::abort();
    for (auto it = table.constBegin(); it != table.constEnd(); ++it) {
        if (it.key() == -1 || it.value().isEmpty() || it.value().size() > ZQFile::kMaxCameraNameLength)
            std::abort();
        for (QChar c : it.value())
            if (c.category() == QChar::Other_Control)
                std::abort();
    }
    return 0;
}
