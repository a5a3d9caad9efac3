#pragma once

// The pure half of the self-update: reading the release server's folder
// listing and "index.json", and deciding which file, if any, is offered.
// No network and no widgets here, so that every rule can be exercised with
// plain data.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVersionNumber>

#include <optional>

// A version with an optional DEV stamp (yyyyMMddhhmm, -1 when none).
struct VersionStamp
{
    qint64 dev_stamp = -1;
    QVersionNumber version;

    // Versions first, then the DEV stamps as numbers.
    static int compare(const VersionStamp& a, const VersionStamp& b);
    // The running program's text: "3.4.1", "3.4.1.DEV202401021530", ...
    static VersionStamp fromRunningText(const QString& text);
};

struct ReleaseAsset
{
    QString name;
    QUrl url;
    qint64 size = 0;
    QString arch;
    QString sha256;
    QString id;
    QString id_sha256;
    QVersionNumber version;
    qint64 dev_stamp = -1;
    QString type;

    VersionStamp stamp() const { return {dev_stamp, version}; }
};

namespace zq::update {

// Listing, index and changelog bodies are never read past this.
inline constexpr qint64 kMaxMetadataBytes = 1024 * 1024;
// A download without an announced size stops here.
inline constexpr qint64 kMaxDownloadBytes = qint64(4) * 1024 * 1024 * 1024;

// Version-folder names ("3.4") found in an HTML index page or an S3 bucket
// listing, without duplicates, in ascending version order (3.10 after 3.9).
QStringList parseVersionFolders(const QByteArray& body);
// The folder read for a running version: its own major.minor when listed or
// when nothing is listed, else the highest not above it, else the highest.
QString chooseVersionFolder(const QStringList& sortedFolders, const QVersionNumber& running);
// "3.4" for 3.4.1.
QString wantedFolder(const QVersionNumber& running);

// The assets of "index.json": an array of asset objects or one object.
QList<ReleaseAsset> parseAssets(const QByteArray& body);
// The changelog's address listed in an array index, empty when none.
QUrl findChangelogUrl(const QByteArray& body);

// The rank of a file type for the self-update; higher is preferred.
int assetTypeRank(const ReleaseAsset& asset, bool buildSwitch, bool programInBinFolder);

// Whether an asset is newer than the running build.
//  - a test build reading the stable channel: a higher version, or the same
//    version once released (same number of segments, running DEV stamp set);
//  - otherwise (a release build, or the testing channel): version, then DEV
//    stamp, so a release 3.4.1 sees 3.4.1 with a DEV stamp as newer.
bool isNewer(const ReleaseAsset& asset, const VersionStamp& running, bool testBuild, const QString& channel);

struct Selection
{
    // NoDigest: this platform has assets, but none carries a usable SHA-256.
    enum class Outcome { NoAsset, NoCompatible, NoDigest, NotNewer, Chosen };
    Outcome outcome = Outcome::NoAsset;
    ReleaseAsset asset; // when Chosen
};

struct SelectionRules
{
    QString platformKey;   // "Linux/64", "Windows/64"
    VersionStamp running;
    bool testBuild = false;
    QString channel;       // "STABLE" or "TESTING"
    bool buildSwitch = false;
    bool programInBinFolder = false;
};

// Chooses the one file offered: among this platform's assets that carry a
// SHA-256 and are newer than the running build, the best rank, then the
// highest version; of full ties the first listed.
Selection selectAsset(const QList<ReleaseAsset>& assets, const SelectionRules& rules);

// "Linux/64" or "Windows/64" for the running program.
QString defaultPlatformKey();

// Display texts.
QString formatSize(qint64 bytes);
QString formatDuration(qint64 seconds);
QString devStampText(qint64 stamp);

// A file name safe to join to the downloads folder: the last path segment,
// or "update.bin" when that is empty, a dot name or holds a separator.
QString safeFileName(const QString& name);

// Only https, or http to a loopback host, is fetched. Empty when allowed,
// otherwise the reason.
QString refusedUrlReason(const QUrl& url);

// Lower-case hexadecimal without blanks and colons, for comparing digests.
QString normalizedDigest(const QString& text);

} // namespace zq::update
