#include "integrity/integrity_run.h"

#include "integrity/integrity_check.h"
#include "integrity/integrity_dialog.h"

#include <QDir>
#include <QFileInfo>

IntegrityRun* IntegrityRun::start(QWidget* parent, const QString& root, const QString& dayOrFolder)
{
    if (dayOrFolder.isEmpty())
        return nullptr;
    IntegrityRun* run = nullptr;
    if (QDir::isAbsolutePath(dayOrFolder)) {
        const QString folder = QDir::cleanPath(dayOrFolder);
        run = new IntegrityRun(parent, folder, folder, QFileInfo(folder).fileName());
    } else {
        if (root.isEmpty())
            return nullptr;
        run = new IntegrityRun(parent, QDir(root).filePath(dayOrFolder), root, dayOrFolder);
    }
    run->m_dialog->show();
    run->m_check->start(QThread::InheritPriority);
    return run;
}

IntegrityRun::IntegrityRun(QWidget* parent, const QString& dayFolder, const QString& folderText,
                           const QString& day)
    : m_day_folder(dayFolder)
{
    m_check = new IntegrityCheck(dayFolder);
    m_dialog = new IntegrityDialog(folderText, day, parent);
    IntegrityCheck* c = m_check;
    IntegrityDialog* d = m_dialog;
    connect(c, SIGNAL(hash_file_found(bool)), d, SLOT(is_hash_file_found(bool)));
    connect(c, SIGNAL(file_count(int)), d, SLOT(get_file_count(int)));
    connect(c, SIGNAL(file_count_check(bool)), d, SLOT(is_file_count_check(bool)));
    connect(c, SIGNAL(start_check()), d, SLOT(start_check()));
    connect(c, SIGNAL(end_check(bool)), d, SLOT(end_check(bool)));
    connect(c, SIGNAL(begin_check_file(QString)), d, SLOT(begin_check_file(QString)));
    connect(c, SIGNAL(end_check_file(QString,bool)), d, SLOT(end_check_file(QString,bool)));
    connect(d, SIGNAL(user_stopped()), c, SLOT(user_stop()));
    connect(d, &QDialog::finished, this, [this] { dispose(true); });
    // A dialog deleted with its parent window never says finished.
    connect(d, &QObject::destroyed, this, [this] { dispose(false); });
}

IntegrityDialog* IntegrityRun::dialog() const
{
    return m_dialog;
}

IntegrityRun::~IntegrityRun()
{
    if (m_dialog) {
        disconnect(m_dialog, nullptr, this, nullptr);
        delete m_dialog;
    }
    // The check's destructor asks a running thread to stop and waits for it.
    delete m_check;
}

void IntegrityRun::dispose(bool dialogAlive)
{
    if (m_done)
        return;
    m_done = true;
    // Delete-on-close takes care of a closed dialog; one ended otherwise goes here.
    if (dialogAlive && m_dialog) {
        disconnect(m_dialog, nullptr, this, nullptr);
        m_dialog->deleteLater();
    }
    m_dialog = nullptr;
    emit finished();
    if (m_check->isRunning()) {
        m_check->user_stop();
        // The object goes only once the thread has ended (queued to this thread).
        connect(m_check, &QThread::finished, this, &QObject::deleteLater);
        if (!m_check->isRunning())
            deleteLater();
    } else {
        deleteLater();
    }
}

void IntegrityRun::stop_and_wait()
{
    if (m_check->isRunning()) {
        m_check->user_stop();
        m_check->wait();
    }
    if (m_dialog && !m_done) {
        disconnect(m_dialog, nullptr, this, nullptr);
        delete m_dialog;
        m_dialog = nullptr;
    }
}
