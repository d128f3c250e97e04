// The one rule for whether two paths name the same document.
#include "platform/CSameFile.h"

#include <QDir>
#include <QFileInfo>

#include <utility>

namespace {

// The existing file a path leads to, links and ".." resolved; empty when nothing is there.
QString Resolve(const QString &path)
{
    return path.isEmpty() ? QString() : QFileInfo(path).canonicalFilePath();
}

} // namespace

CSameFile::CSameFile(QString path) : m_strPath(std::move(path)) {}

bool CSameFile::SameName(const QString &a, const QString &b)
{
#if defined(Q_OS_WIN)
    return QDir::fromNativeSeparators(a).compare(QDir::fromNativeSeparators(b), Qt::CaseInsensitive) == 0;
#elif defined(Q_OS_MACOS)
    return a.compare(b, Qt::CaseInsensitive) == 0;
#else
    // Linux file systems tell A.lisp from a.lisp.
    return a == b;
#endif
}

bool CSameFile::Matches(const QString &other) const
{
    if (SameName(m_strPath, other))
        return true;
    if (!m_bResolved) {
        m_strResolved = Resolve(m_strPath);
        m_bResolved = true;
    }
    if (m_strResolved.isEmpty())
        return false;
    const QString resolved = Resolve(other);
    return !resolved.isEmpty() && SameName(m_strResolved, resolved);
}
