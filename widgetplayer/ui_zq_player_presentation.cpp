#include "widgetplayer/ui_zq_player_presentation.h"

#include "widgetplayer/zq_player_tab_widget.h"
#include "widgetplayer/zq_slider_timeline.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QTableView>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

const char* kBrowserStyle =
    "QWidget{background-color:transparent; color:white; font-family:\"Public Sans\"; font-size:14px;}"
    "QWidget#widget_browser{background-color:rgba(0,0,0,0.5); border-radius:5px;}"
    "QPushButton{background-color:#B71C1C; color:white;} QPushButton:hover{background-color:#B73030;}"
    "QTabBar::tab{min-width:44px; min-height:44px;}";
// The open list of every chooser of the window. A list is a window of its
// own: without these rules it took the see-through background and light text
// meant for the panels, and its rows showed no readable name.
const char* kChooserListStyle =
    "QComboBox QAbstractItemView{background-color:#333333; color:white; border:1px solid #656565;"
    " selection-background-color:#656565; selection-color:white; outline:0px;}"
    "QComboBox{selection-background-color:#656565; selection-color:white;}";
const char* kButtonsStyle =
    "QPushButton{background-color:#656565; color:white; height:22px;} QPushButton:hover{background-color:#787878;}";

} // namespace

QString Ui_ZQ_Player_presentation::chooser_list_style()
{
    return QString::fromLatin1(kChooserListStyle);
}

void Ui_ZQ_Player_presentation::setupUi(QWidget* w)
{
    if (w->objectName().isEmpty())
        w->setObjectName(QStringLiteral("ZQ_Player_presentation"));
    w->resize(1258, 675);
    w->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    w->setStyleSheet(QStringLiteral("QWidget{background-color:#333333;}") + chooser_list_style());

    horizontalLayout = new QHBoxLayout(w);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));

    widget_browser = new QWidget(w);
    widget_browser->setObjectName(QStringLiteral("widget_browser"));
    widget_browser->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    widget_browser->setMinimumWidth(380);
    widget_browser->setStyleSheet(QString::fromLatin1(kBrowserStyle) + chooser_list_style());
    verticalLayout_2 = new QVBoxLayout(widget_browser);
    verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));

    tabWidget = new ZQPlayer_TabWidget(widget_browser);
    tabWidget->setObjectName(QStringLiteral("tabWidget"));
    tabWidget->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);

    tab = new QWidget();
    tab->setObjectName(QStringLiteral("tab"));
    horizontalLayout_3 = new QHBoxLayout(tab);
    horizontalLayout_3->setObjectName(QStringLiteral("horizontalLayout_3"));
    tree = new QTreeView(tab);
    tree->setObjectName(QStringLiteral("tree"));
    tree->setStyleSheet(QStringLiteral("background-color:transparent;"));
    horizontalLayout_3->addWidget(tree);
    tabWidget->addTab(tab, QString());

    tab_3 = new QWidget();
    tab_3->setObjectName(QStringLiteral("tab_3"));
    tabWidget->addTab(tab_3, QString());

    tab_2 = new QWidget();
    tab_2->setObjectName(QStringLiteral("tab_2"));
    horizontalLayout_4 = new QHBoxLayout(tab_2);
    horizontalLayout_4->setObjectName(QStringLiteral("horizontalLayout_4"));
    verticalLayout_4 = new QVBoxLayout();
    verticalLayout_4->setObjectName(QStringLiteral("verticalLayout_4"));
    alarm_combobox = new QComboBox(tab_2);
    alarm_combobox->setObjectName(QStringLiteral("alarm_combobox"));
    verticalLayout_4->addWidget(alarm_combobox);
    listVignettes_view = new QTableView(tab_2);
    listVignettes_view->setObjectName(QStringLiteral("listVignettes_view"));
    listVignettes_view->setMouseTracking(true);
    verticalLayout_4->addWidget(listVignettes_view);
    horizontalLayout_4->addLayout(verticalLayout_4);
    tabWidget->addTab(tab_2, QString());

    tab_tags = new QWidget();
    tab_tags->setObjectName(QStringLiteral("tab_tags"));
    horizontalLayout_5 = new QHBoxLayout(tab_tags);
    horizontalLayout_5->setObjectName(QStringLiteral("horizontalLayout_5"));
    verticalLayout_5 = new QVBoxLayout();
    verticalLayout_5->setObjectName(QStringLiteral("verticalLayout_5"));
    tags_comboBox = new QComboBox(tab_tags);
    tags_comboBox->setObjectName(QStringLiteral("tags_comboBox"));
    verticalLayout_5->addWidget(tags_comboBox);
    listTags_view = new QTableView(tab_tags);
    listTags_view->setObjectName(QStringLiteral("listTags_view"));
    listTags_view->setMouseTracking(true);
    verticalLayout_5->addWidget(listTags_view);
    horizontalLayout_5->addLayout(verticalLayout_5);
    tabWidget->addTab(tab_tags, QString());

    verticalLayout_2->addWidget(tabWidget);
    horizontalLayout->addWidget(widget_browser);

    widget_display_info = new QWidget(w);
    widget_display_info->setObjectName(QStringLiteral("widget_display_info"));
    widget_display_info->setStyleSheet(
        QStringLiteral("QWidget#widget_display_info{background-color:rgba(0,0,0,0.5); border-radius:5px;}"));
    verticalLayout = new QVBoxLayout(widget_display_info);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));

    widget_canvas = new QWidget(widget_display_info);
    widget_canvas->setObjectName(QStringLiteral("widget_canvas"));
    widget_canvas->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::MinimumExpanding);
    gridLayout = new QGridLayout(widget_canvas);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    displayLayout = new QGridLayout();
    displayLayout->setObjectName(QStringLiteral("displayLayout"));
    gridLayout->addLayout(displayLayout, 0, 0);
    verticalLayout->addWidget(widget_canvas);

    widget_informations = new QWidget(widget_display_info);
    widget_informations->setObjectName(QStringLiteral("widget_informations"));
    verticalLayout_3 = new QVBoxLayout(widget_informations);
    verticalLayout_3->setObjectName(QStringLiteral("verticalLayout_3"));
    verticalLayout_3->setContentsMargins(0, -1, 0, -1);

    widget = new QWidget(widget_informations);
    widget->setObjectName(QStringLiteral("widget"));
    horizontalLayout_2 = new QHBoxLayout(widget);
    horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
    horizontalLayout_2->setContentsMargins(0, 0, 0, 0);
    slider = new ZQSlidertimeline(widget);
    slider->setObjectName(QStringLiteral("slider"));
    slider->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    slider->setMouseTracking(true);
    slider->setOrientation(Qt::Horizontal);
    slider->setStyleSheet(QStringLiteral("QSlider::groove:horizontal{margin: 0 12px; height: 12px; background: #222222;}"
                                         "QSlider::handle:horizontal{width: 8px; margin: -4px 0; background: #656565;}"));
    horizontalLayout_2->addWidget(slider);
    lbl_timestamp = new QLabel(widget);
    lbl_timestamp->setObjectName(QStringLiteral("lbl_timestamp"));
    lbl_timestamp->setFixedWidth(110);
    horizontalLayout_2->addWidget(lbl_timestamp);
    verticalLayout_3->addWidget(widget);

    camlayout = new QHBoxLayout();
    camlayout->setObjectName(QStringLiteral("camlayout"));
    camlayout->setSpacing(5);
    widget_4 = new QWidget(widget_informations);
    widget_4->setObjectName(QStringLiteral("widget_4"));
    widget_4->setStyleSheet(QString::fromLatin1(kButtonsStyle));
    camidLayout = new QHBoxLayout(widget_4);
    camidLayout->setObjectName(QStringLiteral("camidLayout"));
    exportbutton = new QPushButton(widget_4);
    exportbutton->setObjectName(QStringLiteral("exportbutton"));
    camidLayout->addWidget(exportbutton);
    integrityButton = new QPushButton(widget_4);
    integrityButton->setObjectName(QStringLiteral("integrityButton"));
    camidLayout->addWidget(integrityButton);
    camlayout->addWidget(widget_4);
    camlayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    label = new QLabel(widget_informations);
    label->setObjectName(QStringLiteral("label"));
    camlayout->addWidget(label);
    label_video_quality = new QLabel(widget_informations);
    label_video_quality->setObjectName(QStringLiteral("label_video_quality"));
    camlayout->addWidget(label_video_quality);
    video_stream_box = new QComboBox(widget_informations);
    video_stream_box->setObjectName(QStringLiteral("video_stream_box"));
    camlayout->addWidget(video_stream_box);
    camlayout->addItem(new QSpacerItem(20, 20, QSizePolicy::Fixed, QSizePolicy::Minimum));
    widget_3 = new QWidget(widget_informations);
    widget_3->setObjectName(QStringLiteral("widget_3"));
    widget_3->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    widget_3->setStyleSheet(QString::fromLatin1(kButtonsStyle));
    horizontalLayout_6 = new QHBoxLayout(widget_3);
    horizontalLayout_6->setObjectName(QStringLiteral("horizontalLayout_6"));
    horizontalLayout_6->setSpacing(6);
    horizontalLayout_6->setContentsMargins(0, 0, 0, 0);
    snapshotButton = new QPushButton(widget_3);
    snapshotButton->setObjectName(QStringLiteral("snapshotButton"));
    horizontalLayout_6->addWidget(snapshotButton);
    stopButton = new QPushButton(widget_3);
    stopButton->setObjectName(QStringLiteral("stopButton"));
    horizontalLayout_6->addWidget(stopButton);
    backwardButton = new QPushButton(widget_3);
    backwardButton->setObjectName(QStringLiteral("backwardButton"));
    horizontalLayout_6->addWidget(backwardButton);
    forwardButton = new QPushButton(widget_3);
    forwardButton->setObjectName(QStringLiteral("forwardButton"));
    horizontalLayout_6->addWidget(forwardButton);
    playButton = new QPushButton(widget_3);
    playButton->setObjectName(QStringLiteral("playButton"));
    horizontalLayout_6->addWidget(playButton);
    rateBox = new QComboBox(widget_3);
    rateBox->setObjectName(QStringLiteral("rateBox"));
    horizontalLayout_6->addWidget(rateBox);
    camlayout->addWidget(widget_3);
    verticalLayout_3->addLayout(camlayout);

    encodeprogress = new QProgressBar(widget_informations);
    encodeprogress->setObjectName(QStringLiteral("encodeprogress"));
    encodeprogress->setValue(24);
    encodeprogress->setStyleSheet(QStringLiteral("QProgressBar{color:white; background-color:rgba(255,255,255,0.2);}"
                                                 "QProgressBar::chunk{background-color:#282828;}"));
    verticalLayout_3->addWidget(encodeprogress);
    verticalLayout->addWidget(widget_informations);
    horizontalLayout->addWidget(widget_display_info);

    retranslateUi(w);
    tabWidget->setCurrentIndex(2);
    QMetaObject::connectSlotsByName(w);
}

void Ui_ZQ_Player_presentation::retranslateUi(QWidget* w)
{
    w->setWindowTitle(QStringLiteral("Form"));
    for (int i = 0; i < tabWidget->count(); ++i)
        tabWidget->setTabText(i, QString());
    lbl_timestamp->setText(QStringLiteral("TextLabel"));
    exportbutton->setText(QStringLiteral("exportbutton"));
    integrityButton->setText(QStringLiteral("integrityButton"));
    label->setText(QString());
    label_video_quality->setText(QStringLiteral("Qualité vidéo"));
    snapshotButton->setToolTip(QStringLiteral("Enregistrer l'image en cours"));
    stopButton->setToolTip(QStringLiteral("Stop"));
    backwardButton->setToolTip(QStringLiteral("Frame précédente"));
    forwardButton->setToolTip(QStringLiteral("Frame suivante"));
    playButton->setToolTip(QStringLiteral("Lecture"));
}
