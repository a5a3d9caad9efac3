#pragma once

#include "app/zq_log.h"

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

// Collects the program's log lines while it lives (the log level is raised so that they are made).
class LogCapture
{
public:
    LogCapture()
    {
        m_level = get_log_level();
        set_log_level(1);
        instance() = this;
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        instance() = nullptr;
        set_log_level(m_level);
    }

    QStringList lines() const
    {
        QMutexLocker lock(&m_mutex);
        return m_lines;
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_lines.clear();
    }
    int count(const QString& text) const
    {
        int n = 0;
        for (const QString& line : lines())
            n += line.contains(text) ? 1 : 0;
        return n;
    }
    bool has(const QString& text) const { return count(text) > 0; }

private:
    static LogCapture*& instance()
    {
        static LogCapture* capture = nullptr;
        return capture;
    }
    static void handler(QtMsgType, const QMessageLogContext&, const QString& message)
    {
        if (LogCapture* c = instance()) {
            QMutexLocker lock(&c->m_mutex);
            c->m_lines.append(message);
        }
    }

    mutable QMutex m_mutex;
    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
    int m_level = 0;
};
