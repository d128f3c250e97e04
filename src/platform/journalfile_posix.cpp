// The files of the recovery journals on POSIX systems: flock, pwrite, fdatasync, /proc.
#include "platform/JournalFile.h"

#include "platform/FileSync.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QString ErrnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray ReadSmallFile(const char *path)
{
    QFile f(QString::fromLatin1(path));
    return f.open(QIODevice::ReadOnly) ? f.read(4096) : QByteArray();
}

// Field 22 of /proc/PID/stat: the start time in clock ticks after boot. The name in field 2 may
// hold spaces and parentheses, so the fields are counted from the last ')'.
quint64 StartTimeOf(qint64 pid)
{
    const QByteArray stat = ReadSmallFile(QByteArray("/proc/" + QByteArray::number(pid) + "/stat").constData());
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return 0;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    return fields.size() > 19 ? fields.at(19).toULongLong() : 0;
}

QString HostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return QString();
    return QString::fromLocal8Bit(name);
}

} // namespace

QString RecoveryFolder()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/talvex/recovery");
}

bool MakePrivateFolder(const QString &path, QString &errorText)
{
    if (!QDir().mkpath(path)) {
        errorText = QStringLiteral("%1 cannot be made").arg(path);
        return false;
    }
    // What the journals hold may be text the user never saved.
    if (::chmod(QFile::encodeName(path).constData(), 0700) != 0) {
        errorText = ErrnoText(errno);
        return false;
    }
    return true;
}

void SyncFolder(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

bool ReplaceFile(const QString &from, const QString &to, QString &errorText)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    errorText = ErrnoText(errno);
    return false;
}

ProcessIdentity CurrentProcess()
{
    ProcessIdentity me;
    me.pid = ::getpid();
    me.startTime = StartTimeOf(me.pid);
    me.host = HostName();
    me.bootId = QString::fromLatin1(ReadSmallFile("/proc/sys/kernel/random/boot_id").trimmed());
    return me;
}

bool IsRunning(const ProcessIdentity &who)
{
    static const ProcessIdentity me = CurrentProcess();
    if (who.pid <= 0 || who.host != me.host || who.bootId != me.bootId)
        return false;
    if (who.startTime != 0)
        return StartTimeOf(who.pid) == who.startTime;
    return ::kill(static_cast<pid_t>(who.pid), 0) == 0 || errno == EPERM;
}

CJournalFile::~CJournalFile()
{
    ::close(static_cast<int>(m_handle)); // the last descriptor of the open file: the lock goes
}

std::unique_ptr<CJournalFile> CJournalFile::Create(const QString &path, QString &errorText)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        errorText = ErrnoText(errno);
        return nullptr;
    }
    // Nobody else can have it yet: the lock is taken at once.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        errorText = ErrnoText(errno);
        ::close(fd);
        ::unlink(QFile::encodeName(path).constData());
        return nullptr;
    }
    return std::unique_ptr<CJournalFile>(new CJournalFile(path, fd));
}

std::unique_ptr<CJournalFile> CJournalFile::OpenUnheld(const QString &path, bool &held, QString &errorText)
{
    held = false;
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        errorText = ErrnoText(errno);
        return nullptr;
    }
    int rc;
    while ((rc = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        held = errno == EWOULDBLOCK;
        errorText = ErrnoText(errno);
        ::close(fd);
        return nullptr;
    }
    // The owner may have renamed a newer journal over this name in the meantime: then the lock
    // taken is that of a file no longer in the folder, and the name's own file is not ours.
    struct stat opened {}, named {};
    if (::fstat(fd, &opened) != 0 || ::stat(name.constData(), &named) != 0 || opened.st_dev != named.st_dev
        || opened.st_ino != named.st_ino || !S_ISREG(opened.st_mode)) {
        held = true;
        errorText = QStringLiteral("The journal was replaced while it was opened.");
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<CJournalFile>(new CJournalFile(path, fd));
}

bool CJournalFile::WriteAt(qint64 offset, const char *data, qint64 size, QString &errorText)
{
    const int fd = static_cast<int>(m_handle);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, static_cast<size_t>(size), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            errorText = ErrnoText(n < 0 ? errno : ENOSPC);
            return false;
        }
        data += n;
        size -= n;
        offset += n;
    }
    return true;
}

bool CJournalFile::Sync(QString &errorText)
{
    return SyncFileToDisk(static_cast<int>(m_handle), errorText);
}

bool CJournalFile::ReadAll(QByteArray &data, QString &errorText)
{
    const int fd = static_cast<int>(m_handle);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        errorText = ErrnoText(errno);
        return false;
    }
    QByteArray buffer(static_cast<qsizetype>(st.st_size), Qt::Uninitialized);
    qsizetype got = 0;
    while (got < buffer.size()) {
        const ssize_t n = ::pread(fd, buffer.data() + got, static_cast<size_t>(buffer.size() - got), got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            errorText = ErrnoText(errno);
            return false;
        }
        if (n == 0)
            break;
        got += n;
    }
    buffer.truncate(got);
    data = std::move(buffer);
    return true;
}

} // namespace platform
