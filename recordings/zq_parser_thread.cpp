#include "recordings/zq_parser_thread.h"

#include "app/zq_log.h"
#include "recordings/seek_index.h"

#include <QFileInfo>

#include <chrono>

ZQParserThread::ZQParserThread(QObject* parent) : QThread(parent) {}

ZQParserThread::~ZQParserThread()
{
    stop();
    wait();
}

void ZQParserThread::set_files(const QFileInfoList& files)
{
    m_files = files;
}

void ZQParserThread::stop()
{
    m_stop.store(true);
}

void ZQParserThread::run()
{
    const auto begin = std::chrono::steady_clock::now();
    for (const QFileInfo& file : m_files) {
        if (m_stop.load())
            break;
        const QString path = file.filePath();
        const QString suffix = file.suffix();
        // Only data files are listed; their seek index sits beside them.
        if (suffix != QLatin1String("zqvideo") && suffix != QLatin1String("zqaudio"))
            continue;
        read_and_parse_zqseek(seek_index_companions(path).seekPath);
    }
    const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - begin;
    ZQLog::log(QStringLiteral("[INFO] ZQParserThread :: run :: video files parsed in ")
               + QString::number(elapsed.count(), 'g', 6) + QStringLiteral(" ms"));
}

void ZQParserThread::read_and_parse_zqseek(const QString& seekPath)
{
    SeekIndexOptions options;
    // Only the stream tokens are wanted: a stream id that no line carries keeps the frames out of
    // memory, while the parser still gathers every token it meets.
    options.stream = QStringLiteral("\x01");
    options.deriveCodecName = false;
    options.cancel = &m_stop;
    SeekIndexResult result;
    parse_seek_index(seekPath, options, &result);
    if (!result.opened) {
        ZQLog::log(QStringLiteral("[WARN] ZQParserThread :: read and parse zqseek :: Error Opening Seek File ") + seekPath);
        return;
    }
    if (result.lines == 0 && result.skippedLines == 0 && !result.cancelled) {
        ZQLog::log("[WARN] ZQParserThread :: read and parse zqseek :: read return value  :: 0");
        ZQLog::log("[WARN] ZQParserThread :: read and parse zqseek :: buffer check       :: 1");
        ZQLog::log("[WARN] ZQParserThread :: read and parse zqseek :: return empty frame");
        return;
    }
    for (const QString& token : result.streamTokens) {
        if (token.contains(QLatin1String("video")) && !m_streams.contains(token))
            m_streams.append(token);
    }
}
