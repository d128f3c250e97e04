// Read access to a compiled HTML help (.chm) file through chmlib.
#include "help/CChmFile.h"
#include "help/ChmSitemap.h"

#include <QFile>
#include <QRegularExpression>

#ifdef TALVEX_HAVE_CHMLIB
#include <chm_lib.h>
#endif

namespace {

#ifdef TALVEX_HAVE_CHMLIB
// No help page or picture comes anywhere near this; a larger size means a damaged file.
constexpr qint64 kMaxObjectSize = 64 * 1024 * 1024;

bool IsHtmlPath(const QString &path)
{
    return path.endsWith(QLatin1String(".htm"), Qt::CaseInsensitive)
        || path.endsWith(QLatin1String(".html"), Qt::CaseInsensitive);
}

int CollectFiles(chmFile *, chmUnitInfo *ui, void *context)
{
    static_cast<QStringList *>(context)->append(QString::fromUtf8(ui->path));
    return CHM_ENUMERATOR_CONTINUE;
}
#endif

} // namespace

CChmFile::~CChmFile()
{
    Close();
}

bool CChmFile::Open(const QString &path)
{
    Close();
    m_strPath = path;
#ifdef TALVEX_HAVE_CHMLIB
    if (!QFile::exists(path))
        return false;
    m_pFile = chm_open(QFile::encodeName(path).constData());
    if (!m_pFile)
        return false;
    ReadSystemData();
    // A sitemap the system data names but the file lacks is as good as none.
    if (!m_strContentsFile.isEmpty() && !Contains(m_strContentsFile))
        m_strContentsFile.clear();
    if (!m_strIndexFile.isEmpty() && !Contains(m_strIndexFile))
        m_strIndexFile.clear();
    if (m_strContentsFile.isEmpty() || m_strIndexFile.isEmpty()) {
        for (const QString &f : Objects()) {
            if (m_strContentsFile.isEmpty() && f.endsWith(QLatin1String(".hhc"), Qt::CaseInsensitive))
                m_strContentsFile = f;
            else if (m_strIndexFile.isEmpty() && f.endsWith(QLatin1String(".hhk"), Qt::CaseInsensitive))
                m_strIndexFile = f;
        }
    }
    if (!m_strDefaultTopic.isEmpty() && !Contains(m_strDefaultTopic))
        m_strDefaultTopic.clear();
    if (m_strDefaultTopic.isEmpty())
        m_strDefaultTopic = FirstContentsEntry();
    if (m_strDefaultTopic.isEmpty()) {
        const QStringList pages = Pages();
        if (!pages.isEmpty())
            m_strDefaultTopic = pages.first();
    }
    return true;
#else
    return false;
#endif
}

void CChmFile::Close()
{
#ifdef TALVEX_HAVE_CHMLIB
    if (m_pFile)
        chm_close(m_pFile);
#endif
    m_pFile = nullptr;
    m_strTitle.clear();
    m_strDefaultTopic.clear();
    m_strContentsFile.clear();
    m_strIndexFile.clear();
}

QString CChmFile::NormalisePath(const QString &objectPath)
{
    QString p = objectPath;
    // Links of the form "file.chm::/page.html" name a page of this file.
    const int sep = p.indexOf(QLatin1String("::"));
    if (sep >= 0)
        p = p.mid(sep + 2);
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!p.startsWith(QLatin1Char('/')))
        p.prepend(QLatin1Char('/'));
    return p;
}

bool CChmFile::Contains(const QString &objectPath) const
{
#ifdef TALVEX_HAVE_CHMLIB
    if (!m_pFile)
        return false;
    chmUnitInfo ui{};
    return chm_resolve_object(m_pFile, NormalisePath(objectPath).toUtf8().constData(), &ui)
        == CHM_RESOLVE_SUCCESS;
#else
    Q_UNUSED(objectPath);
    return false;
#endif
}

bool CChmFile::Read(const QString &objectPath, QByteArray &data) const
{
    data.clear();
#ifdef TALVEX_HAVE_CHMLIB
    if (!m_pFile)
        return false;
    chmUnitInfo ui{};
    if (chm_resolve_object(m_pFile, NormalisePath(objectPath).toUtf8().constData(), &ui)
        != CHM_RESOLVE_SUCCESS)
        return false;
    if (ui.length > static_cast<LONGUINT64>(kMaxObjectSize))
        return false;
    const auto length = static_cast<qsizetype>(ui.length);
    data.resize(length);
    if (length == 0)
        return true;
    const LONGINT64 got = chm_retrieve_object(m_pFile, &ui,
                                              reinterpret_cast<unsigned char *>(data.data()), 0,
                                              static_cast<LONGINT64>(length));
    if (got != static_cast<LONGINT64>(length)) {
        data.clear();
        return false;
    }
    return true;
#else
    Q_UNUSED(objectPath);
    return false;
#endif
}

QStringList CChmFile::Objects() const
{
    QStringList all;
#ifdef TALVEX_HAVE_CHMLIB
    if (m_pFile)
        chm_enumerate(m_pFile, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES, CollectFiles, &all);
#endif
    return all;
}

QStringList CChmFile::Pages() const
{
    QStringList pages;
#ifdef TALVEX_HAVE_CHMLIB
    for (const QString &f : Objects())
        if (IsHtmlPath(f))
            pages.append(f);
#endif
    return pages;
}

// "#SYSTEM": a 4-byte version, then records of a 2-byte code, a 2-byte length and the data.
// Code 0 names the contents file, 1 the keyword index, 2 the default topic, 3 the title (all
// NUL-terminated).
void CChmFile::ReadSystemData()
{
    QByteArray sys;
    if (!Read(QStringLiteral("/#SYSTEM"), sys) || sys.size() < 4)
        return;
    const auto *p = reinterpret_cast<const unsigned char *>(sys.constData());
    qsizetype pos = 4;
    while (pos + 4 <= sys.size()) {
        const int code = p[pos] | (p[pos + 1] << 8);
        const int length = p[pos + 2] | (p[pos + 3] << 8);
        pos += 4;
        if (pos + length > sys.size())
            break;
        QByteArray value = sys.mid(pos, length);
        const qsizetype nul = value.indexOf('\0');
        if (nul >= 0)
            value.truncate(nul);
        switch (code) {
        case 0:
            if (!value.isEmpty())
                m_strContentsFile = NormalisePath(ChmSitemapReader::DecodeText(value));
            break;
        case 1:
            if (!value.isEmpty())
                m_strIndexFile = NormalisePath(ChmSitemapReader::DecodeText(value));
            break;
        case 2:
            if (!value.isEmpty())
                m_strDefaultTopic = NormalisePath(ChmSitemapReader::DecodeText(value));
            break;
        case 3:
            m_strTitle = ChmSitemapReader::DecodeText(value);
            break;
        default:
            break;
        }
        pos += length;
    }
}

// The first <param name="Local" value="..."> of the contents file.
QString CChmFile::FirstContentsEntry() const
{
    QByteArray hhc;
    if (m_strContentsFile.isEmpty() || !Read(m_strContentsFile, hhc))
        return QString();
    static const QRegularExpression param(
        QStringLiteral(R"re(<param\s+name\s*=\s*"Local"\s+value\s*=\s*"([^"]+)")re"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = param.match(ChmSitemapReader::DecodeText(hhc));
    if (!m.hasMatch())
        return QString();
    QString local = m.captured(1);
    const int hash = local.indexOf(QLatin1Char('#'));
    if (hash >= 0)
        local.truncate(hash);
    // Entries are relative to the folder of the contents file.
    if (!local.startsWith(QLatin1Char('/')) && !local.contains(QLatin1String("::"))) {
        const int slash = m_strContentsFile.lastIndexOf(QLatin1Char('/'));
        local.prepend(m_strContentsFile.left(slash + 1));
    }
    local = NormalisePath(local);
    return Contains(local) ? local : QString();
}
