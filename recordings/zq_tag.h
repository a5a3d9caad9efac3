#pragma once

#include <QObject>
#include <QString>

// One tag (marker) of a tag file, with the place of its marker on a timeline.
class ZQTag : public QObject
{
    Q_OBJECT
public:
    ZQTag() : QObject(nullptr) {}

    QString get_id() const { return m_id; }
    QString get_datetime() const { return m_datetime; }
    QString get_cam_id() const { return m_cam_id; }
    QString get_user_id() const { return m_user_id; }
    QString get_name() const { return m_name; }
    QString get_created_at() const { return m_created_at; }
    QString get_description() const { return m_description; }
    QString get_file_encoded_at() const { return m_file_encoded_at; }
    int get_marker_x() const { return m_marker_x; }
    int get_marker_width() const { return m_marker_width; }
    bool is_empty() const { return m_empty; }

    // The text setters clear the empty flag; the marker setters leave it alone.
    void set_id(const QString& v) { m_id = v; m_empty = false; }
    void set_datetime(const QString& v) { m_datetime = v; m_empty = false; }
    void set_cam_id(const QString& v) { m_cam_id = v; m_empty = false; }
    void set_user_id(const QString& v) { m_user_id = v; m_empty = false; }
    void set_name(const QString& v) { m_name = v; m_empty = false; }
    void set_created_at(const QString& v) { m_created_at = v; m_empty = false; }
    void set_description(const QString& v) { m_description = v; m_empty = false; }
    void set_file_encoded_at(const QString& v) { m_file_encoded_at = v; m_empty = false; }
    void set_marker_x(int x) { m_marker_x = x; }
    void set_marker_width(int w) { m_marker_width = w; }

private:
    QString m_id;
    QString m_datetime;
    QString m_cam_id;
    QString m_user_id;
    QString m_name;
    QString m_created_at;
    QString m_description;
    QString m_file_encoded_at;
    int m_marker_x = 0;
    int m_marker_width = 0;
    bool m_empty = true;
};
