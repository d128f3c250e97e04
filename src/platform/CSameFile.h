// The one rule for whether two paths name the same document.
#pragma once

#include <QString>

// Two paths name the same document when their names are equal, or when both resolve to one
// existing file (symbolic links and ".." resolved). Names compare ignoring letter case on
// Windows and macOS, whose file systems ignore it, and exactly elsewhere. The path given to the
// constructor is resolved at most once, however many others it is compared with.
class CSameFile
{
public:
    explicit CSameFile(QString path);

    bool Matches(const QString &other) const;

    // Equal names by this system's letter-case rule (and, on Windows, either separator).
    static bool SameName(const QString &a, const QString &b);

private:
    QString m_strPath;
    mutable QString m_strResolved;
    mutable bool m_bResolved = false;
};

inline bool IsSameFile(const QString &a, const QString &b)
{
    return CSameFile(a).Matches(b);
}
