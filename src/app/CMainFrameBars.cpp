// The main window's bars and panes: menu bar and toolbar from the command table, status bar, splitter.
#include "app/CMainFrame.h"

#include "app/CommandTable.h"

#include <QAction>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>

namespace {

QIcon CommandIcon(int id)
{
    const QString path = CommandTable::IconPath(id);
    if (path.isEmpty())
        return {};
    // Both densities, whatever the screen's ratio at start: windows may move between screens.
    QIcon icon;
    icon.addFile(path);
    icon.addFile(QString(path).replace(QLatin1String(".png"), QLatin1String("@2x.png")));
    return icon;
}

} // namespace

QMenu *CMainFrame::Popup(int index) const
{
    return index >= 0 && index < m_popups.size() ? m_popups.at(index) : nullptr;
}

void CMainFrame::CreateMenuBar()
{
    QMenuBar *bar = menuBar();
    QList<QMenu *> stack;
    for (const MenuRow &row : CommandTable::Menu()) {
        switch (row.kind) {
        case MenuRow::PopupBegin: {
            QMenu *menu = stack.isEmpty() ? bar->addMenu(QString::fromLatin1(row.text))
                                          : stack.last()->addMenu(QString::fromLatin1(row.text));
            // Every popup is written from the state table when it opens.
            connect(menu, &QMenu::aboutToShow, this, [this, menu] { m_ui.UIUpdateMenu(menu); });
            if (stack.isEmpty()) {
                // Items of nested popups report through their top-level popup as well, so only
                // the top level dispatches: each command runs once.
                connect(menu, &QMenu::triggered, this,
                        [this](QAction *action) { OnCommand(action->data().toInt()); });
                connect(menu, &QMenu::hovered, this, &CMainFrame::OnMenuSelect);
                connect(menu, &QMenu::aboutToHide, this, &CMainFrame::OnMenuClose);
                m_popups.append(menu);
            } else if (stack.size() == 1 && m_popups.size() == CommandTable::kFilePopup + 1
                       && !m_pRecentMenu) {
                m_pRecentMenu = menu;
            }
            stack.append(menu);
            break;
        }
        case MenuRow::PopupEnd:
            stack.removeLast();
            break;
        case MenuRow::Separator:
            stack.last()->addSeparator();
            break;
        case MenuRow::Item: {
            QAction *action = stack.last()->addAction(CommandIcon(row.id), QString::fromLatin1(row.text));
            action->setData(row.id);
            action->setCheckable(row.checkable);
            action->setEnabled(!row.disabled);
            action->setIconVisibleInMenu(true);
            break;
        }
        }
    }
    // A highlighted title of the menu bar has no prompt of its own.
    connect(bar, &QMenuBar::hovered, this, [this](QAction *) {
        if (m_pStatusText)
            m_pStatusText->clear();
    });
}

void CMainFrame::CreateToolBar()
{
    m_pToolBar = addToolBar(QStringLiteral("Toolbar"));
    m_pToolBar->setObjectName(QStringLiteral("ToolBar"));
    m_pToolBar->setIconSize(QSize(16, 15));
    m_pToolBar->setMovable(false);
    m_pToolBar->setFloatable(false);
    m_pToolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    for (int id : CommandTable::Toolbar()) {
        if (id == CommandTable::kToolbarSeparator) {
            m_pToolBar->addSeparator();
            continue;
        }
        // Buttons have actions of their own, so they show their states at idle time while
        // menu items show theirs when the menu opens.
        QString text = CommandTable::Tooltip(id);
        auto *action = new QAction(CommandIcon(id), text, m_pToolBar);
        action->setData(id);
        action->setToolTip(text);
        m_pToolBar->addAction(action);
    }
    connect(m_pToolBar, &QToolBar::actionTriggered, this,
            [this](QAction *action) { OnCommand(action->data().toInt()); });
}

void CMainFrame::CreateStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setSizeGripEnabled(true);
    m_pStatusText = new QLabel(CommandTable::String(Cmd::StrReady), bar);
    m_pStatusText->setObjectName(QStringLiteral("StatusText"));
    bar->addWidget(m_pStatusText, 1);
}

void CMainFrame::CreateSplitter()
{
    m_pSplitter = new QSplitter(Qt::Vertical, this);
    m_pSplitter->setObjectName(QStringLiteral("Splitter"));
    m_pSplitter->setChildrenCollapsible(false);
    m_pSplitter->addWidget(&m_view);
    m_pSplitter->addWidget(&m_console);
    m_pSplitter->installEventFilter(this);
    setCentralWidget(m_pSplitter);
}
