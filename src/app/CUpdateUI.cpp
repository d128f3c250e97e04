// The UI state table: keeps state words and dirty marks, writes menus and toolbar buttons.
#include "app/CUpdateUI.h"

#include "app/CCommandTable.h"

#include <QAction>
#include <QMenu>
#include <QToolBar>

CUpdateUI::CUpdateUI(std::span<const UIMapEntry> map)
{
    m_entries.reserve(map.size());
    for (const UIMapEntry &e : map)
        m_entries.push_back({e.id, e.kinds});
}

void CUpdateUI::UIAddToolBar(QToolBar *toolBar)
{
    if (toolBar)
        m_toolBars.append(toolBar);
}

CUpdateUI::Entry *CUpdateUI::Find(int id)
{
    for (Entry &e : m_entries) {
        if (e.id == id)
            return &e;
    }
    return nullptr;
}

const CUpdateUI::Entry *CUpdateUI::Find(int id) const
{
    return const_cast<CUpdateUI *>(this)->Find(id);
}

bool CUpdateUI::SetState(int id, unsigned bit, bool on)
{
    Entry *e = Find(id);
    if (!e)
        return false;
    const unsigned next = on ? (e->state | bit) : (e->state & ~bit);
    if (next != e->state) {
        e->state = next;
        if (e->kinds & ToolBar) {
            e->dirtyToolBar = true;
            m_bToolBarDirty = true;
        }
    }
    return true;
}

bool CUpdateUI::UIEnable(int id, bool enable) { return SetState(id, Disabled, !enable); }

bool CUpdateUI::UISetCheck(int id, bool check) { return SetState(id, Checked, check); }

unsigned CUpdateUI::UIGetState(int id) const
{
    const Entry *e = Find(id);
    return e ? e->state : 0;
}

void CUpdateUI::UIUpdateMenu(QMenu *popup) const
{
    if (!popup)
        return;
    const QList<QAction *> actions = popup->actions();
    for (QAction *action : actions) {
        if (QMenu *sub = action->menu()) {
            UIUpdateMenu(sub);
            continue;
        }
        if (action->isSeparator())
            continue;
        bool ok = false;
        const int id = action->data().toInt(&ok);
        if (!ok)
            continue;
        const Entry *e = Find(id);
        if (!e || !(e->kinds & MenuPopup))
            continue;
        action->setEnabled(!(e->state & Disabled));
        if (e->state & Checked)
            action->setCheckable(true);
        action->setChecked((e->state & Checked) != 0);
    }
}

void CUpdateUI::UIUpdateToolBar()
{
    if (!m_bToolBarDirty)
        return;
    for (const QPointer<QToolBar> &bar : std::as_const(m_toolBars)) {
        if (!bar)
            continue;
        const QList<QAction *> actions = bar->actions();
        for (QAction *action : actions) {
            if (action->isSeparator())
                continue;
            const Entry *e = Find(action->data().toInt());
            if (!e || !(e->kinds & ToolBar) || !e->dirtyToolBar)
                continue;
            action->setEnabled(!(e->state & Disabled));
            if (action->isCheckable())
                action->setChecked((e->state & Checked) != 0);
        }
    }
    for (Entry &e : m_entries)
        e.dirtyToolBar = false;
    m_bToolBarDirty = false;
}
