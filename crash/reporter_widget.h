#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

class DumpSender;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTextBrowser;
class QTextEdit;

// The form's message boxes, behind an interface so that tests can answer them.
class ReporterWidgetUi
{
public:
    virtual ~ReporterWidgetUi() = default;
    virtual void warn(QWidget* parent, const QString& title, const QString& text) = 0;
};

// A read-only view of what the report will carry.
class DetailDialog : public QDialog
{
    Q_OBJECT
public:
    explicit DetailDialog(QWidget* parent);
    void setText(const QString& text);
    QString text() const;

private:
    QTextBrowser* m_browser = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
};

// "Rapport de plantage": asks for an e-mail and a description, then sends the
// dump with the log, or deletes it.
class ReporterWidget : public QWidget
{
    Q_OBJECT
public:
    ReporterWidget(const QString& dumpFileName, const QString& dumpPath, QWidget* parent = nullptr);
    explicit ReporterWidget(QWidget* parent = nullptr);
    ~ReporterWidget() override;

    void setUi(ReporterWidgetUi* ui) { m_ui = ui; }
    // The text the details show, composed now.
    QString detailText() const;

signals:
    void emailAdressChanged(QString email);
    void commentChanged(QString comment);
    // Before send() or removeDump() of a sender created by the form.
    void senderCreated(DumpSender* sender);

protected:
    void changeEvent(QEvent* event) override;

private slots:
    void onSend();
    void onQuit();
    void onDetails();
    void onCommentChanged();

private:
    void build();
    void retranslate();

    struct Form;
    std::unique_ptr<Form> m_form;
    QPointer<DetailDialog> m_details;
    bool m_description_set = false;
    QString m_dump_file_name;
    QString m_dump_path;
    ReporterWidgetUi* m_ui = nullptr;
    std::unique_ptr<ReporterWidgetUi> m_desktop_ui;
};
