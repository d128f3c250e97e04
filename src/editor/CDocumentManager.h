// The document commands of the main frame: New, Open, Save, Save As, Close, Close All.
#pragma once

#include <QString>
#include <QStringList>

class CLispTabView;
class CRecentDocList;
class CRecoveryJournals;
struct CJournalHeader;
class CTalvexView;
class QWidget;

// A document is one editor view on one tab page; its text and modified state live in the view's
// Scintilla control, its path in the view. This class holds no document state of its own besides
// the counter that numbers new documents.
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
    int OpenFile(const QString &path, bool interactive = true);
    int OnFileOpen();
    int OnFileSave();
    int OnFileSaveAs();
    int OnWindowClose();
    int OnWindowCloseAll();
    // The window's close: asks about every modified document, last tab first, saving those the
    // user wants saved, and closes nothing. 1 when all may go; 0 at a Cancel or a failed save,
    // with every document still open. CloseAllPages then removes the pages without asking.
    int QueryCloseAll();
    void CloseAllPages();
    // m_strPath of every page in tab order; an untitled page gives an empty string.
    QStringList PagePaths() const;

    // The journals that keep every edit of the documents from now on (none: no journals).
    void SetRecovery(CRecoveryJournals *journals) { m_pRecovery = journals; }
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
};
