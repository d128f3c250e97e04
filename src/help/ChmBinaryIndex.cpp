// Reading $WWKeywordLinks/BTree and the topic tables it points into (#TOPICS, #URLTBL, #URLSTR, #STRINGS).
#include "help/ChmBinaryIndex.h"

#include "help/CChmFile.h"


namespace {

// Little-endian reads that fail, instead of reading on, at the end of the data.
class Reader
{
public:
    explicit Reader(const QByteArray &data, qsizetype pos = 0, qsizetype end = -1)
        : m_data(data), m_pos(pos), m_end(end < 0 ? data.size() : std::min(end, data.size()))
    {
    }

    bool Ok() const { return m_ok; }
    qsizetype Pos() const { return m_pos; }

    quint32 Dword() { return static_cast<quint32>(Bytes(4)); }
    quint16 Word() { return static_cast<quint16>(Bytes(2)); }

    // A NUL-terminated UTF-16LE string.
    QString Wide()
    {
        qsizetype end = m_pos;
        while (end + 1 < m_end && (m_data[end] != 0 || m_data[end + 1] != 0))
            end += 2;
        if (end + 1 >= m_end) {
            m_ok = false;
            return {};
        }
        QString text(static_cast<qsizetype>((end - m_pos) / 2), Qt::Uninitialized);
        for (qsizetype k = 0; k < text.size(); ++k)
            text[k] = QChar(static_cast<unsigned char>(m_data[m_pos + 2 * k])
                            | (static_cast<unsigned char>(m_data[m_pos + 2 * k + 1]) << 8));
        m_pos = end + 2;
        return text;
    }

private:
    quint64 Bytes(int count)
    {
        if (!m_ok || m_pos + count > m_end) {
            m_ok = false;
            return 0;
        }
        quint64 value = 0;
        for (int k = count - 1; k >= 0; --k)
            value = (value << 8) | static_cast<unsigned char>(m_data[m_pos + k]);
        m_pos += count;
        return value;
    }

    const QByteArray &m_data;
    qsizetype m_pos;
    qsizetype m_end;
    bool m_ok = true;
};

quint32 DwordAt(const QByteArray &data, qint64 pos, bool &ok)
{
    if (pos < 0 || pos + 4 > data.size()) {
        ok = false;
        return 0;
    }
    Reader r(data, static_cast<qsizetype>(pos));
    return r.Dword();
}

QString AsciizAt(const QByteArray &data, qint64 pos)
{
    if (pos < 0 || pos >= data.size())
        return {};
    const qsizetype nul = data.indexOf('\0', static_cast<qsizetype>(pos));
    return QString::fromUtf8(data.constData() + pos, (nul < 0 ? data.size() : nul) - pos);
}

// Topic number -> its page and title, through the tables that hold them.
class Topics
{
public:
    explicit Topics(const CChmFile &file)
    {
        file.Read(QStringLiteral("/#TOPICS"), m_topics);
        file.Read(QStringLiteral("/#URLTBL"), m_urlTable);
        file.Read(QStringLiteral("/#URLSTR"), m_urlStrings);
        file.Read(QStringLiteral("/#STRINGS"), m_strings);
    }

    bool Get(quint32 topic, ChmTopic &out) const
    {
        // #TOPICS: 16 bytes a topic; the title's offset in #STRINGS at 4, its #URLTBL entry at 8.
        // #URLTBL: 12 bytes an entry; its #URLSTR offset at 8. #URLSTR: two offsets, then the page.
        bool ok = true;
        const qint64 at = qint64(topic) * 16;
        const quint32 titleAt = DwordAt(m_topics, at + 4, ok);
        const quint32 urlEntry = DwordAt(m_topics, at + 8, ok);
        const quint32 urlAt = DwordAt(m_urlTable, qint64(urlEntry) + 8, ok);
        if (!ok)
            return false;
        const QString local = AsciizAt(m_urlStrings, qint64(urlAt) + 8);
        if (local.isEmpty())
            return false;
        out.page = ChmSitemapReader::ResolveInFolder(u"/", local);
        out.title = titleAt == 0xFFFFFFFFu ? QString() : AsciizAt(m_strings, titleAt);
        return true;
    }

private:
    QByteArray m_topics, m_urlTable, m_urlStrings, m_strings;
};

constexpr qsizetype kHeaderSize = 0x4C;
constexpr qsizetype kBlockHeaderSize = 12;

} // namespace

namespace ChmBinaryIndex {

ChmSitemap Read(const CChmFile &file)
{
    ChmSitemap entries;
    QByteArray tree;
    if (!file.Read(QStringLiteral("/$WWKeywordLinks/BTree"), tree) || tree.size() < kHeaderSize
        || !tree.startsWith(";)"))
        return entries;
    Reader header(tree, 4);
    const qsizetype blockSize = header.Word();
    Reader counts(tree, 0x1A);
    const quint32 lastListing = counts.Dword();
    if (blockSize < kBlockHeaderSize || !counts.Ok())
        return entries;
    const qsizetype blocks = (tree.size() - kHeaderSize) / blockSize;
    const Topics topics(file);

    // The listing blocks are blocks 0 to the last one the header names, in keyword order; the
    // index blocks after them only repeat their keywords. (Their chain links are not followed:
    // some compilers write them wrong.)
    const qsizetype listing = std::min<qsizetype>(blocks, qsizetype(lastListing) + 1);
    for (qsizetype block = 0; block < listing; ++block) {
        const qsizetype start = kHeaderSize + block * blockSize;
        Reader r(tree, start, start + blockSize);
        const quint16 freeSpace = r.Word();
        const quint16 count = r.Word();
        r.Dword(); // the previous block
        r.Dword(); // the next block
        const qsizetype used = start + blockSize - freeSpace;
        for (int k = 0; k < count && r.Ok() && r.Pos() < used; ++k) {
            ChmSitemapEntry entry;
            entry.name = r.Wide();
            const quint16 seeAlso = r.Word();
            entry.depth = r.Word();
            r.Dword(); // where a sub-keyword's own part begins
            r.Dword();
            const quint32 pairs = r.Dword();
            if (seeAlso != 0) {
                r.Wide(); // "see also" names another keyword, not a page
            } else {
                for (quint32 p = 0; p < pairs && r.Ok(); ++p) {
                    ChmTopic topic;
                    if (const quint32 number = r.Dword(); r.Ok() && topics.Get(number, topic)) {
                        if (topic.title.isEmpty())
                            topic.title = entry.name;
                        entry.topics.append(topic);
                    }
                }
            }
            r.Dword();
            r.Dword();
            if (r.Ok() && !entry.name.isEmpty() && !entry.topics.isEmpty())
                entries.append(std::move(entry));
        }
    }
    return entries;
}

} // namespace ChmBinaryIndex
