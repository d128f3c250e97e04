// Reading and writing document files whole and safely, and converting their line ends.
#pragma once

#include "platform/FileVersion.h"

#include <QByteArray>
#include <QString>

// Files are plain bytes, NUL bytes included. A read either yields the whole file or fails; a
// write goes to a temporary file in the target's folder, is flushed to disk and only then renamed
// over the target, so the file on disk is always either the old or the new text. The target keeps
// its permissions; a symbolic link keeps pointing at its file, which receives the new text.
class CDocumentFile
{
public:
    // The largest file a document takes. Scintilla keeps a document in one block for its text
    // and one for its styles, and loading briefly holds the file and its converted text as well:
    // past a gigabyte that is many gigabytes of memory, for no text anyone edits by hand.
    static constexpr qint64 kMaxFileSize = qint64(1) << 30;

    // The whole of a regular file into data; anything else (a folder, a named pipe, a device)
    // and anything larger than kMaxFileSize is refused without waiting and without reading it
    // to its end. On failure data is untouched and errorText says why. version, when given,
    // receives the version of the file as it was opened, before its bytes were read: a writer
    // that comes during the read leaves a newer version behind, which tells that it came.
    static bool Read(const QString &path, QByteArray &data, QString &errorText,
                     platform::FileVersion *version = nullptr);
    // The whole of data into the file at path. On failure the file is untouched. version, when
    // given, receives the version of the file written, as it is once it has replaced the target.
    static bool Write(const QString &path, const QByteArray &data, QString &errorText,
                      platform::FileVersion *version = nullptr);

    // Every CR LF, lone CR and lone LF replaced by the line end of a Scintilla mode
    // (SC_EOL_CRLF 0, SC_EOL_CR 1, SC_EOL_LF 2). Other bytes, NUL included, pass unchanged.
    static QByteArray ConvertLineEnds(const QByteArray &text, int eolMode);
};
