// The settings file's values, parsed once for each version of the file, and its locked writes.
#include "settings/CSettingsFile.h"

#ifndef Q_OS_WIN

#include "platform/RegularFile.h"
#include "settings/RegFileFormat.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// The settings folder, which stays in place while the file in it is replaced by each write.
std::string LockPath(const QString &path)
{
    return QFile::encodeName(QFileInfo(path).absolutePath()).toStdString();
}

} // namespace

QSettings::SettingsMap CSettingsFile::Values(const QString &path)
{
    std::lock_guard guard(m_mutex);
    Refresh(path, Lock::Wait);
    return m_values; // shared, not copied, until one side changes
}

bool CSettingsFile::IsTooLarge(const QString &path)
{
    std::lock_guard guard(m_mutex);
    Refresh(path, Lock::Wait);
    return m_bTooLarge;
}

bool CSettingsFile::Refresh(const QString &path, Lock lock)
{
    const std::optional<platform::FileVersion> now = platform::VersionOfPath(path);
    if (m_bLoaded && path == m_strPath && now == m_version)
        return true;
    m_bLoaded = false;
    m_strPath = path;
    m_version = now;
    m_values.clear();
    m_bTooLarge = now && now->size > kMaxParsedSize;
    if (!now || m_bTooLarge) {
        m_bLoaded = true;
        return true;
    }

    // Had or not, the file is read: a write replaces it whole, so it is never seen half-written.
    platform::CFileLock shared;
    if (lock == Lock::Wait)
        TakeLock(shared, path, false, kReadLockWaitMs);
    QFile file;
    QString error;
    if (!OpenRegularFileForReading(path, file, error))
        return false; // looked at again by the next read
    // The version of exactly what is read, which may be newer than the one looked at above.
    m_version = platform::VersionOfHandle(file.handle());
    if (!m_version)
        return false;
    m_bTooLarge = m_version->size > kMaxParsedSize;
    if (!m_bTooLarge)
        RegFile::Parse(file.readAll(), m_values);
    m_bLoaded = true;
    return true;
}

bool CSettingsFile::TakeLock(platform::CFileLock &lock, const QString &path, bool exclusive, int waitMs)
{
    m_bLockStuck = !lock.Lock(LockPath(path),
                              exclusive ? platform::CFileLock::Mode::Exclusive : platform::CFileLock::Mode::Shared,
                              m_bLockStuck ? kStuckLockWaitMs : waitMs);
    return !m_bLockStuck;
}

bool CSettingsFile::Write(const QString &path, const std::function<bool(QSettings::SettingsMap &)> &change)
{
    std::lock_guard guard(m_mutex);
    // Held until the new version is in place: no other instance writes in between, so none
    // writes its older copy back over this change.
    platform::CFileLock exclusive;
    if (!TakeLock(exclusive, path, true, kWriteLockWaitMs))
        return false;
    if (!Refresh(path, Lock::Held) || m_bTooLarge)
        return false;

    QSettings::SettingsMap values = m_values;
    if (!change(values))
        return true;
    const QByteArray text = RegFile::Serialize(values);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(text) != text.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    platform::GiveLaterTime(file.handle(), m_version);
    const std::optional<platform::FileVersion> written = platform::VersionOfHandle(file.handle());
    if (!file.commit())
        return false;
    // Renaming keeps the inode and the time, so this is the version now at path.
    m_values = values;
    m_version = written;
    m_bLoaded = written.has_value();
    return true;
}

#endif
