// The settings file's values, parsed once for each version of the file, and its locked writes.
#pragma once

#include "platform/FileLock.h"
#include "platform/FileVersion.h"

#include <QSettings>
#include <QString>

#include <functional>
#include <mutex>
#include <optional>

// Off Windows only. Values are keyed as RegFile::Parse keys them ("group/name"). A read looks at
// the file's version (one stat) and parses the file again only when the version differs from the
// one it parsed last, so every read still sees what is stored, also when another instance wrote
// it. Writes replace the file by renaming, so a read never sees half a write and needs no lock;
// one that parses waits a little for the lock all the same, so that a write under way finishes
// first. A file over kMaxParsedSize is neither parsed nor written.
class CSettingsFile
{
public:
    static constexpr qint64 kMaxParsedSize = 16 * 1024 * 1024;
    // Another instance holds the folder's lock for a millisecond or so. A read that must parse
    // waits this long for it, then reads without it; a write waits longer, then fails.
    static constexpr int kReadLockWaitMs = 200;
    static constexpr int kWriteLockWaitMs = 1000;
    // Once a wait has run out, the lock is taken as stuck (a hung process, a `flock` in a
    // shell): until it is had again, reads and writes wait only as long as another instance
    // holds it, so that a start-up or a command pays for the stuck lock once, not per access.
    static constexpr int kStuckLockWaitMs = 20;

    CSettingsFile() = default;
    CSettingsFile(const CSettingsFile &) = delete;
    CSettingsFile &operator=(const CSettingsFile &) = delete;

    // The values of the file at path as it is now: none when it is missing, unreadable or too large.
    QSettings::SettingsMap Values(const QString &path);
    // Whether the file at path is too large to be parsed.
    bool IsTooLarge(const QString &path);
    // Applies change to the current values and writes them when it returns true (it says whether
    // it changed anything). False when the folder's lock is not had in time, the file is too
    // large, or it cannot be written; the file is then as it was.
    bool Write(const QString &path, const std::function<bool(QSettings::SettingsMap &)> &change);

private:
    enum class Lock { Wait, Held };
    // Takes the folder's lock into lock, waiting at most waitMs, or kStuckLockWaitMs while the
    // lock is stuck; notes whether it is.
    bool TakeLock(platform::CFileLock &lock, const QString &path, bool exclusive, int waitMs);
    // Brings m_values up to date with the file; call with m_mutex held. False when the file is
    // there but cannot be read, so that its values are not known.
    bool Refresh(const QString &path, Lock lock);

    std::mutex m_mutex; // the store may be read from more than one thread
    bool m_bLoaded = false;
    QString m_strPath;
    std::optional<platform::FileVersion> m_version; // of the parsed file; nothing: no file
    bool m_bTooLarge = false;
    bool m_bLockStuck = false;
    QSettings::SettingsMap m_values;
};
