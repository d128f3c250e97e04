// The recovery journal of one document: its snapshot, its edits as they happen, its rewrites.
#pragma once

#include "editor/CJournalFormat.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

class CRecoveryJournals;
class CTalvexView;
struct CSnapshotTask;
struct CSpareBuffer;

// Made when a document is opened or created; it has a file from the document's first edit on.
// Each edit (Scintilla's notice before an insertion or a deletion) becomes a record that reaches
// the file before the event loop waits again. The snapshot, which is the whole text, is written
// by the owner's worker thread; when the records outgrow their bound, a new file with a new
// snapshot replaces the old one, and until it has, every record goes into both.
class CRecoveryJournal
{
public:
    CRecoveryJournal(CRecoveryJournals &owner, CTalvexView &view, QString title);
    ~CRecoveryJournal(); // the files stay on disk: nobody has said their text may go

    // Scintilla's SC_MOD_BEFOREINSERT or SC_MOD_BEFOREDELETE notice.
    void OnBeforeEdit(int modificationType, qint64 pos, qint64 length);
    // The records made so far into the file(s); true when there was nothing to write or it was written.
    bool Flush();
    // Starts a journal with the document's text as it stands now (a restored document).
    void StartNow();
    // A file that this journal replaces (the journal of a crash, one that could not be written):
    // removed once this journal's snapshot is on the disk.
    void Retire(std::shared_ptr<platform::CJournalFile> file);
    // The document's text is safe (saved, or given up by the user): every file of it goes.
    void Remove();
    // The worker has written a snapshot (error empty) or failed.
    void SnapshotDone(const CSnapshotTask *task, const QString &error);
    // A large document gets a buffer for its next snapshot ahead of time (see TakeText).
    void PrepareSpare();
    void SpareReady(CSpareBuffer *spare);

    bool IsProtected() const { return m_file && m_bSnapshotDone; }
    QString FilePath() const { return m_strName; }
    bool HasPending() const { return !m_pending.isEmpty() || m_bInsertPending; }

private:
    bool Start(qint64 nowMs);
    void StartRewrite();
    // Reads the bytes of the insertion announced last, now that Scintilla has made it.
    void CompleteInsert();
    bool CheckLength();
    void Fail(const QString &reason);
    // A file with its header written and room for the snapshot; the worker fills the room.
    std::shared_ptr<platform::CJournalFile> CreateFile(const QString &path, const QByteArray &text, qint64 nowMs,
                                                       qint64 &recordsAt, QString &error);
    void DropFiles(bool removeThem);
    // The whole text, copied into the spare buffer when one is ready and large enough: a fresh
    // 20 MB buffer costs the UI thread thousands of page faults, which took up to 50 ms here.
    QByteArray TakeText();

    CRecoveryJournals &m_owner;
    CTalvexView &m_view;
    QString m_strTitle;
    QString m_strName;                 // the journal's own path; empty before the first file
    CJournalHeader m_header;
    std::shared_ptr<platform::CJournalFile> m_file;
    qint64 m_fileEnd = 0;              // where the next record goes
    qint64 m_recordBytes = 0;          // written after the current snapshot
    qint64 m_snapshotSize = 0;
    std::shared_ptr<platform::CJournalFile> m_next; // the rewrite under way
    qint64 m_nextEnd = 0;
    qint64 m_nextRecordBytes = 0;
    std::shared_ptr<CSnapshotTask> m_task;
    std::vector<std::shared_ptr<platform::CJournalFile>> m_retired;
    std::shared_ptr<CSpareBuffer> m_spareRequest;
    QByteArray m_spare;
    QByteArray m_pending;
    bool m_bInsertPending = false;
    qint64 m_insertPos = 0;
    qint64 m_insertLength = 0;
    qint64 m_expectedLength = -1;      // the text's length once the announced edit is made
    bool m_bOutOfStep = false;         // an edit did not come out as announced
    bool m_bSnapshotDone = false;      // the current file's snapshot is on the disk
    qint64 m_retryAfterMs = 0;         // after a failure, when a new journal may be tried
};
