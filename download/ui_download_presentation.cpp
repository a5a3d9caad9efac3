#include "download/ui_download_presentation.h"

#include "download/download_presentation.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

// The panels' own look; their other children keep theirs. Progress bars and
// buttons in a panel are red unless they carry a style of their own (the rows do).
// (A property, not the object name: a row's form has a child named "widget" too.)
void set_panel_style(QWidget* panel)
{
    panel->setProperty("zqPanel", true);
    panel->setStyleSheet(QStringLiteral(
        "QWidget[zqPanel=\"true\"] { color: #fff; font: 14px \"Public Sans\"; background: rgba(0,0,0,0.5);"
        " border: 2px solid rgba(255,255,255,0.2); border-radius: 5px; }"
        " QProgressBar::chunk { background: #B71C1C; }"
        " QPushButton { background: #B71C1C; }"
        " QPushButton:hover { background: #B73030; border: 1px solid #B72525; }"
        " QToolTip { background: white; }"));
}

} // namespace

void Ui_Download_presentation::setupUi(QWidget* form)
{
    form->setObjectName(QStringLiteral("Download_presentation"));
    form->resize(1093, 674);
    form->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    form->setWindowTitle(QStringLiteral("Form"));
    form->setStyleSheet(QStringLiteral("QWidget { background: #333333;}"));

    horizontalLayout = new QHBoxLayout(form);
    horizontalLayout->setContentsMargins(3, 3, 3, 1);
    widget_16 = new QWidget(form);
    widget_16->setObjectName(QStringLiteral("widget_16"));
    widget_16->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    set_panel_style(widget_16);
    verticalLayout_10 = new QVBoxLayout(widget_16);
    verticalLayout_10->setContentsMargins(0, 0, 0, 2);
    widget_17 = new QWidget(widget_16);
    widget_17->setObjectName(QStringLiteral("widget_17"));
    widget_17->setStyleSheet(QStringLiteral("QWidget#widget_17 { font: 500 16px; background: rgba(255,255,255,0.2);"
                                            " color: white; border-bottom: 2px solid rgba(255,255,255,0.1);"
                                            " border-radius: 5px; }"));
    horizontalLayout_13 = new QHBoxLayout(widget_17);
    label_14 = new QLabel(widget_17);
    label_14->setObjectName(QStringLiteral("label_14"));
    label_14->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    label_14->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label_14->setPixmap(QPixmap(QStringLiteral(":/imgs/download.png")).scaled(20, 20, Qt::KeepAspectRatio,
                                                                              Qt::SmoothTransformation));
    // A round white badge around the whole picture: a label's size follows its 20 x 20 picture
    // and the padding (30 x 30, hence the 15px radius), not the style's width and height.
    label_14->setStyleSheet(QStringLiteral("width: 16px; height: 16px;"
                                           " padding: 5px; background: white; border-radius: 15px; margin-right: 5px;"));
    horizontalLayout_13->addWidget(label_14);
    label_current_download = new QLabel(QStringLiteral("En cours"), widget_17);
    label_current_download->setObjectName(QStringLiteral("label_current_download"));
    label_current_download->setStyleSheet(
        QStringLiteral("background: transparent; color: white; font: 500 16px; padding: 5px; margin-right: 5px;"));
    horizontalLayout_13->addWidget(label_current_download);
    verticalLayout_10->addWidget(widget_17);
    downloadsView = new EditTableView(widget_16);
    downloadsView->setObjectName(QStringLiteral("downloadsView"));
    verticalLayout_10->addWidget(downloadsView);
    horizontalLayout->addWidget(widget_16);

    widget = new QWidget(form);
    widget->setObjectName(QStringLiteral("widget"));
    set_panel_style(widget);
    verticalLayout = new QVBoxLayout(widget);
    verticalLayout->setContentsMargins(2, 2, 2, 2);
    tabWidget = new QTabWidget(widget);
    tabWidget->setObjectName(QStringLiteral("tabWidget"));
    tabWidget->setStyleSheet(QStringLiteral(
        "QTabWidget::pane { border-top: 2px solid #C2C7CB; background: #333333; }"
        "QTabWidget::tab-bar { alignment: center; }"
        "QTabBar::tab { border: 2px solid #656565; border-top-left-radius: 4px; border-top-right-radius: 4px;"
        " min-width: 150px; min-height: 18px; padding: 5px; font: 300 13px; color: white; }"
        "QTabBar::tab:selected { background: #656565; } QTabBar::tab:hover { background: #cccccc; color: white; }"));
    tab_success = new QWidget(tabWidget);
    tab_success->setObjectName(QStringLiteral("tab_success"));
    set_panel_style(tab_success);
    verticalLayout_2 = new QVBoxLayout(tab_success);
    verticalLayout_2->setContentsMargins(0, 0, 0, 0);
    finished_downloadsView = new EditTableView(tab_success);
    finished_downloadsView->setObjectName(QStringLiteral("finished_downloadsView"));
    verticalLayout_2->addWidget(finished_downloadsView);
    tabWidget->addTab(tab_success, QStringLiteral("Réussis"));
    tab_failure = new QWidget(tabWidget);
    tab_failure->setObjectName(QStringLiteral("tab_failure"));
    set_panel_style(tab_failure);
    tab_failure->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    verticalLayout_3 = new QVBoxLayout(tab_failure);
    verticalLayout_3->setContentsMargins(0, 0, 0, 0);
    failure_downloadsView = new EditTableView(tab_failure);
    failure_downloadsView->setObjectName(QStringLiteral("failure_downloadsView"));
    verticalLayout_3->addWidget(failure_downloadsView);
    tabWidget->addTab(tab_failure, QStringLiteral("Echoués"));
    tabWidget->setCurrentIndex(0);
    verticalLayout->addWidget(tabWidget);
    horizontalLayout->addWidget(widget);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    verticalLayout_10->setObjectName(QStringLiteral("verticalLayout_10"));
    horizontalLayout_13->setObjectName(QStringLiteral("horizontalLayout_13"));
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));
    verticalLayout_3->setObjectName(QStringLiteral("verticalLayout_3"));
}
