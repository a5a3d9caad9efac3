#pragma once

#include <QObject>
#include <QString>

// Process-wide application context: the program's identity texts, the
// settings the log handler and the display tiles read, and the User-Agent
// the recording server's control page expects.
class Http_singleton : public QObject
{
    Q_OBJECT
public:
    static Http_singleton* instance();

    QString get_display_name() const;
    QString get_app_name() const;
    QString get_version() const;
    QString get_build_date() const;
    QString get_log_file_name() const;
    QString get_apps_url() const;
    // The crash-report endpoint; empty when not configured.
    QString get_crash_report_url() const;
    // "OS " + product type, kernel version and CPU architecture joined by "_":
    // the system text of the User-Agent and of crash reports.
    static QString os_description();
    bool is_dev_build() const;
    bool build_flag() const;

    // The per-user folder: "~/.ZQPlayer".
    QString user_folder() const;

    int get_display_count() const;
    void set_display_count(int count);
    int get_max_display_count() const;

    QString get_log_directory() const;
    bool is_embedded_mode() const;
    bool crash_check_flag() const;
    void set_update_ok(bool ok);
    bool get_update_ok() const;

    static QString sha256_hex(const QString& text);
    QString access_user_agent(const QString& key, bool useKey) const;
    // The same text for a given access time; access_user_agent() uses the current one.
    QString access_user_agent_at(const QString& accessTime, const QString& key, bool useKey) const;

signals:
    void motion_draw();

private:
    Http_singleton();

    QString m_nonce;
    QString m_log_directory;
    QString m_fallback_access_key = QStringLiteral("");
    int m_display_count = 0;
    int m_max_display_count = 4;
    bool m_log_directory_switch = false;
    bool m_crash_check_switch = false;
    bool m_update_ok = false;
};
