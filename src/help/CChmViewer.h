// The window that shows a compiled HTML help file outside Windows.
#pragma once

#include "help/CChmFile.h"
#include "help/ChmSitemap.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

class CChmBrowser;
class CChmFindBar;
class CChmNavigationPane;
class CSymbolIndex;
class CTopicChooser;
class QAction;
class QSplitter;

// A top-level window owned by the main frame: the page in a browser, beside it a pane with the
// file's contents and keyword index (hideable; its width is kept for the run), Back, Forward
// and Home, and a find bar for the page. The caption is the page's title and the file's. A file
// that cannot be read leaves one line naming its path; a file that is nowhere, the list of
// places it was looked for.
class CChmViewer : public QMainWindow
{
    Q_OBJECT

public:
    explicit CChmViewer(QWidget *owner = nullptr);
    ~CChmViewer() override;

    // Opens the file at its default topic; false when it cannot be read (the message shows).
    bool Open(const QString &path);
    // Says that the file was found in none of places (full paths, in the order looked in).
    void ShowNotFound(const QStringList &places);
    bool IsOpen() const { return m_file.IsOpen(); }
    const CChmFile &File() const { return m_file; }
    CChmBrowser *Browser() const { return m_pBrowser; }
    void GoHome();

    // The keyword table of the file, shared with the lookup that built it; the Index tab lists it.
    void SetSymbolIndex(std::shared_ptr<CSymbolIndex> index);
    // Shows one page of the file (an object path, with or without a fragment) or, for an
    // address outside the file, hands it to the system's browser.
    void ShowPage(const QString &page);
    // One page is shown; several are offered in a chooser whose Enter opens the first.
    void ShowTopics(const QList<ChmTopic> &topics, const QString &name);
    CTopicChooser *Chooser() const;

    CChmNavigationPane *NavigationPane() const { return m_pPane; }
    CChmFindBar *FindBar() const { return m_pFindBar; }
    QAction *PaneAction() const { return m_pPaneAction; }
    QSplitter *Splitter() const { return m_pSplitter; }

private:
    void UpdateTitle();
    void OnPageShown(const QUrl &url);
    void SetPaneShown(bool shown);

    CChmFile m_file; // declared before the browser, which reads from it
    std::shared_ptr<CSymbolIndex> m_index;
    CChmBrowser *m_pBrowser = nullptr;
    CChmNavigationPane *m_pPane = nullptr;
    CChmFindBar *m_pFindBar = nullptr;
    QSplitter *m_pSplitter = nullptr;
    QAction *m_pPaneAction = nullptr;
    QPointer<CTopicChooser> m_pChooser;
};
