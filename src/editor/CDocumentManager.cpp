// The document commands of the main frame: New, Open, Save, Save As, Close, Close All.
#include "editor/CDocumentManager.h"

#include "editor/CDocumentFile.h"
#include "editor/CJournalFormat.h"
#include "editor/CLispTabView.h"
#include "editor/CRecoveryJournals.h"
#include "editor/CTalvexView.h"
#include "platform/CSameFile.h"
#include "platform/FileNames.h"
#include "settings/CRecentDocList.h"
#include "settings/CSettingsStore.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

#include <algorithm>

namespace {

const QString kCaption = QStringLiteral("Talvex");

// The Lisp filter shows its Windows-style pattern list; the part in the last parentheses is what
// the dialog matches (Qt separates patterns by spaces) and stays hidden.
const QString kLispFilter = QStringLiteral("Lisp Files (*.lisp;*.lsp) (*.lisp *.lsp)");
const QString kAllFilter = QStringLiteral("All Files (*)");

// The folder a Lisp starts in: the one this program was started from, or the home folder when
// that is the root, as it is for programs started from a desktop menu. The program never
// changes its own current folder, so this is also the folder it was started from.
QString LispStartFolder()
{
    const QString current = QDir::currentPath();
    return QDir(current).isRoot() ? QDir::homePath() : current;
}

} // namespace

CDocumentManager::CDocumentManager(QWidget *frame, CLispTabView &view, CRecentDocList &recentFiles)
    : m_pFrame(frame)
    , m_view(view)
    , m_recentFiles(recentFiles)
    , m_diskWatch(frame, view)
{
}

QString CDocumentManager::FileTitle(const QString &path)
{
#ifdef Q_OS_WIN
    const qsizetype pos = std::max(path.lastIndexOf(u'\\'), path.lastIndexOf(u'/'));
#else
    const qsizetype pos = path.lastIndexOf(u'/');
#endif
    return path.mid(pos + 1);
}

QStringList CDocumentManager::FileFilters()
{
    return {kLispFilter, kAllFilter};
}

CTalvexView *CDocumentManager::CreateView()
{
    auto *view = new CTalvexView(&m_view); // owned by the tab view, destroyed with its page
    view->hide();
    view->ConfigureView();
    return view;
}

CTalvexView *CDocumentManager::OnFileNew()
{
    CTalvexView *view = CreateView();
    ++m_nNewDocCount;
    const QString title = QStringLiteral("Document%1").arg(m_nNewDocCount);
    if (!m_view.AddPage(view, title, 0, view)) {
        delete view;
        return nullptr;
    }
    WatchEdits(view, title);
    return view;
}

int CDocumentManager::OpenFile(const QString &path, bool interactive)
{
    if (path.isEmpty() || RefuseLossyName(path))
        return 0;
    // A file open already, also under another name of it (a link, ".."), is only activated.
    const int open = FindOtherPageWithPath(path, -1);
    if (open >= 0) {
        m_view.SetActivePage(open);
        return 0;
    }
    if (!QFileInfo::exists(path))
        return 0;

    // The file is read before a page exists: a path that cannot be read (a folder, no
    // permission, a failing device) gets no page that a later save could write over.
    CTalvexView *view = CreateView();
    if (!view->LoadFile(path)) {
        delete view;
        if (interactive) {
            QMessageBox::warning(m_pFrame, kCaption,
                                 QStringLiteral("Cannot open %1").arg(QDir::toNativeSeparators(path)));
        }
        return 0;
    }
    ++m_nNewDocCount; // the Open counts as a New
    if (!m_view.AddPage(view, FileTitle(path), 0, view)) {
        delete view;
        return 0;
    }
    WatchEdits(view, FileTitle(path));
    m_diskWatch.WatchPages();
    RememberRecent(path);
    m_view.UpdateTitleBar();
    if (view->HoldsBinary()) {
        m_diskWatch.ShowStatus(QStringLiteral("%1 holds binary data: its line ends are kept as they are")
                                   .arg(QDir::toNativeSeparators(path)));
    }
    return 1;
}

int CDocumentManager::OpenDroppedFile(const QUrl &url)
{
    if (!url.isLocalFile())
        return 0;
    // The URL keeps the name's bytes percent-encoded; its local file string may have lost them.
    // (Wide Windows names always come as valid UTF-8.)
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (!QByteArrayView(bytes).isValidUtf8()) {
        ShowNameRefusal(bytes);
        return 0;
    }
    return OpenFile(url.toLocalFile());
}

bool CDocumentManager::RefuseLossyName(const QString &path)
{
    const std::optional<QByteArray> bytes = platform::LossyNameOnDisk(path);
    if (!bytes)
        return false;
    ShowNameRefusal(*bytes);
    return true;
}

void CDocumentManager::ShowNameRefusal(const QByteArray &nameBytes)
{
    QMessageBox::warning(m_pFrame, kCaption,
                         QStringLiteral("Cannot open %1: its name is not valid UTF-8")
                             .arg(QDir::toNativeSeparators(platform::EscapedFileName(nameBytes))));
}

QString CDocumentManager::DialogFolder() const
{
    const CTalvexView *view = m_view.GetPageData(m_view.GetActivePage());
    if (view && !view->m_strPath.isEmpty()) {
        const QFileInfo file(view->m_strPath);
        if (file.absoluteDir().exists())
            return file.absolutePath();
    }
    return LispStartFolder();
}

QString CDocumentManager::AskFileName(bool save)
{
    QWidget *owner = QApplication::activeWindow() ? QApplication::activeWindow() : m_pFrame;
    QFileDialog dlg(owner);
    dlg.setWindowTitle(save ? QStringLiteral("Save As") : QStringLiteral("Open"));
    dlg.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dlg.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dlg.setOption(QFileDialog::HideNameFilterDetails);
    dlg.setNameFilters(FileFilters());
    dlg.setDefaultSuffix(QStringLiteral("lisp"));
    // Set each time: a file dialog otherwise opens where the last one of any kind was left.
    dlg.setDirectory(DialogFolder());
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return QString();
    return dlg.selectedFiles().constFirst();
}

int CDocumentManager::OnFileOpen()
{
    const QString path = AskFileName(false);
    if (!path.isEmpty())
        OpenFile(path);
    return 1;
}

int CDocumentManager::OnFileSave()
{
    CTalvexView *view = m_view.GetPageData(m_view.GetActivePage());
    if (!view)
        return 0;
    if (view->m_strPath.isEmpty())
        return OnFileSaveAs();
    return SaveViewTo(view, view->m_strPath);
}

int CDocumentManager::SaveViewTo(CTalvexView *view, const QString &path)
{
    if (!m_diskWatch.ConfirmOverwrite(view, path) || !view->SaveFile(path))
        return 0;
    if (m_pRecovery)
        m_pRecovery->DocumentSaved(view);
    m_diskWatch.Settled(view);
    return 1;
}

int CDocumentManager::FindOtherPageWithPath(const QString &path, int except) const
{
    const CSameFile sameFile(path);
    for (int i = 0; i < m_view.GetPageCount(); ++i) {
        const CTalvexView *view = m_view.GetPageData(i);
        if (i != except && view && !view->m_strPath.isEmpty() && sameFile.Matches(view->m_strPath))
            return i;
    }
    return -1;
}

int CDocumentManager::OnFileSaveAs()
{
    const QString path = AskFileName(true);
    if (path.isEmpty() || RefuseLossyName(path))
        return 0;
    const int active = m_view.GetActivePage();
    CTalvexView *view = m_view.GetPageData(active);
    if (!view)
        return 0;
    // Two tabs on one file would overwrite each other's text: refused, nothing written.
    if (FindOtherPageWithPath(path, active) >= 0) {
        QMessageBox::warning(m_pFrame, kCaption,
                             QStringLiteral("%1 is open in another tab.\nClose it there first, or choose another name.")
                                 .arg(QDir::toNativeSeparators(path)));
        return 0;
    }
    if (!SaveViewTo(view, path))
        return 0;
    m_view.SetPageTitle(active, FileTitle(path));
    RememberRecent(path);
    return 1;
}

int CDocumentManager::OnWindowClose()
{
    const int active = m_view.GetActivePage();
    if (active < 0) {
        QApplication::beep();
        return 0;
    }
    if (!QuerySaveActive())
        return 0;
    ClosePage(m_view.GetActivePage());
    return 1;
}

int CDocumentManager::QuerySaveActive()
{
    const int active = m_view.GetActivePage();
    CTalvexView *view = active < 0 ? nullptr : m_view.GetPageData(active);
    if (!view || !view->GetModify())
        return 1;
    const auto answer = QMessageBox::warning(
        m_pFrame, kCaption, QStringLiteral("Save changes to %1 ?").arg(m_view.GetPageTitle(active)),
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
    if (answer == QMessageBox::Cancel || answer == QMessageBox::NoButton)
        return 0;
    if (answer == QMessageBox::Yes && !OnFileSave())
        return 0;
    return 1;
}

int CDocumentManager::QueryCloseAll()
{
    for (int i = m_view.GetPageCount() - 1; i >= 0; --i) {
        m_view.SetActivePage(i);
        if (!QuerySaveActive())
            return 0;
    }
    return 1;
}

void CDocumentManager::CloseAllPages()
{
    for (int i = m_view.GetPageCount() - 1; i >= 0; --i)
        ClosePage(i);
}

void CDocumentManager::ClosePage(int index)
{
    if (m_pRecovery)
        m_pRecovery->DocumentClosed(m_view.GetPageData(index));
    m_view.RemovePage(index);
    m_diskWatch.WatchPages();
}

void CDocumentManager::WatchEdits(CTalvexView *view, const QString &title)
{
    if (m_pRecovery)
        m_pRecovery->Attach(view, title);
}

void CDocumentManager::KnowFileOfJournal(CTalvexView &view, const CJournalHeader &header)
{
    // The journal began on the file as it is now: the recovered text is an edit of it, and its
    // save asks nothing. Otherwise the file is one the document never read, and the save asks.
    const QFileInfo disk(header.path);
    if (!disk.exists() || disk.size() != header.fileSize || disk.lastModified().toMSecsSinceEpoch() != header.fileMtimeMs)
        return;
    QByteArray bytes;
    QString error;
    platform::FileVersion version;
    if (CDocumentFile::Read(header.path, bytes, error, &version) && bytes.size() == header.fileSize)
        view.Disk().Set(version, bytes);
}

CTalvexView *CDocumentManager::RestoreDocument(const CJournalHeader &header, const QByteArray &text)
{
    CTalvexView *view = nullptr;
    if (header.path.isEmpty()) {
        view = OnFileNew();
    } else if (const int open = FindOtherPageWithPath(header.path, -1); open >= 0) {
        view = m_view.GetPageData(open);
        m_view.SetActivePage(open);
    } else {
        // The file may be gone or changed on disk: the recovered text is what the tab shows,
        // and nothing is written until the user saves.
        view = CreateView();
        view->m_strPath = header.path;
        KnowFileOfJournal(*view, header);
        ++m_nNewDocCount;
        if (!m_view.AddPage(view, FileTitle(header.path), 0, view)) {
            delete view;
            return nullptr;
        }
        WatchEdits(view, FileTitle(header.path));
    }
    if (!view)
        return nullptr;
    view->SetRecoveredText(text);
    m_diskWatch.WatchPages();
    m_view.UpdateTitleBar();
    return view;
}

int CDocumentManager::OnWindowCloseAll()
{
    for (int i = m_view.GetPageCount() - 1; i >= 0; --i) {
        m_view.SetActivePage(i);
        if (!OnWindowClose())
            return 0;
    }
    return 1;
}

QStringList CDocumentManager::PagePaths() const
{
    QStringList paths;
    for (int i = 0; i < m_view.GetPageCount(); ++i) {
        const CTalvexView *view = m_view.GetPageData(i);
        paths.append(view ? view->m_strPath : QString());
    }
    return paths;
}

void CDocumentManager::RememberRecent(const QString &path)
{
    m_recentFiles.AddToList(path);
    m_recentFiles.WriteToRegistry(CSettingsStore::Instance().KeyPath());
}
