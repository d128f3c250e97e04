// Flushing an open file's data to the storage device on Windows.
#include "platform/FileSync.h"

#include <io.h>

#include <cerrno>
#include <cstring>

bool SyncFileToDisk(int handle, QString &errorText)
{
    // _commit flushes the C runtime descriptor's file with FlushFileBuffers.
    if (::_commit(handle) == 0)
        return true;
    errorText = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}
