#pragma once

#include <QDialog>
#include <QString>

class QCloseEvent;
class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

// Shows the run of one integrity check: the day, the folder, a bar naming the file being checked,
// a growing list of result lines and one button, "Arrêter" while the check runs and "Fermer" once
// it has ended. It judges nothing: every value comes from the check's signals. While a check runs
// the dialog cannot be closed (Escape and the window's close are ignored), so its owner never has
// to delete a running check on its account.
class IntegrityDialog : public QDialog
{
    Q_OBJECT

public:
    IntegrityDialog(QString folder, QString day, QWidget* parent = nullptr);

    // For tests.
    QProgressBar* progress_bar() const { return m_bar; }
    QPushButton* button() const { return m_button; }
    QLabel* status_label() const { return m_status; }
    // The texts of the result lines, top to bottom.
    QStringList result_lines() const;
    bool is_running() const { return m_running; }

signals:
    void user_stopped();

public slots:
    void is_hash_file_found(bool found);
    void get_file_count(int n);
    void is_file_count_check(bool ok);
    void start_check();
    void end_check(bool ok);
    void begin_check_file(QString file);
    void end_check_file(QString file, bool ok);
    void handle_close_or_stop();

public:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* add_line(const QString& text, const QString& style = QString());

    QProgressBar* m_bar = nullptr;
    QPushButton* m_button = nullptr;
    QVBoxLayout* m_results = nullptr;
    QLabel* m_status = nullptr;
    QString m_folder;
    QString m_day;
    int m_file_count = 0;
    int m_files_begun = 0;
    bool m_stopped = false;
    bool m_running = false; // from start_check() to end_check()
};
