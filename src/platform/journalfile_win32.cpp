// The files of the recovery journals on Windows: LockFileEx, positioned writes, FlushFileBuffers.
#include "platform/JournalFile.h"

#include <QDir>

#include <windows.h>

#include <algorithm>

namespace platform {

namespace {

QString LastErrorText()
{
    const DWORD error = ::GetLastError();
    wchar_t *text = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString message = text ? QString::fromWCharArray(text).trimmed() : QStringLiteral("error %1").arg(error);
    if (text)
        ::LocalFree(text);
    return message;
}

std::wstring Native(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

HANDLE AsHandle(qintptr h)
{
    return reinterpret_cast<HANDLE>(h);
}

// The lock covers one byte far beyond any journal's end: a lock on the data itself would keep
// other processes from reading it, and the recovery of another instance must read what it finds.
bool LockFar(HANDLE h)
{
    OVERLAPPED at {};
    at.OffsetHigh = 0x7fffffff;
    return ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

quint64 StartTimeOf(DWORD pid)
{
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return 0;
    FILETIME created {}, exited {}, kernel {}, user {};
    quint64 start = 0;
    DWORD code = 0;
    if (::GetProcessTimes(process, &created, &exited, &kernel, &user) && ::GetExitCodeProcess(process, &code)
        && code == STILL_ACTIVE)
        start = (quint64(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    ::CloseHandle(process);
    return start;
}

} // namespace

QString RecoveryFolder()
{
    QString local = qEnvironmentVariable("LOCALAPPDATA");
    if (local.isEmpty())
        local = QDir::homePath() + QStringLiteral("/AppData/Local");
    return QDir::fromNativeSeparators(local) + QStringLiteral("/Talvex/recovery");
}

bool MakePrivateFolder(const QString &path, QString &errorText)
{
    // The folder inherits the access list of %LOCALAPPDATA%, which only the user may read.
    if (QDir().mkpath(path))
        return true;
    errorText = QStringLiteral("%1 cannot be made").arg(QDir::toNativeSeparators(path));
    return false;
}

void SyncFolder(const QString &)
{
    // NTFS commits its directory changes through its own log.
}

bool ReplaceFile(const QString &from, const QString &to, QString &errorText)
{
    if (::MoveFileExW(Native(from).c_str(), Native(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    errorText = LastErrorText();
    return false;
}

ProcessIdentity CurrentProcess()
{
    ProcessIdentity me;
    me.pid = ::GetCurrentProcessId();
    me.startTime = StartTimeOf(::GetCurrentProcessId());
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (::GetComputerNameW(name, &size))
        me.host = QString::fromWCharArray(name, static_cast<qsizetype>(size));
    return me; // no boot id: a process's creation time already tells one run from another
}

bool IsRunning(const ProcessIdentity &who)
{
    static const ProcessIdentity me = CurrentProcess();
    if (who.pid <= 0 || who.host != me.host || who.bootId != me.bootId)
        return false;
    const quint64 start = StartTimeOf(static_cast<DWORD>(who.pid));
    return start != 0 && (who.startTime == 0 || start == who.startTime);
}

CJournalFile::~CJournalFile()
{
    ::CloseHandle(AsHandle(m_handle)); // the lock goes with the handle
}

std::unique_ptr<CJournalFile> CJournalFile::Create(const QString &path, QString &errorText)
{
    // Others may read, and rename or remove (a discard of a crash's journal); the owner alone writes.
    HANDLE h = ::CreateFileW(Native(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                             nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errorText = LastErrorText();
        return nullptr;
    }
    if (!LockFar(h)) {
        errorText = LastErrorText();
        ::CloseHandle(h);
        ::DeleteFileW(Native(path).c_str());
        return nullptr;
    }
    return std::unique_ptr<CJournalFile>(new CJournalFile(path, reinterpret_cast<qintptr>(h)));
}

std::unique_ptr<CJournalFile> CJournalFile::OpenUnheld(const QString &path, bool &held, QString &errorText)
{
    held = false;
    HANDLE h = ::CreateFileW(Native(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        // A live owner opened it without write sharing: it is held.
        held = ::GetLastError() == ERROR_SHARING_VIOLATION;
        errorText = LastErrorText();
        return nullptr;
    }
    if (!LockFar(h)) {
        held = ::GetLastError() == ERROR_LOCK_VIOLATION;
        errorText = LastErrorText();
        ::CloseHandle(h);
        return nullptr;
    }
    return std::unique_ptr<CJournalFile>(new CJournalFile(path, reinterpret_cast<qintptr>(h)));
}

bool CJournalFile::WriteAt(qint64 offset, const char *data, qint64 size, QString &errorText)
{
    while (size > 0) {
        OVERLAPPED at {};
        at.Offset = static_cast<DWORD>(offset & 0xffffffff);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD chunk = static_cast<DWORD>(std::min<qint64>(size, 1 << 30));
        DWORD written = 0;
        if (!::WriteFile(AsHandle(m_handle), data, chunk, &written, &at) || written == 0) {
            errorText = LastErrorText();
            return false;
        }
        data += written;
        size -= written;
        offset += written;
    }
    return true;
}

bool CJournalFile::Sync(QString &errorText)
{
    if (::FlushFileBuffers(AsHandle(m_handle)))
        return true;
    errorText = LastErrorText();
    return false;
}

bool CJournalFile::ReadAll(QByteArray &data, QString &errorText)
{
    LARGE_INTEGER size {};
    if (!::GetFileSizeEx(AsHandle(m_handle), &size)) {
        errorText = LastErrorText();
        return false;
    }
    QByteArray buffer(static_cast<qsizetype>(size.QuadPart), Qt::Uninitialized);
    qsizetype got = 0;
    while (got < buffer.size()) {
        OVERLAPPED at {};
        at.Offset = static_cast<DWORD>(got & 0xffffffff);
        at.OffsetHigh = static_cast<DWORD>(quint64(got) >> 32);
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<qsizetype>(buffer.size() - got, 1 << 30));
        if (!::ReadFile(AsHandle(m_handle), buffer.data() + got, chunk, &n, &at)) {
            if (::GetLastError() == ERROR_HANDLE_EOF)
                break;
            errorText = LastErrorText();
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
