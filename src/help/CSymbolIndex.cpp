// The symbol table of a compiled help file: its keyword indexes, the symbol map, the index pages.
#include "help/CSymbolIndex.h"

#include "help/ChmBinaryIndex.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <QTextDocumentFragment>

#include <algorithm>

namespace {

const QString kSymbolMap = QStringLiteral("/Data/Map_Sym.txt");

// The HyperSpec's alphabetical symbol index: one page a letter, and the page of all symbols.
bool IsIndexPage(const QString &path)
{
    static const QRegularExpression name(QStringLiteral(R"re(/X_(Alph_[^/]*|AllSym)\.html?$)re"),
                                         QRegularExpression::CaseInsensitiveOption);
    return name.match(path).hasMatch();
}

QString WithoutFragment(const QString &page)
{
    const qsizetype hash = page.indexOf(u'#');
    return hash < 0 ? page : page.left(hash);
}

QString Decode(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

} // namespace

CSymbolIndex::CSymbolIndex(const QString &path)
    : m_strPath(path)
{
    const QFileInfo info(path);
    m_nSize = info.size();
    m_modified = info.lastModified();
    m_file.Open(path);
}

bool CSymbolIndex::IsCurrent() const
{
    const QFileInfo info(m_strPath);
    return info.exists() && info.size() == m_nSize && info.lastModified() == m_modified;
}

QString CSymbolIndex::PageTitle(const QString &page) const
{
    QByteArray html;
    if (!m_file.Read(WithoutFragment(page), html))
        return {};
    static const QRegularExpression title(QStringLiteral("<title[^>]*>(.*?)</title"),
                                          QRegularExpression::CaseInsensitiveOption
                                              | QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch m = title.match(Decode(html.left(16 * 1024)));
    return m.hasMatch() ? QTextDocumentFragment::fromHtml(m.captured(1)).toPlainText().simplified() : QString();
}

ChmSitemap CSymbolIndex::ReadSymbolMap(const QByteArray &text, const QString &mapPath)
{
    ChmSitemap entries;
    const QString all = QString::fromLatin1(text);
    const QString folder = mapPath.left(mapPath.lastIndexOf(u'/') + 1);
    entries.reserve(all.size() / 40);
    QString name;
    for (qsizetype at = 0; at < all.size();) {
        qsizetype end = all.indexOf(u'\n', at);
        if (end < 0)
            end = all.size();
        const QStringView line = QStringView(all).sliced(at, end - at).trimmed();
        at = end + 1;
        if (line.isEmpty())
            continue;
        if (name.isEmpty()) {
            name = line.toString();
            continue;
        }
        // The page line of a name; "/" and "//" are names too, so lines strictly alternate.
        entries.append({0, name, {{name, ChmSitemapReader::ResolveInFolder(folder, line)}}});
        name.clear();
    }
    return entries;
}

ChmSitemap CSymbolIndex::ReadIndexPage(const QByteArray &html, const QString &pagePath)
{
    ChmSitemap entries;
    const QString text = Decode(html);
    static const QRegularExpression anchor(
        QStringLiteral(R"re(<a\s[^>]*?href\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s>]+))[^>]*>(.*?)</a\s*>)re"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
    for (auto it = anchor.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString href = m.captured(1) + m.captured(2) + m.captured(3);
        QString inner = m.captured(4);
        if (inner.contains(u'<'))
            inner.remove(tags);
        if (inner.contains(u'&'))
            inner = QTextDocumentFragment::fromHtml(inner).toPlainText();
        inner = inner.trimmed();
        // Symbol names hold no blanks; the letters at the top lead to the other index pages.
        if (inner.isEmpty() || href.isEmpty() || inner.contains(QRegularExpression(QStringLiteral("\\s"))))
            continue;
        const QString page = ChmSitemapReader::ResolveLink(pagePath, href);
        if (ChmSitemapReader::IsExternalLink(page) || IsIndexPage(WithoutFragment(page)))
            continue;
        entries.append({0, inner, {{inner, page}}});
    }
    return entries;
}

ChmSitemap CSymbolIndex::Read(Source source) const
{
    if (!m_file.IsOpen())
        return {};
    QByteArray bytes;
    switch (source) {
    case KeywordIndex:
        if (!m_file.IndexFile().isEmpty() && m_file.Read(m_file.IndexFile(), bytes))
            return ChmSitemapReader::Parse(bytes, m_file.IndexFile());
        return {};
    case BinaryIndex:
        return ChmBinaryIndex::Read(m_file);
    case SymbolMap:
        if (m_file.Read(kSymbolMap, bytes))
            return ReadSymbolMap(bytes, kSymbolMap);
        return {};
    case IndexPages: {
        ChmSitemap entries;
        for (const QString &page : m_file.Pages())
            if (IsIndexPage(page) && m_file.Read(page, bytes))
                entries.append(ReadIndexPage(bytes, page));
        return entries;
    }
    case SourceCount:
        break;
    }
    return {};
}

CSymbolIndex::Table &CSymbolIndex::Built(Source source)
{
    Table &table = m_tables[source];
    if (table.built)
        return table;
    table.built = true;
    // The binary index stands in for a keyword index that is missing or does not read.
    if (source == BinaryIndex && !Built(KeywordIndex).entries.isEmpty())
        return table;
    table.entries = Read(source);
    table.byName.reserve(table.entries.size());
    for (qsizetype k = 0; k < table.entries.size(); ++k)
        table.byName.insert(table.entries[k].name.toCaseFolded(), k);
    return table;
}

const ChmSitemap &CSymbolIndex::Entries(Source source)
{
    return Built(source).entries;
}

QList<ChmTopic> CSymbolIndex::Lookup(const QString &name)
{
    const QString key = name.trimmed().toCaseFolded();
    m_lastSource = SourceCount;
    if (key.isEmpty())
        return {};
    for (int s = 0; s < SourceCount; ++s) {
        const Table &table = Built(static_cast<Source>(s));
        QList<qsizetype> found = table.byName.values(key);
        if (found.isEmpty())
            continue;
        std::sort(found.begin(), found.end()); // in the source's order
        QList<ChmTopic> topics;
        QSet<QString> pages;
        for (qsizetype k : std::as_const(found))
            for (const ChmTopic &topic : table.entries[k].topics)
                if (!topic.page.isEmpty()) {
                    const QString same = WithoutFragment(topic.page).toCaseFolded();
                    if (!pages.contains(same)) {
                        pages.insert(same);
                        topics.append(topic);
                    }
                }
        if (!topics.isEmpty()) {
            m_lastSource = static_cast<Source>(s);
            return topics;
        }
    }
    return {};
}

const ChmSitemap &CSymbolIndex::Keywords()
{
    for (int s = 0; s < SourceCount; ++s)
        if (const Table &table = Built(static_cast<Source>(s)); !table.entries.isEmpty())
            return table.entries;
    return m_tables[KeywordIndex].entries;
}
