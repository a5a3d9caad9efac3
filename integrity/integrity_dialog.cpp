#include "integrity/integrity_dialog.h"

#include "platform/theme.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString kLightStyle = QStringLiteral(
    "QWidget { background-color: palette(window); color: black; }"
    "QLabel { color: black; }"
    "QPushButton { background-color: #f0f0f0; color: black; border: 1px solid #aaa; padding: 6px 12px; }"
    "QPushButton:hover { background-color: #e0e0e0; }"
    "QProgressBar { border: 1px solid grey; border-radius: 5px; text-align: center; font: 14px; "
    "background-color: rgba(255,255,255,0.2); color: black; padding-top: 3px; padding-bottom: 3px; }"
    "QProgressBar::chunk { background-color: gray; width: 20px; }");

const QString kDarkStyle = QStringLiteral(
    "QWidget { background-color: #121212; color: #EEEEEE; }"
    "QLabel { color: #EEEEEE; }"
    "QPushButton { background-color: #2E2E2E; color: #FFFFFF; border: 1px solid #444; padding: 6px 12px; }"
    "QPushButton:hover { background-color: #3E3E3E; }"
    "QProgressBar { border: 1px solid #555; border-radius: 5px; text-align: center; font: 14px; "
    "background-color: #1E1E1E; color: white; padding-top: 3px; padding-bottom: 3px; }"
    "QProgressBar::chunk { background-color: #00C853; width: 20px; }");

const QString kStopText = QStringLiteral("Arrêter");
const QString kCloseText = QStringLiteral("Fermer");

// Every format the bar shows is composed in full here, and some carry file names: a name with
// "%p", "%v" or "%m" in it must not turn into numbers. QProgressBar substitutes them in text() and
// has no escape for "%" (a doubled "%%p" still becomes "%" and the percentage), so this bar shows
// its format as it is.
class LiteralProgressBar : public QProgressBar
{
public:
    using QProgressBar::QProgressBar;
    QString text() const override { return format(); }
};

// Names come from the storage folder: cut before they reach a label.
QString capped(const QString& text)
{
    constexpr qsizetype kMax = 1000;
    return text.size() <= kMax ? text : text.left(kMax) + QStringLiteral("…");
}

QLabel* plain_label(const QString& text, QWidget* parent = nullptr)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

} // namespace

IntegrityDialog::IntegrityDialog(QString folder, QString day, QWidget* parent)
    : QDialog(parent)
    , m_folder(std::move(folder))
    , m_day(std::move(day))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    setWindowModality(Qt::ApplicationModal);
    setStyleSheet(zq::platform::uses_light_theme(palette()) ? kLightStyle : kDarkStyle);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(15);
    layout->setContentsMargins(20, 20, 20, 20);

    QLabel* title = plain_label(QStringLiteral("Vérification d'intégrité de la journée du ") + capped(m_day));
    title->setAlignment(Qt::AlignCenter);
    title->setStyleSheet(QStringLiteral("font-weight: bold; font-size: 16px;"));
    layout->addWidget(title);

    QLabel* folderLabel = plain_label(QStringLiteral("[") + capped(m_folder) + QStringLiteral("]"));
    folderLabel->setAlignment(Qt::AlignCenter);
    folderLabel->setStyleSheet(QStringLiteral("font: 10px;"));
    layout->addWidget(folderLabel);

    auto* barHolder = new QWidget(this);
    barHolder->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);
    auto* barLayout = new QHBoxLayout(barHolder);
    m_bar = new LiteralProgressBar(barHolder);
    m_bar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);
    m_bar->setMinimumHeight(30);
    m_bar->setValue(0);
    m_bar->setFormat(QStringLiteral("Vérification en attente ..."));
    m_bar->setStyleSheet(QStringLiteral(
        "QProgressBar { border: 1px solid grey; border-radius: 5px; text-align: center;color:black; font: 14px; "
        "background-color: rgba(255,255,255,0.2); padding-top:3px; padding-bottom:3px; }"
        "QProgressBar::chunk { background-color: gray; width: 20px; }"));
    barLayout->addWidget(m_bar);
    layout->addWidget(barHolder);

    auto* resultsHolder = new QWidget(this);
    resultsHolder->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);
    m_results = new QVBoxLayout(resultsHolder);
    layout->addWidget(resultsHolder);

    m_button = new QPushButton(kCloseText, this);
    m_button->setStyleSheet(QStringLiteral("padding: 6px 12px; font: 12px;"));
    layout->addWidget(m_button, 0, Qt::AlignCenter);
    connect(m_button, SIGNAL(clicked()), this, SLOT(handle_close_or_stop()));
}

QLabel* IntegrityDialog::add_line(const QString& text, const QString& style)
{
    QLabel* label = plain_label(text);
    if (!style.isEmpty())
        label->setStyleSheet(style);
    m_results->addWidget(label);
    return label;
}

QStringList IntegrityDialog::result_lines() const
{
    QStringList lines;
    for (int i = 0; i < m_results->count(); ++i) {
        if (auto* label = qobject_cast<QLabel*>(m_results->itemAt(i)->widget()))
            lines << label->text();
    }
    return lines;
}

void IntegrityDialog::is_hash_file_found(bool found)
{
    if (found)
        add_line(QStringLiteral("Fichier HASH trouvé : OK"));
    else
        add_line(QStringLiteral("Fichier HASH trouvé : ERREUR"), QStringLiteral("color: red;"));
}

void IntegrityDialog::get_file_count(int n)
{
    m_file_count = n;
    m_bar->setMaximum(n);
    add_line(QStringLiteral("Nombre de fichiers à vérifier : ") + QString::number(n));
}

void IntegrityDialog::is_file_count_check(bool ok)
{
    if (ok)
        add_line(QStringLiteral("Intégrité du compte de fichiers : OK"));
    else
        add_line(QStringLiteral("Intégrité du compte de fichiers : ERREUR"), QStringLiteral("color: red;"));
}

void IntegrityDialog::start_check()
{
    m_files_begun = 0;
    m_bar->setValue(0);
    m_button->setText(kStopText);
    m_button->setEnabled(true);
    m_stopped = false;
    m_running = true;
    m_status = add_line(QStringLiteral("État de la vérification d'intégrité : EN COURS ..."));
}

void IntegrityDialog::begin_check_file(QString file)
{
    ++m_files_begun;
    m_bar->setValue(m_files_begun);
    const int percent = m_file_count > 0 ? int(qint64(m_files_begun) * 100 / m_file_count) : 0;
    m_bar->setFormat(QString::number(percent) + QStringLiteral(" %  [ ") + capped(file)
                     + QStringLiteral(" ]"));
}

void IntegrityDialog::end_check_file(QString file, bool ok)
{
    if (!ok)
        add_line(QStringLiteral("Erreur lors de la vérification du fichier : ") + capped(file),
                 QStringLiteral("color: red;"));
}

void IntegrityDialog::end_check(bool ok)
{
    QString summary;
    QString format;
    QString colour;
    QString status;
    QString summaryStyle;
    if (m_stopped) {
        add_line(QStringLiteral("Vérification interrompue avant la fin."),
                 QStringLiteral("font-weight: bold; color: orange;"));
        status = QStringLiteral("État de la vérification : interrompue par l'utilisateur");
        format = QStringLiteral("Vérification arrêtée");
        colour = QStringLiteral("grey");
    } else if (ok) {
        summary = QStringLiteral("Vérification d'intégrité terminée et validée");
        format = QStringLiteral("Intégrité validée");
        colour = QStringLiteral("green");
        status = QStringLiteral("État de la vérification d'intégrité : OK");
    } else {
        summary = QStringLiteral("Vérification d'intégrité terminée et non conforme");
        format = QStringLiteral("Intégrité non valide");
        colour = QStringLiteral("red");
        status = QStringLiteral("État de la vérification d'intégrité : ERREUR");
        summaryStyle = QStringLiteral("color: red;");
        if (m_bar->maximum() == 0)
            m_bar->setMaximum(100);
        m_bar->setValue(100);
    }
    if (m_status)
        m_status->setText(status);
    m_bar->setFormat(format);
    m_bar->setStyleSheet(QStringLiteral(
                             "QProgressBar { border: 1px solid grey; border-radius: 5px; text-align: center; "
                             "font-weight: bold; font-size: 14px; background-color: rgba(255,255,255,0.2);"
                             "padding-top:3px; padding-bottom:3px; }QProgressBar::chunk { background-color: ")
                         + colour + QStringLiteral("; width: 20px; }"));
    m_results->addSpacing(20);
    QLabel* summaryLabel = add_line(summary, QStringLiteral("font-weight: bold;") + summaryStyle);
    summaryLabel->setAlignment(Qt::AlignCenter);
    m_running = false;
    m_button->setText(kCloseText);
    m_button->setEnabled(true);
    m_button->setFocus();
}

void IntegrityDialog::handle_close_or_stop()
{
    if (m_button->text() == kStopText) {
        m_stopped = true;
        add_line(QStringLiteral("Arrêt de la vérification demandé par l'utilisateur."), QStringLiteral("color: orange;"));
        m_button->setEnabled(false);
        emit user_stopped();
        return;
    }
    close();
}

void IntegrityDialog::reject()
{
    // Escape while the check runs: the dialog stays, the button is there to stop it.
    if (m_running)
        return;
    QDialog::reject();
}

void IntegrityDialog::closeEvent(QCloseEvent* event)
{
    if (m_running) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
