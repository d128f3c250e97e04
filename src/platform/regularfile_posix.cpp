// Opening a regular file for reading on POSIX systems: stat first, open without blocking, fstat.
#include "platform/RegularFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString ErrnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Why a file of this type is refused; empty for a regular file.
QString RefusedType(mode_t mode)
{
    if (S_ISREG(mode))
        return QString();
    if (S_ISDIR(mode))
        return QStringLiteral("It is a folder.");
    return QStringLiteral("It is not a regular file.");
}

} // namespace

bool OpenRegularFileForReading(const QString &path, QFile &file, QString &errorText)
{
    const QByteArray name = QFile::encodeName(path);
    // Devices are not even opened: opening one can have effects of its own (a tape rewinds, a
    // serial line raises its signals).
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        errorText = ErrnoText(errno);
        return false;
    }
    errorText = RefusedType(st.st_mode);
    if (!errorText.isEmpty())
        return false;

    // The path may name something else by now. O_NONBLOCK keeps a named pipe from holding the
    // open until a writer comes; fstat then tells what was really opened.
    int fd;
    do {
        fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        errorText = ErrnoText(errno);
        return false;
    }
    if (::fstat(fd, &st) != 0) {
        errorText = ErrnoText(errno);
        ::close(fd);
        return false;
    }
    errorText = RefusedType(st.st_mode);
    if (!errorText.isEmpty()) {
        ::close(fd);
        return false;
    }
    // Reads of a regular file wait for the disk as usual.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        errorText = file.errorString();
        ::close(fd);
        return false;
    }
    return true;
}
