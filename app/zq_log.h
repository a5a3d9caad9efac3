#pragma once

#include <QObject>
#include <QString>

int get_log_level();
void set_log_level(int level);

// The program's two log entry points and the message handler that turns every
// Qt message into a time-stamped line on stderr and in "zqlogfile.log".
class ZQLog : public QObject
{
    Q_OBJECT
public:
    static void log(const char* text);
    static void log(const QString& text);
    // The text with the values of secrets replaced by "…": session ids
    // ("PHPSESSID=…") and credential headers ("x-auth-token: …",
    // "Authorization: …"). The log file goes out with crash reports.
    static QString redact(const QString& text);

    static void installMessageHandler();
    static void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

    // The file the handler appends to.
    static QString logFilePath();
    // Copies the log file as it stands, under the log's lock, so that no line
    // is half written in the copy. Returns the copied size, -1 on failure.
    static qint64 copyLogFile(const QString& target);
    // The log file's size as it stands, taken under the log's lock so that it
    // ends on a whole line; -1 when there is no log file.
    static qint64 logFileSize();
    // Removes the first `bytes` bytes of the log file under the log's lock,
    // keeping what was written after them; only when those bytes still hash
    // to `sha256Hex` (the file may have been emptied meanwhile).
    static bool cutLogPrefix(qint64 bytes, const QString& sha256Hex);
    // Empties the log file under the log's lock.
    static bool emptyLogFile();

    // Above this size the log file is emptied after a write.
    static constexpr qint64 kMaxLogFileSize = 15000000;
};

Q_DECLARE_METATYPE(ZQLog*)
