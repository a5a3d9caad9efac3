#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

class ZQFrame;

// The checked read of one coded frame of a recording, by the offset and size
// its seek-index entry gives: the data file stays open between calls while
// the entry names the same file; a size of 0, above the cap or past the end of
// the file, a seek or a short read fails with a log line and reads nothing.
struct CodedFrameFile
{
    // A coded frame is never larger than this.
    static constexpr qint64 kMaxFrameBytes = 64LL * 1024 * 1024;

    QFile file;
    QString path;
    qint64 size = 0;

    void close()
    {
        if (file.isOpen())
            file.close();
        path.clear();
    }
};

// Reads the entry's bytes into out; false (logged) when they cannot be read.
bool read_coded_frame(CodedFrameFile* data, const ZQFrame& entry, QByteArray* out);
