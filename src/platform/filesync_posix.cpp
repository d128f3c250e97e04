// Flushing an open file's data to the storage device on POSIX systems.
#include "platform/FileSync.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

bool SyncFileToDisk(int handle, QString &errorText)
{
    int rc;
    do {
#if defined(__APPLE__)
        rc = ::fsync(handle);
#else
        rc = ::fdatasync(handle);
#endif
    } while (rc != 0 && errno == EINTR);
    if (rc == 0)
        return true;
    errorText = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}
