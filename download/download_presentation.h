#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QTableView>
#include <QWidget>

#include "download/ui_download_presentation.h"

class Presentation_Interface;
class Download_presentation;
class QLabel;
class QTabWidget;

// The lines of one list of the jobs window ("download": running, "success",
// "error"); each line carries its row widget as the view's index widget.
class DownloadPresentationModel : public QAbstractListModel
{
    Q_OBJECT
public:
    DownloadPresentationModel(Download_presentation* window, QString role);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    // Removes the lines whose row succeeded or offers a retry; running rows stay.
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;

    // Announcements around a change of the list.
    void announce_insert(int row) { beginInsertRows(QModelIndex(), row, row); }
    void insert_done() { endInsertRows(); }
    void announce_remove(int row) { beginRemoveRows(QModelIndex(), row, row); }
    void remove_done() { endRemoveRows(); }

private:
    QList<Presentation_Interface*>& list() const;

    Download_presentation* m_window;
    QString m_role;
};

// A list view of job rows; Delete and Backspace remove the current line.
class EditTableView : public QTableView
{
    Q_OBJECT
public:
    explicit EditTableView(QWidget* parent = nullptr);

public slots:
    void removeOne();
    void removeAll();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// The window that follows export and download jobs: rows in progress or
// waiting ("En cours"), finished ("Réussis") and failed ("Echoués"). At most
// two rows run at once; a finished or failed row is replaced by a copy in its
// list.
class Download_presentation : public QWidget, private Ui::Download_presentation
{
    Q_OBJECT
public:
    Download_presentation();
    ~Download_presentation() override;

    // The window takes the row over.
    void add_item(Presentation_Interface* row);

    QList<Presentation_Interface*> running_list;
    QList<Presentation_Interface*> success_list;
    QList<Presentation_Interface*> failure_list;

    // The parts of the form that callers look at.
    using Ui::Download_presentation::downloadsView;
    using Ui::Download_presentation::finished_downloadsView;
    using Ui::Download_presentation::failure_downloadsView;
    using Ui::Download_presentation::label_current_download;
    using Ui::Download_presentation::tabWidget;
    DownloadPresentationModel* running_model() const { return m_runningModel; }
    DownloadPresentationModel* success_model() const { return m_successModel; }
    DownloadPresentationModel* failure_model() const { return m_failureModel; }
    // Rows started and not finished.
    int running_count() const;

public slots:
    void update();
    void updateFromError(QString itemType);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void update_encode(Presentation_Interface* row);
    void update_multi(Presentation_Interface* row);
    void remove_running(Presentation_Interface* row);
    void append_copy(Presentation_Interface* copy, bool success);
    void start_next(const QString& prefix, bool explicitStart);
    void refresh_texts();
    void finish_closing();

    DownloadPresentationModel* m_runningModel = nullptr;
    DownloadPresentationModel* m_successModel = nullptr;
    DownloadPresentationModel* m_failureModel = nullptr;
    qint64 m_startNs = 0;
    bool m_closing = false;
};
