#include "player/zq_player_qmlpresentation.h"

#include "app/zq_log.h"
#include "export/export_jobs.h"
#include "playback/zq_stream_read_and_control.h"
#include "player/app_info.h"
#include "player/preview_popup.h"
#include "player/zq_folder_dialog_controller.h"
#include "player/zq_player_inferface_controller.h"
#include "recordings/zq_index_manager.h"
#include "view/canvas.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlError>
#include <QQuickItem>
#include <QQuickWidget>
#include <QSplitter>
#include <QVBoxLayout>
#include <QtDebug>
#include <QtQml/qqmlextensionplugin.h>

// The QML module is linked statically.
Q_IMPORT_QML_PLUGIN(PlayerZqCorePlugin)

namespace {
const QUrl kTimelineUrl(QStringLiteral("qrc:/qml/Zqplayer/PlayerZqCore/TimelineView.qml"));
const QUrl kSidePanelUrl(QStringLiteral("qrc:/qml/Zqplayer/PlayerZqCore/SidePanel.qml"));
constexpr int kTimelineHeight = 250;
constexpr int kSideOpenWidth = 350;
constexpr int kSideFoldedWidth = 100;
// Longest wait at close for index builds to reach their next step.
constexpr int kIndexStopWaitMs = 5000;
} // namespace

ZQ_Player_qmlpresentation::ZQ_Player_qmlpresentation(QWidget* parent)
    : QWidget(parent)
{
    setStyleSheet(QStringLiteral("background-color:black"));

    m_engine = new QQmlEngine(this);
    m_engine->addImportPath(QStringLiteral("qrc:/qml/Zqplayer/"));
    // The warnings reach the log through onQmlWarnings; the engine's own print would show each twice.
    m_engine->setOutputWarningsToStandardError(false);
    connect(m_engine, &QQmlEngine::warnings, this, &ZQ_Player_qmlpresentation::onQmlWarnings);

    // The display tile shows only the frames the reader pushes to it.
    m_canvas = new Canvas(this);
    m_canvas->set_stream_start(false);
    m_canvas->set_mouse_interaction(true);
    m_canvas->set_external_source();
    m_canvas->set_fullscreen_enabled(false);
    m_canvas->set_center_image(true);

    m_controller = new ZQPlayerInferfaceController(this);
    m_previewPopup = new PreviewPopup(nullptr);
    m_appInfo = new AppInfo(this);
    m_folderDialogController = new ZQFolderDialogController(nullptr);

    m_controller->set_canvas(m_canvas);
    if (ZQStreamReadAndControl* reader = m_controller->reader())
        connect(reader, &ZQStreamReadAndControl::set_display_frame, m_canvas, &Canvas::displayFrame,
                Qt::QueuedConnection);

    QQmlContext* root = m_engine->rootContext();
    root->setContextProperty(QStringLiteral("videoController"), m_controller);
    root->setContextProperty(QStringLiteral("videoWidget"), m_controller);
    root->setContextProperty(QStringLiteral("previewPopup"), m_previewPopup);
    root->setContextProperty(QStringLiteral("ZQFolderDialogController"), m_folderDialogController);
    root->setContextProperty(QStringLiteral("AppInfo"), m_appInfo);

    m_timeline = createQuickWidget(kTimelineUrl, {{QStringLiteral("videoController"), m_controller}});
    m_timeline->setMinimumHeight(kTimelineHeight);
    m_timeline->setMaximumHeight(kTimelineHeight);

    m_side = createQuickWidget(kSidePanelUrl, {{QStringLiteral("videoController"), m_controller},
                                               {QStringLiteral("previewPopup"), m_previewPopup}});
    m_side->rootContext()->setContextProperty(QStringLiteral("mainWindow"), this);
    if (QQuickItem* sideRoot = m_side->rootObject())
        connect(sideRoot, SIGNAL(panelStateChanged(bool)), this, SLOT(onPanelStateChanged(bool)));

    auto* videoColumn = new QWidget(this);
    auto* columnLayout = new QVBoxLayout(videoColumn);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    columnLayout->setSpacing(0);
    columnLayout->addWidget(m_canvas, 1);
    columnLayout->addWidget(m_timeline, 0);

    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->addWidget(m_side);
    m_splitter->addWidget(videoColumn);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setCollapsible(0, false);
    m_splitter->setCollapsible(1, false);
    if (QSplitterHandle* handle = m_splitter->handle(1))
        handle->setEnabled(false);
    m_splitter->setSizes({kSideOpenWidth, 900});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_splitter);
}

QQuickWidget* ZQ_Player_qmlpresentation::createQuickWidget(const QUrl& url,
                                                           const QList<QPair<QString, QObject*>>& properties)
{
    auto* widget = new QQuickWidget(m_engine, this);
    widget->setResizeMode(QQuickWidget::SizeRootObjectToView);
    widget->setClearColor(Qt::transparent);
    widget->setAttribute(Qt::WA_OpaquePaintEvent, false);
    widget->setAttribute(Qt::WA_TranslucentBackground, false);
    for (const auto& property : properties)
        widget->rootContext()->setContextProperty(property.first, property.second);
    widget->setSource(url);
    if (widget->status() == QQuickWidget::Error) {
        for (const QQmlError& error : widget->errors())
            qWarning().noquote() << "[QML] Error loading" << url.toString() << ":" << error.toString();
    }
    return widget;
}

void ZQ_Player_qmlpresentation::onQmlWarnings(const QList<QQmlError>& warnings)
{
    for (const QQmlError& warning : warnings)
        qWarning().noquote() << "[QML][warning]" << warning.toString();
}

void ZQ_Player_qmlpresentation::onPanelStateChanged(bool isOpen)
{
    if (!m_side || !m_splitter)
        return;
    const int total = width() < 1 ? 1250 : width();
    const int first = isOpen ? kSideOpenWidth : kSideFoldedWidth;
    m_splitter->setSizes({first, total - first});
}

void ZQ_Player_qmlpresentation::stopWork()
{
    if (!m_controller)
        return;
    // An integrity check under way: stopped within one file read, its thread waited for.
    m_controller->stop_integrity_check();
    // Playback: no timer tick and no prefetch may outlive the window.
    if (ZQStreamReadAndControl* reader = m_controller->reader()) {
        reader->stop();
        reader->wait_for_prefetches();
    }
    // Index rebuilds: ask every build to stop and wait only until they reach
    // their next step; nothing runs the event loop here, so no end signal or
    // message box of a run is served while the window is going away. The
    // index controller's own destructor (with the player controller, below)
    // then waits for its threads, so no build outlives the engine.
    if (ZQIndexManager::running_builds() > 0) {
        ZQLog::log("[INFO] Zqplayer Presentation :: destroy :: stopping the index rebuild");
        if (!ZQIndexManager::stop_all_and_wait(kIndexStopWaitMs))
            ZQLog::log("[WARN] Zqplayer Presentation :: destroy :: the index rebuild did not stop in time");
    }
    // Exports and raw copies: stopped (a re-encode keeps what it encoded) and waited for.
    if (ExportJobs::count() > 0) {
        ZQLog::log("[INFO] Zqplayer Presentation :: destroy :: stopping the exports");
        ExportJobs::stop_all_and_wait();
    }
}

ZQ_Player_qmlpresentation::~ZQ_Player_qmlpresentation()
{
    ZQLog::log("[INFO] Zqplayer Presentation :: destroy");

    if (m_side && m_side->rootObject())
        disconnect(m_side->rootObject(), nullptr, this, nullptr);

    stopWork();

    if (m_controller && m_controller->reader() && m_canvas)
        disconnect(m_controller->reader(), &ZQStreamReadAndControl::set_display_frame, m_canvas,
                   &Canvas::displayFrame);

    // Empty the scenes before the objects their bindings use are deleted.
    if (m_timeline) {
        m_timeline->setSource(QUrl());
        delete m_timeline;
        m_timeline = nullptr;
    }
    if (m_side) {
        m_side->setSource(QUrl());
        delete m_side;
        m_side = nullptr;
    }

    if (m_controller)
        m_controller->set_canvas(nullptr);
    delete m_canvas;
    m_canvas = nullptr;

    delete m_folderDialogController;
    m_folderDialogController = nullptr;
    delete m_previewPopup;
    m_previewPopup = nullptr;
    delete m_appInfo;
    m_appInfo = nullptr;

    delete m_controller;
    m_controller = nullptr;

    delete m_engine;
    m_engine = nullptr;
}
