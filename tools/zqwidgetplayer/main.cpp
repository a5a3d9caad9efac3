// zqwidgetplayer [folder]
//
// Opens the widget player window for a look by hand. With a folder (a storage
// root or one of its day folders) the tree opens on it; a day folder is chosen
// as if clicked.

#include "app/zq_log.h"
#include "recordings/storage_layout.h"
#include "widgetplayer/ui_zq_player_presentation.h"
#include "widgetplayer/zq_player_presentation.h"
#include "widgetplayer/zq_video_file_system_model.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QTreeView>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZQPlayer"));
    const QStringList args = QApplication::arguments();
    if (args.size() > 2 || args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        std::fprintf(stderr, "usage: zqwidgetplayer [storage root or day folder]\n");
        return 2;
    }
    QString folder;
    if (args.size() == 2) {
        const QFileInfo info(args.at(1));
        if (!info.isDir()) {
            std::fprintf(stderr, "not a folder: %s\n", qPrintable(args.at(1)));
            return 2;
        }
        folder = StorageLayout::clean_folder_path(info.absoluteFilePath());
    }

    auto* window = new ZQ_Player_presentation(nullptr);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->resize(1600, 900);
    window->show();

    if (!folder.isEmpty()) {
        // The tree loads folders in the background: retry until the row exists.
        auto* poll = new QTimer(window);
        poll->setInterval(100);
        QObject::connect(poll, &QTimer::timeout, window, [window, folder, poll] {
            const QModelIndex index = window->tree_index_of(folder);
            if (!index.isValid())
                return;
            poll->stop();
            QTreeView* tree = window->form()->tree;
            for (QModelIndex p = index.parent(); p.isValid(); p = p.parent())
                tree->expand(p);
            tree->expand(index);
            tree->scrollTo(index);
            tree->setCurrentIndex(index);
            if (StorageLayout::is_day_folder_name(QFileInfo(folder).fileName()))
                window->tree_entered(index);
        });
        poll->start();
    }
    return app.exec();
}
