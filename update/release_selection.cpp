#include "update/release_selection.h"

#include "app/url_policy.h"

#include <QDate>
#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>
#include <QSet>
#include <QSysInfo>
#include <QTime>

#include <algorithm>
#include <cmath>

int VersionStamp::compare(const VersionStamp& a, const VersionStamp& b)
{
    const int byVersion = QVersionNumber::compare(a.version, b.version);
    if (byVersion != 0)
        return byVersion < 0 ? -1 : 1;
    if (a.dev_stamp == b.dev_stamp)
        return 0;
    return a.dev_stamp < b.dev_stamp ? -1 : 1;
}

namespace {

qint64 readDevStamp(const QString& digits)
{
    bool ok = false;
    const qint64 value = digits.toLongLong(&ok);
    return ok ? value : -1;
}

} // namespace

VersionStamp VersionStamp::fromRunningText(const QString& text)
{
    static const QRegularExpression versionPattern(QStringLiteral("^(\\d+(?:\\.\\d+){0,2})"));
    static const QRegularExpression stampPattern(QStringLiteral("DEV(\\d{12})"));
    VersionStamp result;
    const QRegularExpressionMatch version = versionPattern.match(text);
    result.version = QVersionNumber::fromString(version.hasMatch() ? version.captured(1) : text);
    const QRegularExpressionMatch stamp = stampPattern.match(text);
    if (stamp.hasMatch())
        result.dev_stamp = readDevStamp(stamp.captured(1));
    return result;
}

namespace zq::update {

namespace {

QVersionNumber folderVersion(const QString& name)
{
    return QVersionNumber::fromString(name + QStringLiteral(".0"));
}

QString lowerSuffix(const QString& fileName)
{
    return QFileInfo(fileName).suffix().toLower();
}

qint64 readSize(const QJsonValue& value)
{
    // Negative, fractional-overflowing or non-numeric sizes count as unknown.
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (!std::isfinite(d) || d <= 0 || d >= 9.0e18)
            return 0;
        return qint64(d);
    }
    if (value.isString()) {
        bool ok = false;
        const qint64 size = value.toString().toLongLong(&ok);
        return ok && size > 0 ? size : 0;
    }
    return 0;
}

bool usableUrl(const QUrl& url)
{
    return url.isValid() && !url.isRelative() && !url.host().isEmpty();
}

void readAssetVersion(ReleaseAsset& asset)
{
    static const QRegularExpression pattern(QStringLiteral("(\\d+\\.\\d+\\.\\d+)(?:\\.DEV(\\d{12}))?"));
    const QRegularExpressionMatch byName = pattern.match(asset.name);
    const QRegularExpressionMatch byId = pattern.match(asset.id);
    if (byName.hasMatch())
        asset.version = QVersionNumber::fromString(byName.captured(1));
    else if (byId.hasMatch())
        asset.version = QVersionNumber::fromString(byId.captured(1));
    if (byName.hasMatch() && !byName.captured(2).isEmpty())
        asset.dev_stamp = readDevStamp(byName.captured(2));
    else if (byId.hasMatch() && !byId.captured(2).isEmpty())
        asset.dev_stamp = readDevStamp(byId.captured(2));
}

bool hasUsableDigest(const ReleaseAsset& asset)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
    return hex.match(normalizedDigest(asset.sha256)).hasMatch();
}

} // namespace

QStringList parseVersionFolders(const QByteArray& body)
{
    const QString text = QString::fromUtf8(body.left(kMaxMetadataBytes));
    static const QRegularExpression patterns[] = {
        QRegularExpression(QStringLiteral("href=['\"](\\d+\\.\\d+)/['\"]"), QRegularExpression::CaseInsensitiveOption),
        QRegularExpression(QStringLiteral(">(\\d+\\.\\d+)/<"), QRegularExpression::CaseInsensitiveOption),
        QRegularExpression(QStringLiteral("<Key>(\\d+\\.\\d+)/</Key>"), QRegularExpression::CaseInsensitiveOption),
    };
    static const QRegularExpression folderName(QStringLiteral("^\\d+\\.\\d+$"));
    QStringList names;
    QSet<QString> seen;
    for (const QRegularExpression& pattern : patterns) {
        QRegularExpressionMatchIterator it = pattern.globalMatch(text);
        while (it.hasNext()) {
            const QString name = it.next().captured(1);
            // Absurdly long digit runs are no version folder of ours.
            if (name.size() > 32 || !folderName.match(name).hasMatch() || seen.contains(name))
                continue;
            seen.insert(name);
            names.append(name);
        }
    }
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return QVersionNumber::compare(folderVersion(a), folderVersion(b)) < 0;
    });
    return names;
}

QString wantedFolder(const QVersionNumber& running)
{
    return QString::number(running.segmentAt(0)) + QStringLiteral(".") + QString::number(running.segmentAt(1));
}

QString chooseVersionFolder(const QStringList& sortedFolders, const QVersionNumber& running)
{
    const QString wanted = wantedFolder(running);
    if (sortedFolders.isEmpty() || sortedFolders.contains(wanted))
        return wanted;
    const QVersionNumber wantedVersion = folderVersion(wanted);
    QString best;
    QVersionNumber bestVersion;
    for (const QString& name : sortedFolders) {
        const QVersionNumber v = folderVersion(name);
        if (QVersionNumber::compare(v, wantedVersion) > 0)
            continue;
        if (best.isEmpty() || QVersionNumber::compare(v, bestVersion) > 0) {
            best = name;
            bestVersion = v;
        }
    }
    return best.isEmpty() ? sortedFolders.last() : best;
}

QList<ReleaseAsset> parseAssets(const QByteArray& body)
{
    QList<ReleaseAsset> assets;
    if (body.size() > kMaxMetadataBytes)
        return assets;
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (doc.isArray()) {
        const QJsonArray array = doc.array();
        for (const QJsonValue& element : array) {
            if (!element.isObject())
                continue;
            const QJsonObject o = element.toObject();
            ReleaseAsset asset;
            asset.name = o.value(QLatin1String("name")).toString();
            asset.url = QUrl(o.value(QLatin1String("url")).toString(), QUrl::TolerantMode);
            if (!usableUrl(asset.url))
                continue;
            asset.size = readSize(o.value(QLatin1String("size")));
            asset.arch = o.value(QLatin1String("arch")).toString();
            asset.sha256 = o.value(QLatin1String("sha256")).toString();
            asset.id = o.value(QLatin1String("id")).toString();
            asset.id_sha256 = o.value(QLatin1String("id_sha256")).toString();
            readAssetVersion(asset);
            asset.type = lowerSuffix(asset.name);
            assets.append(asset);
        }
    } else if (doc.isObject()) {
        const QJsonObject o = doc.object();
        ReleaseAsset asset;
        asset.name = o.value(QLatin1String("name")).toString();
        asset.url = QUrl(o.value(QLatin1String("url")).toString(), QUrl::TolerantMode);
        asset.sha256 = o.value(QLatin1String("sha256")).toString();
        const VersionStamp v = VersionStamp::fromRunningText(o.value(QLatin1String("version")).toString());
        asset.version = v.version;
        asset.dev_stamp = v.dev_stamp;
        asset.type = lowerSuffix(asset.name.isEmpty() ? asset.url.path() : asset.name);
        assets.append(asset);
    }
    return assets;
}

QUrl findChangelogUrl(const QByteArray& body)
{
    if (body.size() > kMaxMetadataBytes)
        return {};
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (!doc.isArray())
        return {};
    const QJsonArray array = doc.array();
    for (const QJsonValue& element : array) {
        if (!element.isObject())
            continue;
        const QJsonObject o = element.toObject();
        const bool isChangelog =
            o.value(QLatin1String("type")).toString().compare(QLatin1String("changelog"), Qt::CaseInsensitive) == 0
            || o.value(QLatin1String("name")).toString().compare(QLatin1String("CHANGELOG.md"), Qt::CaseInsensitive) == 0;
        if (!isChangelog)
            continue;
        const QUrl url(o.value(QLatin1String("url")).toString(), QUrl::TolerantMode);
        if (usableUrl(url))
            return url;
    }
    return {};
}

int assetTypeRank(const ReleaseAsset& asset, bool buildSwitch, bool programInBinFolder)
{
    const bool launcher = asset.name.contains(QLatin1String("launcher"), Qt::CaseInsensitive)
                          || asset.id.contains(QLatin1String("launcher"), Qt::CaseInsensitive);
    if (asset.type == QLatin1String("zip")) {
        if (!launcher)
            return buildSwitch ? 2 : 1;
        return buildSwitch && programInBinFolder ? 3 : 0;
    }
    if (asset.type == QLatin1String("exe"))
        return buildSwitch ? 1 : 2;
    return 0;
}

bool isNewer(const ReleaseAsset& asset, const VersionStamp& running, bool testBuild, const QString& channel)
{
    if (asset.version.isNull())
        return false;
    const int byVersion = QVersionNumber::compare(asset.version, running.version);
    if (testBuild && channel == QLatin1String("STABLE")) {
        if (byVersion > 0)
            return true;
        return byVersion == 0 && asset.version.segmentCount() == running.version.segmentCount()
               && running.dev_stamp >= 1;
    }
    // A release build, or the testing channel: version, then DEV stamp, so a
    // DEV build of the running release version counts as newer.
    return VersionStamp::compare(asset.stamp(), running) > 0;
}

Selection selectAsset(const QList<ReleaseAsset>& assets, const SelectionRules& rules)
{
    Selection result;
    if (assets.isEmpty())
        return result;
    QList<ReleaseAsset> candidates;
    bool platformMatched = false;
    for (const ReleaseAsset& asset : assets) {
        if (asset.arch.compare(rules.platformKey, Qt::CaseInsensitive) != 0 || !usableUrl(asset.url))
            continue;
        platformMatched = true;
        if (hasUsableDigest(asset))
            candidates.append(asset);
    }
    if (candidates.isEmpty()) {
        // Say which: a missing build and an unverifiable one call for different fixes on the server.
        result.outcome = platformMatched ? Selection::Outcome::NoDigest : Selection::Outcome::NoCompatible;
        return result;
    }
    const ReleaseAsset* best = nullptr;
    int bestRank = -1;
    for (const ReleaseAsset& asset : std::as_const(candidates)) {
        if (!isNewer(asset, rules.running, rules.testBuild, rules.channel))
            continue;
        const int rank = assetTypeRank(asset, rules.buildSwitch, rules.programInBinFolder);
        if (!best || rank > bestRank
            || (rank == bestRank && VersionStamp::compare(asset.stamp(), best->stamp()) > 0)) {
            best = &asset;
            bestRank = rank;
        }
    }
    if (!best) {
        result.outcome = Selection::Outcome::NotNewer;
        return result;
    }
    result.outcome = Selection::Outcome::Chosen;
    result.asset = *best;
    return result;
}

QString defaultPlatformKey()
{
    const QString bits = QString::number(QSysInfo::WordSize);
#if defined(Q_OS_WIN)
    return QStringLiteral("Windows/") + bits;
#elif defined(Q_OS_LINUX)
    return QStringLiteral("Linux/") + bits;
#else
    return QSysInfo::productType() + QStringLiteral("/") + bits;
#endif
}

QString formatSize(qint64 bytes)
{
    static const char* const units[] = {"octets", "Ko", "Mo", "Go", "To"};
    double value = double(bytes);
    int unit = 0;
    while (value >= 1024.0 && unit < 4) {
        value /= 1024.0;
        ++unit;
    }
    int decimals = 0;
    if (unit > 0)
        decimals = value < 10.0 ? 2 : (value < 100.0 ? 1 : 0);
    return QString::number(value, 'f', decimals) + QStringLiteral(" ") + QLatin1String(units[unit]);
}

QString formatDuration(qint64 seconds)
{
    if (seconds < 0)
        seconds = 0;
    const qint64 hours = seconds / 3600;
    const qint64 minutes = (seconds % 3600) / 60;
    const qint64 secs = seconds % 60;
    const QString ss = QStringLiteral("%1").arg(secs, 2, 10, QLatin1Char('0'));
    if (hours == 0)
        return QString::number(minutes) + QStringLiteral(":") + ss;
    return QString::number(hours) + QStringLiteral(":") + QStringLiteral("%1").arg(minutes, 2, 10, QLatin1Char('0'))
           + QStringLiteral(":") + ss;
}

QString devStampText(qint64 stamp)
{
    const QString digits = QString::number(stamp);
    if (digits.size() == 12) {
        const QDate date(digits.mid(0, 4).toInt(), digits.mid(4, 2).toInt(), digits.mid(6, 2).toInt());
        const QTime time(digits.mid(8, 2).toInt(), digits.mid(10, 2).toInt());
        if (date.isValid() && time.isValid())
            return date.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" ")
                   + time.toString(QStringLiteral("HH:mm"));
    }
    return digits;
}

QString safeFileName(const QString& name)
{
    const QString fallback = QStringLiteral("update.bin");
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")
        || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) || name.contains(QChar(0))
        || name.startsWith(QLatin1Char('.')) || name.size() > 255)
        return fallback;
    return name;
}

QString refusedUrlReason(const QUrl& url)
{
    return zq::refused_url_reason(url);
}

QString normalizedDigest(const QString& text)
{
    QString digest = text;
    digest.remove(QLatin1Char(' ')).remove(QLatin1Char(':'));
    return digest.trimmed().toLower();
}

} // namespace zq::update
