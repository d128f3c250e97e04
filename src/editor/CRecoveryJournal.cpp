// The recovery journal of one document: its snapshot, its edits as they happen, its rewrites.
#include "editor/CRecoveryJournal.h"

#include "editor/CRecoveryJournals.h"
#include "editor/CTalvexView.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

// Records wait in memory for the event loop at most up to this size (a Replace All in a large
// document makes many), then they are written at once.
constexpr qsizetype kMaxPending = 1024 * 1024;
// After a journal could not be written, a new one is tried no sooner than this.
constexpr qint64 kRetryMs = 5000;
// Texts from this size on are copied into a buffer prepared off the UI thread.
constexpr qint64 kSpareFrom = 2 * 1024 * 1024;

qint64 NowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

void RemoveFile(const QString &path)
{
    if (!path.isEmpty())
        QFile::remove(path);
}

} // namespace

CRecoveryJournal::CRecoveryJournal(CRecoveryJournals &owner, CTalvexView &view, QString title)
    : m_owner(owner), m_view(view), m_strTitle(std::move(title))
{
}

CRecoveryJournal::~CRecoveryJournal()
{
    DropFiles(false);
}

void CRecoveryJournal::OnBeforeEdit(int modificationType, qint64 pos, qint64 length)
{
    CompleteInsert();
    if (!m_file) {
        // Edits made without undo (a file being loaded) do not modify the document.
        if (!m_view.SendScintilla(QsciScintillaBase::SCI_GETUNDOCOLLECTION) || !Start(NowMs()))
            return;
    } else if (!CheckLength()) {
        m_bOutOfStep = true;
    }
    if (m_bOutOfStep)
        return; // the next flush writes the whole text anew
    const qint64 before = m_view.GetLength();
    if (modificationType & QsciScintillaBase::SC_MOD_BEFOREINSERT) {
        // The bytes are read once Scintilla has inserted them (its notice does not pass them on).
        m_bInsertPending = true;
        m_insertPos = pos;
        m_insertLength = length;
        m_expectedLength = before + length;
    } else {
        CJournalFormat::AppendEdit(m_pending, pos, length, nullptr, 0);
        m_expectedLength = before - length;
    }
    m_owner.RequestFlush();
    if (m_pending.size() > kMaxPending)
        Flush();
}

bool CRecoveryJournal::CheckLength()
{
    return m_expectedLength < 0 || m_view.GetLength() == m_expectedLength;
}

void CRecoveryJournal::CompleteInsert()
{
    if (!m_bInsertPending)
        return;
    m_bInsertPending = false;
    if (!CheckLength()) {
        m_bOutOfStep = true; // the insertion did not happen as announced (out of memory, say)
        return;
    }
    const QByteArray text = m_view.GetTextRange(m_insertPos, m_insertPos + m_insertLength);
    CJournalFormat::AppendEdit(m_pending, m_insertPos, 0, text.constData(), text.size());
}

bool CRecoveryJournal::Flush()
{
    CompleteInsert();
    if (!m_file)
        return true;
    if (m_bOutOfStep) {
        // The records no longer describe the text: a new snapshot does.
        m_bOutOfStep = false;
        m_pending.clear();
        m_expectedLength = -1;
        if (!m_next && !m_task)
            StartRewrite();
        return true;
    }
    if (m_pending.isEmpty())
        return true;
    QString error;
    if (!m_file->WriteAt(m_fileEnd, m_pending.constData(), m_pending.size(), error)
        || (m_next && !m_next->WriteAt(m_nextEnd, m_pending.constData(), m_pending.size(), error))) {
        Fail(error);
        return false;
    }
    m_fileEnd += m_pending.size();
    m_recordBytes += m_pending.size();
    m_owner.Syncer().MarkDirty(m_file);
    if (m_next) {
        m_nextEnd += m_pending.size();
        m_nextRecordBytes += m_pending.size();
        m_owner.Syncer().MarkDirty(m_next);
    }
    m_pending.clear();
    // The time a recovery takes stays in proportion to the text.
    const qint64 bound = std::max(CRecoveryJournals::kMinRewriteBytes, 2 * m_snapshotSize);
    if (!m_next && !m_task && m_recordBytes > bound / 2)
        PrepareSpare();
    if (!m_next && !m_task && m_recordBytes > bound && (m_spareRequest == nullptr || !m_spare.isNull()))
        StartRewrite();
    return true;
}

std::shared_ptr<platform::CJournalFile> CRecoveryJournal::CreateFile(const QString &path, const QByteArray &text,
                                                                     qint64 nowMs, qint64 &recordsAt, QString &error)
{
    CJournalHeader header = m_header;
    header.snapshotMs = nowMs;
    header.eolMode = m_view.GetEOLMode();
    const QByteArray head = CJournalFormat::EncodeHeader(header);
    std::shared_ptr<platform::CJournalFile> file = platform::CJournalFile::Create(path, error);
    if (!file)
        return nullptr;
    if (!file->WriteAt(0, head.constData(), head.size(), error)) {
        file.reset();
        RemoveFile(path);
        return nullptr;
    }
    recordsAt = head.size() + CJournalFormat::SnapshotSize(text.size());
    return file;
}

bool CRecoveryJournal::Start(qint64 nowMs)
{
    if (nowMs < m_retryAfterMs)
        return false;
    QString error;
    if (!m_owner.EnsureFolder(error)) {
        Fail(error);
        return false;
    }
    m_header = CJournalHeader();
    m_header.path = m_view.m_strPath;
    m_header.title = m_strTitle;
    m_header.keywordSet = m_owner.KeywordSet();
    m_header.owner = m_owner.Identity();
    m_header.createdMs = nowMs;
    if (!m_header.path.isEmpty()) {
        const QFileInfo disk(m_header.path);
        if (disk.exists()) {
            m_header.fileSize = disk.size();
            m_header.fileMtimeMs = disk.lastModified().toMSecsSinceEpoch();
        }
    }
    // The text before the edit that starts the journal; that edit is its first record.
    QByteArray text = TakeText();
    const QString name = m_owner.NewJournalName();
    qint64 recordsAt = 0;
    std::shared_ptr<platform::CJournalFile> file = CreateFile(name, text, nowMs, recordsAt, error);
    if (!file) {
        Fail(error);
        return false;
    }
    m_file = file;
    m_strName = name;
    m_fileEnd = recordsAt;
    m_recordBytes = 0;
    m_snapshotSize = text.size();
    m_expectedLength = -1;
    m_bOutOfStep = false;
    auto task = std::make_shared<CSnapshotTask>();
    task->file = std::move(file);
    task->at = recordsAt - CJournalFormat::SnapshotSize(text.size());
    task->text = std::move(text);
    m_task = task;
    m_owner.RunSnapshot(std::move(task));
    return true;
}

void CRecoveryJournal::StartNow()
{
    CompleteInsert();
    m_pending.clear();
    m_retryAfterMs = 0;
    Start(NowMs());
}

void CRecoveryJournal::StartRewrite()
{
    QString error;
    QByteArray text = TakeText();
    const QString path = m_strName + QStringLiteral(".new");
    qint64 recordsAt = 0;
    const qint64 nowMs = NowMs();
    std::shared_ptr<platform::CJournalFile> file = CreateFile(path, text, nowMs, recordsAt, error);
    if (!file) {
        Fail(error);
        return;
    }
    m_next = file;
    m_nextEnd = recordsAt;
    m_nextRecordBytes = 0;
    m_expectedLength = -1;
    auto task = std::make_shared<CSnapshotTask>();
    task->file = std::move(file);
    task->at = recordsAt - CJournalFormat::SnapshotSize(text.size());
    task->textSize = text.size();
    task->text = std::move(text);
    task->renameTo = m_strName;
    m_task = task;
    m_owner.RunSnapshot(std::move(task));
}

void CRecoveryJournal::SnapshotDone(const CSnapshotTask *task, const QString &error)
{
    if (!task || task != m_task.get())
        return;
    const std::shared_ptr<CSnapshotTask> done = std::move(m_task);
    if (!error.isEmpty()) {
        Fail(error);
        return;
    }
    if (!done->renameTo.isEmpty()) {
        // The new file has the journal's name now; the old one is gone from the folder.
        m_file = std::move(m_next);
        m_fileEnd = m_nextEnd;
        m_recordBytes = m_nextRecordBytes;
        m_snapshotSize = done->textSize;
    }
    m_bSnapshotDone = true;
    for (const auto &old : m_retired)
        RemoveFile(old->Path());
    m_retired.clear();
    m_owner.ReportProtected();
}

void CRecoveryJournal::PrepareSpare()
{
    const qint64 length = m_view.GetLength();
    if (length < kSpareFrom || m_spareRequest || m_spare.size() > length)
        return;
    m_spareRequest = std::make_shared<CSpareBuffer>();
    m_spareRequest->size = length + length / 8 + 1; // room for what is typed before it is used
    m_owner.PrepareSpare(m_spareRequest);
}

void CRecoveryJournal::SpareReady(CSpareBuffer *spare)
{
    if (!spare || spare != m_spareRequest.get())
        return;
    m_spare = std::move(spare->buffer);
    if (m_spare.isNull())
        m_spareRequest.reset(); // it could not be had: the copy is made the slow way

}

QByteArray CRecoveryJournal::TakeText()
{
    const qint64 length = m_view.GetLength();
    if (m_spare.size() <= length) {
        // None ready yet, or one that the text has outgrown: the slow way.
        if (!m_spare.isNull()) {
            m_spare = QByteArray();
            m_spareRequest.reset();
        }
        return m_view.GetText();
    }
    m_view.SendScintilla(QsciScintillaBase::SCI_GETTEXTRANGE, 0L, static_cast<long>(length), m_spare.data());
    QByteArray text = std::move(m_spare);
    text.truncate(length);
    m_spare = QByteArray();
    m_spareRequest.reset();
    return text;
}

void CRecoveryJournal::Retire(std::shared_ptr<platform::CJournalFile> file)
{
    if (file)
        m_retired.push_back(std::move(file));
}

void CRecoveryJournal::Fail(const QString &reason)
{
    // What the failed file holds up to the failure is still the best copy after a crash, until
    // a new journal's snapshot is on the disk; a file without a whole snapshot holds nothing.
    std::vector<std::shared_ptr<platform::CJournalFile>> keep = std::move(m_retired);
    const bool worthKeeping = m_file && m_bSnapshotDone;
    if (worthKeeping)
        keep.push_back(m_file);
    DropFiles(!worthKeeping);
    m_retired = std::move(keep);
    m_retryAfterMs = NowMs() + kRetryMs;
    m_owner.ReportFailure(reason);
}

void CRecoveryJournal::Remove()
{
    DropFiles(true);
    m_retryAfterMs = 0;
    PrepareSpare(); // for the next first edit
}

void CRecoveryJournal::DropFiles(bool removeThem)
{
    if (m_task) {
        // A rename that has not happened yet never will; one that has is undone below.
        std::lock_guard<std::mutex> lock(m_task->mutex);
        m_task->cancelled = true;
    }
    if (!m_strName.isEmpty()) {
        // An unfinished rewrite has nothing that the journal itself lacks.
        RemoveFile(m_strName + QStringLiteral(".new"));
        if (removeThem)
            RemoveFile(m_strName);
    }
    if (removeThem) {
        for (const auto &old : m_retired)
            RemoveFile(old->Path());
    }
    m_file.reset();
    m_next.reset();
    m_task.reset();
    m_retired.clear();
    m_pending.clear();
    m_strName.clear();
    m_bInsertPending = false;
    m_bSnapshotDone = false;
    m_bOutOfStep = false;
    m_expectedLength = -1;
}
