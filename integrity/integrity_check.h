#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <functional>
#include <vector>

// Checks one day folder once against the recording server's encrypted list "hash.json": is the list
// there, does it name exactly the files of the folder, and does every listed file still have the
// SHA-256 digest it records. Runs in its own thread and reports every step by signal; the object
// lives in the GUI thread, so user_stop() runs there and only sets an atomic flag.
//
// Nothing is written to the day folder and nothing outside it is opened: the files checked are the
// day folder + each entry's relative "path", no symbolic link is followed, and only regular files
// are read.
class IntegrityCheck : public QThread
{
    Q_OBJECT

public:
    // One element of the list, as read from the decrypted JSON.
    struct Entry
    {
        QString label;    // what the operator sees: "file", else the path, else "#" + index
        QString relative; // cleaned path relative to the day folder; empty when unusable
        QString listed;   // the path as the list gives it (for the missing/added comparison)
        QString sha256;   // 64 hexadecimal digits as the list gives them; empty when malformed
        QString problem;  // why the element cannot be checked; empty when it can
        bool absolute_only = false; // no "path", only "absolutepath" (usable inside the day folder)
    };

    // The parsed list. `array` is false when the text is no JSON array.
    struct List
    {
        bool array = false;
        QList<Entry> entries;
    };

    // Files are hashed in reads of this size, the stop request read before each.
    static constexpr qint64 kReadSize = 1024 * 1024;

    explicit IntegrityCheck(QString dayFolder);
    // Asks a running check to stop and waits for its thread.
    ~IntegrityCheck() override;

    QString day_folder() const { return m_day_folder; }
    // The result of the last run (true until a finding).
    bool is_valid() const { return m_valid.load(); }

    // Reads the decrypted list; pure, so that it can be fed any bytes. Paths are judged by their
    // text only here (absolute, climbing out): links are judged when a file is opened.
    static List parse_list(const QByteArray& plain);

    // The files that the list must name: every regular file under the day folder, as paths
    // relative to it, without hidden files, links, the day's "index.zqnfo", and names containing
    // "index.zqnfo", "hash.json" or "zqvideoindex.json" that are of no kind the players read
    // (a "..._hash.json.zqvideo" is counted). Sorted.
    static QStringList counted_files(const QString& dayFolder);

signals:
    void hash_file_found(bool found);
    void file_count(int count);
    void file_count_check(bool ok);
    void start_check();
    void end_check(bool ok);
    void begin_check_file(QString file);
    void end_check_file(QString file, bool ok);

public slots:
    void user_stop();

protected:
    void run() override;

private:
    enum class Hashed { Ok, Failed, Stopped };

    void check();
    QList<Entry> read_list(const QString& listPath);
    // Logs the files on one side only of the comparison.
    void report_differences(const QList<Entry>& entries, const QStringList& counted);
    // The element's file, opened and hashed; logs its own failure lines.
    Hashed check_entry(const Entry& entry, const QString& canonicalDay);
    // Reads through `read` (bytes into the buffer, at most the size given; 0 at the end, -1 on
    // error) until the end, reading the stop request before each read.
    Hashed hash_file(const std::function<qint64(char*, qint64)>& read, const QString& path, QString* digest);
    bool stop_requested() const { return m_stop.load(); }

    std::atomic_bool m_valid{true};
    QString m_day_folder;
    std::atomic_bool m_stop{false};
    std::vector<char> m_buffer; // the worker thread's read buffer
    int m_day_fd = -1;          // the day folder, open during the per-file phase
    // Sub-folders of the day (relative) whose real location lies inside the day folder.
    QHash<QString, bool> m_parent_inside;
};
