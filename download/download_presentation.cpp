#include "download/download_presentation.h"

#include "app/zq_log.h"
#include "download/download_encode_item_presentation.h"
#include "download/download_item_presentation.h"
#include "download/download_multi_items_presentation.h"
#include "download/encode_item_presentation.h"
#include "download/zq_download_encode_data.h"
#include "download/presentation_interface.h"
#include "download/squeeze_label.h"
#include "export/export_dialogs.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <chrono>

namespace {

void info(const QString& text)
{
    ZQLog::log(QStringLiteral("[INFO] Download Presentation :: ") + text);
}

const char* const kProgressStyle =
    "QProgressBar {    border: 1px solid grey; border-radius: 5px; text-align: center;color:white; font: 14px;"
    "background-color: rgba(255,255,255,0.2);padding-top:3px;padding-bottom:3px;}";

constexpr int kLineHeight = 100;

void set_up_view(EditTableView* view, DownloadPresentationModel* model)
{
    view->setShowGrid(true);
    view->horizontalHeader()->hide();
    view->verticalHeader()->hide();
    view->setAlternatingRowColors(false);
    view->horizontalHeader()->setStretchLastSection(true);
    view->setModel(model);
    view->setStyleSheet(QStringLiteral("EditTableView::item {border: 0px;border-bottom: 1px solid gray;}"));
    view->verticalHeader()->setDefaultSectionSize(kLineHeight);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
}

} // namespace

DownloadPresentationModel::DownloadPresentationModel(Download_presentation* window, QString role)
    : QAbstractListModel(window)
    , m_window(window)
    , m_role(std::move(role))
{
}

QList<Presentation_Interface*>& DownloadPresentationModel::list() const
{
    if (m_role == QLatin1String("success"))
        return m_window->success_list;
    if (m_role == QLatin1String("error"))
        return m_window->failure_list;
    return m_window->running_list;
}

int DownloadPresentationModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(list().size());
}

QVariant DownloadPresentationModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::ToolTipRole || !index.isValid() || index.row() >= list().size())
        return QVariant();
    ZQLog::log("[INFO] DownloadPresentationModel::Data -- ToolTipRole");
    Presentation_Interface* row = list().at(index.row());
    if (row->downloadedSuccessfully())
        return QVariant();
    return row->downloadInfoLabel->text().toHtmlEscaped();
}

bool DownloadPresentationModel::removeRows(int row, int count, const QModelIndex& parent)
{
    if (parent.isValid() || row < 0 || count <= 0)
        return false;
    QList<Presentation_Interface*>& rows = list();
    if (m_role == QLatin1String("download"))
        ZQLog::log(QStringLiteral("[INFO] DownloadPresentationModel::removeRows -- download + ")
                   + QString::number(rows.size()));
    else if (m_role == QLatin1String("success"))
        ZQLog::log("[INFO] DownloadPresentationModel::removeRows -- success");
    for (int i = row + count - 1; i >= row; --i) {
        if (i >= rows.size())
            continue;
        Presentation_Interface* r = rows.at(i);
        if (!r->downloadedSuccessfully() && !r->tryAgainOffered())
            continue;
        beginRemoveRows(QModelIndex(), i, i);
        rows.removeAt(i);
        endRemoveRows();
        r->deleteLater();
    }
    return true;
}

EditTableView::EditTableView(QWidget* parent)
    : QTableView(parent)
{
}

void EditTableView::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) && model() && selectionModel()) {
        removeOne();
        return;
    }
    QTableView::keyPressEvent(event);
}

void EditTableView::removeOne()
{
    if (!model() || !selectionModel())
        return;
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return;
    const int row = current.row();
    model()->removeRows(row, 1);
    const int count = model()->rowCount();
    if (count == 0)
        return;
    const int next = row < count ? row : count - 1;
    selectionModel()->setCurrentIndex(model()->index(next, 0),
                                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void EditTableView::removeAll()
{
    if (model())
        model()->removeRows(0, model()->rowCount());
}

Download_presentation::Download_presentation()
    : QWidget(nullptr)
{
    m_runningModel = new DownloadPresentationModel(this, QStringLiteral("download"));
    m_successModel = new DownloadPresentationModel(this, QStringLiteral("success"));
    m_failureModel = new DownloadPresentationModel(this, QStringLiteral("error"));

    setupUi(this);

    set_up_view(downloadsView, m_runningModel);
    set_up_view(finished_downloadsView, m_successModel);
    set_up_view(failure_downloadsView, m_failureModel);
}

Download_presentation::~Download_presentation()
{
    info(QStringLiteral("destruct"));
}

int Download_presentation::running_count() const
{
    int n = 0;
    for (Presentation_Interface* r : running_list) {
        if (!r->isFinished() && r->isStarted() && !r->isStopped())
            ++n;
    }
    return n;
}

void Download_presentation::add_item(Presentation_Interface* row)
{
    info(QStringLiteral("add item"));
    connect(row, &Presentation_Interface::statusChanged, this, &Download_presentation::update, Qt::UniqueConnection);
    const bool wasEmpty = running_list.isEmpty();
    const int line = int(running_list.size());
    m_runningModel->announce_insert(line);
    running_list.append(row);
    m_runningModel->insert_done();
    if (wasEmpty)
        show();
    downloadsView->setIndexWidget(m_runningModel->index(line, 0), row);
    row->fileIcon->setPixmap(style()->standardIcon(QStyle::SP_FileIcon).pixmap(48, 48));
    downloadsView->setRowHeight(line, kLineHeight);
    row->fileNameLabel->setStyleSheet(QStringLiteral("color: white;"));
    row->downloadInfoLabel->setStyleSheet(QStringLiteral("color: white;"));
    row->downloadInfoLabel->setText(QStringLiteral("En attente..."));
    row->downloadInfoLabel->show();
    row->progressBar->setStyleSheet(QString::fromLatin1(kProgressStyle));
    emit row->statusChanged();
    downloadsView->viewport()->update();
}

void Download_presentation::remove_running(Presentation_Interface* row)
{
    const int line = int(running_list.indexOf(row));
    if (line < 0)
        return;
    m_runningModel->announce_remove(line);
    running_list.removeAt(line);
    m_runningModel->remove_done();
    row->deleteLater();
}

void Download_presentation::append_copy(Presentation_Interface* copy, bool success)
{
    QList<Presentation_Interface*>& list = success ? success_list : failure_list;
    DownloadPresentationModel* model = success ? m_successModel : m_failureModel;
    EditTableView* view = success ? finished_downloadsView : failure_downloadsView;
    const int line = int(list.size());
    model->announce_insert(line);
    list.append(copy);
    model->insert_done();
    view->setIndexWidget(model->index(line, 0), copy);
    view->setRowHeight(line, kLineHeight);
    downloadsView->viewport()->update();
    view->viewport()->update();
}

void Download_presentation::start_next(const QString& prefix, bool explicitStart)
{
    if (m_closing)
        return;
    if (explicitStart) {
        ZQLog::log(prefix + QStringLiteral("  "));
    } else if (running_count() >= 2) {
        return;
    }
    for (int i = 0; i < running_list.size(); ++i) {
        Presentation_Interface* r = running_list.at(i);
        if (!r->isFinished() && !r->isStarted()) {
            if (explicitStart)
                ZQLog::log(prefix + QStringLiteral(" ") + QString::number(i));
            else
                info(QStringLiteral("global start new download ") + QString::number(i));
            m_startNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
            r->start_downloading_item();
            return;
        }
    }
}

void Download_presentation::update()
{
    if (running_list.isEmpty()) {
        info(QStringLiteral("no download to update"));
        if (m_closing)
            finish_closing();
        return;
    }
    auto* sender_row = qobject_cast<Presentation_Interface*>(sender());
    // A row that already left the running list (its copy is made) changes nothing.
    if (sender_row && running_list.contains(sender_row)) {
        const QString type = sender_row->itemType();
        if (!type.contains(QStringLiteral("multi")) && !type.contains(QStringLiteral("encode"))) {
            if (sender_row->downloadedSuccessfully()) {
                info(QStringLiteral("item downloaded Successfully"));
                auto* copy = new DownloadItem_Presentation(this, sender_row->fileName());
                copy->downloadInfoLabel->setText(sender_row->downloadInfoLabel->text());
                // An export stopped before it wrote anything ends well but leaves no file to open.
                if (qobject_cast<EncodeItem_Presentation*>(sender_row) && !QFileInfo(sender_row->fileName()).isFile())
                    copy->setOpenButtons(false);
                remove_running(sender_row);
                append_copy(copy, true);
                ZQLog::log(QStringLiteral("[INFO] Download Presentation ::STOPPED FILE        ") + copy->fileName());
                start_next(QStringLiteral("[INFO] Download Presentation ::START NEW DOWNLOAD"), true);
            } else if (sender_row->hasError()) {
                info(QStringLiteral("item in error"));
                const QString text = sender_row->downloadInfoLabel->text();
                auto* copy = new DownloadItem_Presentation(this, sender_row->fileName());
                remove_running(sender_row);
                copy->downloadInfoLabel->setText(text);
                append_copy(copy, false);
            }
        } else if (type.contains(QStringLiteral("encode"))) {
            update_encode(sender_row);
        } else {
            update_multi(sender_row);
        }
    }
    start_next(QString(), false);
    refresh_texts();
    if (m_closing)
        finish_closing();
}

void Download_presentation::update_encode(Presentation_Interface* sender_row)
{
    auto* row = qobject_cast<DownloadEncodeItem_Presentation*>(sender_row);
    if (!row)
        return;
    if (row->downloadedSuccessfully()) {
        info(QStringLiteral("encode type :: item downloaded Successfully"));
        auto* copy = new DownloadEncodeItem_Presentation(this, row->fileName());
        copy->downloadInfoLabel->setText(row->downloadInfoLabel->text());
        copy->setItemType(QStringLiteral("encode"));
        remove_running(row);
        append_copy(copy, true);
        ZQLog::log(QStringLiteral("[INFO] Download Presentation :: encode type :: STOPPED FILE        ") + copy->fileName());
        if (ZQDownload_encode_data* job = row->take_worker()) {
            // The job has ended: deleted once its thread has (never while it runs).
            job->set_stop();
            job->quit();
            if (job->isRunning()) {
                ZQLog::log("[WARN] Download Presentation :: encode type :: failed to delete download / encode object");
                connect(job, &QThread::finished, job, &QObject::deleteLater);
            } else {
                job->deleteLater();
            }
        }
        start_next(QStringLiteral("[INFO] Download Presentation :: encode type :: START NEW DOWNLOAD"), true);
    } else if (row->hasError()) {
        info(QStringLiteral("encode type :: item in error"));
        const QString text = row->downloadInfoLabel->text();
        auto* copy = new DownloadEncodeItem_Presentation(this, row->fileName());
        connect(copy, &Presentation_Interface::statusChanged, this, &Download_presentation::update);
        connect(copy, &DownloadEncodeItem_Presentation::tryAgainFromError, this, &Download_presentation::updateFromError);
        copy->setItemType(QStringLiteral("encode"));
        copy->setError(true);
        copy->set_worker(row->take_worker());
        remove_running(row);
        copy->downloadInfoLabel->setText(text);
        append_copy(copy, false);
    }
}

void Download_presentation::update_multi(Presentation_Interface* sender_row)
{
    auto* row = qobject_cast<DownloadMultiItems_Presentation*>(sender_row);
    if (!row)
        return;
    const QString prefix = QStringLiteral("[INFO] Download Presentation :: multi type :: update :: ");
    if (!row->isStarted() && row->downloadedSuccessfully() && !row->files_downloaded().isEmpty()) {
        ZQLog::log(prefix + QStringLiteral("downloadedSuccessfully"));
        auto* copy = new DownloadMultiItems_Presentation(row->files_to_download(), row->files_downloaded(),
                                                         row->destination());
        remove_running(row);
        append_copy(copy, true);
        ZQLog::log(prefix + QStringLiteral("STOPPED FILE        ") + copy->fileName());
        start_next(prefix + QStringLiteral("START NEW DOWNLOAD"), true);
        ZQLog::log(prefix + QStringLiteral("update views "));
        ZQLog::log(prefix + QStringLiteral("downloadedSuccessfully done"));
        const qint64 now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
        ZQLog::log(prefix + QStringLiteral("files downloaded in ") + QString::number(double(now - m_startNs) / 1e9, 'g', 6)
                   + QStringLiteral(" s"));
    }
    if (!row->isStarted() && (row->hasError() || !row->files_failed().isEmpty())) {
        ZQLog::log(prefix + QStringLiteral("error detected"));
        auto* copy = new DownloadMultiItems_Presentation(row->files_failed(), {}, row->destination());
        connect(copy, &Presentation_Interface::statusChanged, this, &Download_presentation::update);
        connect(copy, &DownloadMultiItems_Presentation::tryAgainFromError, this, &Download_presentation::updateFromError);
        copy->setItemType(QStringLiteral("multi"));
        copy->setErrorFlag(true);
        if (running_list.contains(row))
            remove_running(row);
        append_copy(copy, false);
    }
    if (row->isStarted() && running_list.contains(row)) {
        const int line = int(running_list.indexOf(row));
        if (downloadsView->rowHeight(line) < 100)
            downloadsView->setRowHeight(line, 100);
    }
}

void Download_presentation::updateFromError(QString itemType)
{
    info(QStringLiteral("updateFromError"));
    if (failure_list.isEmpty()) {
        info(QStringLiteral("no download error to update"));
        return;
    }
    auto* sender_row = qobject_cast<Presentation_Interface*>(sender());
    const qsizetype line = sender_row ? failure_list.indexOf(sender_row) : -1;
    info(QStringLiteral("updateFromError :: row ") + QString::number(line));
    info(QStringLiteral("updateFromError :: error type ") + itemType);
    if (line < 0)
        return;
    Presentation_Interface* fresh = nullptr;
    if (itemType.contains(QStringLiteral("multi"))) {
        auto* row = qobject_cast<DownloadMultiItems_Presentation*>(sender_row);
        if (!row)
            return;
        fresh = new DownloadMultiItems_Presentation(row->files_to_download(), row->files_downloaded(), row->destination());
        fresh->setItemType(QStringLiteral("multi"));
    } else if (itemType.contains(QStringLiteral("encode"))) {
        auto* row = qobject_cast<DownloadEncodeItem_Presentation*>(sender_row);
        if (!row)
            return;
        auto* copy = new DownloadEncodeItem_Presentation(this, row->fileName());
        copy->setItemType(QStringLiteral("encode"));
        copy->set_worker(row->take_worker());
        fresh = copy;
    } else {
        ZQLog::log(QStringLiteral("[ERROR] Download Presentation :: update From Error :: unknown type ") + itemType);
        return;
    }
    fresh->clearFlags();
    m_failureModel->announce_remove(int(line));
    failure_list.removeAt(line);
    m_failureModel->remove_done();
    sender_row->deleteLater();
    failure_downloadsView->viewport()->update();
    add_item(fresh);
}

void Download_presentation::refresh_texts()
{
    label_current_download->setText(QStringLiteral("En cours (") + QString::number(running_list.size())
                                    + QStringLiteral(")"));
    tabWidget->setTabText(0, QStringLiteral("Réussis (") + QString::number(success_list.size()) + QStringLiteral(")"));
    tabWidget->setTabText(1, QStringLiteral("Echoués (") + QString::number(failure_list.size()) + QStringLiteral(")"));
    if (!failure_list.isEmpty() && tabWidget->tabBar()->tabTextColor(1) != QColor(Qt::red)) {
        tabWidget->tabBar()->setTabTextColor(1, Qt::red);
        // The tabs' style sheet sets their text colour, which would hide the one above.
        tabWidget->setStyleSheet(tabWidget->styleSheet() + QStringLiteral(" QTabBar::tab:last { color: red; }"));
    }
}

void Download_presentation::closeEvent(QCloseEvent* event)
{
    info(QStringLiteral("closeEvent"));
    if (m_closing) {
        event->ignore();
        return;
    }
    QList<Presentation_Interface*> active;
    for (Presentation_Interface* r : std::as_const(running_list)) {
        if (r->stopEnabled())
            active << r;
    }
    if (active.isEmpty()) {
        event->accept();
        return;
    }
    if (!ExportDialogs::instance()->question(this, QStringLiteral("Téléchargements actifs"),
                                             QStringLiteral("Souhaitez-vous annuler les téléchargements actifs ?"))) {
        event->ignore();
        return;
    }
    // The rows' workers end in their own time: the window goes away with its
    // rows only once every one of them has ended.
    event->ignore();
    m_closing = true;
    hide();
    for (Presentation_Interface* r : std::as_const(active))
        r->stop();
    finish_closing();
}

void Download_presentation::finish_closing()
{
    for (Presentation_Interface* r : std::as_const(running_list)) {
        if (r->isStarted() && !r->isFinished())
            return;
    }
    info(QStringLiteral("closed, every job has ended"));
    deleteLater();
}
