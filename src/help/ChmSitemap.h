// The sitemaps of a compiled help file (.hhc contents, .hhk keyword index), read into entries.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A page an entry leads to: an object path of the file ("/Body/f_mapc_.htm#mapcar") or, for a
// page outside it, the address as written.
struct ChmTopic
{
    QString title;
    QString page;
    bool operator==(const ChmTopic &) const = default;
};

// One <object type="text/sitemap"> at its nesting depth (0 at the top): its first Name, and each
// Local with the Name given for it (the entry's own name when none is).
struct ChmSitemapEntry
{
    int depth = 0;
    QString name;
    QList<ChmTopic> topics;
};

using ChmSitemap = QList<ChmSitemapEntry>;

namespace ChmSitemapReader {

// Texts of a help file (sitemaps, its system data) are in the file's code page: UTF-8 when they
// decode as such, else Latin-1, so that nothing is lost.
QString DecodeText(const QByteArray &bytes);

// The entries of a sitemap stored at sitemapPath, in order; links are resolved against its
// folder. Damage never stops the reading: what could be read is returned, nothing for bytes that
// are not a sitemap at all.
ChmSitemap Parse(const QByteArray &bytes, const QString &sitemapPath);

// link as written in the object at fromPath: an object path with "." and ".." resolved and the
// fragment kept, or the link itself when it leads out of the file (a web address).
QString ResolveLink(const QString &fromPath, const QString &link);
// The same against a folder (an object path ending in "/"), for many links of one object.
QString ResolveInFolder(QStringView folder, QStringView link);

// True for a web or mail address, which the system's browser shows.
bool IsExternalLink(const QString &link);

} // namespace ChmSitemapReader
