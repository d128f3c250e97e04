// Reading and writing document files whole and safely, and converting their line ends.
#include "editor/CDocumentFile.h"

#include "platform/FileSync.h"
#include "platform/RegularFile.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr qint64 kMinGrowth = 64 * 1024;

QString TooLargeText()
{
    return QStringLiteral("The file is too large to open.");
}

} // namespace

bool CDocumentFile::Read(const QString &path, QByteArray &data, QString &errorText, platform::FileVersion *version)
{
    QFile file;
    if (!OpenRegularFileForReading(path, file, errorText))
        return false;
    const std::optional<platform::FileVersion> opened = platform::VersionOfHandle(file.handle());
    // The size is only a hint: files in /proc report 0, and a file may grow while it is read.
    // Reading goes on to the end of the file, or one byte past the limit; any error fails the
    // whole read.
    const qint64 hint = file.size();
    if (hint > kMaxFileSize) {
        errorText = TooLargeText();
        return false;
    }
    QByteArray buffer;
    qint64 got = 0;
    try {
        // Exactly the reported size: resize() would round the first block up to a power of two.
        buffer = QByteArray(std::max<qint64>(hint, 0), Qt::Uninitialized);
        char probe[4096];
        for (;;) {
            // With the buffer full (at the size the file reported, as a rule) a small read finds
            // the end first, so the common case never grows the buffer for nothing.
            const bool full = got == buffer.size();
            const qint64 n = full ? file.read(probe, sizeof probe) : file.read(buffer.data() + got, buffer.size() - got);
            if (n < 0) {
                errorText = file.error() == QFileDevice::NoError || file.errorString() == QLatin1String("Unknown error")
                                ? QStringLiteral("The file could not be read.")
                                : file.errorString();
                return false;
            }
            if (n == 0)
                break;
            if (full) {
                buffer.resize(std::min(got + std::max(kMinGrowth, got / 2), kMaxFileSize + 1));
                std::memcpy(buffer.data() + got, probe, static_cast<size_t>(std::min<qint64>(n, buffer.size() - got)));
            }
            got += n;
            if (got > kMaxFileSize) {
                errorText = TooLargeText();
                return false;
            }
        }
    } catch (const std::bad_alloc &) {
        errorText = TooLargeText();
        return false;
    }
    buffer.truncate(got);
    data = std::move(buffer);
    if (version)
        *version = opened.value_or(platform::FileVersion());
    return true;
}

bool CDocumentFile::Write(const QString &path, const QByteArray &data, QString &errorText, platform::FileVersion *version)
{
    // QSaveFile writes a temporary file beside the target (resolving symbolic links), gives it
    // the target's permissions and on commit renames it over the target.
    // Nothing touches the target before the commit; a failed commit removes the temporary file.
    errorText.clear();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        errorText = file.errorString();
        return false;
    }
    qint64 done = 0;
    while (done < data.size()) {
        const qint64 n = file.write(data.constData() + done, data.size() - done);
        if (n <= 0) {
            errorText = file.errorString();
            file.cancelWriting();
            file.commit(); // discards the temporary file
            return false;
        }
        done += n;
    }
    // QSaveFile's commit flushes to disk too but ignores a failed flush; a failure there means
    // the new text may never reach the disk, so it must not replace the old one.
    if (!file.flush() || !SyncFileToDisk(file.handle(), errorText)) {
        if (errorText.isEmpty())
            errorText = file.errorString();
        file.cancelWriting();
        file.commit(); // discards the temporary file
        return false;
    }
    // The rename keeps the temporary file's inode, size and time: its version now is the
    // target's after the commit, with no moment between in which another writer could come.
    const std::optional<platform::FileVersion> written = platform::VersionOfHandle(file.handle());
    if (!file.commit()) {
        errorText = file.errorString();
        return false;
    }
    if (version)
        *version = written ? *written : platform::VersionOfPath(path).value_or(platform::FileVersion());
    return true;
}

QByteArray CDocumentFile::ConvertLineEnds(const QByteArray &text, int eolMode)
{
    const char *eol = eolMode == 0 ? "\r\n" : eolMode == 1 ? "\r" : "\n";
    const qsizetype eolLen = eolMode == 0 ? 2 : 1;
    const char *src = text.constData();
    const qsizetype n = text.size();

    // Nothing to do when the text already uses only the wanted line end.
    if (eolMode == 2 && !std::memchr(src, '\r', static_cast<size_t>(n)))
        return text;
    if (eolMode == 1 && !std::memchr(src, '\n', static_cast<size_t>(n)))
        return text;

    QByteArray out;
    out.resize(eolMode == 0 ? 2 * n : n); // CR LF at most doubles the size
    char *dst = out.data();
    qsizetype o = 0;
    qsizetype i = 0;
    if (eolMode == 2) {
        // To LF only CRs need looking at: jump from one to the next.
        while (i < n) {
            const void *cr = std::memchr(src + i, '\r', static_cast<size_t>(n - i));
            const qsizetype j = cr ? static_cast<const char *>(cr) - src : n;
            std::memcpy(dst + o, src + i, static_cast<size_t>(j - i));
            o += j - i;
            if (j == n)
                break;
            dst[o++] = '\n';
            i = j + 1;
            if (i < n && src[i] == '\n')
                ++i;
        }
        out.truncate(o);
        return out;
    }
    while (i < n) {
        // Copy the run up to the next CR or LF in one piece.
        qsizetype j = i;
        while (j < n && src[j] != '\r' && src[j] != '\n')
            ++j;
        std::memcpy(dst + o, src + i, static_cast<size_t>(j - i));
        o += j - i;
        if (j == n)
            break;
        const qsizetype step = (src[j] == '\r' && j + 1 < n && src[j + 1] == '\n') ? 2 : 1;
        std::memcpy(dst + o, eol, static_cast<size_t>(eolLen));
        o += eolLen;
        i = j + step;
    }
    out.truncate(o);
    return out;
}
