// Snapshots of the display tile and their upload to the recording server.

#include <QBuffer>
#include <QFontMetrics>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPainter>
#include <QUrl>

#include "app/zq_log.h"
#include "view/canvas.h"

namespace {

constexpr int upload_timeout_ms = 30000;

// Texts that end up inside header lines: a line break or a control character
// would end the line and start one of the sender's choosing.
bool has_control_char(const QString& s)
{
    for (const QChar c : s)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    return false;
}

} // namespace

QString Canvas::snapshot_caption(const char* which) const
{
    QString text = current_timestamp;
    if (!camera_name.isEmpty()) {
        if (!text.contains(camera_name))
            text = camera_name + QStringLiteral(" | ") + text;
    } else {
        ZQLog::log(QStringLiteral("[WARN] Plugin :: ") + QLatin1String(which)
                   + QStringLiteral(" :: overlay base is timestamp only"));
    }
    return text;
}

QImage Canvas::get_snapshot(QString session_id_arg)
{
    return get_snapshot(session_id_arg, QString());
}

QImage Canvas::get_snapshot()
{
    return get_snapshot(QString(), QString());
}

QImage Canvas::get_snapshot(QString sid, QString upload_uri)
{
    ZQLog::log("[INFO] Plugin :: get snapshot");
    if (get_frame_image().isNull())
        return QImage();
    const int w = width(), h = height();
    if (w < 1 || h < 1)
        return QImage();
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::TextAntialiasing, true);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        draw_image(painter);
        // The caption is drawn, not stored: the tile keeps showing the
        // frame's own timestamp.
        draw_snapshot_timestamp(painter, w, snapshot_caption("get snapshot"));
    }
    if (center_image) {
        const QRect crop = QRect(image_left_margin, image_top_margin, w - 2 * image_left_margin,
                                 h - 2 * image_top_margin)
                               .intersected(image.rect());
        if (!crop.isEmpty())
            image = image.copy(crop);
    }

    if (!sid.isEmpty() && !upload_uri.isEmpty()) {
        const int q = upload_uri.indexOf(QLatin1Char('?'));
        const QString url = q < 0 ? upload_uri : upload_uri.left(q);
        QHash<QString, QString> fields;
        if (q >= 0 && q < upload_uri.size() - 1) {
            const QStringList parts = upload_uri.mid(q + 1).split(QLatin1Char('&'), Qt::SkipEmptyParts);
            for (const QString& part : parts) {
                const int eq = part.indexOf(QLatin1Char('='));
                if (eq < 1)
                    continue;
                const QString key = part.left(eq), value = part.mid(eq + 1);
                ZQLog::log(QStringLiteral("[INFO] Plugin :: get snapshot :: send image params :: ") + key
                           + QStringLiteral(" + ") + value);
                fields.insert(key, value);
            }
        }
        uploadImage_multipart(image, fields, url, sid);
    }
    return image;
}

QImage Canvas::get_snapshot_full(QString sid)
{
    return get_snapshot_full(sid, QString());
}

QImage Canvas::get_snapshot_full()
{
    return get_snapshot_full(QString(), QString());
}

QImage Canvas::get_snapshot_full(QString sid, QString upload_uri)
{
    ZQLog::log(QStringLiteral("[INFO] Plugin :: get snapshot full :: ") + camera_name);
    const QImage frame = get_frame_image();
    if (frame.isNull())
        return QImage();
    // The held picture at its own size.
    QImage image = frame.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QString caption = snapshot_caption("get snapshot full");
    ZQLog::log(QStringLiteral("[INFO] Plugin :: get snapshot full :: define overlay :: ") + caption);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::TextAntialiasing, true);
        QFont f = painter.font();
        f.setPointSize(20);
        painter.setFont(f);
        const int fh = QFontMetrics(f).height();
        painter.fillRect(QRect(0, 0, image.width(), fh + 6), QColor(0, 0, 0, 110));
        painter.setPen(Qt::white);
        painter.drawText(QRect(2, 0, image.width() - 4, fh + 6), Qt::AlignLeft | Qt::AlignVCenter, caption);
    }

    if (!sid.isEmpty() && !upload_uri.isEmpty()) {
        const int q = upload_uri.indexOf(QLatin1Char('?'));
        const QString url = q < 0 ? upload_uri : upload_uri.left(q);
        const QString query = q < 0 ? upload_uri : upload_uri.mid(q + 1);
        QHash<QString, QString> fields;
        const QStringList parts = query.split(QLatin1Char('&'), Qt::KeepEmptyParts);
        for (const QString& part : parts) {
            const QStringList kv = part.split(QLatin1Char('='), Qt::KeepEmptyParts);
            if (kv.size() < 2)
                continue;
            ZQLog::log(QStringLiteral("[INFO] Plugin :: get snapshot full :: send image params :: ") + kv.at(0)
                       + QStringLiteral(" + ") + kv.at(1));
            fields.insert(kv.at(0), kv.at(1));
        }
        uploadImage_multipart(image, fields, url, sid);
    } else {
        ZQLog::log("[ERROR] Plugin :: get snapshot full :: snapshot url empty");
    }
    return image;
}

void Canvas::uploadImage_multipart(QImage image, QHash<QString, QString> fields, QString upload_url,
                                   QString sid)
{
    ZQLog::log(QStringLiteral("[INFO] Plugin :: uploadImage_multipart :: upload_url ") + upload_url);
    // The session id itself stays out of the log, which goes out with crash reports.
    ZQLog::log(QStringLiteral("[INFO] Plugin :: uploadImage_multipart :: session id ")
               + (sid.isEmpty() ? QString() : QStringLiteral("\u2026")));

    const QUrl url(upload_url);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        ZQLog::log(QStringLiteral("[ERROR] Plugin :: uploadImage_multipart :: invalid upload url"));
        emit snapshot_upload_finished(false, QStringLiteral("invalid upload url"));
        return;
    }

    if (has_control_char(sid)) {
        ZQLog::log(QStringLiteral("[ERROR] Plugin :: uploadImage_multipart :: invalid session id"));
        emit snapshot_upload_finished(false, QStringLiteral("invalid session id"));
        return;
    }

    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        if (image.isNull() || !image.save(&buffer, "JPG")) {
            ZQLog::log("[ERROR] Plugin :: Failed to convert to JPEG");
            emit snapshot_upload_finished(false, QStringLiteral("Failed to convert to JPEG"));
            return;
        }
    }

    auto* multi = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    QHttpPart image_part;
    image_part.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("image/jpeg"));
    image_part.setHeader(QNetworkRequest::ContentDispositionHeader,
                         QStringLiteral("form-data; name=\"image\"; filename=\"test.jpg\";"));
    image_part.setBody(jpeg);
    multi->append(image_part);

    fields.insert(QStringLiteral("PHPSESSID"), sid);
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it) {
        ZQLog::log(QStringLiteral("[INFO] Plugin :: headers value ") + it.key() + QStringLiteral(" - ") + it.value());
        // The name is written between quotes in the part's header.
        if (it.key().contains(QLatin1Char('"')) || has_control_char(it.key())) {
            ZQLog::log(QStringLiteral("[WARN] Plugin :: uploadImage_multipart :: field name skipped"));
            continue;
        }
        QHttpPart part;
        part.setHeader(QNetworkRequest::ContentDispositionHeader,
                       QStringLiteral("form-data; name=\"") + it.key() + QLatin1Char('"'));
        part.setBody(it.value().toLatin1());
        multi->append(part);
    }

    QNetworkRequest request(url);
    // The session travels as a cookie of the request.
    request.setRawHeader("Cookie", "PHPSESSID=" + sid.toUtf8());
    request.setTransferTimeout(upload_timeout_ms);
    if (!upload_manager)
        upload_manager = new QNetworkAccessManager(this);
    QNetworkReply* reply = upload_manager->post(request, multi);
    multi->setParent(reply);
    connect(reply, &QNetworkReply::uploadProgress, this, &Canvas::snapshot_slot_uploadProgress);
    connect(reply, &QNetworkReply::finished, this, &Canvas::snapshot_slot_send);
}

void Canvas::snapshot_slot_send()
{
    ZQLog::log("snapshot_slot_send finish");
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply)
        return;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool ok = reply->error() == QNetworkReply::NoError && status >= 200 && status < 300;
    const QString error = ok ? QString() : reply->errorString();
    if (!ok)
        ZQLog::log(QStringLiteral("[ERROR] Plugin :: uploadImage_multipart :: ") + error);
    reply->deleteLater();
    emit snapshot_upload_finished(ok, error);
}
