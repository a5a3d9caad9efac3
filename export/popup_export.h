#pragma once

#include <QDateTime>
#include <QDialog>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTime>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimeEdit;
class QToolButton;
class ExportJobHost;
#include "export/raw_export.h"
#include "export/export_format.h"
class ff_export;

// The dialog in which the operator exports a time range of one camera of one
// day: camera, begin and end, file, format (five re-encoded formats or a raw
// copy) and the date band. "Exporter" checks the range, picks the recording
// files that cover it and starts either the raw copy, whose progress and end
// it relays, or a re-encode handed to the job host (a jobs window).
class PopupExport : public QDialog
{
    Q_OBJECT
public:
    PopupExport(QList<QFileInfo> files, int cameraId, QString streamId, QStringList unused, QString dayFolder,
                QString readTime, QWidget* parent = nullptr);
    ~PopupExport() override;

    // Where re-encodes go; ExportJobHost::default_host() when never set.
    void set_job_host(ExportJobHost* host) { m_host = host; }

    bool start_export();
    void closeall();
    QString get_export_path() const { return m_exportPath; }
    // "Exporter" started a copy or handed a re-encode over.
    bool export_started() const { return m_started; }
    // A dialog made with new: closed before an export started (cancelled), it
    // deletes itself, as nothing will end it later. A started raw copy keeps
    // it to relay its progress and its end.
    void delete_when_cancelled();

    // The chosen camera's files, sorted by start time.
    void select_camera_files(int cameraId);
    const QList<QFileInfo>& camera_files() const { return m_cameraFiles; }
    // Complete base name of the camera file that holds the time ("HHmmss");
    // empty when none does.
    QString find_file_for_time(const QString& time, bool begin) const;
    static QString last_seek_timestamp(const QString& path);
    QString normalise_export_filename(const QString& text) const;
    QString default_export_filename(const QString& folder) const;
    const QHash<int, QString>& camera_table() const { return m_cameras; }
    // The worker of the last raw copy while it runs.
    RawExport* raw_worker() const { return m_raw; }
    // The storage root folder the caller opened: the parent of the day folder it gave, as it
    // named it, when that reads as a root folder and a day; empty otherwise.
    QString opened_root() const;
    // The sentence of an error code, followed by the file a raw copy failed on when it named one.
    QString error_message(int code) const;

signals:
    void valueChanged(int percent);
    void endingsignal();
    void exportstart();
    void error(int code);

public slots:
    void doExport();
    void getvalueChanged(int percent);
    void getendingsignal();
    void change_export_path();
    void startTimeChanged(QTime time);
    void updateExportFilename();
    void adjustPopupWidthToFilename();

private:
    void fill_camera_list();
    void build_layout();
    void check_times();
    int chosen_camera_id() const;
    QString folder_for_names() const;

    QList<QFileInfo> m_files;
    int m_cameraId = -1;
    QString m_streamId;
    QString m_dayFolder;
    QDateTime m_readTime;
    QComboBox* m_cameraList = nullptr;
    QLabel* m_dateLabel = nullptr;
    QTimeEdit* m_beginTime = nullptr;
    QTimeEdit* m_endTime = nullptr;
    QLineEdit* m_fileName = nullptr;
    QToolButton* m_folderButton = nullptr;
    QComboBox* m_formatList = nullptr;
    QCheckBox* m_bandCheck = nullptr;
    QComboBox* m_bandSizeList = nullptr;
    QPushButton* m_exportButton = nullptr;
    QString m_exportPath;
    QList<QFileInfo> m_cameraFiles;
    QHash<int, QString> m_cameras;
    QString m_lastFolder;
    QPointer<RawExport> m_raw;
    QString m_failedFile; // the file the last raw copy failed on
    QPointer<export_error> m_errorReporter;
    ExportJobHost* m_host = nullptr;
    bool m_started = false;
};
