#pragma once

#include <QImage>
#include <QMainWindow>
#include <QString>

#include <functional>

#include "recordings/vignette.h"

class QLabel;
class QMenu;
class QScrollArea;

// Stand-alone window that shows one picture (a snapshot of the tile or an
// alarm picture) and saves it as a JPEG file. It deletes itself when closed.
class AlarmViewer : public QMainWindow
{
    Q_OBJECT
public:
    // Snapshot form: the picture and a name to offer when saving.
    AlarmViewer(QImage image, QString name);
    // Alarm form: the alarm picture (or its thumbnail) of a Vignette.
    explicit AlarmViewer(Vignette alarm);
    ~AlarmViewer() override;

    // The modal questions and messages of save(), replaceable by tests.
    struct Dialogs
    {
        std::function<QString(QWidget* parent, const QString& caption, const QString& start,
                              const QString& filter)>
            saveFileName;
        std::function<void(QWidget* parent, const QString& title, const QString& text)> information;
        std::function<void(QWidget* parent, const QString& title, const QString& text)> warning;
    };
    static Dialogs& dialogs();
    static void resetDialogs();

    // A name safe for a file: the characters \ / : * ? " < > | become "_",
    // trailing blanks and dots go, an empty result is "fichier".
    static QString cleanFileName(const QString& name);
    // The name offered for an alarm picture, from its file name and camera name.
    static QString alarmFileName(const QString& fileName, const QString& cameraName);

    QString suggestedName() const { return m_suggestedName; }
    QString fullPicturePath() const { return m_fullPicturePath; }
    QString currentPath() const { return m_currentPath; }
    bool hasPicture() const;

public slots:
    void fitToWindow();
    // Asks for a file name and saves the picture there; returns whether it was written.
    bool save();

private:
    void buildWindow();
    bool setImage(const QImage& image, const QString& path);

    QLabel* m_imageLabel = nullptr;
    QScrollArea* m_scrollArea = nullptr;
    double m_scaleFactor = 1.0;
    QString m_currentPath;
    QString m_fullPicturePath;
    QImage m_image;
    QString m_suggestedName;
    QMenu* m_fileMenu = nullptr;
};
