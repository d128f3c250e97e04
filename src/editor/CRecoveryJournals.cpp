// The owner of every recovery journal of this instance, and the finder of those a crash left.
#include "editor/CRecoveryJournals.h"

#include "editor/CRecoveryJournal.h"
#include "editor/CTalvexView.h"
#include "settings/CSettingsStore.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <new>

namespace {

const QString kSuffix = QStringLiteral(".journal");
const QString kUnfinished = QStringLiteral(".journal.new");
const QString kDiscarded = QStringLiteral("discarded");

// The document's file differs from the one the journal began on (or has come or gone).
bool DiskChanged(const CJournalHeader &h)
{
    if (h.path.isEmpty())
        return false;
    const QFileInfo disk(h.path);
    if (!disk.exists())
        return h.fileSize >= 0;
    return disk.size() != h.fileSize || disk.lastModified().toMSecsSinceEpoch() != h.fileMtimeMs;
}

} // namespace

CRecoveryJournals::CRecoveryJournals(QString folder, QObject *parent)
    : QObject(parent),
      m_strFolder(std::move(folder)),
      m_identity(platform::CurrentProcess()),
      m_syncer([this](const QString &error) {
          QMetaObject::invokeMethod(this, [this, error] { ReportFailure(error); }, Qt::QueuedConnection);
      })
{
    m_worker.setMaxThreadCount(1);
    // The records of an event reach their files before the loop waits for the next one.
    if (QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance()) {
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
            if (m_bFlushDue)
                FlushAll();
        });
    }
}

CRecoveryJournals::~CRecoveryJournals()
{
    // Snapshots under way are finished first: a journal without its snapshot holds nothing.
    m_worker.waitForDone();
    for (auto &[view, journal] : m_journals)
        QObject::disconnect(view, nullptr, this, nullptr);
    m_journals.clear();
}

CRecoveryJournal *CRecoveryJournals::JournalOf(const CTalvexView *view) const
{
    const auto it = m_journals.find(view);
    return it == m_journals.end() ? nullptr : it->second.get();
}

void CRecoveryJournals::Attach(CTalvexView *view, const QString &title)
{
    if (!view || JournalOf(view))
        return;
    m_journals.emplace(view, std::make_unique<CRecoveryJournal>(*this, *view, title))
        .first->second->PrepareSpare();
    // Only the notices before a change: those after it cost QScintilla's accessibility work.
    view->SetModEventMask(QsciScintillaBase::SC_MOD_BEFOREINSERT | QsciScintillaBase::SC_MOD_BEFOREDELETE);
    connect(view, &QsciScintillaBase::SCN_MODIFIED, this, [this, view](int pos, int type, const char *, int length) {
        if (CRecoveryJournal *journal = JournalOf(view))
            journal->OnBeforeEdit(type, pos, length);
    });
    // A view that goes without a close (its window torn down) keeps its journal on disk.
    connect(view, &QObject::destroyed, this, [this, view] { m_journals.erase(view); });
    // What is painted has been journalled.
    view->viewport()->installEventFilter(this);
}

void CRecoveryJournals::Detach(CTalvexView *view, bool remove)
{
    const auto it = m_journals.find(view);
    if (it == m_journals.end())
        return;
    if (remove)
        it->second->Remove();
    else
        it->second->Flush();
    QObject::disconnect(view, nullptr, this, nullptr);
    view->viewport()->removeEventFilter(this);
    m_journals.erase(it);
}

void CRecoveryJournals::DocumentSaved(CTalvexView *view)
{
    if (CRecoveryJournal *journal = JournalOf(view))
        journal->Remove();
}

void CRecoveryJournals::DocumentClosed(CTalvexView *view)
{
    Detach(view, !m_bKeepAll);
}

void CRecoveryJournals::KeepAllAtExit()
{
    m_bKeepAll = true;
    FlushAll();
    m_worker.waitForDone();
    // The snapshots' results, so that files they replace are removed as they would have been.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    m_syncer.SyncNow();
}

void CRecoveryJournals::FlushAll()
{
    m_bFlushDue = false;
    for (auto &[view, journal] : m_journals) {
        if (journal->HasPending())
            journal->Flush();
    }
}

QString CRecoveryJournals::JournalPath(const CTalvexView *view) const
{
    const CRecoveryJournal *journal = JournalOf(view);
    return journal ? journal->FilePath() : QString();
}

bool CRecoveryJournals::IsProtected(const CTalvexView *view) const
{
    const CRecoveryJournal *journal = JournalOf(view);
    return journal && journal->IsProtected();
}

bool CRecoveryJournals::eventFilter(QObject *, QEvent *event)
{
    if (event->type() == QEvent::Paint && m_bFlushDue)
        FlushAll();
    return false;
}

int CRecoveryJournals::KeywordSet()
{
    if (m_nKeywordSet < 0)
        m_nKeywordSet = CSettingsStore::Instance().ReadInt(CSettingsStore::kSettings, QStringLiteral("KeywordSet"), 0);
    return m_nKeywordSet;
}

bool CRecoveryJournals::EnsureFolder(QString &error)
{
    if (!m_bFolderMade)
        m_bFolderMade = platform::MakePrivateFolder(m_strFolder, error);
    return m_bFolderMade;
}

QString CRecoveryJournals::NewJournalName()
{
    return QStringLiteral("%1/%2-%3-%4%5")
        .arg(m_strFolder)
        .arg(m_identity.pid)
        .arg(QDateTime::currentMSecsSinceEpoch())
        .arg(++m_nNextName)
        .arg(kSuffix);
}

void CRecoveryJournals::RunSnapshot(std::shared_ptr<CSnapshotTask> task)
{
    m_worker.start([this, task] {
        QString error;
        const QByteArray prefix = CJournalFormat::SnapshotPrefix(task->text);
        bool ok = task->file->WriteAt(task->at, prefix.constData(), prefix.size(), error)
                  && task->file->WriteAt(task->at + prefix.size(), task->text.constData(), task->text.size(), error)
                  && task->file->Sync(error);
        task->text = QByteArray();
        if (ok && !task->renameTo.isEmpty()) {
            std::lock_guard<std::mutex> lock(task->mutex);
            if (!task->cancelled) {
                ok = platform::ReplaceFile(task->file->Path(), task->renameTo, error);
                if (ok)
                    task->file->Renamed(task->renameTo);
            }
        }
        if (ok)
            platform::SyncFolder(m_strFolder);
        QMetaObject::invokeMethod(this, [this, task, error] {
            for (auto &[view, journal] : m_journals)
                journal->SnapshotDone(task.get(), error);
        }, Qt::QueuedConnection);
    });
}

void CRecoveryJournals::PrepareSpare(std::shared_ptr<CSpareBuffer> spare)
{
    m_worker.start([this, spare] {
        try {
            QByteArray buffer(spare->size, Qt::Uninitialized);
            for (qsizetype i = 0; i < buffer.size(); i += 4096)
                buffer[i] = 0;
            spare->buffer = std::move(buffer);
        } catch (const std::bad_alloc &) {
            // None then: the journal copies its text the slow way.
        }
        QMetaObject::invokeMethod(this, [this, spare] {
            for (auto &[view, journal] : m_journals)
                journal->SpareReady(spare.get());
        }, Qt::QueuedConnection);
    });
}

void CRecoveryJournals::ReportFailure(const QString &reason)
{
    if (m_bWarned)
        return;
    m_bWarned = true;
    emit protectionLost(QStringLiteral("Unsaved changes are not protected: %1").arg(reason));
}

void CRecoveryJournals::ReportProtected()
{
    m_bWarned = false;
}

void CRecoveryJournals::PurgeDiscarded()
{
    QDir discarded(m_strFolder + QLatin1Char('/') + kDiscarded);
    const QDateTime limit = QDateTime::currentDateTime().addDays(-kKeepDiscardedDays);
    for (const QFileInfo &entry : discarded.entryInfoList(QDir::Files | QDir::Hidden)) {
        if (entry.lastModified() < limit)
            QFile::remove(entry.filePath());
    }
}

QList<CLeftOver> CRecoveryJournals::FindLeftOvers()
{
    QList<CLeftOver> found;
    QDir folder(m_strFolder);
    if (!folder.exists())
        return found;
    PurgeDiscarded();
    for (const QFileInfo &entry : folder.entryInfoList(QDir::Files | QDir::Hidden)) {
        const QString path = entry.filePath();
        const bool unfinished = path.endsWith(kUnfinished);
        if (!unfinished && !path.endsWith(kSuffix))
            continue;
        bool held = false;
        QString error;
        std::shared_ptr<platform::CJournalFile> file = platform::CJournalFile::OpenUnheld(path, held, error);
        if (!file)
            continue; // a live instance's, or not ours to read
        if (unfinished) {
            // A rewrite its owner did not finish: the journal beside it has all it had.
            QByteArray head;
            if (file->ReadAll(head, error)) {
                const CJournalContents c = CJournalFormat::Parse(head.left(64 * 1024));
                if (!platform::IsRunning(c.header.owner))
                    QFile::remove(path);
            }
            continue;
        }
        CLeftOver leftOver;
        leftOver.journalPath = path;
        leftOver.lastChangeMs = entry.lastModified().toMSecsSinceEpoch();
        QByteArray bytes;
        if (!file->ReadAll(bytes, error)) {
            leftOver.contents.error = error;
        } else {
            leftOver.contents = CJournalFormat::Parse(bytes);
            // The lock is free, yet its writer runs: a journal it has let go of, not a crash's.
            if (!leftOver.contents.header.owner.host.isEmpty() && platform::IsRunning(leftOver.contents.header.owner))
                continue;
            leftOver.diskChanged = leftOver.contents.ok && DiskChanged(leftOver.contents.header);
        }
        leftOver.file = std::move(file);
        found.append(std::move(leftOver));
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const CLeftOver &a, const CLeftOver &b) { return a.lastChangeMs < b.lastChangeMs; });
    return found;
}

void CRecoveryJournals::Restored(CTalvexView *view, CLeftOver &&leftOver)
{
    CRecoveryJournal *journal = JournalOf(view);
    if (!journal)
        return;
    journal->Remove();
    journal->StartNow();
    journal->Retire(std::move(leftOver.file));
}

bool CRecoveryJournals::Discard(CLeftOver &&leftOver)
{
    const QString folder = m_strFolder + QLatin1Char('/') + kDiscarded;
    QString error;
    if (!platform::MakePrivateFolder(folder, error))
        return false;
    const QString target = folder + QLatin1Char('/') + QFileInfo(leftOver.journalPath).fileName();
    if (!platform::ReplaceFile(leftOver.journalPath, target, error))
        return false;
    // Its seven days start now.
    QFile moved(target);
    if (moved.open(QIODevice::ReadWrite))
        moved.setFileTime(QDateTime::currentDateTime(), QFileDevice::FileModificationTime);
    leftOver.file.reset();
    return true;
}
