#pragma once

#include <QFileInfoList>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>

// Reads, off the GUI thread, the seek indexes of a list of recording files and gathers the distinct
// video stream tokens ("video1", "video2", ...) that they name, in the order first seen.
// Fill the file list before start() and read the tokens after QThread::finished.
class ZQParserThread : public QThread
{
    Q_OBJECT
public:
    explicit ZQParserThread(QObject* parent = nullptr);
    // Asks a running pass to stop and waits for it.
    ~ZQParserThread() override;

    void set_files(const QFileInfoList& files);
    QFileInfoList get_files() const { return m_files; }
    QStringList get_streams() const { return m_streams; }

    // Reads one seek index and adds the video stream tokens it names that are not yet known.
    void read_and_parse_zqseek(const QString& seekPath);

public slots:
    void stop();

protected:
    void run() override;

private:
    QStringList m_streams;
    QFileInfoList m_files;
    std::atomic<bool> m_stop{false};
};

Q_DECLARE_METATYPE(ZQParserThread*)
