// Read access to a compiled HTML help (.chm) file: its objects, title and default topic.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

struct chmFile;

// Wraps chmlib. Object paths are absolute inside the file ("/index.html"); chmlib matches them
// without regard to letter case, as the format requires. Without chmlib every Open fails.
class CChmFile
{
public:
    CChmFile() = default;
    ~CChmFile();
    CChmFile(const CChmFile &) = delete;
    CChmFile &operator=(const CChmFile &) = delete;

    bool Open(const QString &path);
    void Close();
    bool IsOpen() const { return m_pFile != nullptr; }
    const QString &Path() const { return m_strPath; }

    bool Contains(const QString &objectPath) const;
    // The whole object; false when it is absent, unreadable or unreasonably large.
    bool Read(const QString &objectPath, QByteArray &data) const;

    // The title recorded in the file's system data (empty when none).
    const QString &Title() const { return m_strTitle; }
    // The page to show first: the system data's default topic when the file holds it, else the
    // first entry of the contents (.hhc), else the first HTML page. Empty when there is no page.
    const QString &DefaultTopic() const { return m_strDefaultTopic; }
    // The .hhc file named by the system data or found in the file (empty when none).
    const QString &ContentsFile() const { return m_strContentsFile; }
    // The keyword index (.hhk) named by the system data or found in the file (empty when none).
    const QString &IndexFile() const { return m_strIndexFile; }
    // Every object of the file (folders not included), in the file's directory order.
    QStringList Objects() const;
    // The HTML pages of the file, in the file's directory order.
    QStringList Pages() const;

    static QString NormalisePath(const QString &objectPath);

private:
    void ReadSystemData();
    QString FirstContentsEntry() const;

    chmFile *m_pFile = nullptr;
    QString m_strPath;
    QString m_strTitle;
    QString m_strDefaultTopic;
    QString m_strContentsFile;
    QString m_strIndexFile;
};
