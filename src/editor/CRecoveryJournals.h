// The owner of every recovery journal of this instance, and the finder of those a crash left.
#pragma once

#include "editor/CJournalFormat.h"
#include "editor/CRecoverySyncer.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <map>
#include <memory>
#include <mutex>

class CRecoveryJournal;
class CTalvexView;

// A snapshot for the worker to write into the room its file keeps for it; a rewrite's file is
// then renamed over the journal's name, unless the journal was removed first.
struct CSnapshotTask
{
    std::shared_ptr<platform::CJournalFile> file;
    qint64 at = 0;
    QByteArray text;
    qint64 textSize = 0;
    QString renameTo;        // empty: the file has the journal's name already
    std::mutex mutex;
    bool cancelled = false;
};

// A buffer that the worker allocates and touches page by page, so that copying a large text into
// it costs the UI thread a memcpy and no page faults.
struct CSpareBuffer
{
    qint64 size = 0;
    QByteArray buffer;
};

// A journal that its owner left behind: its lock is taken, and it stays taken until the entry
// goes, so that no other instance offers it meanwhile.
struct CLeftOver
{
    QString journalPath;
    std::shared_ptr<platform::CJournalFile> file;
    CJournalContents contents;
    qint64 lastChangeMs = 0;
    bool diskChanged = false;   // the document's file differs from when the journal began
};

class CRecoveryJournals : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 kMinRewriteBytes = 4 * 1024 * 1024;
    static constexpr int kKeepDiscardedDays = 7;

    explicit CRecoveryJournals(QString folder = platform::RecoveryFolder(), QObject *parent = nullptr);
    ~CRecoveryJournals() override;

    // --- The documents of this instance --------------------------------------------------------
    // Watches the edits of view, whose tab has this title, from now on.
    void Attach(CTalvexView *view, const QString &title);
    // The document's text is safely on disk: its journal goes.
    void DocumentSaved(CTalvexView *view);
    // The document is closed after its save prompt (not modified, saved, or answered No): its
    // journal goes. It stays when KeepAllAtExit was called.
    void DocumentClosed(CTalvexView *view);
    // For an exit that nobody answered (a signal to end, a logout): every record and snapshot is
    // brought to the disk, and no journal is removed from now on, so that the next start offers
    // them all. Blocks until it is done.
    void KeepAllAtExit();
    // Every record made so far into its file (what happens before the event loop waits).
    void FlushAll();
    // The journal file of view's document; empty while it has none.
    QString JournalPath(const CTalvexView *view) const;
    // view's document has a journal whose snapshot is on the disk: from now on a crash loses
    // none of its edits.
    bool IsProtected(const CTalvexView *view) const;

    // --- What a crash left -------------------------------------------------------------------
    // The journals in the folder whose lock is free and whose owner is gone, oldest first. On the
    // way, discarded journals older than kKeepDiscardedDays are removed, and so are the unfinished
    // rewrites of dead instances.
    QList<CLeftOver> FindLeftOvers();
    // view now shows the left-over's text: it gets a journal of its own, and the left-over file is
    // removed once that journal's snapshot is on the disk.
    void Restored(CTalvexView *view, CLeftOver &&leftOver);
    // Moved to the folder's "discarded" subfolder, to be removed after kKeepDiscardedDays.
    bool Discard(CLeftOver &&leftOver);

    // --- For the journals --------------------------------------------------------------------
    const QString &Folder() const { return m_strFolder; }
    bool EnsureFolder(QString &error);
    const platform::ProcessIdentity &Identity() const { return m_identity; }
    // The stored keyword set, read at the first journal's start (the settings' key path is set
    // after this object is made) and kept, as the colouring keeps it until the next start.
    int KeywordSet();
    QString NewJournalName();
    CRecoverySyncer &Syncer() { return m_syncer; }
    void RunSnapshot(std::shared_ptr<CSnapshotTask> task);
    void PrepareSpare(std::shared_ptr<CSpareBuffer> spare);
    void RequestFlush() { m_bFlushDue = true; }
    void ReportFailure(const QString &reason);
    void ReportProtected();

signals:
    // Shown once in the status bar when a journal cannot be written; editing goes on.
    void protectionLost(const QString &message);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    CRecoveryJournal *JournalOf(const CTalvexView *view) const;
    void Detach(CTalvexView *view, bool remove);
    void PurgeDiscarded();

    QString m_strFolder;
    platform::ProcessIdentity m_identity;
    std::map<const CTalvexView *, std::unique_ptr<CRecoveryJournal>> m_journals;
    CRecoverySyncer m_syncer;
    QThreadPool m_worker;       // one thread: snapshots are written in the order they are taken
    int m_nNextName = 0;
    int m_nKeywordSet = -1;
    bool m_bFlushDue = false;
    bool m_bKeepAll = false;
    bool m_bWarned = false;
    bool m_bFolderMade = false;
};
