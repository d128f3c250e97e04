// Telling one version of a file from another: its device, inode, size and modification time.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace platform {

// Two versions that differ in any of these are different files or differently written; a file
// replaced by renaming gets the inode of its replacement. On Windows the device is the volume's
// serial number and the inode the file index of GetFileInformationByHandle.
struct FileVersion
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0; // nanoseconds since the epoch

    bool operator==(const FileVersion &) const = default;
};

// The version of the file at path now; nothing when it is missing or cannot be looked at.
std::optional<FileVersion> VersionOfPath(const QString &path);
// The version of the open file with the small integer handle (QFileDevice::handle()).
std::optional<FileVersion> VersionOfHandle(int handle);

// Sets the modification time of the open file to now, or to 1 ms past previous when now is not
// later than that: readers that go by size and a time in milliseconds see every version as new
// even when two are written within one millisecond. False when the time cannot be set.
bool GiveLaterTime(int handle, const std::optional<FileVersion> &previous);

} // namespace platform
