// The page view of the help viewer: pages, style sheets and pictures read from the .chm.
#include "help/CChmBrowser.h"

#include "help/CChmFile.h"

#include <QDesktopServices>
#include <QImage>
#include <QStringDecoder>

namespace {

// HTML pages name their encoding in a meta tag; without one, UTF-8 when valid, else Latin-1.
QString DecodePage(const QByteArray &bytes)
{
    QStringDecoder decoder = QStringDecoder::decoderForHtml(bytes);
    if (decoder.isValid()) {
        QString text = decoder.decode(bytes);
        if (!decoder.hasError())
            return text;
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

QString Line(const QString &text)
{
    return QStringLiteral("<html><body><p>%1</p></body></html>").arg(text.toHtmlEscaped());
}

// A page the file lacks is said in a line of its own, never left as an empty pane.
QString MissingPage(const QString &path)
{
    return Line(QObject::tr("The page %1 is not in this help file.").arg(path));
}

// What a link to an object shows: an HTML page as it is, a picture on a page of its own, plain
// text as text, and for anything else a line saying it cannot be shown.
QString PageFrom(const QString &path, const QByteArray &data)
{
    const bool html = path.endsWith(QLatin1String(".htm"), Qt::CaseInsensitive)
        || path.endsWith(QLatin1String(".html"), Qt::CaseInsensitive);
    if (!data.left(4096).contains('\0'))
        return html || data.trimmed().startsWith('<')
            ? DecodePage(data)
            : QStringLiteral("<html><body><pre>%1</pre></body></html>").arg(DecodePage(data).toHtmlEscaped());
    if (!QImage::fromData(data).isNull())
        return QStringLiteral("<html><body><img src=\"%1\"></body></html>").arg(path.toHtmlEscaped());
    return Line(QObject::tr("%1 is not a page that can be shown.").arg(path));
}

bool IsExternal(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https")
        || scheme == QLatin1String("mailto") || scheme == QLatin1String("ftp");
}

} // namespace

CChmBrowser::CChmBrowser(const CChmFile &file, QWidget *parent)
    : QTextBrowser(parent), m_file(file)
{
    setOpenExternalLinks(false); // would treat our own scheme as external
    setOpenLinks(true);
}

QUrl CChmBrowser::UrlOf(const QString &objectPath)
{
    QUrl url;
    url.setScheme(QLatin1String(Scheme));
    url.setPath(CChmFile::NormalisePath(objectPath), QUrl::DecodedMode);
    return url;
}

QString CChmBrowser::ObjectPath(const QUrl &url) const
{
    QUrl resolved = url;
    if (resolved.isRelative())
        resolved = source().resolved(url);
    return CChmFile::NormalisePath(resolved.path(QUrl::FullyDecoded));
}

QVariant CChmBrowser::loadResource(int type, const QUrl &name)
{
    const QUrl absolute = name.isRelative() ? source().resolved(name) : name;
    const QString scheme = absolute.scheme().toLower();
    // "ms-its:" and "mk:@MSITStore:" links name a page of a help file after "::".
    const bool ours = scheme == QLatin1String(Scheme)
        || absolute.toString().contains(QLatin1String("::/"));
    if (!ours)
        return QTextBrowser::loadResource(type, name);

    QString path = absolute.scheme() == QLatin1String(Scheme)
        ? ObjectPath(absolute)
        : CChmFile::NormalisePath(absolute.toString(QUrl::RemoveFragment | QUrl::RemoveQuery));
    QByteArray data;
    const bool found = m_file.Read(path, data);
    if (type == QTextDocument::HtmlResource)
        return found ? PageFrom(path, data) : MissingPage(path);
    if (!found)
        return QVariant();
    switch (type) {
    case QTextDocument::StyleSheetResource:
    case QTextDocument::MarkdownResource:
        return DecodePage(data);
    default:
        return data; // pictures: QTextDocument makes the image from the bytes
    }
}

void CChmBrowser::doSetSource(const QUrl &name, QTextDocument::ResourceType type)
{
    const QUrl absolute = name.isRelative() && !source().isEmpty() ? source().resolved(name) : name;
    if (IsExternal(absolute)) {
        QDesktopServices::openUrl(absolute);
        return;
    }
    if (absolute.scheme() != QLatin1String(Scheme) && absolute.toString().contains(QLatin1String("::/"))) {
        QUrl url = UrlOf(absolute.toString(QUrl::RemoveFragment | QUrl::RemoveQuery));
        url.setFragment(absolute.fragment());
        QTextBrowser::doSetSource(url, type);
        return;
    }
    QTextBrowser::doSetSource(absolute, type);
}
