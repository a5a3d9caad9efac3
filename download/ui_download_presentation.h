#pragma once

class EditTableView;
class QHBoxLayout;
class QLabel;
class QTabWidget;
class QVBoxLayout;
class QWidget;

// The form of the jobs window, built in code: the running list on the left
// under its header, the finished and failed lists in two tabs on the right.
class Ui_Download_presentation
{
public:
    QHBoxLayout* horizontalLayout = nullptr;
    QWidget* widget_16 = nullptr;
    QVBoxLayout* verticalLayout_10 = nullptr;
    QWidget* widget_17 = nullptr;
    QHBoxLayout* horizontalLayout_13 = nullptr;
    QLabel* label_14 = nullptr;
    QLabel* label_current_download = nullptr;
    EditTableView* downloadsView = nullptr;
    QWidget* widget = nullptr;
    QVBoxLayout* verticalLayout = nullptr;
    QTabWidget* tabWidget = nullptr;
    QWidget* tab_success = nullptr;
    QVBoxLayout* verticalLayout_2 = nullptr;
    EditTableView* finished_downloadsView = nullptr;
    QWidget* tab_failure = nullptr;
    QVBoxLayout* verticalLayout_3 = nullptr;
    EditTableView* failure_downloadsView = nullptr;

    void setupUi(QWidget* form);
};

namespace Ui {
class Download_presentation : public Ui_Download_presentation
{
};
} // namespace Ui
