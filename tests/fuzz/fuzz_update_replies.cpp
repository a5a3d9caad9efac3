// What the release server and the crash-report endpoint send back: the
// folder listing, both forms of "index.json" and the crash reply.
#include "crash/dump_sender.h"
#include "update/release_selection.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), int(size));
    using namespace zq::update;
    const QStringList folders = parseVersionFolders(body);
    chooseVersionFolder(folders, QVersionNumber(3, 4, 1));
    const QList<ReleaseAsset> assets = parseAssets(body);
    findChangelogUrl(body);
    for (const bool testBuild : {false, true}) {
        SelectionRules rules;
        rules.platformKey = QStringLiteral("Linux/64");
        rules.running = VersionStamp::fromRunningText(testBuild ? QStringLiteral("3.4.1.DEV202401010000")
                                                                : QStringLiteral("3.4.1"));
        rules.testBuild = testBuild;
        rules.channel = QStringLiteral("STABLE");
        const Selection s = selectAsset(assets, rules);
        if (s.outcome == Selection::Outcome::Chosen) {
            safeFileName(s.asset.url.fileName());
            refusedUrlReason(s.asset.url);
            formatSize(s.asset.size);
            devStampText(s.asset.dev_stamp);
        }
    }
    DumpSender::parseReply(body);
    return 0;
}
