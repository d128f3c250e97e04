// The Recent Files popup: a CRecentDocList shown as numbered items, newest first.
#include "app/CRecentFilesMenu.h"

#include "settings/CRecentDocList.h"

#include <QAction>
#include <QDir>
#include <QMenu>

namespace {

using namespace Qt::Literals::StringLiterals;

constexpr int kNoId = -1;

int ActionId(const QAction *action)
{
    if (action->isSeparator())
        return kNoId;
    bool ok = false;
    const int id = action->data().toInt(&ok);
    return ok ? id : kNoId;
}

// Removes an item from the popup; deletes it when the popup owns it.
void DeleteItem(QMenu *menu, QAction *action)
{
    menu->removeAction(action);
    if (action->parent() == menu)
        delete action;
}

} // namespace

CRecentFilesMenu::CRecentFilesMenu(CRecentDocList &list) : m_list(list)
{
    m_list.SetMenuUpdater([this](const CRecentDocList &changed) { return Update(changed); });
}

CRecentFilesMenu::~CRecentFilesMenu()
{
    m_list.SetMenuUpdater(nullptr);
}

void CRecentFilesMenu::SetMenuHandle(QMenu *popup)
{
    m_pMenu = popup;
    m_strPlaceholder.clear();
    if (popup) {
        const QList<QAction *> actions = popup->actions();
        for (const QAction *action : actions) {
            if (ActionId(action) == m_list.FirstId()) {
                m_strPlaceholder = action->text();
                break;
            }
        }
    }
    if (m_strPlaceholder.isEmpty())
        m_strPlaceholder = u"(empty)"_s;
}

QMenu *CRecentFilesMenu::MenuHandle() const
{
    return m_pMenu;
}

bool CRecentFilesMenu::Update(const CRecentDocList &list)
{
    if (!m_pMenu)
        return false;
    QMenu *menu = m_pMenu;
    const int firstId = list.FirstId();
    const QList<QAction *> actions = menu->actions();
    // The old item with the first id marks where the list stands; it goes once the new items
    // are in front of it. Without one the list goes to the end.
    QAction *anchor = nullptr;
    for (QAction *action : actions) {
        if (ActionId(action) == firstId) {
            anchor = action;
            break;
        }
    }
    for (QAction *action : actions) {
        const int id = ActionId(action);
        if (action != anchor && id > firstId && id < firstId + list.UpperBound())
            DeleteItem(menu, action);
    }

    const int count = list.GetCount();
    if (count == 0) {
        auto *item = new QAction(m_strPlaceholder, menu);
        item->setData(firstId);
        item->setEnabled(false);
        menu->insertAction(anchor, item);
    } else {
        for (int k = 0; k < count; ++k) {
            // A '&' in a path is shown as itself, not taken as a mnemonic.
            QString shown = QDir::toNativeSeparators(list.GetEntry(count - 1 - k));
            shown.replace(u'&', u"&&"_s);
            auto *item = new QAction(u'&' + QString::number(k + 1) + u' ' + shown, menu);
            item->setData(firstId + k);
            menu->insertAction(anchor, item);
        }
    }
    if (anchor)
        DeleteItem(menu, anchor);
    return true;
}
