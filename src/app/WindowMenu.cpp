// The window list at the end of the Window menu: one numbered item per open document.
#include "app/WindowMenu.h"

#include "app/CommandIds.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

#include <algorithm>

namespace {

using namespace Qt::Literals::StringLiterals;

constexpr int kMaxNumbered = 99;   // two-digit numbers
constexpr auto kGroupName = "talvexWindowList";

bool IsListItem(const QAction *action)
{
    if (action->isSeparator())
        return false;
    bool ok = false;
    const int id = action->data().toInt(&ok);
    return ok && id >= Cmd::WindowFirst && id <= Cmd::WindowLast;
}

} // namespace

void BuildWindowMenu(QMenu *popup, const QStringList &titles, int activeIndex, int limit)
{
    if (!popup)
        return;
    QList<QAction *> actions = popup->actions();
    qsizetype position = actions.size();
    for (qsizetype i = 0; i < actions.size(); ++i) {
        if (IsListItem(actions.at(i))) {
            position = i;
            break;
        }
    }
    for (qsizetype i = position; i < actions.size(); ++i) {
        QAction *action = actions.at(i);
        popup->removeAction(action);
        if (action->parent() == popup)
            delete action;
    }
    actions.resize(position);

    const bool separatorBefore = position > 0 && actions.at(position - 1)->isSeparator();
    if (titles.isEmpty()) {
        // Only the fixed commands stay.
        if (separatorBefore) {
            QAction *separator = actions.at(position - 1);
            popup->removeAction(separator);
            if (separator->parent() == popup)
                delete separator;
        }
        return;
    }
    if (position > 0 && !separatorBefore)
        popup->addSeparator();

    // Radio-style mark: the checked item belongs to an exclusive group owned by the popup.
    auto *group = popup->findChild<QActionGroup *>(QLatin1StringView(kGroupName), Qt::FindDirectChildrenOnly);
    if (!group) {
        group = new QActionGroup(popup);
        group->setObjectName(QLatin1StringView(kGroupName));
    }
    const int count = std::min({int(titles.size()), std::max(limit, 0), Cmd::WindowLast - Cmd::WindowFirst + 1,
                                kMaxNumbered});
    for (int i = 0; i < count; ++i) {
        QString title = titles.at(i);
        title.replace(u'&', u"&&"_s);   // shown as itself, not as a mnemonic
        const QString number = QString::number(i + 1);
        auto *item = new QAction(i < 9 ? u'&' + number + u' ' + title : number + u' ' + title, popup);
        item->setData(Cmd::WindowFirst + i);
        if (i == activeIndex) {
            item->setCheckable(true);
            item->setChecked(true);
            group->addAction(item);
        }
        popup->addAction(item);
    }
}
