// The table that finds the pages of a symbol in a compiled help file, built once from its indexes.
#pragma once

#include "help/CChmFile.h"
#include "help/ChmSitemap.h"

#include <QDateTime>
#include <QHash>

#include <array>

// Opens its own handle on the file. The sources are asked in order, each read the first time a
// name reaches it: the keyword index (the .hhk, or the binary index when there is no .hhk that
// reads), then Data/Map_Sym.txt (a name line, then its page line), then the HyperSpec's own
// alphabetical symbol index pages. Names compare case-folded.
class CSymbolIndex
{
public:
    enum Source { KeywordIndex, BinaryIndex, SymbolMap, IndexPages, SourceCount };

    explicit CSymbolIndex(const QString &path);

    const QString &Path() const { return m_strPath; }
    bool IsOpen() const { return m_file.IsOpen(); }
    // False once the file on disk is not the one read (size or modification time changed).
    bool IsCurrent() const;

    // The pages of name from the first source that knows it, each page once; empty when none does.
    QList<ChmTopic> Lookup(const QString &name);
    // The source that answered the last lookup (SourceCount when none did).
    Source LastSource() const { return m_lastSource; }
    // The entries of the first source that has any, in its order: what the Index tab lists.
    const ChmSitemap &Keywords();

    // The <title> of a page of the file (empty when it has none).
    QString PageTitle(const QString &page) const;

    // One source's table on its own (built when needed), for tests and measurements.
    const ChmSitemap &Entries(Source source);

    // The table of a Map_Sym.txt text whose page lines are relative to mapPath's folder.
    static ChmSitemap ReadSymbolMap(const QByteArray &text, const QString &mapPath);
    // The symbol links of one alphabetical index page stored at pagePath.
    static ChmSitemap ReadIndexPage(const QByteArray &html, const QString &pagePath);

private:
    struct Table
    {
        bool built = false;
        ChmSitemap entries;
        QMultiHash<QString, qsizetype> byName; // folded name -> entries
    };

    Table &Built(Source source);
    ChmSitemap Read(Source source) const;

    QString m_strPath;
    CChmFile m_file;
    qint64 m_nSize = -1;
    QDateTime m_modified;
    std::array<Table, SourceCount> m_tables;
    Source m_lastSource = SourceCount;
};
