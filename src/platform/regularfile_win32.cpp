// Opening a regular file for reading on Windows: stat first, open, fstat.
#include "platform/RegularFile.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace {

QString ErrnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Why a file of this type is refused; empty for a regular file.
QString RefusedType(unsigned short mode)
{
    if ((mode & _S_IFMT) == _S_IFREG)
        return QString();
    if ((mode & _S_IFMT) == _S_IFDIR)
        return QStringLiteral("It is a folder.");
    return QStringLiteral("It is not a regular file.");
}

} // namespace

bool OpenRegularFileForReading(const QString &path, QFile &file, QString &errorText)
{
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    // Devices (CON, NUL, COM1) and pipes are refused before they are opened.
    struct _stat64 st {};
    if (::_wstat64(name.c_str(), &st) != 0) {
        errorText = ErrnoText(errno);
        return false;
    }
    errorText = RefusedType(st.st_mode);
    if (!errorText.isEmpty())
        return false;

    // Opening a pipe's client end never waits on Windows; fstat tells what was really opened.
    int fd = -1;
    if (::_wsopen_s(&fd, name.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYNO, _S_IREAD) != 0) {
        errorText = ErrnoText(errno);
        return false;
    }
    if (::_fstat64(fd, &st) != 0) {
        errorText = ErrnoText(errno);
        ::_close(fd);
        return false;
    }
    errorText = RefusedType(st.st_mode);
    if (!errorText.isEmpty()) {
        ::_close(fd);
        return false;
    }
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        errorText = file.errorString();
        ::_close(fd);
        return false;
    }
    return true;
}
