#include "playback/coded_frame_read.h"

#include "app/zq_log.h"
#include "recordings/zq_frame.h"

#include <QFileInfo>

bool read_coded_frame(CodedFrameFile* data, const ZQFrame& entry, QByteArray* out)
{
    const QString dataPath = entry.get_data_file();
    if (!data->file.isOpen() || data->path != dataPath) {
        data->file.close();
        data->file.setFileName(dataPath);
        // A pipe named like a data file would block in open().
        if (!QFileInfo(dataPath).isFile() || !data->file.open(QIODevice::ReadOnly)) {
            ZQLog::log(QStringLiteral("[WARN] read frame :: cannot open data file ") + dataPath);
            data->path.clear();
            return false;
        }
        data->path = dataPath;
        data->size = data->file.size();
    }

    const qint64 offset = entry.get_offset();
    const qint64 size = entry.get_size();
    if (size <= 0 || size > CodedFrameFile::kMaxFrameBytes || offset < 0) {
        ZQLog::log(QStringLiteral("[WARN] read frame :: bad frame size ") + QString::number(size) + QStringLiteral(" at ")
                   + QString::number(offset));
        return false;
    }
    if (offset > data->size - size) {
        // The file may have grown since it was opened; ask again before giving up.
        data->size = data->file.size();
        if (offset > data->size - size) {
            ZQLog::log(QStringLiteral("[WARN] read frame :: short read ")
                       + QString::number(qMax<qint64>(0, data->size - offset)) + QStringLiteral(" / ")
                       + QString::number(size));
            return false;
        }
    }
    if (!data->file.seek(offset)) {
        ZQLog::log(QStringLiteral("[WARN] read frame :: seek failed"));
        return false;
    }
    out->resize(size);
    const qint64 got = data->file.read(out->data(), size);
    if (got != size) {
        ZQLog::log(QStringLiteral("[WARN] read frame :: short read ") + QString::number(qMax<qint64>(0, got))
                   + QStringLiteral(" / ") + QString::number(size));
        return false;
    }
    return true;
}
