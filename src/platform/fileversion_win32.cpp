// File versions on Windows, from GetFileInformationByHandle: volume, file index, size, write time.
#include "platform/FileVersion.h"

#include <QDir>

#include <io.h>
#include <windows.h>

namespace platform {
namespace {

// FILETIME counts 100 ns steps from 1601; the versions count nanoseconds from 1970.
constexpr std::int64_t kEpochDifference100ns = 116444736000000000LL;

std::int64_t NsSinceEpoch(const FILETIME &ft)
{
    const std::int64_t ticks = (static_cast<std::int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return (ticks - kEpochDifference100ns) * 100;
}

std::optional<FileVersion> VersionOfWinHandle(HANDLE h)
{
    BY_HANDLE_FILE_INFORMATION info {};
    if (h == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(h, &info))
        return std::nullopt;
    FileVersion v;
    v.device = info.dwVolumeSerialNumber;
    v.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    v.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    v.modifiedNs = NsSinceEpoch(info.ftLastWriteTime);
    return v;
}

} // namespace

std::optional<FileVersion> VersionOfPath(const QString &path)
{
    // Attributes only, sharing everything: looking must never get in the way of a writer.
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    HANDLE h = ::CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::nullopt;
    const std::optional<FileVersion> v = VersionOfWinHandle(h);
    ::CloseHandle(h);
    return v;
}

std::optional<FileVersion> VersionOfHandle(int handle)
{
    return VersionOfWinHandle(reinterpret_cast<HANDLE>(::_get_osfhandle(handle)));
}

bool GiveLaterTime(int handle, const std::optional<FileVersion> &previous)
{
    FILETIME nowFt {};
    ::GetSystemTimeAsFileTime(&nowFt);
    std::int64_t ns = NsSinceEpoch(nowFt);
    constexpr std::int64_t kNsPerMs = 1'000'000;
    if (previous && ns / kNsPerMs <= previous->modifiedNs / kNsPerMs)
        ns = (previous->modifiedNs / kNsPerMs + 1) * kNsPerMs;
    const std::int64_t ticks = ns / 100 + kEpochDifference100ns;
    FILETIME ft {};
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ::SetFileTime(reinterpret_cast<HANDLE>(::_get_osfhandle(handle)), nullptr, nullptr, &ft) != 0;
}

} // namespace platform
