#pragma once

// A release server on the loopback server and an updater that trusts it.

#include "app/sha256.h"
#include "tests/support/update_routes.h"
#include "update/download_binary.h"

#include <QDir>
#include <QFile>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <functional>

struct FakeUpdateUi : DownloadBinaryUi
{
    bool answerYes = true;
    bool cancelSave = false;
    bool cancelOnProgress = false;
    int questions = 0;
    QString text;
    QString details;
    QString label;
    std::function<void()> cancel;

    bool askUpdate(const QString&, const QString& t, const QString&, const QString& d) override
    {
        ++questions;
        text = t;
        details = d;
        return answerYes;
    }
    QString askSaveFile(const QString&, const QString& proposed, const QString&) override
    {
        return cancelSave ? QString() : proposed;
    }
    void showProgress(const QString&, const QString& l, std::function<void()> onCancel) override
    {
        label = l;
        cancel = std::move(onCancel);
    }
    void setProgress(int, int) override
    {
        if (cancelOnProgress && cancel) {
            auto c = std::move(cancel);
            cancel = nullptr;
            c();
        }
    }
    QString progressLabel() const override { return label; }
    void setProgressLabel(const QString& l) override { label = l; }
    void closeProgress() override {}
};

inline const QByteArray kProduct = "/zqapps/9b00b_ZQPLAYER/";

inline QSslConfiguration trusting(const LoopbackServer& server)
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    if (!server.tls().isNull())
        config.setCaCertificates({server.tls().ca_certificate()});
    return config;
}

inline QByteArray assetJson(const QString& name, const QString& url, const QString& sha, qint64 size,
                            const QString& arch = QStringLiteral("Linux/64"))
{
    return QStringLiteral("{\"name\":\"%1\",\"url\":\"%2\",\"size\":%3,\"arch\":\"%4\",\"sha256\":\"%5\","
                          "\"id\":\"\",\"id_sha256\":\"\"}")
        .arg(name, url, QString::number(size), arch, sha)
        .toUtf8();
}

inline QString downloadsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
}

inline QStringList downloadsContent()
{
    return QDir(downloadsFolder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

inline void clearDownloads()
{
    QDir(downloadsFolder()).removeRecursively();
}

// An installer of `size` pseudo-random bytes and its SHA-256.
struct InstallerFixture
{
    QTemporaryDir dir;
    QString path;
    QString sha;
    explicit InstallerFixture(qint64 size)
    {
        path = dir.filePath("installer.bin");
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return;
        quint32 x = 2463534242u;
        QByteArray block(64 * 1024, Qt::Uninitialized);
        zq::Sha256 hash;
        for (qint64 left = size; left > 0;) {
            for (int i = 0; i < block.size(); ++i) {
                x ^= x << 13;
                x ^= x >> 17;
                x ^= x << 5;
                block[i] = char(x);
            }
            const qint64 n = std::min<qint64>(left, block.size());
            f.write(block.constData(), n);
            hash.add(block.constData(), n);
            left -= n;
        }
        sha = hash.hexDigest();
    }
};
