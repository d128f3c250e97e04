// The window that shows a compiled HTML help file outside Windows.
#include "help/CChmViewer.h"

#include "help/CChmBrowser.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QKeySequence>
#include <QToolBar>

CChmViewer::CChmViewer(QWidget *owner)
    : QMainWindow(owner, Qt::Window)
{
    m_pBrowser = new CChmBrowser(m_file, this);
    setCentralWidget(m_pBrowser);

    auto *bar = addToolBar(tr("Navigation"));
    bar->setMovable(false);
    QAction *back = bar->addAction(tr("Back"), m_pBrowser, &QTextBrowser::backward);
    back->setShortcut(QKeySequence::Back);
    QAction *forward = bar->addAction(tr("Forward"), m_pBrowser, &QTextBrowser::forward);
    forward->setShortcut(QKeySequence::Forward);
    bar->addAction(tr("Home"), this, &CChmViewer::GoHome);
    back->setEnabled(false);
    forward->setEnabled(false);
    connect(m_pBrowser, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    connect(m_pBrowser, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);

    // Escape closes the viewer, as it closes the program's dialogs.
    auto *closeAction = new QAction(this);
    closeAction->setShortcut(QKeySequence(Qt::Key_Escape));
    closeAction->setShortcutContext(Qt::WindowShortcut);
    connect(closeAction, &QAction::triggered, this, &QWidget::close);
    addAction(closeAction);

    resize(800, 600);
}

// The browser is a child and goes first (QWidget's destructor), while m_file still lives.
CChmViewer::~CChmViewer()
{
    delete m_pBrowser;
}

bool CChmViewer::Open(const QString &path)
{
    m_pBrowser->clearHistory();
    m_pBrowser->setSource(QUrl());
    const bool ok = m_file.Open(path);
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

void CChmViewer::ShowNotFound(const QStringList &places)
{
    m_file.Close();
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

void CChmViewer::UpdateTitle()
{
    QString title = m_file.Title();
    if (title.isEmpty())
        title = QFileInfo(m_file.Path()).fileName();
    setWindowTitle(title);
}
