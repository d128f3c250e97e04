// File names on POSIX systems: finding the entry whose bytes a decoded name stands for.
#include "platform/FileNames.h"

#include <QFile>
#include <QStringList>

#include <dirent.h>
#include <memory>

namespace platform {
namespace {

constexpr QChar kReplacement(0xFFFD);

struct DirCloser {
    void operator()(DIR *d) const { ::closedir(d); }
};

// The entry of folder (bytes) whose name is not valid UTF-8 and decodes to name; empty if none.
QByteArray LossyEntry(const QByteArray &folder, const QString &name)
{
    const std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.constData()));
    if (!dir)
        return QByteArray();
    while (const dirent *entry = ::readdir(dir.get())) {
        const QByteArrayView bytes(entry->d_name);
        if (!bytes.isValidUtf8() && QFile::decodeName(bytes.toByteArray()) == name)
            return bytes.toByteArray();
    }
    return QByteArray();
}

} // namespace

std::optional<QByteArray> LossyNameOnDisk(const QString &path)
{
    if (!path.contains(kReplacement))
        return std::nullopt;
    // Component by component: the folders before a lossy one are named as the string says.
    // done holds the bytes of the components before the i-th, joined by "/" (empty: the root
    // of an absolute path, or nothing yet of a relative one).
    const QStringList parts = path.split(u'/');
    QByteArray done;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QByteArray separator = i > 0 ? QByteArray("/") : QByteArray();
        if (parts[i].contains(kReplacement)) {
            const QByteArray folder = i == 0 ? QByteArray(".") : done.isEmpty() ? QByteArray("/") : done;
            const QByteArray lossy = LossyEntry(folder, parts[i]);
            if (!lossy.isEmpty()) {
                QByteArray whole = done + separator + lossy;
                for (qsizetype j = i + 1; j < parts.size(); ++j)
                    whole += '/' + QFile::encodeName(parts[j]);
                return whole;
            }
        }
        done += separator + QFile::encodeName(parts[i]);
    }
    return std::nullopt;
}

} // namespace platform
