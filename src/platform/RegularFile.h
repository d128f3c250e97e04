// Opening a file for reading only when it is a regular file, without ever waiting.
#pragma once

#include <QString>

class QFile;

// Opens the file at path into file (read-only, unbuffered, closed with file) when it is a regular
// file. A folder, a named pipe, a device or a socket is refused before it is opened, and once more
// after the open in case the path changed in between; the open itself never waits, so a named
// pipe without a writer is refused as promptly as a missing file. On failure file stays closed and
// errorText says why.
bool OpenRegularFileForReading(const QString &path, QFile &file, QString &errorText);
