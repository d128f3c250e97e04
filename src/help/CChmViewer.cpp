// The window that shows a compiled HTML help file outside Windows.
#include "help/CChmViewer.h"

#include "help/CChmBrowser.h"
#include "help/CChmFindBar.h"
#include "help/CChmNavigationPane.h"
#include "help/CSymbolIndex.h"
#include "help/CTopicChooser.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QKeySequence>
#include <QSplitter>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

// The pane's width and whether it shows, kept from one viewer to the next for the run.
struct PaneLayout
{
    int width = 240;
    bool shown = true;
};
PaneLayout g_pane;

// The key the program uses everywhere, and the platform's own where it is another; a key
// given twice would make both shortcuts ambiguous, so neither would fire.
QList<QKeySequence> KeysOf(QKeyCombination key, QKeySequence::StandardKey platform)
{
    QList<QKeySequence> keys{QKeySequence(key)};
    for (const QKeySequence &other : QKeySequence::keyBindings(platform))
        if (!keys.contains(other))
            keys.append(other);
    return keys;
}

} // namespace

CChmViewer::CChmViewer(QWidget *owner)
    : QMainWindow(owner, Qt::Window)
{
    m_pSplitter = new QSplitter(Qt::Horizontal, this);
    m_pSplitter->setChildrenCollapsible(false);
    m_pPane = new CChmNavigationPane(m_pSplitter);
    auto *page = new QWidget(m_pSplitter);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_pBrowser = new CChmBrowser(m_file, page);
    m_pFindBar = new CChmFindBar(*m_pBrowser, page);
    layout->addWidget(m_pBrowser, 1);
    layout->addWidget(m_pFindBar);
    m_pSplitter->addWidget(m_pPane);
    m_pSplitter->addWidget(page);
    m_pSplitter->setStretchFactor(1, 1);
    setCentralWidget(m_pSplitter);

    auto *bar = addToolBar(tr("Navigation"));
    bar->setMovable(false);
    m_pPaneAction = bar->addAction(tr("Contents"));
    m_pPaneAction->setCheckable(true);
    m_pPaneAction->setToolTip(tr("Show or hide the contents and the index"));
    bar->addSeparator();
    QAction *back = bar->addAction(tr("Back"), m_pBrowser, &QTextBrowser::backward);
    back->setShortcuts(KeysOf(Qt::AltModifier | Qt::Key_Left, QKeySequence::Back));
    QAction *forward = bar->addAction(tr("Forward"), m_pBrowser, &QTextBrowser::forward);
    forward->setShortcuts(KeysOf(Qt::AltModifier | Qt::Key_Right, QKeySequence::Forward));
    bar->addAction(tr("Home"), this, &CChmViewer::GoHome);
    back->setEnabled(false);
    forward->setEnabled(false);
    connect(m_pBrowser, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    connect(m_pBrowser, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
    connect(m_pBrowser, &QTextBrowser::sourceChanged, this, &CChmViewer::OnPageShown);
    connect(m_pPaneAction, &QAction::toggled, this, &CChmViewer::SetPaneShown);
    connect(m_pSplitter, &QSplitter::splitterMoved, this, [this] {
        if (m_pPane->isVisible())
            g_pane.width = m_pSplitter->sizes().value(0, g_pane.width);
    });
    connect(m_pPane, &CChmNavigationPane::topicsChosen, this, &CChmViewer::ShowTopics);

    auto *find = new QAction(tr("Find in Page"), this);
    find->setShortcut(QKeySequence(Qt::ControlModifier | Qt::Key_F));
    find->setShortcutContext(Qt::WindowShortcut);
    connect(find, &QAction::triggered, m_pFindBar, &CChmFindBar::Activate);
    addAction(find);

    // Escape closes the viewer, as it closes the program's dialogs.
    auto *closeAction = new QAction(this);
    closeAction->setShortcut(QKeySequence(Qt::Key_Escape));
    closeAction->setShortcutContext(Qt::WindowShortcut);
    connect(closeAction, &QAction::triggered, this, &QWidget::close);
    addAction(closeAction);

    resize(900, 600);
    m_pSplitter->setSizes({g_pane.width, 900 - g_pane.width});
    m_pPaneAction->setChecked(g_pane.shown);
    m_pPane->setVisible(g_pane.shown);
}

// The page widgets go first (QWidget's destructor would take them later), while m_file lives.
CChmViewer::~CChmViewer()
{
    delete m_pSplitter;
}

bool CChmViewer::Open(const QString &path)
{
    m_pBrowser->clearHistory();
    m_pBrowser->setSource(QUrl());
    const bool ok = m_file.Open(path);
    m_pPane->SetContents({});
    if (ok && !m_file.ContentsFile().isEmpty()) {
        QByteArray hhc;
        if (m_file.Read(m_file.ContentsFile(), hhc))
            m_pPane->SetContents(ChmSitemapReader::Parse(hhc, m_file.ContentsFile()));
    }
    if (ok && !m_file.DefaultTopic().isEmpty()) {
        GoHome();
    } else if (ok) {
        m_pBrowser->setPlainText(tr("The help file %1 contains no pages.")
                                     .arg(QDir::toNativeSeparators(path)));
    } else {
        m_pBrowser->setPlainText(tr("The help file %1 could not be opened.")
                                     .arg(QDir::toNativeSeparators(path)));
    }
    UpdateTitle();
    return ok;
}

void CChmViewer::SetSymbolIndex(std::shared_ptr<CSymbolIndex> index)
{
    if (index == m_index)
        return;
    m_index = std::move(index);
    if (m_index)
        m_pPane->SetKeywordSource([index = m_index]() -> const ChmSitemap & { return index->Keywords(); });
    else
        m_pPane->SetKeywordSource({});
}

void CChmViewer::ShowNotFound(const QStringList &places)
{
    m_file.Close();
    m_pPane->SetContents({});
    m_pBrowser->clearHistory();
    m_pBrowser->setSource(QUrl());
    QStringList shown;
    for (const QString &place : places)
        shown.append(QDir::toNativeSeparators(place));
    const QString fileName = places.isEmpty() ? QString() : QFileInfo(places.first()).fileName();
    m_pBrowser->setPlainText(tr("The help file %1 was not found. Talvex looked for it here:\n\n%2\n\n"
                                "Put the file in one of these places and choose the command again.")
                                 .arg(fileName, shown.join(QLatin1Char('\n'))));
    setWindowTitle(fileName);
}

void CChmViewer::GoHome()
{
    if (m_file.IsOpen() && !m_file.DefaultTopic().isEmpty())
        m_pBrowser->setSource(CChmBrowser::UrlOf(m_file.DefaultTopic()));
}

void CChmViewer::ShowPage(const QString &page)
{
    if (ChmSitemapReader::IsExternalLink(page)) {
        QDesktopServices::openUrl(QUrl(page));
        return;
    }
    const qsizetype hash = page.indexOf(u'#');
    QUrl url = CChmBrowser::UrlOf(hash < 0 ? page : page.left(hash));
    if (hash >= 0)
        url.setFragment(page.mid(hash + 1));
    m_pBrowser->setSource(url);
}

void CChmViewer::ShowTopics(const QList<ChmTopic> &topics, const QString &name)
{
    if (topics.isEmpty())
        return;
    if (topics.size() == 1) {
        ShowPage(topics.first().page);
        return;
    }
    delete m_pChooser.data();
    m_pChooser = new CTopicChooser(name, topics, this);
    m_pChooser->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_pChooser, &CTopicChooser::topicChosen, this, [this](const ChmTopic &topic) {
        ShowPage(topic.page);
        raise();
        activateWindow();
    });
    m_pChooser->open();
}

void CChmViewer::OnPageShown(const QUrl &url)
{
    if (url.scheme() == QLatin1String(CChmBrowser::Scheme))
        m_pPane->SelectPage(url.path(QUrl::FullyDecoded));
    UpdateTitle();
}

void CChmViewer::SetPaneShown(bool shown)
{
    if (!shown && m_pPane->isVisible())
        g_pane.width = m_pSplitter->sizes().value(0, g_pane.width);
    g_pane.shown = shown;
    m_pPane->setVisible(shown);
    if (shown) {
        const int total = std::max(m_pSplitter->width(), g_pane.width + 100);
        m_pSplitter->setSizes({g_pane.width, total - g_pane.width});
    }
}

void CChmViewer::UpdateTitle()
{
    QString title = m_file.Title();
    if (title.isEmpty())
        title = QFileInfo(m_file.Path()).fileName();
    const QString page = m_pBrowser->documentTitle().simplified();
    setWindowTitle(page.isEmpty() || page == title ? title : page + QStringLiteral(" - ") + title);
}

CTopicChooser *CChmViewer::Chooser() const
{
    return m_pChooser.data();
}
