#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <QWidget>

class AppInfo;
class Canvas;
class PreviewPopup;
class QObject;
class QQmlEngine;
class QQmlError;
class QQuickWidget;
class QSplitter;
class ZQFolderDialogController;
class ZQPlayerInferfaceController;

// The player's main window: the display tile above the QML timeline panel,
// the QML side panel at the left, and the player controller that both QML
// scenes call. The controller's reader feeds the tile.
class ZQ_Player_qmlpresentation : public QWidget
{
    Q_OBJECT
public:
    explicit ZQ_Player_qmlpresentation(QWidget* parent = nullptr);
    ~ZQ_Player_qmlpresentation() override;

    // For tests and tools.
    ZQPlayerInferfaceController* controller() const { return m_controller; }
    Canvas* canvas() const { return m_canvas; }
    QQuickWidget* timelinePanel() const { return m_timeline; }
    QQuickWidget* sidePanel() const { return m_side; }
    QSplitter* splitter() const { return m_splitter; }
    PreviewPopup* previewPopup() const { return m_previewPopup; }

public slots:
    void onPanelStateChanged(bool isOpen);

private:
    QQuickWidget* createQuickWidget(const QUrl& url, const QList<QPair<QString, QObject*>>& properties);
    void onQmlWarnings(const QList<QQmlError>& warnings);
    void stopWork();

    QQmlEngine* m_engine = nullptr;
    QQuickWidget* m_timeline = nullptr;
    QQuickWidget* m_side = nullptr;
    QSplitter* m_splitter = nullptr;
    Canvas* m_canvas = nullptr;
    ZQPlayerInferfaceController* m_controller = nullptr;
    PreviewPopup* m_previewPopup = nullptr;
    AppInfo* m_appInfo = nullptr;
    ZQFolderDialogController* m_folderDialogController = nullptr;
};
