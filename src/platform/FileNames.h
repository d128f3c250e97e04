// File names as the system stores them: bytes that a Qt string may not hold without loss.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform {

// Qt decodes a name that is not valid UTF-8 with replacement characters, and encodes those back
// as themselves, so such a string names another file, or none. When path holds a replacement
// character where a folder on the way has an entry whose bytes are not valid UTF-8 and decode to
// the same string, the bytes of that path (the first such entry taken); nothing otherwise. On
// Windows, whose names are wide, always nothing.
std::optional<QByteArray> LossyNameOnDisk(const QString &path);

// The bytes of a name for the user: valid UTF-8 as it is, every other byte as \xHH.
QString EscapedFileName(const QByteArray &bytes);

} // namespace platform
