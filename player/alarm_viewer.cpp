#include "player/alarm_viewer.h"

#include "app/http_singleton.h"
#include "app/zq_log.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QImageWriter>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScreen>
#include <QScrollArea>
#include <QStringList>

namespace {

// Alarm pictures come from the storage folder: cap what we read of them.
constexpr qint64 kMaxPictureBytes = 64 * 1024 * 1024;
constexpr int kMaxPictureSide = 16384;

AlarmViewer::Dialogs defaultDialogs()
{
    AlarmViewer::Dialogs d;
    d.saveFileName = [](QWidget* parent, const QString& caption, const QString& start, const QString& filter) {
        return QFileDialog::getSaveFileName(parent, caption, start, filter);
    };
    // The texts may hold a path from the storage folder: never read as markup.
    d.information = [](QWidget* parent, const QString& title, const QString& text) {
        QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, parent);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    };
    d.warning = [](QWidget* parent, const QString& title, const QString& text) {
        QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    };
    return d;
}

QImage readPicture(const QString& path)
{
    QFileInfo info(path);
    if (!info.isFile() || info.size() > kMaxPictureBytes)
        return QImage();
    QImageReader reader(path);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > kMaxPictureSide || size.height() > kMaxPictureSide))
        return QImage();
    return reader.read();
}

} // namespace

AlarmViewer::Dialogs& AlarmViewer::dialogs()
{
    static Dialogs d = defaultDialogs();
    return d;
}

void AlarmViewer::resetDialogs()
{
    dialogs() = defaultDialogs();
}

QString AlarmViewer::cleanFileName(const QString& name)
{
    static const QRegularExpression forbidden(QStringLiteral("[\\\\/:*?\"<>|]"));
    QString cleaned = name;
    cleaned.replace(forbidden, QStringLiteral("_"));
    while (!cleaned.isEmpty() && (cleaned.endsWith(QLatin1Char(' ')) || cleaned.endsWith(QLatin1Char('.'))))
        cleaned.chop(1);
    if (cleaned.isEmpty())
        cleaned = QStringLiteral("fichier");
    return cleaned;
}

QString AlarmViewer::alarmFileName(const QString& fileName, const QString& cameraName)
{
    QString camera = cameraName;
    camera.remove(QLatin1Char(' '));
    QString name = camera + QLatin1Char('_');
    const QStringList parts = fileName.split(QLatin1Char('_'));
    auto dayText = [](const QString& day) {
        if (day.size() == 8)
            return day.left(4) + QLatin1Char('-') + day.mid(4, 2) + QLatin1Char('-') + day.mid(6, 2);
        return day;
    };
    if (parts.size() == 4) {
        name += parts[1] + QLatin1Char('_') + dayText(parts[2]) + QLatin1Char('_')
              + QString(parts[3]).remove(QStringLiteral("-thumb"));
    } else if (parts.size() == 3) {
        name += dayText(parts[1]) + QLatin1Char('_') + QString(parts[2]).remove(QStringLiteral("-thumb"));
    } else {
        name += QString(fileName).remove(QStringLiteral("-thumb"));
    }
    return cleanFileName(name);
}

AlarmViewer::AlarmViewer(QImage image, QString name)
    : QMainWindow(nullptr)
{
    const QString cleaned = cleanFileName(name);
    ZQLog::log(QStringLiteral("[INFO] AlarmViewer :: load image ") + cleaned);
    buildWindow();
    m_suggestedName = cleaned;
    m_image = image;
    setImage(image, cleaned);
}

AlarmViewer::AlarmViewer(Vignette alarm)
    : QMainWindow(nullptr)
{
    QString path = alarm.file_path;
    if (path.isEmpty())
        path = alarm.file.absoluteFilePath();
    m_fullPicturePath = QString(path).remove(QStringLiteral("-thumb"));
    ZQLog::log(QStringLiteral("[INFO] AlarmViewer :: filename ") + m_fullPicturePath);
    QString fileName = alarm.file_name.isEmpty() ? QFileInfo(path).fileName() : alarm.file_name;
    ZQLog::log(QStringLiteral("[INFO] AlarmViewer :: vignette ") + fileName);
    buildWindow();
    m_suggestedName = alarmFileName(fileName, alarm.camera_name);
    setImage(readPicture(m_fullPicturePath), m_fullPicturePath);
}

AlarmViewer::~AlarmViewer() = default;

void AlarmViewer::buildWindow()
{
    setAttribute(Qt::WA_DeleteOnClose);
    // A viewer left open must not keep the program running (with the player
    // window hidden but still playing) once the operator closed the player.
    setAttribute(Qt::WA_QuitOnClose, false);

    m_imageLabel = new QLabel;
    m_imageLabel->setBackgroundRole(QPalette::Base);
    m_imageLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    m_imageLabel->setScaledContents(true);

    m_scrollArea = new QScrollArea;
    m_scrollArea->setBackgroundRole(QPalette::Dark);
    m_scrollArea->setWidget(m_imageLabel);
    m_scrollArea->setWidgetResizable(true);
    setCentralWidget(m_scrollArea);

    m_fileMenu = menuBar()->addMenu(QStringLiteral("&Fichier"));
    QAction* saveAction = m_fileMenu->addAction(QIcon(QStringLiteral(":/imgs/save36.png")), QStringLiteral("Enregistrer"));
    saveAction->setCheckable(true);
    saveAction->setToolTip(QStringLiteral("Enregistrer l'alarme"));
    connect(saveAction, &QAction::triggered, this, [this] { save(); });

    m_suggestedName.clear();
}

bool AlarmViewer::hasPicture() const
{
    return !m_imageLabel->pixmap().isNull();
}

bool AlarmViewer::setImage(const QImage& image, const QString& path)
{
    if (image.isNull()) {
        dialogs().information(this, Http_singleton::instance()->get_display_name(),
                              QStringLiteral("Cannot load %1.").arg(QDir::toNativeSeparators(path)));
        setWindowFilePath(QString());
        m_imageLabel->clear();
        return false;
    }
    m_currentPath = path;
    m_imageLabel->setPixmap(QPixmap::fromImage(image));
    m_scaleFactor = 1.0;
    setGeometry(0, 0, image.width(), image.height());
    setWindowFilePath(m_suggestedName);

    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, image.width(), image.height());
    ZQLog::log(QStringLiteral("[INFO] AlarmViewer :: width ") + QString::number(image.width()) + QStringLiteral(" > ")
               + QString::number(available.width()));
    ZQLog::log(QStringLiteral("[INFO] AlarmViewer :: height ") + QString::number(image.height())
               + QStringLiteral(" > ") + QString::number(available.height()));
    if (image.width() > available.width() || image.height() > available.height())
        resize(qRound(image.width() / 2.0), qRound(image.height() / 2.0));
    fitToWindow();
    return true;
}

void AlarmViewer::fitToWindow()
{
    m_scrollArea->setWidgetResizable(true);
    update();
}

bool AlarmViewer::save()
{
    ZQLog::log(QStringLiteral("[INFO] AlarmViewer :: register name ") + m_suggestedName);

    const QDir home = QDir::home();
    QString start = home.absolutePath() + QLatin1Char('/');
    if (QFileInfo(home.filePath(QStringLiteral("Downloads"))).isDir())
        start = home.filePath(QStringLiteral("Downloads")) + QLatin1Char('/');
    else if (QFileInfo(home.filePath(QStringLiteral("Téléchargements"))).isDir())
        start = home.filePath(QStringLiteral("Téléchargements")) + QLatin1Char('/');

    QString target = dialogs().saveFileName(nullptr, QStringLiteral("Enregistrer sous ..."),
                                            start + m_suggestedName, QStringLiteral("jpg (*.jpg)"));
    if (target.isEmpty())
        return false;
    if (QFileInfo(target).suffix().isEmpty())
        target += QStringLiteral(".jpg");

    // The dialog has already asked before replacing an existing file; the new
    // file replaces it only once it is completely written.
    bool ok = false;
    QSaveFile out(target);
    if (!m_fullPicturePath.isEmpty()) {
        QFile in(m_fullPicturePath);
        if (in.size() <= kMaxPictureBytes && in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly)) {
            const QByteArray bytes = in.readAll();
            ok = out.write(bytes) == bytes.size() && out.commit();
        }
    } else if (!m_image.isNull() && out.open(QIODevice::WriteOnly)) {
        QByteArray format = QFileInfo(target).suffix().toLower().toLatin1();
        if (!QImageWriter::supportedImageFormats().contains(format))
            format = "jpg";
        ok = m_image.save(&out, format.constData()) && out.commit();
    }

    if (ok)
        dialogs().information(this, QStringLiteral("Information"), QStringLiteral("Fichier enregistré avec succés."));
    else
        dialogs().warning(this, QStringLiteral("Attention"), QStringLiteral("Erreur lors de l'enregistrement du fichier"));
    close();
    return ok;
}
