// The page view of the help viewer: a QTextBrowser whose pages and pictures come from a .chm.
#pragma once

#include <QTextBrowser>

class CChmFile;

// Pages are addressed as "chm:/folder/page.html"; relative links and pictures resolve against
// the page showing, so links inside the file are followed as in any browser. Links to the web
// go to the user's browser.
class CChmBrowser : public QTextBrowser
{
    Q_OBJECT

public:
    static constexpr const char *Scheme = "chm";

    CChmBrowser(const CChmFile &file, QWidget *parent = nullptr);

    static QUrl UrlOf(const QString &objectPath);
    QVariant loadResource(int type, const QUrl &name) override;

protected:
    void doSetSource(const QUrl &name, QTextDocument::ResourceType type) override;

private:
    QString ObjectPath(const QUrl &url) const;

    const CChmFile &m_file;
};
