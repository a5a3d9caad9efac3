// Camera-information and tag files after decryption: the input is the plain JSON text, encrypted
// with our own Encrypt into a recording's camera file, the day's "index.zqnfo" and a tag file,
// then read back the way the player reads them. Names come out clean and capped, the table given
// in keeps its entries, and nothing crashes on any JSON shape.
#include "harness.h"

#include "recordings/encrypt.h"
#include "recordings/zq_file.h"
#include "recordings/zq_tag.h"

#include <QByteArray>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>

namespace {

void check_table(const QHash<int, QString>& table, const QHash<int, QString>& given)
{
    for (auto it = given.constBegin(); it != given.constEnd(); ++it)
        if (table.value(it.key()) != it.value())
            std::abort();
    for (auto it = table.constBegin(); it != table.constEnd(); ++it) {
        const QString& name = it.value();
        if (it.key() == -1 || name.isEmpty() || name.size() > ZQFile::kMaxCameraNameLength || name != name.trimmed())
            std::abort();
        for (QChar c : name)
            if (c.category() == QChar::Other_Control)
                std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    if (size == 0 || size > 64 * 1024)
        return 0;
    const QByteArray plain(reinterpret_cast<const char*>(data), qsizetype(size));
    const QHash<int, QString> given{{42, QStringLiteral("Given")}};
    for (const char* name : {"7_20240101_080000.zqnfo", "index.zqnfo"}) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        if (Encrypt::encrypt_to_file(plain, path) != 1)
            std::abort();
        check_table(ZQFile::check_and_parse_nfo_file(QFileInfo(path), given), given);
        // The decrypted text is the text encrypted (the expected shape decides the key form).
        const QString text = ZQFile::read_decrypted_text(QFileInfo(path));
        if (!text.isNull() && text.toUtf8() != plain && QString::fromUtf8(plain) != text)
            std::abort();
    }
    const QString tagPath = dir.filePath(QStringLiteral("a.zqtag"));
    if (Encrypt::encrypt_to_file(plain, tagPath) != 1)
        std::abort();
    std::unique_ptr<ZQTag> tag(ZQFile::read_tags_file(QFileInfo(tagPath)));
    if (tag) {
        (void)tag->get_name().size();
        (void)tag->get_marker_x();
    }
    // The folder reader takes the index file first, every file when it names nobody.
    check_table(ZQFile::hash_cameras_list(dir.path(), {}), {});
    return 0;
}
