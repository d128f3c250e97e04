// File versions on POSIX systems, from stat and fstat with nanosecond times.
#include "platform/FileVersion.h"

#include <QFile>

#include <cerrno>
#include <ctime>
#include <sys/stat.h>

namespace platform {
namespace {

constexpr std::int64_t kNsPerSecond = 1'000'000'000;

FileVersion VersionOf(const struct stat &st)
{
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::int64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * kNsPerSecond + st.st_mtim.tv_nsec};
}

} // namespace

std::optional<FileVersion> VersionOfPath(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return VersionOf(st);
}

std::optional<FileVersion> VersionOfHandle(int handle)
{
    struct stat st {};
    if (::fstat(handle, &st) != 0)
        return std::nullopt;
    return VersionOf(st);
}

bool GiveLaterTime(int handle, const std::optional<FileVersion> &previous)
{
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::int64_t ns = static_cast<std::int64_t>(now.tv_sec) * kNsPerSecond + now.tv_nsec;
    constexpr std::int64_t kNsPerMs = 1'000'000;
    if (previous && ns / kNsPerMs <= previous->modifiedNs / kNsPerMs)
        ns = (previous->modifiedNs / kNsPerMs + 1) * kNsPerMs;
    const struct timespec times[2] = {
        {0, UTIME_OMIT},
        {static_cast<time_t>(ns / kNsPerSecond), static_cast<long>(ns % kNsPerSecond)}};
    return ::futimens(handle, times) == 0;
}

} // namespace platform
