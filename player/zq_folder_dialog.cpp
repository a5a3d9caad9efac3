#include "player/zq_folder_dialog.h"

#include "platform/drives.h"
#include "recordings/storage_layout.h"

#include <QAbstractItemView>
#include <QAbstractProxyModel>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QListView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <QtDebug>

namespace {

QString cleanAbsolute(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QString urlsText(const QList<QUrl>& urls)
{
    QStringList list;
    for (const QUrl& url : urls)
        list << url.toString();
    return QLatin1Char('[') + list.join(QStringLiteral(", ")) + QLatin1Char(']');
}

} // namespace

ZQFolderDialog::ZQFolderDialog(QWidget* parent)
    : QFileDialog(parent, QString(), QString(), QString())
{
    setFileMode(QFileDialog::Directory);
    setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    setWindowTitle(QStringLiteral("Choisir un dossier"));
    setDirectory(QDir::homePath());

    qInfo().noquote() << "[ZQFolderDialog] DontUseNativeDialog="
                      << (testOption(QFileDialog::DontUseNativeDialog) ? "true" : "false");
    qInfo().noquote() << "[ZQFolderDialog] sidebar(before)=" << urlsText(sidebarUrls());
    setupSidebar();
    qInfo().noquote() << "[ZQFolderDialog] sidebar(after) =" << urlsText(sidebarUrls());

    const QString home = cleanAbsolute(QDir::homePath());
    QListView* sidebar = nullptr;
    const QList<QUrl> urls = sidebarUrls();
    for (QListView* view : findChildren<QListView*>()) {
        // Qt's own dialog names its side bar "sidebar"; other builds name it "listView".
        const QString name = view->objectName();
        if ((name != QLatin1String("listView") && name != QLatin1String("sidebar")) || !view->model())
            continue;
        QAbstractItemModel* model = view->model();
        if (model->rowCount() != urls.size())
            continue;
        for (int row = 0; row < model->rowCount(); ++row) {
            const QString path = HomeSidebarDelegate::rowPath(model->index(row, 0));
            if (!path.isEmpty() && cleanAbsolute(path).compare(home, Qt::CaseInsensitive) == 0) {
                sidebar = view;
                break;
            }
        }
        if (sidebar)
            break;
    }
    if (sidebar) {
        sidebar->setIconSize(QSize(18, 18));
        sidebar->setUniformItemSizes(true);
        sidebar->setItemDelegate(new HomeSidebarDelegate(sidebar));
    } else {
        qWarning().noquote() << "[ZQFolderDialog] Sidebar view not found for delegate";
    }

    for (QAbstractItemView* view : findChildren<QAbstractItemView*>())
        view->viewport()->installEventFilter(this);

    if (auto* box = findChild<QDialogButtonBox*>()) {
        if (QPushButton* open = box->button(QDialogButtonBox::Open)) {
            open->disconnect();
            connect(open, &QPushButton::clicked, this, &ZQFolderDialog::validateAndAccept);
        }
    }
}

ZQFolderDialog::~ZQFolderDialog() = default;

void ZQFolderDialog::setupSidebar()
{
    QList<QUrl> urls;
    for (const zq::platform::Drive& drive : zq::platform::available_drives()) {
        if (drive.path.isEmpty() || !QFileInfo(drive.path).isDir())
            continue;
        const QUrl url = QUrl::fromLocalFile(cleanAbsolute(drive.path));
        if (!urls.contains(url))
            urls << url;
    }
    const QString home = QDir::homePath();
    if (!home.isEmpty() && QFileInfo(home).isDir()) {
        const QUrl url = QUrl::fromLocalFile(cleanAbsolute(home));
        if (!urls.contains(url))
            urls << url;
    }
    setSidebarUrls(urls);
}

bool ZQFolderDialog::isStorageRootName(const QString& name)
{
    return StorageLayout::is_root_folder_name(name);
}

std::function<void(QWidget*, const QString&, const QString&)>& ZQFolderDialog::warningBox()
{
    static std::function<void(QWidget*, const QString&, const QString&)> box =
        [](QWidget* parent, const QString& title, const QString& text) {
            QMessageBox::warning(parent, title, text, QMessageBox::Ok);
        };
    return box;
}

bool ZQFolderDialog::selectionIsValid() const
{
    const QStringList files = selectedFiles();
    if (files.isEmpty())
        return false;
    const QFileInfo info(files.first());
    return info.isDir() && StorageLayout::is_root_folder_name(info.fileName());
}

void ZQFolderDialog::refuse()
{
    if (m_refusing)
        return;
    m_refusing = true;
    warningBox()(this, QStringLiteral("Dossier invalide"),
                 QStringLiteral("Seuls les dossiers d'exportation ZQCore avec un identifiant valide sont acceptés."
                                "\n\nExemple attendu : zqcore_aaaa-bbbb-cccc-dddd"));
    m_refusing = false;
}

void ZQFolderDialog::validateAndAccept()
{
    if (selectedFiles().isEmpty())
        return;
    if (!selectionIsValid()) {
        refuse();
        return;
    }
    accept();
}

void ZQFolderDialog::done(int result)
{
    // Every way out with an accepted result passes here (Open, Enter, a
    // double click): none may hand back a folder that is not a storage root.
    if (result == QDialog::Accepted && !selectionIsValid()) {
        refuse();
        return;
    }
    QFileDialog::done(result);
}

bool ZQFolderDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonDblClick) {
        auto* view = qobject_cast<QAbstractItemView*>(watched->parent());
        if (view && view->viewport() == watched) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            QModelIndex index = view->indexAt(mouse->position().toPoint());
            if (index.isValid()) {
                const QAbstractItemModel* model = index.model();
                if (auto* proxy = qobject_cast<const QAbstractProxyModel*>(model)) {
                    index = proxy->mapToSource(index);
                    model = proxy->sourceModel();
                }
                if (auto* fsModel = qobject_cast<const QFileSystemModel*>(model)) {
                    const QFileInfo info = fsModel->fileInfo(index);
                    if (info.exists() && info.isDir() && StorageLayout::is_root_folder_name(info.fileName())) {
                        selectFile(info.absoluteFilePath());
                        QTimer::singleShot(0, this, &ZQFolderDialog::validateAndAccept);
                        return true;
                    }
                }
            }
        }
    }
    return QFileDialog::eventFilter(watched, event);
}

QString ZQFolderDialog::selectFolderFromDialog(QWidget* parent)
{
    ZQFolderDialog dialog(parent);
    if (dialog.exec() == QDialog::Accepted) {
        const QStringList files = dialog.selectedFiles();
        if (!files.isEmpty())
            return files.first();
    }
    return QString();
}

HomeSidebarDelegate::HomeSidebarDelegate(QObject* parent)
    : QStyledItemDelegate(parent)
    , m_homePath(QDir::cleanPath(QDir::home().absolutePath()))
    , m_homeIcon(QApplication::style()->standardIcon(QStyle::SP_DirHomeIcon))
    , m_folderIcon(QApplication::style()->standardIcon(QStyle::SP_DirIcon))
{
}

HomeSidebarDelegate::~HomeSidebarDelegate() = default;

QString HomeSidebarDelegate::rowPath(const QModelIndex& index)
{
    QString path = index.data(Qt::UserRole).toUrl().toLocalFile();
    if (path.isEmpty())
        path = index.data(Qt::ToolTipRole).toString();
    return path;
}

void HomeSidebarDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    const QString path = rowPath(index);
    if (!path.isEmpty() && cleanAbsolute(path).compare(m_homePath, Qt::CaseInsensitive) == 0) {
        option->icon = m_homeIcon;
        option->features |= QStyleOptionViewItem::HasDecoration;
    } else if (option->icon.isNull()) {
        option->icon = m_folderIcon;
        option->features |= QStyleOptionViewItem::HasDecoration;
    }
}
