#include "export/popup_export.h"

#include "app/zq_log.h"
#include "export/export_dialogs.h"
#include "export/export_format.h"
#include "export/export_jobs.h"
#include "export/export_job_host.h"
#include "export/ff_export.h"
#include "export/raw_export.h"
#include "platform/theme.h"
#include "recordings/storage_layout.h"
#include "recordings/time_text.h"
#include "recordings/zq_file.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QStyle>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QTextStream>
#include <QTimeEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const QString kName = QStringLiteral("ZQPlayer Popup Export :: ");
const QString kOrganisation = QStringLiteral("ZQCore");
const QString kApplication = QStringLiteral("ZQPlayer");
const QString kLastDirKey = QStringLiteral("export/lastDir");
constexpr int kMaxCameraName = 1000;

void info(const QString& text)
{
    ZQLog::log(QStringLiteral("[INFO] ") + kName + text);
}

// "<camera>_<yyyyMMdd>_<HHmmss>": the camera id, or -1.
int camera_of(const QFileInfo& file)
{
    bool ok = false;
    const int id = file.fileName().section(QLatin1Char('_'), 0, 0).toInt(&ok);
    return ok ? id : -1;
}

// Sort key of a recording by its start: day and time from its name.
QString start_key(const QFileInfo& file)
{
    const QStringList parts = file.completeBaseName().split(QLatin1Char('_'));
    if (parts.size() < 3)
        return file.completeBaseName();
    return parts.at(parts.size() - 2) + parts.last();
}

QString style_sheet(bool light)
{
    const QString icons = QStringLiteral(":/qml/Zqplayer/resources/icons/");
    const QString w = light ? QString() : QStringLiteral("_white");
    QString s = QStringLiteral(
        "QWidget { font-family: \"Segoe UI\",\"Helvetica Neue\",sans-serif; font-size: 11pt; }"
        "QLineEdit, QComboBox, QTimeEdit { border: 1px solid %1; border-radius: 4px; padding: 4px 6px; color: %2; background: %3; }"
        "QLineEdit:focus, QComboBox:focus, QTimeEdit:focus { border: 1px solid #5e9ed6; }"
        "QTimeEdit::up-button { width: 20px; image: url(%4arrow_up%5.svg); }"
        "QTimeEdit::down-button { width: 20px; image: url(%4arrow_down%5.svg); }"
        "QCheckBox::indicator { width: 18px; height: 18px; }"
        "QCheckBox::indicator:unchecked { image: url(%4checkbox_unchecked%5.svg); }"
        "QCheckBox::indicator:checked { image: url(%4checkbox_checked%5.svg); }"
        "QPushButton { background: #5e9ed6; color: white; border: none; padding: 6px 14px; border-radius: 4px; }"
        "QPushButton:hover { background: #4b8cc7; } QPushButton:pressed { background: #417bb2; }"
        "QToolButton { border: none; background: transparent; }"
        "QComboBox QAbstractItemView { color: %6; background: %7; selection-color: white; selection-background-color: #5e9ed6; }")
                    .arg(light ? "#ccc" : "#555", light ? "black" : "white", light ? "#fff" : "#3a3a3a", icons, w,
                         light ? "black" : "white", light ? "#ffffff" : "#2b2b2b");
    s += light ? QStringLiteral("QDialog { background: #f7f7f7; } QLabel { color: #333; }")
               : QStringLiteral("QDialog { background: #2b2b2b; color: white; } QLabel { color: white; }");
    return s;
}

} // namespace

PopupExport::PopupExport(QList<QFileInfo> files, int cameraId, QString streamId, QStringList unused,
                         QString dayFolder, QString readTime, QWidget* parent)
    : QDialog(parent)
    , m_files(std::move(files))
    , m_cameraId(cameraId)
    , m_streamId(std::move(streamId))
    , m_dayFolder(std::move(dayFolder))
{
    Q_UNUSED(unused);
    info(QStringLiteral("Popup Export :: ") + readTime);
    QDate date;
    qint64 ms = 0;
    if (TimeText::parse_display_time(readTime, &date, &ms)) {
        m_readTime = QDateTime(date, QTime::fromMSecsSinceStartOfDay(int(ms)));
        info(QStringLiteral("export timestamp :: ") + readTime);
    } else {
        info(QStringLiteral("Timestamp not valid."));
        m_readTime = QDateTime::currentDateTime();
    }
    // Recordings in playing order, whatever order the caller listed them in.
    std::stable_sort(m_files.begin(), m_files.end(),
                     [](const QFileInfo& a, const QFileInfo& b) { return start_key(a) < start_key(b); });
    QSettings settings(kOrganisation, kApplication);
    m_lastFolder = settings.value(kLastDirKey).toString();
    build_layout();
}

void PopupExport::delete_when_cancelled()
{
    connect(this, &QDialog::finished, this, [this] {
        if (!m_started)
            deleteLater();
    });
}

PopupExport::~PopupExport()
{
    // A raw copy still running deletes itself when its thread finishes.
    if (m_errorReporter)
        m_errorReporter->deleteLater();
}

void PopupExport::fill_camera_list()
{
    m_cameras = ZQFile::hash_cameras_list(m_dayFolder, {});
    QSet<int> seen;
    for (const QFileInfo& f : std::as_const(m_files)) {
        const int id = camera_of(f);
        if (id < 0 || seen.contains(id))
            continue;
        seen.insert(id);
        QString name = m_cameras.value(id).left(kMaxCameraName);
        if (name.isEmpty())
            name = QStringLiteral("CAMERA ") + QString::number(id);
        m_cameraList->addItem(name, id);
    }
}

void PopupExport::build_layout()
{
    info(QStringLiteral("Set Layout"));
    info(QStringLiteral("Selected camera ") + QString::number(m_cameraId));
    const bool light = zq::platform::uses_light_theme();
    // A widget does not own the style it is given, and its children use it
    // while they are destroyed: one style for every dialog, owned by the application.
    static QPointer<QStyle> fusion;
    if (!fusion) {
        fusion = QStyleFactory::create(QStringLiteral("Fusion"));
        if (fusion)
            fusion->setParent(QCoreApplication::instance());
    }
    if (fusion)
        setStyle(fusion);
    if (!light) {
        QPalette p;
        p.setColor(QPalette::Window, QColor("#2b2b2b"));
        p.setColor(QPalette::Base, QColor("#3a3a3a"));
        p.setColor(QPalette::Text, Qt::white);
        p.setColor(QPalette::Button, QColor("#444"));
        p.setColor(QPalette::ButtonText, Qt::white);
        p.setColor(QPalette::Highlight, QColor("#5e9ed6"));
        p.setColor(QPalette::HighlightedText, Qt::white);
        setPalette(p);
    }
    setStyleSheet(style_sheet(light));

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    layout->setContentsMargins(24, 8, 24, 16);
    auto* title = new QLabel(QStringLiteral("Exportation d'une séquence vidéo"), this);
    title->setMinimumHeight(24);
    QFont tf = title->font();
    tf.setPointSize(14);
    tf.setBold(true);
    title->setFont(tf);
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);

    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight);
    form->setFormAlignment(Qt::AlignLeft | Qt::AlignTop);
    form->setHorizontalSpacing(14);
    form->setVerticalSpacing(10);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);

    m_cameraList = new QComboBox(this);
    m_cameraList->setObjectName(QStringLiteral("cameraList"));
    m_cameraList->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    fill_camera_list();
    const int selected = m_cameraList->findData(m_cameraId);
    if (selected >= 0)
        m_cameraList->setCurrentIndex(selected);
    form->addRow(QStringLiteral("Caméra"), m_cameraList);

    m_dateLabel = new QLabel(m_readTime.date().toString(QStringLiteral("yyyy-MM-dd")), this);
    m_dateLabel->setObjectName(QStringLiteral("dateLabel"));
    form->addRow(QStringLiteral("Date"), m_dateLabel);

    m_beginTime = new QTimeEdit(m_readTime.time(), this);
    m_beginTime->setObjectName(QStringLiteral("beginTime"));
    m_beginTime->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    form->addRow(QStringLiteral("Début"), m_beginTime);
    m_endTime = new QTimeEdit(m_readTime.time().addSecs(60), this);
    m_endTime->setObjectName(QStringLiteral("endTime"));
    m_endTime->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    form->addRow(QStringLiteral("Fin"), m_endTime);

    auto* fileRow = new QHBoxLayout;
    m_fileName = new QLineEdit(this);
    m_fileName->setObjectName(QStringLiteral("fileNameEdit"));
    m_fileName->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_folderButton = new QToolButton(this);
    m_folderButton->setObjectName(QStringLiteral("folderButton"));
    m_folderButton->setIcon(QIcon(light ? QStringLiteral(":/qml/Zqplayer/resources/icons/folder.svg")
                                        : QStringLiteral(":/qml/Zqplayer/resources/icons/folder_white.svg")));
    m_folderButton->setIconSize(QSize(20, 20));
    m_folderButton->setStyleSheet(QStringLiteral("background-color: transparent; border: none;"));
    m_folderButton->setToolTip(QStringLiteral("Choisir un répertoire"));
    m_folderButton->setAutoRaise(true);
    m_folderButton->setCursor(Qt::PointingHandCursor);
    fileRow->addWidget(m_fileName);
    fileRow->addWidget(m_folderButton);
    form->addRow(QStringLiteral("Nom du fichier"), fileRow);

    m_formatList = new QComboBox(this);
    m_formatList->setObjectName(QStringLiteral("formatList"));
    m_formatList->addItems({QStringLiteral("H.264 (.mp4)"), QStringLiteral("H.265 (.mp4)"),
                            QStringLiteral("MJPEG (.avi)"), QStringLiteral("VP9 (.webm)"),
                            QStringLiteral("AV1 (.mkv)"), QStringLiteral("RAW (zqcore format)")});
    form->addRow(QStringLiteral("Format vidéo"), m_formatList);

    m_bandCheck = new QCheckBox(QStringLiteral("Incruster date et heure"), this);
    m_bandCheck->setObjectName(QStringLiteral("bandCheck"));
    m_bandCheck->setChecked(true);
    form->addRow(m_bandCheck);
    m_bandSizeList = new QComboBox(this);
    m_bandSizeList->setObjectName(QStringLiteral("bandSizeList"));
    m_bandSizeList->addItems({QStringLiteral("Petit"), QStringLiteral("Moyen"), QStringLiteral("Grand"),
                              QStringLiteral("XL")});
    m_bandSizeList->setCurrentIndex(1);
    form->addRow(QStringLiteral("Taille de l'incrustation"), m_bandSizeList);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    m_exportButton = new QPushButton(QStringLiteral("Exporter"), this);
    m_exportButton->setObjectName(QStringLiteral("exportButton"));
    m_exportButton->setFixedWidth(120);
    buttonRow->addWidget(m_exportButton);
    form->addRow(QString(), buttonRow);
    layout->addLayout(form);

    connect(m_beginTime, &QTimeEdit::timeChanged, this, &PopupExport::startTimeChanged);
    connect(m_beginTime, &QTimeEdit::timeChanged, this, [this] { check_times(); });
    connect(m_endTime, &QTimeEdit::timeChanged, this, [this] { check_times(); });
    connect(m_cameraList, &QComboBox::currentTextChanged, this, &PopupExport::updateExportFilename);
    connect(m_formatList, &QComboBox::currentIndexChanged, this, &PopupExport::updateExportFilename);
    connect(m_folderButton, &QToolButton::clicked, this, &PopupExport::change_export_path);
    connect(m_exportButton, &QPushButton::clicked, this, &PopupExport::doExport);
    check_times();
    updateExportFilename();
    adjustPopupWidthToFilename();
    adjustSize();
}

void PopupExport::check_times()
{
    const QTime b = m_beginTime->time();
    const QTime e = m_endTime->time();
    m_exportButton->setEnabled(b.isValid() && e.isValid() && b < e);
}

QString PopupExport::opened_root() const
{
    // Both players open the dialog on the storage root folder they opened followed by the day,
    // named as they reached it (through a link or not).
    const QString day = StorageLayout::clean_folder_path(m_dayFolder);
    const QString root = QFileInfo(day).path();
    if (StorageLayout::is_day_folder_name(QFileInfo(day).fileName())
        && StorageLayout::is_root_folder_name(QFileInfo(root).fileName()))
        return root;
    return QString();
}

QString PopupExport::folder_for_names() const
{
    if (!m_lastFolder.isEmpty())
        return m_lastFolder;
    const QStringList docs = QStandardPaths::standardLocations(QStandardPaths::DocumentsLocation);
    if (!docs.isEmpty() && !docs.first().isEmpty())
        return docs.first();
    return QDir::homePath();
}

QString PopupExport::default_export_filename(const QString& folder) const
{
    const export_format f = find_export_format(m_formatList->currentText());
    QString camera = m_cameraList->currentText();
    camera.remove(QLatin1Char(' '));
    // A camera name is storage metadata: nothing in it may leave the folder.
    camera.replace(QLatin1Char('/'), QLatin1Char('_'));
    camera.replace(QLatin1Char('\\'), QLatin1Char('_'));
    camera = camera.left(100);
    return QStringLiteral("%1/%2_%3_%4_%5%6")
        .arg(folder, camera, m_dateLabel->text(), m_beginTime->time().toString(QStringLiteral("HHmmss")), f.tag,
             f.extension);
}

void PopupExport::updateExportFilename()
{
    m_fileName->setText(default_export_filename(folder_for_names()));
}

QString PopupExport::normalise_export_filename(const QString& text) const
{
    const export_format f = find_export_format(m_formatList->currentText());
    QFileInfo fi(text);
    // A relative name lies in the last folder the operator chose.
    if (!text.isEmpty() && fi.isRelative())
        fi = QFileInfo(QDir(folder_for_names()).filePath(text));
    const QString folder = text.isEmpty() ? QStringLiteral(".") : fi.absolutePath();
    QString base = fi.completeBaseName();
    for (const QString& tag : export_format_tags()) {
        const QString ending = QStringLiteral("_") + tag;
        if (base.endsWith(ending, Qt::CaseInsensitive)) {
            base.chop(ending.size());
            break;
        }
    }
    return folder + QStringLiteral("/") + base + QStringLiteral("_") + f.tag + f.extension;
}

void PopupExport::change_export_path()
{
    const QString chosen = ExportDialogs::instance()->save_file_name(this, QStringLiteral("Choix du chemin d'export"),
                                                                      default_export_filename(folder_for_names()));
    if (!chosen.isEmpty()) {
        const QString normalised = normalise_export_filename(chosen);
        m_fileName->setText(normalised);
        const QString folder = QFileInfo(normalised).absolutePath();
        if (!folder.isEmpty()) {
            m_lastFolder = folder;
            QSettings settings(kOrganisation, kApplication);
            settings.setValue(kLastDirKey, folder);
        }
    }
    adjustPopupWidthToFilename();
}

void PopupExport::adjustPopupWidthToFilename()
{
    const int w = qBound(420, QFontMetrics(m_fileName->font()).horizontalAdvance(m_fileName->text()) + 240, 2280);
    setMinimumWidth(w);
    resize(w, height());
}

void PopupExport::startTimeChanged(QTime)
{
    updateExportFilename();
}

void PopupExport::getvalueChanged(int percent)
{
    emit valueChanged(percent);
}

void PopupExport::getendingsignal()
{
    emit endingsignal();
}

QString PopupExport::error_message(int code) const
{
    const QString sentence = export_error::error_text(code);
    return m_failedFile.isEmpty() ? sentence : sentence + QLatin1Char('\n') + m_failedFile;
}

void PopupExport::closeall()
{
    info(QStringLiteral("closeall"));
}

void PopupExport::doExport()
{
    if (!m_errorReporter) {
        m_errorReporter = new export_error(this);
        connect(this, &PopupExport::error, m_errorReporter.data(), &export_error::error_parse);
    }
    if (!start_export())
        info(QStringLiteral("Export error "));
}

int PopupExport::chosen_camera_id() const
{
    bool ok = false;
    const int data = m_cameraList->currentData().toInt(&ok);
    if (ok && data >= 0 && m_cameraList->currentIndex() >= 0)
        return data;
    const QString text = m_cameraList->currentText();
    for (auto it = m_cameras.cbegin(); it != m_cameras.cend(); ++it) {
        if (it.value() == text)
            return it.key();
    }
    if (text.contains(QStringLiteral("CAMERA"))) {
        const int id = QString(text).remove(QStringLiteral("CAMERA ")).toInt(&ok);
        if (ok)
            return id;
    }
    return -1;
}

void PopupExport::select_camera_files(int cameraId)
{
    m_cameraFiles.clear();
    for (const QFileInfo& f : std::as_const(m_files)) {
        const int id = camera_of(f);
        if (cameraId == -1)
            cameraId = id;
        if (id == cameraId)
            m_cameraFiles << f;
    }
}

QString PopupExport::last_seek_timestamp(const QString& path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        ZQLog::log(QStringLiteral("Decoder :: Error Opening Seek File ") + path);
        return QString();
    }
    QString last;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine(4096);
        const int colon = line.indexOf(':');
        if (colon > 0)
            last = QString::fromUtf8(line.left(colon)).trimmed();
    }
    return last;
}

QString PopupExport::find_file_for_time(const QString& time, bool begin) const
{
    if (m_cameraFiles.isEmpty())
        return QString();
    const int t = time.toInt();
    auto start_of = [](const QFileInfo& f) { return f.completeBaseName().section(QLatin1Char('_'), -1).toInt(); };
    const int n = int(m_cameraFiles.size());
    for (int i = 0; i < n - 1; ++i) {
        if (t >= start_of(m_cameraFiles.at(i)) && t < start_of(m_cameraFiles.at(i + 1)))
            return m_cameraFiles.at(i).completeBaseName();
    }
    const QFileInfo& last = m_cameraFiles.last();
    QString seek = last.absoluteFilePath();
    if (seek.endsWith(QStringLiteral(".zqvideo")))
        seek = seek.left(seek.size() - 8) + QStringLiteral(".zqseek");
    QDate d;
    qint64 ms = -1;
    int end = -1;
    if (TimeText::parse_yyyymmddhhmmsszzz(last_seek_timestamp(seek), &d, &ms))
        end = QTime::fromMSecsSinceStartOfDay(int(ms)).toString(QStringLiteral("HHmmss")).toInt();
    if ((t >= start_of(last) && t < end) || !begin)
        return last.completeBaseName();
    return QString();
}

bool PopupExport::start_export()
{
    info(QStringLiteral("do export"));
    QString target = m_fileName->text().trimmed();
    if (target.isEmpty()) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("empty file name"));
        emit error(-9);
        return false;
    }
    target = normalise_export_filename(target);
    m_fileName->setText(target);

    const QTime b = m_beginTime->time();
    const QTime e = m_endTime->time();
    if (!b.isValid()) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("begin export time INVALID."));
        emit error(-1);
        return false;
    }
    if (!e.isValid()) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("end export time INVALID."));
        emit error(-2);
        return false;
    }
    if (!(b < e)) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("begin time after end time"));
        emit error(-13);
        return false;
    }
    const QString begin = b.toString(QStringLiteral("HHmmss"));
    const QString end = e.toString(QStringLiteral("HHmmss"));

    m_cameraId = chosen_camera_id();
    select_camera_files(m_cameraId);
    const QString beginFile = find_file_for_time(begin, true);
    if (beginFile.isEmpty()) {
        info(QStringLiteral("begin file empty"));
        emit error(-1);
        return false;
    }
    const QString endFile = find_file_for_time(end, false);
    if (endFile.isEmpty()) {
        info(QStringLiteral("end file empty"));
        emit error(-2);
        return false;
    }
    QList<QFileInfo> exportFiles;
    bool in = false;
    for (const QFileInfo& f : std::as_const(m_cameraFiles)) {
        if (f.completeBaseName() == beginFile)
            in = true;
        if (in)
            exportFiles << f;
        if (in && f.completeBaseName() == endFile)
            break;
    }

    info(QStringLiteral("Create Exporter"));
    const export_format format = find_export_format(m_formatList->currentText());
    const QFileInfo targetInfo(target);
    const QString canonicalTarget = QDir::cleanPath(targetInfo.absoluteFilePath());
    if (format.codec != QLatin1String("raw")) {
        if (ExportJobs::target_busy(canonicalTarget) || targetInfo.isDir()) {
            ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("target in use ") + canonicalTarget);
            emit error(-9);
            return false;
        }
        if (targetInfo.exists()
            && !ExportDialogs::instance()->question(
                this, QStringLiteral("Le fichier existe déjà. Voulez-vous le remplacer ?"), canonicalTarget))
            return false;
    }
    if (!QDir().mkpath(targetInfo.absolutePath())) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("cannot create ") + targetInfo.absolutePath());
        emit error(-9);
        return false;
    }

    if (format.codec == QLatin1String("raw")) {
        info(QStringLiteral(" raw exportation"));
        m_exportPath = targetInfo.absolutePath();
        auto* raw = new RawExport;
        m_raw = raw;
        raw->set_target(targetInfo);
        raw->set_files(exportFiles);
        raw->set_storage_root(opened_root());
        connect(raw, &RawExport::valueChanged, this, &PopupExport::getvalueChanged);
        connect(raw, &RawExport::endingsignal, this, &PopupExport::getendingsignal);
        connect(raw, &RawExport::failed_file, this, [this](const QString& path) { m_failedFile = path; });
        connect(raw, &RawExport::error, this, &PopupExport::error);
        connect(raw, &QThread::finished, raw, &QObject::deleteLater);
        m_started = true;
        // Its failures go to the caller now, not into a box of a hidden dialog.
        if (m_errorReporter)
            disconnect(this, &PopupExport::error, m_errorReporter.data(), &export_error::error_parse);
        raw->start(QThread::InheritPriority);
        close();
        return true;
    }

    m_exportPath = canonicalTarget;
    const QString sizeText = m_bandSizeList->currentText();
    QString bandSize;
    if (sizeText.contains(QStringLiteral("Petit")))
        bandSize = QStringLiteral("small");
    else if (sizeText.contains(QStringLiteral("Moyen")))
        bandSize = QStringLiteral("normal");
    else if (sizeText.contains(QStringLiteral("Grand")))
        bandSize = QStringLiteral("large");
    else if (sizeText.contains(QStringLiteral("XL")))
        bandSize = QStringLiteral("extralarge");
    auto* worker = new ff_export;
    worker->set_files(exportFiles);
    worker->set_begin(begin);
    worker->set_end(end);
    worker->set_camera_table(m_cameras);
    worker->set_stream_id(m_streamId);
    worker->init(m_exportPath, format.codec, 2048, -1, -1, m_bandCheck->isChecked(), bandSize);
    ExportJobHost* host = m_host ? m_host : ExportJobHost::default_host();
    if (!host) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("no jobs window to run the export"));
        delete worker;
        emit error(-3);
        return false;
    }
    host->host_reencode(worker, m_exportPath);
    m_started = true;
    close();
    // The job row follows the export from here on; the dialog has nothing left to relay.
    deleteLater();
    return true;
}
