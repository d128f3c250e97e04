// The files of the recovery journals: private to the user, locked by the instance that writes them.
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace platform {

// $XDG_STATE_HOME/talvex/recovery (~/.local/state/talvex/recovery when the variable is unset or
// not absolute); on Windows %LOCALAPPDATA%\Talvex\recovery.
QString RecoveryFolder();
// Makes the folder and its parents; the folder itself ends up readable by its owner only. False,
// with the reason, when it cannot be made or is no folder.
bool MakePrivateFolder(const QString &path, QString &errorText);
// Brings the names in a folder (new, renamed, removed) to the disk.
void SyncFolder(const QString &path);
// Renames from to to, replacing what is at to in one step.
bool ReplaceFile(const QString &from, const QString &to, QString &errorText);

// Who wrote a journal. A process counts as running only when the same machine, since the same
// boot, has a process of that id started at that time, so a reused id is not taken for it.
struct ProcessIdentity
{
    qint64 pid = 0;
    quint64 startTime = 0;   // in the system's own units; 0 where it cannot be known
    QString host;
    QString bootId;
};
ProcessIdentity CurrentProcess();
bool IsRunning(const ProcessIdentity &who);

// One open journal file. While the object lives it holds an exclusive lock on the file (flock on
// POSIX systems, LockFileEx on Windows), which the system drops when the process ends in any way,
// kill -9 included. Writes go to explicit offsets, so a snapshot and the records after it can be
// written by different threads at once.
class CJournalFile
{
public:
    ~CJournalFile();
    CJournalFile(const CJournalFile &) = delete;
    CJournalFile &operator=(const CJournalFile &) = delete;

    // A new file (never an existing one), readable and writable by its owner only, locked.
    static std::unique_ptr<CJournalFile> Create(const QString &path, QString &errorText);
    // An existing file with its lock taken. When another open file holds the lock the result is
    // null and held is true; the holder is never waited for.
    static std::unique_ptr<CJournalFile> OpenUnheld(const QString &path, bool &held, QString &errorText);

    bool WriteAt(qint64 offset, const char *data, qint64 size, QString &errorText);
    // The file's data to the disk (fdatasync, FlushFileBuffers).
    bool Sync(QString &errorText);
    bool ReadAll(QByteArray &data, QString &errorText);
    const QString &Path() const { return m_strPath; }
    // The file was renamed to path (by the thread that renamed it, before anyone else asks).
    void Renamed(const QString &path) { m_strPath = path; }

private:
    CJournalFile(QString path, qintptr handle) : m_strPath(std::move(path)), m_handle(handle) {}

    QString m_strPath;
    qintptr m_handle; // a descriptor, or a Windows HANDLE
};

} // namespace platform
