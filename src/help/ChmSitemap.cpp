// Reading .hhc and .hhk sitemaps: a forward scan of their tags, tolerant of damage.
#include "help/ChmSitemap.h"

#include <QStringDecoder>

namespace {

bool IsNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'-' || c == u'_' || c == u':';
}

// The character references and the few named entities that sitemaps use.
QString Unescape(QStringView value)
{
    if (!value.contains(u'&'))
        return value.toString();
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const qsizetype semi = value[i] == u'&' ? value.indexOf(u';', i + 1) : -1;
        if (semi < 0 || semi - i > 10) {
            out += value[i];
            continue;
        }
        const QStringView name = value.sliced(i + 1, semi - i - 1);
        char32_t code = 0;
        if (name.startsWith(u'#')) {
            bool ok = false;
            code = name.size() > 1 && (name[1] == u'x' || name[1] == u'X') ? name.sliced(2).toUInt(&ok, 16)
                                                                            : name.sliced(1).toUInt(&ok, 10);
            if (!ok || code == 0 || code > 0x10FFFF)
                code = 0;
        } else if (name == u"amp") {
            code = '&';
        } else if (name == u"lt") {
            code = '<';
        } else if (name == u"gt") {
            code = '>';
        } else if (name == u"quot") {
            code = '"';
        } else if (name == u"apos") {
            code = '\'';
        } else if (name == u"nbsp") {
            code = 0xA0;
        }
        if (code == 0) {
            out += value[i];
            continue;
        }
        out += QString::fromUcs4(&code, 1);
        i = semi;
    }
    return out;
}

// The attributes of the tag whose name ends at i, up to its closing '>': calls take(name, value)
// for each, and returns the position after the tag.
template <class Take>
qsizetype ReadAttributes(const QString &text, qsizetype i, Take take)
{
    const qsizetype n = text.size();
    while (i < n) {
        while (i < n && text[i].isSpace())
            ++i;
        if (i >= n)
            break;
        if (text[i] == u'>')
            return i + 1;
        if (!IsNameChar(text[i])) {
            ++i; // a stray "/" or quote
            continue;
        }
        const qsizetype nameStart = i;
        while (i < n && IsNameChar(text[i]))
            ++i;
        const QStringView name = QStringView(text).sliced(nameStart, i - nameStart);
        while (i < n && text[i].isSpace())
            ++i;
        QStringView value;
        if (i < n && text[i] == u'=') {
            ++i;
            while (i < n && text[i].isSpace())
                ++i;
            if (i < n && (text[i] == u'"' || text[i] == u'\'')) {
                const QChar quote = text[i];
                qsizetype close = text.indexOf(quote, i + 1);
                if (close < 0)
                    close = n;
                value = QStringView(text).sliced(i + 1, close - i - 1);
                i = std::min(n, close + 1);
            } else {
                const qsizetype valueStart = i;
                while (i < n && !text[i].isSpace() && text[i] != u'>')
                    ++i;
                value = QStringView(text).sliced(valueStart, i - valueStart);
            }
        }
        take(name, value);
    }
    return n;
}

// The tag name at i (after '<'), lower-cased for the few names that matter, and its end.
QStringView TagName(const QString &text, qsizetype i, qsizetype &end)
{
    end = i;
    if (end < text.size() && text[end] == u'/')
        ++end;
    while (end < text.size() && text[end].isLetterOrNumber())
        ++end;
    return QStringView(text).sliced(i, end - i);
}

QString FolderOf(const QString &path)
{
    return path.left(path.lastIndexOf(u'/') + 1);
}

bool IsExternal(QStringView link)
{
    static const char *const kSchemes[] = {"http:", "https:", "ftp:", "mailto:", "news:"};
    for (const char *scheme : kSchemes)
        if (link.startsWith(QLatin1String(scheme), Qt::CaseInsensitive))
            return true;
    return false;
}

} // namespace

namespace ChmSitemapReader {

QString DecodeText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    return text;
}

// The usual links, plain names and leading "../", are put together without splitting the path.
QString ResolveInFolder(QStringView folder, QStringView link)
{
    link = link.trimmed();
    if (IsExternal(link))
        return link.toString();
    const qsizetype sep = link.indexOf(QLatin1String("::"));
    if (sep >= 0) {
        link = link.sliced(sep + 2);
        folder = u"/";
    }
    QString path;
    if (link.contains(u'\\')) {
        path = link.toString();
        path.replace(u'\\', u'/');
        return ResolveInFolder(folder, path);
    }
    if (link.startsWith(u'/')) {
        folder = u"";
    } else {
        while (link.startsWith(QLatin1String("../")) || link.startsWith(QLatin1String("./"))) {
            if (link[0] == u'.' && link[1] == u'.')
                folder = folder.first(std::max<qsizetype>(1, folder.first(folder.size() - 1).lastIndexOf(u'/') + 1));
            link = link.sliced(link[1] == u'.' ? 3 : 2);
        }
    }
    path.reserve(folder.size() + link.size());
    path.append(folder).append(link);
    const qsizetype hash = path.indexOf(u'#');
    const QStringView bare = QStringView(path).first(hash < 0 ? path.size() : hash);
    if (!bare.contains(QLatin1String("/./")) && !bare.contains(QLatin1String("/../")) && !bare.contains(QLatin1String("//"))
        && !bare.endsWith(QLatin1String("/..")))
        return path;
    // Dots inside the path: segment by segment.
    QStringList kept;
    for (const QStringView part : bare.split(u'/')) {
        if (part == QLatin1String(".."))
            kept.isEmpty() ? void() : kept.removeLast();
        else if (!part.isEmpty() && part != QLatin1String("."))
            kept.append(part.toString());
    }
    return u'/' + kept.join(u'/') + path.sliced(bare.size());
}


bool IsExternalLink(const QString &link)
{
    return IsExternal(link);
}

QString ResolveLink(const QString &fromPath, const QString &link)
{
    return ResolveInFolder(FolderOf(fromPath.startsWith(u'/') ? fromPath : u'/' + fromPath), link);
}

ChmSitemap Parse(const QByteArray &bytes, const QString &sitemapPath)
{
    ChmSitemap entries;
    const QString text = DecodeText(bytes);
    const QString folder = FolderOf(sitemapPath.startsWith(u'/') ? sitemapPath : u'/' + sitemapPath);
    entries.reserve(text.size() / 160); // an entry takes some 100 to 200 characters
    const qsizetype n = text.size();
    int depth = 0;
    bool inObject = false;
    ChmSitemapEntry entry;
    QString title;

    qsizetype i = 0;
    while ((i = text.indexOf(u'<', i)) >= 0) {
        qsizetype end = 0;
        const QStringView tag = TagName(text, i + 1, end);
        if (tag.compare(u"param", Qt::CaseInsensitive) == 0) {
            QStringView name, value;
            i = ReadAttributes(text, end, [&](QStringView attr, QStringView v) {
                if (attr.compare(u"name", Qt::CaseInsensitive) == 0)
                    name = v;
                else if (attr.compare(u"value", Qt::CaseInsensitive) == 0)
                    value = v;
            });
            if (!inObject)
                continue;
            if (name.compare(u"Name", Qt::CaseInsensitive) == 0) {
                if (entry.name.isEmpty())
                    entry.name = Unescape(value).trimmed();
                else
                    title = Unescape(value).trimmed();
            } else if (name.compare(u"Local", Qt::CaseInsensitive) == 0 && !value.trimmed().isEmpty()) {
                entry.topics.append({title.isEmpty() ? entry.name : title,
                                     value.contains(u'&') ? ResolveInFolder(folder, Unescape(value)) : ResolveInFolder(folder, value)});
                title.clear();
            }
            continue;
        }
        if (tag.compare(u"ul", Qt::CaseInsensitive) == 0) {
            ++depth;
        } else if (tag.compare(u"/ul", Qt::CaseInsensitive) == 0) {
            depth = std::max(0, depth - 1);
        } else if (tag.compare(u"object", Qt::CaseInsensitive) == 0) {
            bool sitemap = false;
            i = ReadAttributes(text, end, [&](QStringView attr, QStringView v) {
                if (attr.compare(u"type", Qt::CaseInsensitive) == 0)
                    sitemap = v.compare(u"text/sitemap", Qt::CaseInsensitive) == 0;
            });
            inObject = sitemap;
            entry = ChmSitemapEntry{std::max(0, depth - 1), {}, {}};
            title.clear();
            continue;
        } else if (tag.compare(u"/object", Qt::CaseInsensitive) == 0) {
            if (inObject && !entry.name.isEmpty())
                entries.append(std::move(entry));
            inObject = false;
            entry = {};
        }
        const qsizetype close = text.indexOf(u'>', end);
        i = close < 0 ? n : close + 1;
    }
    return entries;
}

} // namespace ChmSitemapReader
