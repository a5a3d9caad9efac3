#include "recordings/zq_file.h"

#include "app/zq_log.h"
#include "recordings/encrypt.h"
#include "recordings/storage_layout.h"
#include "recordings/zq_tag.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace {

const QString kPlainAlphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
// Position i of this table stands for position i of the plain alphabet.
const QString kPermutedAlphabet = QStringLiteral("zyx0WVU1tsr2QPO3nml4KJI5hgf6EDC7bae8YXw9vuTSqpRNoMkjLHiGdcFBAZ");

// Each character found in `from` replaced by the one at the same place in `to`; any other
// character (the base64 "+", "/" and "=") passes unchanged. Through a table built once per
// direction: a search per character made a 16 MB file cost most of a second.
struct SubstitutionTable
{
    char16_t map[128];
    SubstitutionTable(const QString& from, const QString& to)
    {
        for (int c = 0; c < 128; ++c)
            map[c] = char16_t(c);
        for (qsizetype i = 0; i < from.size(); ++i)
            map[from.at(i).unicode()] = to.at(i).unicode();
    }
};

QString substitute(const QString& text, const SubstitutionTable& table)
{
    QString out = text;
    for (QChar& c : out) {
        if (c.unicode() < 128)
            c = QChar(table.map[c.unicode()]);
    }
    return out;
}

const SubstitutionTable& descramble_table()
{
    static const SubstitutionTable table(kPermutedAlphabet, kPlainAlphabet);
    return table;
}

const SubstitutionTable& scramble_table()
{
    static const SubstitutionTable table(kPlainAlphabet, kPermutedAlphabet);
    return table;
}

// A camera line holds an id and a name of at most a few hundred characters; longer lines are
// not decoded.
constexpr qsizetype kMaxScrambledLineBytes = 8192;

// A whole number within the int range, or nothing.
std::optional<int> json_int(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (!std::isfinite(d) || std::floor(d) != d || d < std::numeric_limits<int>::min()
        || d > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(d);
}

std::optional<int> text_int(const QString& text)
{
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return v;
}

// Control characters removed, white space trimmed, length capped. Names are shown as plain text,
// so markup needs no treatment here.
QString clean_name(const QString& name)
{
    QString out;
    out.reserve(std::min<qsizetype>(name.size(), ZQFile::kMaxCameraNameLength));
    for (QChar c : name) {
        if (c.category() == QChar::Other_Control)
            continue;
        out.append(c);
    }
    out = out.trimmed();
    if (out.size() > ZQFile::kMaxCameraNameLength)
        out.truncate(ZQFile::kMaxCameraNameLength);
    return out;
}

// Adds one entry read from a file, unless it is one the readers ignore or the id is taken.
void add_camera(QHash<int, QString>& cameras, int id, const QString& rawName, const QString& source)
{
    if (id == -1)
        return;
    const QString name = clean_name(rawName);
    if (name.isEmpty()) {
        if (!rawName.isNull())
            ZQLog::log(QStringLiteral("[WARN] ZQFile :: camera without usable name skipped :: ") + source);
        return;
    }
    if (!cameras.contains(id))
        cameras.insert(id, name);
}

QJsonObject decrypt_object(const QFileInfo& file)
{
    const std::string plain = Encrypt::decrypt_file(file.filePath(), Encrypt::Expect::JsonObject);
    if (plain.empty())
        return QJsonObject();
    return QJsonDocument::fromJson(QByteArray::fromStdString(plain)).object();
}

} // namespace

QString ZQFile::descramble(const QString& payload)
{
    return substitute(payload, descramble_table());
}

QString ZQFile::scramble(const QString& plain)
{
    return substitute(plain, scramble_table());
}

QString ZQFile::make_scrambled_nfo_line(int camId, const QString& name, const QString& prefix, const QString& suffix)
{
    const QString text = QStringLiteral("id=") + QString::number(camId) + QStringLiteral("|name=") + name;
    QString encoded = QString::fromLatin1(text.toUtf8().toBase64());
    std::reverse(encoded.begin(), encoded.end());
    return prefix + QLatin1Char('_') + scramble(encoded) + QLatin1Char('_') + suffix;
}

QList<int> ZQFile::sorted_camera_ids(const QHash<int, QString>& cameras)
{
    QList<int> ids = cameras.keys();
    std::sort(ids.begin(), ids.end());
    return ids;
}

QHash<int, QString> ZQFile::check_and_parse_nfo_file(const QFileInfo& file, QHash<int, QString> cameras)
{
    const QString path = file.absoluteFilePath();
    const QString fileName = file.fileName();
    QString nameCamId;
    if (!fileName.contains(QLatin1String("index")) && fileName.contains(QLatin1Char('_')))
        nameCamId = fileName.section(QLatin1Char('_'), 0, 0);

    const QJsonObject object = decrypt_object(file);
    if (object.isEmpty())
        return cameras;

    const QJsonValue list = object.value(QLatin1String("cameras"));
    if (list.isArray() && !list.toArray().isEmpty()) {
        for (const QJsonValue& element : list.toArray()) {
            const QJsonObject entry = element.toObject();
            const std::optional<int> id = json_int(entry.value(QLatin1String("cam_id")));
            if (!id) {
                ZQLog::log(QStringLiteral("[WARN] ZQFile :: check and parse nfo file :: invalid cam_id skipped :: ") + path);
                continue;
            }
            add_camera(cameras, *id, entry.value(QLatin1String("cam_name")).toString(QString()), path);
        }
        return cameras;
    }

    // Single form. A recording's own file is named after its camera; when the two disagree the
    // name wins, as the recordings themselves are filed under it.
    std::optional<int> id = json_int(object.value(QLatin1String("cam_id")));
    const QJsonValue nameValue = object.value(QLatin1String("cam_name"));
    QString name = nameValue.isString() ? nameValue.toString() : QString();
    if ((id && *id == -1) || clean_name(name).isEmpty())
        return cameras;
    const std::optional<int> nameId = nameCamId.isEmpty() ? std::nullopt : text_int(nameCamId);
    if (nameId && (!id || *id != *nameId)) {
        ZQLog::log("[WARN] ZQFile :: check and parse nfo file :: different camid in nfo. Set NFO filename camid");
        id = nameId;
        name = QStringLiteral("CAMERA ") + nameCamId;
    }
    if (!id) {
        ZQLog::log(QStringLiteral("[WARN] ZQFile :: check and parse nfo file :: invalid cam_id skipped :: ") + path);
        return cameras;
    }
    add_camera(cameras, *id, name, path);
    return cameras;
}

QHash<int, QString> ZQFile::read_scrambled_nfo_lines(const QFileInfo& file, QHash<int, QString> cameras)
{
    QFile in(file.filePath());
    // Regular files only: a pipe named like a camera file would block the open.
    if (!StorageLayout::is_regular_file_no_link(in.fileName()) || !in.open(QIODevice::ReadOnly | QIODevice::Text))
        return cameras;
    if (in.size() > Encrypt::kMaxFileSize) {
        ZQLog::log(QStringLiteral("[WARN] ZQFile :: read scrambled nfo lines :: file too large :: ") + file.filePath());
        return cameras;
    }
    while (!in.atEnd()) {
        // readLine(n) reads at most n - 1 bytes: one more than the limit tells a long line.
        const QByteArray raw = in.readLine(kMaxScrambledLineBytes + 2);
        if (raw.size() > kMaxScrambledLineBytes && !raw.endsWith('\n')) {
            // The rest of an over-long line is skipped unread into memory.
            char skip[4096];
            qint64 got = 0;
            while ((got = in.readLine(skip, sizeof skip)) > 0 && skip[got - 1] != '\n') {
            }
            ZQLog::log(QStringLiteral("[WARN] ZQFile :: read scrambled nfo lines :: line too long skipped :: ")
                       + file.filePath());
            continue;
        }
        const QString line = QString::fromUtf8(raw).trimmed();
        const QStringList parts = line.split(QLatin1Char('_'));
        const QString payload = parts.size() > 1 ? parts.at(1) : QString();
        QString descrambled = descramble(payload);
        std::reverse(descrambled.begin(), descrambled.end());
        const QString text = QString::fromUtf8(QByteArray::fromBase64(descrambled.toLatin1()));

        QString idText;
        QString name;
        for (const QString& field : text.split(QLatin1Char('|'))) {
            QString copy = field;
            if (copy.contains(QLatin1String("id="))) {
                copy.remove(QLatin1String("id="));
                idText = copy;
            }
            if (copy.contains(QLatin1String("name="))) {
                copy.remove(QLatin1String("name="));
                name = copy;
            }
        }
        if (idText.isEmpty() || name.isEmpty())
            continue;
        const std::optional<int> id = text_int(idText);
        if (!id) {
            ZQLog::log(QStringLiteral("[WARN] ZQFile :: read scrambled nfo lines :: invalid id skipped :: ") + file.filePath());
            continue;
        }
        add_camera(cameras, *id, name, file.filePath());
    }
    return cameras;
}

QHash<int, QString> ZQFile::read_scrambled_nfo_files(const QFileInfoList& files, QHash<int, QString> cameras)
{
    qint64 read = 0;
    for (const QFileInfo& file : files) {
        const QString name = file.fileName();
        if (!name.contains(QLatin1String("index"))) {
            const int id = StorageLayout::recording_camera_id(name);
            if (id >= 0 && cameras.contains(id))
                continue;
        }
        const qint64 size = QFileInfo(file.filePath()).size();
        if (read + size > kMaxScrambledBytesPerCall) {
            ZQLog::log(QStringLiteral("[WARN] ZQFile :: read scrambled nfo files :: too much to read, stopped at :: ")
                       + file.filePath());
            break;
        }
        read += size;
        cameras = read_scrambled_nfo_lines(file, cameras);
    }
    return cameras;
}

bool ZQFile::create_zqnfo_index_file(const QFileInfo& file, const QHash<int, QString>& cameras)
{
    QJsonArray array;
    for (int id : sorted_camera_ids(cameras)) {
        const QString& name = cameras.value(id);
        ZQLog::log(QStringLiteral("[INFO] ZQFile :: create zqnfo index file :: camera  ") + QString::number(id)
                   + QStringLiteral(" - ") + name);
        QJsonObject entry;
        entry.insert(QStringLiteral("cam_id"), id);
        entry.insert(QStringLiteral("cam_name"), name);
        array.append(entry);
    }
    QJsonObject root;
    root.insert(QStringLiteral("cameras"), array);
    const QByteArray json = QJsonDocument(root).toJson(QJsonDocument::Compact);
    ZQLog::log(QStringLiteral("[INFO] ZQFile :: create zqnfo index file :: path    ") + file.filePath());
    ZQLog::log(QStringLiteral("[INFO] ZQFile :: create zqnfo index file :: value  ") + QString::fromUtf8(json));
    return Encrypt::encrypt_to_file(json, file.filePath()) == 1;
}

QHash<int, QString> ZQFile::hash_cameras_list(const QString& folder, QHash<int, QString> cameras)
{
    if (folder.isEmpty()) {
        ZQLog::log("[ERROR] ZQFile :: hash cameras list :: root directory is empty");
        return cameras;
    }
    const QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("*.zqnfo")},
                                                          QDir::Files | QDir::Readable | QDir::NoSymLinks, QDir::Name);
    for (const QFileInfo& file : files) {
        if (!file.fileName().contains(QLatin1String("index")))
            continue;
        ZQLog::log(QStringLiteral("[INFO] ZQFile :: hash cameras list :: zqnfo filename :: ") + file.filePath());
        cameras = check_and_parse_nfo_file(file, cameras);
    }
    if (cameras.isEmpty()) {
        for (const QFileInfo& file : files) {
            ZQLog::log(QStringLiteral("[INFO] ZQFile :: hash cameras list :: zqnfo filename :: ") + file.filePath());
            cameras = check_and_parse_nfo_file(file, cameras);
        }
    }
    return cameras;
}

ZQTag* ZQFile::read_tags_file(const QFileInfo& file)
{
    const std::string plain = Encrypt::decrypt_file(file.filePath(), Encrypt::Expect::JsonObject);
    if (plain.empty())
        return nullptr;
    const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(plain)).object();
    const QJsonValue tags = object.value(QLatin1String("tags"));
    if (tags.isArray() && !tags.toArray().isEmpty())
        return nullptr;

    auto text = [&object](const char* key) {
        const QJsonValue v = object.value(QLatin1String(key));
        return v.isString() ? v.toString() : QString();
    };
    auto* tag = new ZQTag;
    const std::optional<int> camId = json_int(object.value(QLatin1String("tag_cam_id")));
    tag->set_cam_id(QString::number(camId ? *camId : -1));
    tag->set_created_at(text("tag_created_at"));
    tag->set_datetime(text("tag_datetime"));
    tag->set_description(text("tag_description"));
    tag->set_file_encoded_at(text("file_encoded_at"));
    tag->set_id(text("tag_id"));
    tag->set_name(text("tag_name"));
    tag->set_user_id(text("tag_user_id"));
    return tag;
}

QString ZQFile::read_decrypted_text(const QFileInfo& file)
{
    const std::string plain = Encrypt::decrypt_file(file.filePath(), Encrypt::Expect::JsonDocument);
    if (plain.empty())
        return QString();
    return QString::fromStdString(plain);
}
