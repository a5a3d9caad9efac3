// Qt Quick Test runner for the player's QML module: each tst_*.qml file of
// this folder runs with a recording fake of the controller and of the other
// objects the main window publishes.
#include "fake_objects.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest/quicktest.h>

Q_IMPORT_QML_PLUGIN(PlayerZqCorePlugin)

class Setup : public QObject
{
    Q_OBJECT
public slots:
    void qmlEngineAvailable(QQmlEngine* engine)
    {
        engine->addImportPath(QStringLiteral("qrc:/qml/Zqplayer/"));
        QQmlContext* ctx = engine->rootContext();
        ctx->setContextProperty(QStringLiteral("videoWidget"), new FakeVideoWidget(engine));
        ctx->setContextProperty(QStringLiteral("ZQFolderDialogController"), new FakeFolderDialog(engine));
        ctx->setContextProperty(QStringLiteral("AppInfo"), new FakeAppInfo(engine));
        ctx->setContextProperty(QStringLiteral("previewPopup"), new FakePreviewPopup(engine));
    }
};

QUICK_TEST_MAIN_WITH_SETUP(qml_player, Setup)

#include "tst_qml_player.moc"
