#pragma once

#include <QFileDialog>
#include <QIcon>
#include <QRegularExpression>
#include <QStyledItemDelegate>

#include <functional>

// Folder dialog that lets only a storage root ("zqcore_" and four groups of
// four hexadecimal digits) leave it; any other folder is refused with an
// explanation.
class ZQFolderDialog : public QFileDialog
{
    Q_OBJECT
public:
    explicit ZQFolderDialog(QWidget* parent = nullptr);
    ~ZQFolderDialog() override;

    // Runs a new dialog modally; the chosen storage root, or an empty text.
    Q_INVOKABLE static QString selectFolderFromDialog(QWidget* parent = nullptr);

    // Whether a folder's own name is that of a storage root (any case).
    static bool isStorageRootName(const QString& name);

    // The refusal message, replaceable by tests.
    static std::function<void(QWidget* parent, const QString& title, const QString& text)>& warningBox();

    void done(int result) override;

public slots:
    void validateAndAccept();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool selectionIsValid() const;
    void refuse();
    void setupSidebar();

    bool m_refusing = false;
};

// Look of the side bar rows: the home folder gets the home icon, rows
// without icon a plain folder icon.
class HomeSidebarDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit HomeSidebarDelegate(QObject* parent = nullptr);
    ~HomeSidebarDelegate() override;

    static QString rowPath(const QModelIndex& index);

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    QString m_homePath;
    QIcon m_homeIcon;
    QIcon m_folderIcon;
};
