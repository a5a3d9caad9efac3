#pragma once

#include <QString>
#include <QWidget>

class QComboBox;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableView;
class QTreeView;
class QVBoxLayout;
class ZQPlayer_TabWidget;
class ZQSlidertimeline;

// The form of the widget player window, built in code.
class Ui_ZQ_Player_presentation
{
public:
    // Style rules of the choosers' open lists, for every style sheet that
    // applies to a chooser (a closer sheet wins over these).
    static QString chooser_list_style();

    QHBoxLayout* horizontalLayout = nullptr;
    QWidget* widget_browser = nullptr;
    QVBoxLayout* verticalLayout_2 = nullptr;
    ZQPlayer_TabWidget* tabWidget = nullptr;
    QWidget* tab = nullptr;
    QHBoxLayout* horizontalLayout_3 = nullptr;
    QTreeView* tree = nullptr;
    QWidget* tab_3 = nullptr;
    QWidget* tab_2 = nullptr;
    QHBoxLayout* horizontalLayout_4 = nullptr;
    QVBoxLayout* verticalLayout_4 = nullptr;
    QComboBox* alarm_combobox = nullptr;
    QTableView* listVignettes_view = nullptr;
    QWidget* tab_tags = nullptr;
    QHBoxLayout* horizontalLayout_5 = nullptr;
    QVBoxLayout* verticalLayout_5 = nullptr;
    QComboBox* tags_comboBox = nullptr;
    QTableView* listTags_view = nullptr;
    QWidget* widget_display_info = nullptr;
    QVBoxLayout* verticalLayout = nullptr;
    QWidget* widget_canvas = nullptr;
    QGridLayout* gridLayout = nullptr;
    QGridLayout* displayLayout = nullptr;
    QWidget* widget_informations = nullptr;
    QVBoxLayout* verticalLayout_3 = nullptr;
    QWidget* widget = nullptr;
    QHBoxLayout* horizontalLayout_2 = nullptr;
    ZQSlidertimeline* slider = nullptr;
    QLabel* lbl_timestamp = nullptr;
    QHBoxLayout* camlayout = nullptr;
    QWidget* widget_4 = nullptr;
    QHBoxLayout* camidLayout = nullptr;
    QPushButton* exportbutton = nullptr;
    QPushButton* integrityButton = nullptr;
    QLabel* label = nullptr;
    QLabel* label_video_quality = nullptr;
    QComboBox* video_stream_box = nullptr;
    QWidget* widget_3 = nullptr;
    QHBoxLayout* horizontalLayout_6 = nullptr;
    QPushButton* snapshotButton = nullptr;
    QPushButton* stopButton = nullptr;
    QPushButton* backwardButton = nullptr;
    QPushButton* forwardButton = nullptr;
    QPushButton* playButton = nullptr;
    QComboBox* rateBox = nullptr;
    QProgressBar* encodeprogress = nullptr;

    void setupUi(QWidget* window);
    void retranslateUi(QWidget* window);
};
