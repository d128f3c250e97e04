// The document commands of the main frame: New, Open, Save, Save As, Close, Close All.
#pragma once

#include "editor/CDiskWatcher.h"

#include <QString>
#include <QStringList>

class CLispTabView;
class CRecentDocList;
class CRecoveryJournals;
struct CJournalHeader;
class CTalvexView;
class QUrl;
class QWidget;

// A document is one editor view on one tab page; its text and modified state live in the view's
// Scintilla control, its path in the view. This class holds no document state of its own besides
// the counter that numbers new documents. Every save first makes sure that it overwrites nothing
// that another program wrote since the document last read or wrote its file (CDiskWatcher).
class CDocumentManager
{
public:
    CDocumentManager(QWidget *frame, CLispTabView &view, CRecentDocList &recentFiles);

    // A new untitled document "Document<n>", active; null if no page could be added.
    CTalvexView *OnFileNew();
    // 1 when a page was created for path; 0 when it was open already, under this name or another
    // name of the same file (its page becomes active),
    // when nothing exists there, or when it cannot be read (interactive: a warning names it;
    // otherwise, as for the session restore at start-up, silently).
    // A path whose name Qt cannot hold (not valid UTF-8) is refused with a message, whichever way
    // it came, and so is one that stands for such a name: another file is never opened in its place.
    int OpenFile(const QString &path, bool interactive = true);
    // A file dropped on the window: as OpenFile, with the name's bytes as the drop gave them.
    int OpenDroppedFile(const QUrl &url);
    int OnFileOpen();
    int OnFileSave();
    int OnFileSaveAs();
    int OnWindowClose();
    int OnWindowCloseAll();
    // Every document against its file on disk (the main window was activated).
    void CheckDisk() { m_diskWatch.CheckAll(); }
    CDiskWatcher &DiskWatch() { return m_diskWatch; }
    // The window's close: asks about every modified document, last tab first, saving those the
    // user wants saved, and closes nothing. 1 when all may go; 0 at a Cancel or a failed save,
    // with every document still open. CloseAllPages then removes the pages without asking.
    int QueryCloseAll();
    void CloseAllPages();
    // m_strPath of every page in tab order; an untitled page gives an empty string.
    QStringList PagePaths() const;

    // The journals that keep every edit of the documents from now on (none: no journals).
    void SetRecovery(CRecoveryJournals *journals)
    {
        m_pRecovery = journals;
        m_diskWatch.SetRecovery(journals);
    }
    // A document recovered from a journal, modified: the tab of its file (opened when there is
    // none, replaced when there is) or a new untitled one. Null if no page could be added.
    CTalvexView *RestoreDocument(const CJournalHeader &header, const QByteArray &text);

    // The name after the last path separator ("/", and "\" on Windows).
    static QString FileTitle(const QString &path);
    // The dialogs' filters, in order: Lisp files, then all files.
    static QStringList FileFilters();

    int m_nNewDocCount = 0;

private:
    CTalvexView *CreateView();
    // The save prompt for the active page: 1 when it may be closed (saved, discarded or not
    // modified), 0 at Cancel or when the save the user asked for failed.
    int QuerySaveActive();
    QString AskFileName(bool save);
    // Where the file dialogs start: the active document's folder, else the folder the Lisp
    // starts in (never the last folder of another dialog, such as the Lisp's own).
    QString DialogFolder() const;
    // The checked save of view to path: 1 when written.
    int SaveViewTo(CTalvexView *view, const QString &path);
    // True (after the message) when path stands for a name that is not valid UTF-8.
    bool RefuseLossyName(const QString &path);
    void ShowNameRefusal(const QByteArray &nameBytes);
    // A view restored from a journal knows its file when the file is the one the journal began on.
    static void KnowFileOfJournal(CTalvexView &view, const CJournalHeader &header);
    // The page other than except whose file is the one at path (CSameFile), or -1.
    int FindOtherPageWithPath(const QString &path, int except) const;
    void RememberRecent(const QString &path);
    void WatchEdits(CTalvexView *view, const QString &title);
    // Removes the page after its prompt; its journal goes with it.
    void ClosePage(int index);

    QWidget *m_pFrame;
    CLispTabView &m_view;
    CRecentDocList &m_recentFiles;
    CRecoveryJournals *m_pRecovery = nullptr;
    CDiskWatcher m_diskWatch;
};
