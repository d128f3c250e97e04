// File names on Windows: wide strings, which Qt holds without loss.
#include "platform/FileNames.h"

namespace platform {

std::optional<QByteArray> LossyNameOnDisk(const QString &)
{
    return std::nullopt;
}

} // namespace platform
