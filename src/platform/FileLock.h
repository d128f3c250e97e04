// A lock that the program's instances share through a file or folder: many readers, or one writer.
#pragma once

#include <string>

namespace platform {

// Off Windows only, where the settings live in a file that several instances read and write. What
// is locked must stay in place (a folder, say, rather than a file that is replaced by renaming),
// so that every instance locks the same thing. The lock goes with the object, or with the process
// when it ends.
class CFileLock
{
public:
    enum class Mode { Shared, Exclusive };

    CFileLock() = default;
    ~CFileLock();
    CFileLock(const CFileLock &) = delete;
    CFileLock &operator=(const CFileLock &) = delete;

    // Waits up to timeoutMs for the lock on the existing file or folder at path; false when it
    // cannot be opened, or the lock is not had in time.
    bool Lock(const std::string &path, Mode mode, int timeoutMs);

private:
    int m_fd = -1;
};

} // namespace platform
