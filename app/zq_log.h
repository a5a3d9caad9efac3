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

    static void installMessageHandler();
    static void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

    // The file the handler appends to.
    static QString logFilePath();
    // Above this size the log file is emptied after a write.
    static constexpr qint64 kMaxLogFileSize = 15000000;
};

Q_DECLARE_METATYPE(ZQLog*)
