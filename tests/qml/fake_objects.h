#pragma once

#include <QObject>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

// Stands in for the player controller ("videoWidget") in the QML tests: it
// answers from the values a test sets and records every call with its
// arguments, in order.
class FakeVideoWidget : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList days MEMBER m_days)
    Q_PROPERTY(QString selectedDate MEMBER m_selectedDate)
    Q_PROPERTY(QString selectedCamera MEMBER m_selectedCamera)
    Q_PROPERTY(QVariantMap camerasByDate MEMBER m_camerasByDate)
    Q_PROPERTY(QVariantList timestamps MEMBER m_timestamps)
    Q_PROPERTY(QVariantList alarms MEMBER m_alarms)
    Q_PROPERTY(QVariantList tags MEMBER m_tags)
    Q_PROPERTY(QVariantList previews MEMBER m_previews)
    Q_PROPERTY(int readTimeMs MEMBER m_readTimeMs)
    Q_PROPERTY(QStringList streams MEMBER m_streams)
    Q_PROPERTY(QString thumbnailPath MEMBER m_thumbnailPath)
    Q_PROPERTY(QStringList zqcoreDirs MEMBER m_zqcoreDirs)

public:
    explicit FakeVideoWidget(QObject* parent = nullptr) : QObject(parent) {}

    // Recorded calls: one map {"name", "args"} per call.
    Q_INVOKABLE QVariantList calls() const { return m_calls; }
    Q_INVOKABLE QStringList callNames() const
    {
        QStringList names;
        for (const QVariant& c : m_calls)
            names << c.toMap().value(QStringLiteral("name")).toString();
        return names;
    }
    Q_INVOKABLE int callCount(const QString& name) const { return callNames().count(name); }
    Q_INVOKABLE QVariantList lastArgs(const QString& name) const
    {
        for (auto it = m_calls.crbegin(); it != m_calls.crend(); ++it) {
            const QVariantMap m = it->toMap();
            if (m.value(QStringLiteral("name")).toString() == name)
                return m.value(QStringLiteral("args")).toList();
        }
        return {};
    }
    Q_INVOKABLE void clearCalls() { m_calls.clear(); }
    Q_INVOKABLE void reset()
    {
        m_calls.clear();
        m_days.clear();
        m_selectedDate.clear();
        m_selectedCamera.clear();
        m_camerasByDate.clear();
        m_timestamps.clear();
        m_alarms.clear();
        m_tags.clear();
        m_previews.clear();
        m_readTimeMs = 0;
        m_streams.clear();
        m_thumbnailPath.clear();
        m_zqcoreDirs.clear();
    }

    // The controller's QML interface.
    Q_INVOKABLE QStringList get_available_days(QString root)
    {
        record("get_available_days", {root});
        m_selectedDate = m_days.isEmpty() ? QString() : m_days.last();
        return m_days;
    }
    Q_INVOKABLE QString selected_date() { record("selected_date"); return m_selectedDate; }
    Q_INVOKABLE QString selected_camera() { record("selected_camera"); return m_selectedCamera; }
    Q_INVOKABLE QStringList get_cameras_for_date(QString date)
    {
        record("get_cameras_for_date", {date});
        m_listedCameras = m_camerasByDate.value(date).toStringList();
        return m_listedCameras;
    }
    // Ids 1, 2, ... in the order of the last list.
    Q_INVOKABLE QList<int> camera_ids()
    {
        record("camera_ids");
        QList<int> ids;
        for (int i = 0; i < m_listedCameras.size(); ++i)
            ids << i + 1;
        return ids;
    }
    // Recorded with the id and the name it stands for.
    Q_INVOKABLE void set_selected_camera_id(int id)
    {
        const QString name = m_listedCameras.value(id - 1);
        record("set_selected_camera_id", {id, name});
        m_selectedCamera = name;
    }
    Q_INVOKABLE void set_selected_camera(QString camera)
    {
        record("set_selected_camera", {camera});
        m_selectedCamera = camera;
    }
    Q_INVOKABLE void set_selected_date(QString date)
    {
        record("set_selected_date", {date});
        m_selectedDate = date;
    }
    Q_INVOKABLE QList<qint64> day_timestamp_list()
    {
        record("day_timestamp_list");
        QList<qint64> out;
        for (const QVariant& v : m_timestamps)
            out << v.toLongLong();
        return out;
    }
    Q_INVOKABLE QVariantList day_alarm_list_string() { record("day_alarm_list_string"); return m_alarms; }
    Q_INVOKABLE QVariantList day_tags_list_string() { record("day_tags_list_string"); return m_tags; }
    Q_INVOKABLE QStringList day_audio_list_string() { record("day_audio_list_string"); return {}; }
    Q_INVOKABLE QVariantList day_preview_list_string() { record("day_preview_list_string"); return m_previews; }
    Q_INVOKABLE void set_zqstream_reader_read_timestamp(QString timestamp)
    {
        record("set_zqstream_reader_read_timestamp", {timestamp});
    }
    Q_INVOKABLE int get_current_read_time_is_ms() { return m_readTimeMs; }
    Q_INVOKABLE void pause_button() { record("pause_button"); }
    Q_INVOKABLE void start_button() { record("start_button"); }
    Q_INVOKABLE void snapshot_full_button() { record("snapshot_full_button"); }
    Q_INVOKABLE void snapshot_button() { record("snapshot_button"); }
    Q_INVOKABLE void previous_frame_button() { record("previous_frame_button"); }
    Q_INVOKABLE void next_frame_button() { record("next_frame_button"); }
    Q_INVOKABLE void set_playback_rate(int playback) { record("set_playback_rate", {playback}); }
    Q_INVOKABLE void check_integrity() { record("check_integrity"); }
    Q_INVOKABLE void video_export() { record("video_export"); }
    Q_INVOKABLE QString get_alarm_thumbnail_path(QString datetime)
    {
        record("get_alarm_thumbnail_path", {datetime});
        return m_thumbnailPath;
    }
    Q_INVOKABLE QStringList get_videostreams_list() { record("get_videostreams_list"); return m_streams; }
    Q_INVOKABLE void set_selected_videostream(int id) { record("set_selected_videostream", {id}); }
    Q_INVOKABLE void open_alarm_popup(QString path) { record("open_alarm_popup", {path}); }
    Q_INVOKABLE void regenerate_index() { record("regenerate_index"); }
    Q_INVOKABLE void regenerate_index_for_current_date() { record("regenerate_index_for_current_date"); }
    Q_INVOKABLE bool is_zqcore_directory(QString directory)
    {
        record("is_zqcore_directory", {directory});
        return m_zqcoreDirs.contains(directory);
    }

    // A camera switch as the controller makes it: the change is reported (dataChanged), then
    // reading starts (startRead) when a recording is found at the read time.
    Q_INVOKABLE void switchCamera(bool recordingAtReadTime)
    {
        emit dataChanged();
        if (recordingAtReadTime)
            emit startRead();
    }

signals:
    void dataChanged();
    void timeChanged();
    void startRead();
    void startIndexGeneration();
    void indexGenerated();
    void indexFailed();
    void updateStreams();
    void stopRead();
    // After each recorded call, while the call runs: a test answers as the controller would
    // within the call (for instance with stopRead).
    void calledBack(QString name);

private:
    void record(const char* name, const QVariantList& args = {})
    {
        m_calls << QVariantMap{{QStringLiteral("name"), QString::fromLatin1(name)}, {QStringLiteral("args"), args}};
        emit calledBack(QString::fromLatin1(name));
    }

    QVariantList m_calls;
    QStringList m_days;
    QString m_selectedDate;
    QString m_selectedCamera;
    QVariantMap m_camerasByDate;
    QStringList m_listedCameras;
    QVariantList m_timestamps;
    QVariantList m_alarms;
    QVariantList m_tags;
    QVariantList m_previews;
    int m_readTimeMs = 0;
    QStringList m_streams;
    QString m_thumbnailPath;
    QStringList m_zqcoreDirs;
};

// "ZQFolderDialogController": answers the next folder a test sets.
class FakeFolderDialog : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString nextFolder MEMBER m_next)
    Q_PROPERTY(int opened MEMBER m_opened)
public:
    using QObject::QObject;
    Q_INVOKABLE QString openFolderDialog() { ++m_opened; return m_next; }
private:
    QString m_next;
    int m_opened = 0;
};

// "AppInfo": the program's folders as a test sets them.
class FakeAppInfo : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString appDir MEMBER m_appDir)
    Q_PROPERTY(QString parentZQCoreDir MEMBER m_parentZQCoreDir)
public:
    using QObject::QObject;
private:
    QString m_appDir;
    QString m_parentZQCoreDir;
};

// "previewPopup": records what the timeline asks it to show.
class FakePreviewPopup : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString lastPath MEMBER m_lastPath)
    Q_PROPERTY(QString lastText MEMBER m_lastText)
    Q_PROPERTY(int shown MEMBER m_shown)
    Q_PROPERTY(int hidden MEMBER m_hidden)
public:
    using QObject::QObject;
    Q_INVOKABLE void showAtGlobal(int, int, QString path, QString text)
    {
        ++m_shown;
        m_lastPath = path;
        m_lastText = text;
    }
    Q_INVOKABLE void hidePopup() { ++m_hidden; }
private:
    QString m_lastPath;
    QString m_lastText;
    int m_shown = 0;
    int m_hidden = 0;
};
