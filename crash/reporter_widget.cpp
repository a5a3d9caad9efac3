#include "crash/reporter_widget.h"

#include "app/http_singleton.h"
#include "app/zq_log.h"
#include "crash/dump_sender.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {

class DesktopReporterUi : public ReporterWidgetUi
{
public:
    void warn(QWidget* parent, const QString& title, const QString& text) override
    {
        QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }
};

QString sizeText(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("absent");
    return QString::number(info.size()) + QStringLiteral(" octets");
}

} // namespace

DetailDialog::DetailDialog(QWidget* parent)
    : QDialog(parent)
{
    resize(640, 480);
    auto* layout = new QVBoxLayout(this);
    m_browser = new QTextBrowser(this);
    m_buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    layout->addWidget(m_browser);
    layout->addWidget(m_buttons);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::close);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
}

void DetailDialog::setText(const QString& text)
{
    m_browser->setPlainText(text);
}

QString DetailDialog::text() const
{
    return m_browser->toPlainText();
}

struct ReporterWidget::Form
{
    QVBoxLayout* verticalLayout = nullptr;
    QLabel* mainWidgetTopLabel = nullptr;
    QLabel* crashdateLabel = nullptr;
    QHBoxLayout* horizontalLayout_2 = nullptr;
    QLabel* label_3 = nullptr;
    QLineEdit* emailLineEdit = nullptr;
    QPushButton* detailButton = nullptr;
    QLabel* descritpionLabel = nullptr;
    QTextEdit* commentTextEdit = nullptr;
    QHBoxLayout* horizontalLayout = nullptr;
    QPushButton* restartButton = nullptr;
    QPushButton* quitButton = nullptr;
};

ReporterWidget::ReporterWidget(const QString& dumpFileName, const QString& dumpPath, QWidget* parent)
    : QWidget(parent)
    , m_form(std::make_unique<Form>())
    , m_dump_file_name(dumpFileName)
    , m_dump_path(dumpPath)
{
    build();
    // While the operator reads and types, the dump's digest is made, so that
    // "Envoyer" does not wait for a large dump to be read.
    if (!m_dump_path.isEmpty())
        DumpSender::prepareDigest(m_dump_path);
}

ReporterWidget::ReporterWidget(QWidget* parent)
    : ReporterWidget(QString(), QString(), parent)
{
}

ReporterWidget::~ReporterWidget() = default;

void ReporterWidget::build()
{
    Form& f = *m_form;
    setObjectName(QStringLiteral("ReporterWidget"));
    resize(422, 510);
    setStyleSheet(QStringLiteral("font-family : 'Public Sans'"));

    f.verticalLayout = new QVBoxLayout(this);
    f.verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    f.verticalLayout->setSpacing(6);
    f.verticalLayout->setContentsMargins(11, 11, 11, 11);

    f.mainWidgetTopLabel = new QLabel(this);
    f.mainWidgetTopLabel->setObjectName(QStringLiteral("mainWidgetTopLabel"));
    f.mainWidgetTopLabel->setFont(QFont(QStringLiteral("Public Sans"), 20));
    f.verticalLayout->addWidget(f.mainWidgetTopLabel);

    f.crashdateLabel = new QLabel(this);
    f.crashdateLabel->setObjectName(QStringLiteral("crashdateLabel"));
    f.crashdateLabel->setTextFormat(Qt::PlainText);
    f.verticalLayout->addWidget(f.crashdateLabel);

    f.horizontalLayout_2 = new QHBoxLayout();
    f.horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
    f.horizontalLayout_2->setSpacing(6);
    f.label_3 = new QLabel(this);
    f.label_3->setObjectName(QStringLiteral("label_3"));
    f.emailLineEdit = new QLineEdit(this);
    f.emailLineEdit->setObjectName(QStringLiteral("emailLineEdit"));
    f.detailButton = new QPushButton(this);
    f.detailButton->setObjectName(QStringLiteral("detailButton"));
    f.horizontalLayout_2->addWidget(f.label_3);
    f.horizontalLayout_2->addWidget(f.emailLineEdit);
    f.horizontalLayout_2->addWidget(f.detailButton);
    f.verticalLayout->addLayout(f.horizontalLayout_2);

    f.descritpionLabel = new QLabel(this);
    f.descritpionLabel->setObjectName(QStringLiteral("descritpionLabel"));
    QFont descriptionFont(QStringLiteral("Public Sans"));
    descriptionFont.setWeight(QFont::Normal);
    f.descritpionLabel->setFont(descriptionFont);
    f.verticalLayout->addWidget(f.descritpionLabel);

    f.commentTextEdit = new QTextEdit(this);
    f.commentTextEdit->setObjectName(QStringLiteral("commentTextEdit"));
    f.commentTextEdit->setOverwriteMode(true);
    f.commentTextEdit->setAcceptRichText(true);
    // An empty paragraph in Public Sans 13 pt: empty, so the placeholder shows.
    f.commentTextEdit->document()->setDefaultFont(QFont(QStringLiteral("Public Sans"), 13));
    f.verticalLayout->addWidget(f.commentTextEdit);

    f.horizontalLayout = new QHBoxLayout();
    f.horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    f.horizontalLayout->setSpacing(6);
    f.horizontalLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    f.restartButton = new QPushButton(this);
    f.restartButton->setObjectName(QStringLiteral("restartButton"));
    f.quitButton = new QPushButton(this);
    f.quitButton->setObjectName(QStringLiteral("quitButton"));
    f.horizontalLayout->addWidget(f.restartButton);
    f.horizontalLayout->addWidget(f.quitButton);
    f.verticalLayout->addLayout(f.horizontalLayout);

    retranslate();

    // Without an endpoint nothing may go out: say why instead of failing later.
    if (DumpSender::configuredEndpoint().isEmpty()) {
        f.restartButton->setEnabled(false);
        f.restartButton->setToolTip(tr("Serveur de rapports non configuré."));
    }

    connect(f.restartButton, &QPushButton::clicked, this, &ReporterWidget::onSend);
    connect(f.quitButton, &QPushButton::clicked, this, &ReporterWidget::onQuit);
    connect(f.detailButton, &QPushButton::clicked, this, &ReporterWidget::onDetails);
    connect(f.commentTextEdit, &QTextEdit::textChanged, this, &ReporterWidget::onCommentChanged);
    connect(f.emailLineEdit, &QLineEdit::textEdited, this, &ReporterWidget::emailAdressChanged);
}

void ReporterWidget::retranslate()
{
    Form& f = *m_form;
    setWindowTitle(tr("Rapport de plantage"));
    f.mainWidgetTopLabel->setText(tr("Envoi d'un rapport"));
    QString date;
    if (!m_dump_path.isEmpty())
        date = tr("Date de génération du fichier dump : ")
               + QFileInfo(m_dump_path).lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    f.crashdateLabel->setText(date);
    f.label_3->setText(tr("Email:"));
    f.emailLineEdit->setPlaceholderText(tr("Entrez votre adresse email"));
    f.detailButton->setText(tr("Détails"));
    f.descritpionLabel->setText(tr("Description"));
    f.commentTextEdit->setPlaceholderText(
        tr("Merci de décrire le plus précisément possible les actions. Afin de pouvoir au mieux effectuer un "
           "correctif, veuillez mettre le plus de détails possible dans votre descriptif. Si vous ne souhaitez pas "
           "envoyer le rapport et le supprimer, vous pouvez cliquer sur \"Quitter\"."));
    f.restartButton->setText(tr("Envoyer"));
    f.quitButton->setText(tr("Quitter"));
}

void ReporterWidget::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        retranslate();
    QWidget::changeEvent(event);
}

void ReporterWidget::onCommentChanged()
{
    m_description_set = true;
    emit commentChanged(m_form->commentTextEdit->toPlainText());
}

void ReporterWidget::onSend()
{
    if (!m_ui) {
        m_desktop_ui = std::make_unique<DesktopReporterUi>();
        m_ui = m_desktop_ui.get();
    }
    if (!m_description_set) {
        m_ui->warn(this, tr("Détails non fournis"),
                   tr("Veuillez entrer un descriptif de la cause du plantage avant de soumettre le rapport."));
        return;
    }
    if (m_form->emailLineEdit->text().isEmpty()) {
        m_ui->warn(this, tr("Adresse e-mail non fournis"),
                   tr("Veuillez entrer une adresse e-mail avant de soumettre le rapport."));
        return;
    }
    auto* sender = new DumpSender();
    sender->setComment(m_form->commentTextEdit->toPlainText());
    sender->setEmail(m_form->emailLineEdit->text());
    emit senderCreated(sender);
    sender->send(m_dump_path);
    close();
}

void ReporterWidget::onQuit()
{
    auto* sender = new DumpSender();
    emit senderCreated(sender);
    sender->removeDump(m_dump_path);
    sender->deleteLater();
    close();
}

QString ReporterWidget::detailText() const
{
    Http_singleton* context = Http_singleton::instance();
    QString text = tr("Les informations suivantes seront envoyées:\n\n");
    text += tr("OS : %1\n").arg(Http_singleton::os_description());
    text += tr("Nom produit : %1\n").arg(context->get_display_name());
    text += tr("Version : %1\n").arg(context->get_version());
    if (!m_dump_path.isEmpty()) {
        text += tr("Date du dump : %1\n")
                    .arg(QFileInfo(m_dump_path).lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        text += tr("Fichier dump : %1 (%2)\n").arg(DumpSender::sentDumpName(m_dump_path), sizeText(m_dump_path));
    }
    text += tr("Fichier journal : %1 (%2)\n").arg(context->get_log_file_name(), sizeText(ZQLog::logFilePath()));
    const QString email = m_form->emailLineEdit->text();
    if (!email.isEmpty())
        text += tr("Email: %1\n").arg(email);
    if (m_description_set)
        text += tr("Commentaires: %1\n").arg(m_form->commentTextEdit->toPlainText());
    return text;
}

void ReporterWidget::onDetails()
{
    if (!m_details)
        m_details = new DetailDialog(this);
    // Composed at each opening, so that it shows what would go out now.
    m_details->setText(detailText());
    m_details->show();
    m_details->setWindowState(m_details->windowState() & ~Qt::WindowMinimized);
    m_details->raise();
}
