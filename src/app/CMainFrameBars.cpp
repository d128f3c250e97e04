// The main window's bars and panes: menu bar and toolbar from the command table, status bar, splitter.
#include "app/CMainFrame.h"

#include "app/WindowMenu.h"
#include "settings/CSettingsStore.h"

#include <QAction>
#include <QDir>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>

namespace {

// The Window popup lists at most this many documents.
constexpr int kWindowMenuLimit = 100;

QIcon CommandIcon(const QString &path)
{
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
    for (const MenuRow &row : m_commands.Menu()) {
        if (row.kind != MenuRow::PopupBegin && stack.isEmpty())
            continue; // a layout that puts something outside every popup: nothing to put it in
        switch (row.kind) {
        case MenuRow::PopupBegin: {
            const QString title = QString::fromLatin1(row.text);
            QMenu *menu = stack.isEmpty() ? bar->addMenu(title) : stack.last()->addMenu(title);
            // Every popup is written from the state table when it opens.
            connect(menu, &QMenu::aboutToShow, this, [this, menu] { m_ui.UIUpdateMenu(menu); });
            if (stack.isEmpty()) {
                // Items of nested popups report through their top-level popup as well, so only
                // the top level dispatches: each command runs once.
                connect(menu, &QMenu::triggered, this,
                        [this](QAction *action) { OnCommand(action->data().toInt()); });
                connect(menu, &QMenu::hovered, this, &CMainFrame::OnMenuSelect);
                connect(menu, &QMenu::aboutToShow, this, &CMainFrame::OnMenuOpen);
                connect(menu, &QMenu::aboutToHide, this, &CMainFrame::OnMenuClose);
                m_popups.append(menu);
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
            const Command *command = m_commands.Find(row.id);
            if (!command || !command->text)
                break; // a layout naming a command without a menu text shows nothing for it
            QAction *action = stack.last()->addAction(CommandIcon(m_commands.IconPath(row.id)),
                                                      QString::fromLatin1(command->text));
            action->setData(row.id);
            action->setCheckable((command->ui & CUpdateUI::Checked) != 0);
            action->setIconVisibleInMenu(true);
            break;
        }
        case MenuRow::RecentFiles: {
            // The placeholder until the list has entries; greyed, as it stands for nothing.
            QAction *action = stack.last()->addAction(QString::fromLatin1(row.text));
            action->setData(row.id);
            action->setEnabled(false);
            m_recentMenu.SetMenuHandle(stack.last());
            break;
        }
        case MenuRow::WindowList:
            m_pWindowMenu = stack.last();
            break;
        }
    }
    connect(bar, &QMenuBar::hovered, this, &CMainFrame::OnMenuBarSelect);
    bar->installEventFilter(this);
}

void CMainFrame::UpdateWindowMenu()
{
    BuildWindowMenu(m_pWindowMenu, m_view.PageTitles(), m_view.GetActivePage(), kWindowMenuLimit);
}

void CMainFrame::CreateToolBar()
{
    m_pToolBar = addToolBar(QStringLiteral("Toolbar"));
    m_pToolBar->setObjectName(QStringLiteral("ToolBar"));
    m_pToolBar->setIconSize(QSize(16, 15));
    m_pToolBar->setMovable(false);
    m_pToolBar->setFloatable(false);
    m_pToolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    for (int id : m_commands.Toolbar()) {
        if (id == CCommandTable::kToolbarSeparator) {
            m_pToolBar->addSeparator();
            continue;
        }
        // Buttons have actions of their own, so they show their states at idle time while
        // menu items show theirs when the menu opens.
        const QString text = m_commands.Tooltip(id);
        auto *action = new QAction(CommandIcon(m_commands.IconPath(id)), text, m_pToolBar);
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
    m_pStatusText = new QLabel(CCommandTable::String(Cmd::StrReady), bar);
    m_pStatusText->setObjectName(QStringLiteral("StatusText"));
    bar->addWidget(m_pStatusText, 1);
    // Said for the whole run, beside the prompts: a settings file that is too large is neither
    // read nor written, so every setting is at its default and no change is kept.
    if (CSettingsStore::Instance().IsFileTooLarge()) {
        auto *tooLarge = new QLabel(QStringLiteral("Settings file too large: defaults in use, changes not kept"), bar);
        tooLarge->setObjectName(QStringLiteral("SettingsTooLarge"));
        tooLarge->setToolTip(QDir::toNativeSeparators(CSettingsStore::FilePath()));
        bar->addPermanentWidget(tooLarge);
    }
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
