// Noticing the documents whose files other programs change or delete, and following them.
#include "editor/CDiskWatcher.h"

#include "editor/CDocumentFile.h"
#include "editor/CLispTabView.h"
#include "editor/CRecoveryJournals.h"
#include "editor/CTalvexView.h"
#include "platform/CSameFile.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QSet>
#include <QStatusTipEvent>

namespace {

const QString kCaption = QStringLiteral("Talvex");

QString Shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

CDiskWatcher::CDiskWatcher(QWidget *frame, CLispTabView &tabs) : m_pFrame(frame), m_tabs(tabs)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, &CDiskWatcher::CheckAll);
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &CDiskWatcher::OnNotice);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &CDiskWatcher::OnNotice);
}

void CDiskWatcher::OnNotice()
{
    // Not restarted by later notices: a file that is written on and on is still looked at.
    if (!m_settle.isActive())
        m_settle.start();
}

void CDiskWatcher::WatchPages()
{
    QSet<QString> wanted;
    for (int i = 0; i < m_tabs.GetPageCount(); ++i) {
        const CTalvexView *view = m_tabs.GetPageData(i);
        if (!view || view->m_strPath.isEmpty())
            continue;
        wanted.insert(view->m_strPath);
        wanted.insert(QFileInfo(view->m_strPath).absolutePath());
    }
    QStringList gone;
    QSet<QString> watched;
    for (const QStringList &list : {m_watcher.files(), m_watcher.directories()}) {
        for (const QString &path : list) {
            if (wanted.contains(path))
                watched.insert(path);
            else
                gone.append(path);
        }
    }
    if (!gone.isEmpty())
        m_watcher.removePaths(gone);
    QStringList added;
    for (const QString &path : std::as_const(wanted)) {
        // A watch on a file that is not there cannot be set: its folder's watch stands in.
        if (!watched.contains(path) && QFileInfo::exists(path))
            added.append(path);
    }
    if (!added.isEmpty())
        m_watcher.addPaths(added);
}

void CDiskWatcher::CheckAll()
{
    // A reload under a dialog could change the text that the dialog is about.
    if (m_bAsking || QApplication::activeModalWidget()) {
        m_settle.start();
        return;
    }
    m_settle.stop();
    for (int i = 0; i < m_tabs.GetPageCount(); ++i)
        Check(m_tabs.GetPageData(i));
    // A file replaced by renaming lost its watch; it gets a new one.
    WatchPages();
}

void CDiskWatcher::Check(CTalvexView *view)
{
    if (!view || view->m_strPath.isEmpty())
        return;
    const bool modified = view->GetModify();
    CFileIdentity::Comparison now = view->Disk().Compare(view->m_strPath, !modified);
    CDiskChangeBar *bar = view->DiskBar();
    switch (now.state) {
    case CFileIdentity::State::Unchanged:
    case CFileIdentity::State::Touched:
        // Back as it was (moved away and back, or a touch): nothing to say any more.
        if (view->m_bDeletedOnDisk) {
            SetDeleted(view, false);
            view->HideDiskBar();
        }
        return;
    case CFileIdentity::State::Missing:
        if (!view->m_bDeletedOnDisk) {
            SetDeleted(view, true);
            ShowBar(view, CDiskChangeBar::Kind::Deleted);
        }
        return;
    case CFileIdentity::State::Changed:
        break;
    }
    if (view->m_bDeletedOnDisk)
        SetDeleted(view, false);
    if (!modified && now.read) {
        Reload(view, now.bytes, now.version);
        ShowStatus(QStringLiteral("%1 was reloaded: it changed on disk").arg(Shown(view->m_strPath)));
        return;
    }
    if (bar && bar->m_keptAgainst == now.version) {
        if (bar->GetKind() == CDiskChangeBar::Kind::Deleted)
            view->HideDiskBar();
        return; // the user keeps the text against this version; the save will ask
    }
    if (!view->IsDiskBarShown() || bar->GetKind() != CDiskChangeBar::Kind::Changed)
        ShowBar(view, CDiskChangeBar::Kind::Changed);
}

void CDiskWatcher::Reload(CTalvexView *view, const QByteArray &bytes, const platform::FileVersion &version)
{
    // The text becomes the file's again: the journal has nothing to keep, and goes. The reload's
    // own edits are not announced to it, which would start a journal with a snapshot of the
    // whole old text only to remove it. Undoing the reload is an edit like any other and starts
    // a new journal.
    if (m_pRecovery)
        m_pRecovery->DocumentSaved(view);
    const int mask = static_cast<int>(view->SendScintilla(QsciScintillaBase::SCI_GETMODEVENTMASK));
    view->SetModEventMask(0);
    view->ReloadText(bytes, version);
    view->SetModEventMask(mask);
    Settled(view);
}

bool CDiskWatcher::ConfirmOverwrite(CTalvexView *view, const QString &path)
{
    if (!view || path.isEmpty() || view->m_strPath.isEmpty() || !IsSameFile(path, view->m_strPath))
        return true;
    if (view->Disk().Compare(view->m_strPath, false).state != CFileIdentity::State::Changed)
        return true;
    QMessageBox box(QMessageBox::Warning, kCaption,
                    QStringLiteral("%1 has been changed on disk by another program. Overwrite it with the text in Talvex?")
                        .arg(Shown(view->m_strPath)),
                    QMessageBox::Yes | QMessageBox::No, m_pFrame);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    m_bAsking = true;
    const int answer = box.exec();
    m_bAsking = false;
    return answer == QMessageBox::Yes;
}

void CDiskWatcher::Settled(CTalvexView *view)
{
    if (!view)
        return;
    view->HideDiskBar();
    if (CDiskChangeBar *bar = view->DiskBar())
        bar->m_keptAgainst.reset();
    SetDeleted(view, false);
    WatchPages();
}

void CDiskWatcher::OnReloadClicked(CTalvexView *view)
{
    QByteArray bytes;
    QString error;
    platform::FileVersion version;
    if (!CDocumentFile::Read(view->m_strPath, bytes, error, &version)) {
        QMessageBox box(QMessageBox::Warning, kCaption,
                        QStringLiteral("Cannot reload %1").arg(Shown(view->m_strPath)), QMessageBox::Ok, m_pFrame);
        box.setInformativeText(error);
        box.exec();
        return;
    }
    Reload(view, bytes, version);
    ShowStatus(QStringLiteral("%1 was reloaded: it changed on disk").arg(Shown(view->m_strPath)));
    view->setFocus();
}

void CDiskWatcher::OnKeepClicked(CTalvexView *view)
{
    if (CDiskChangeBar *bar = view->DiskBar())
        bar->m_keptAgainst = platform::VersionOfPath(view->m_strPath);
    view->HideDiskBar();
    view->setFocus();
}

void CDiskWatcher::ShowBar(CTalvexView *view, CDiskChangeBar::Kind kind)
{
    const bool first = !view->DiskBar();
    CDiskChangeBar &bar = view->ShowDiskBar(kind);
    if (first) {
        // The bar goes with its view, and its connections with it.
        connect(&bar, &CDiskChangeBar::reloadClicked, this, [this, view] { OnReloadClicked(view); });
        connect(&bar, &CDiskChangeBar::keepClicked, this, [this, view] { OnKeepClicked(view); });
    }
}

void CDiskWatcher::SetDeleted(CTalvexView *view, bool deleted)
{
    if (view->m_bDeletedOnDisk == deleted)
        return;
    view->m_bDeletedOnDisk = deleted;
    for (int i = 0; i < m_tabs.GetPageCount(); ++i) {
        if (m_tabs.GetPageData(i) == view) {
            const QString title = m_tabs.GetPageTitle(i);
            m_tabs.SetPageToolTip(i, deleted ? QStringLiteral("%1 (deleted on disk)").arg(title) : title);
        }
    }
}

void CDiskWatcher::ShowStatus(const QString &text)
{
    QStatusTipEvent tip(text);
    QCoreApplication::sendEvent(m_pFrame, &tip);
}
