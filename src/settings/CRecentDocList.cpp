// A list of document paths kept in the settings, newest last, optionally shown in a popup menu.
#include "settings/CRecentDocList.h"

#include "settings/CSettingsStore.h"

#include <QAction>
#include <QDir>
#include <QMenu>

#include <algorithm>
#include <utility>

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

QString ValueName(int i)
{
    return u"Document"_s + QString::number(i);
}

#ifdef Q_OS_WIN
// Longest name a Windows path buffer of 260 characters holds.
constexpr qsizetype kMaxWindowsName = 259;
#endif

} // namespace

CRecentDocList::CRecentDocList(QString subKey, int firstCommandId, int upperBound)
    : m_strSubKey(std::move(subKey)), m_nFirstId(firstCommandId), m_nUpperBound(std::max(2, upperBound))
{
}

void CRecentDocList::SetMaxEntries(int n)
{
    m_nMaxEntries = std::clamp(n, 2, m_nUpperBound);
    if (m_entries.size() > m_nMaxEntries) {
        // Otherwise items beyond the maximum would linger in the popup and in the settings.
        m_entries.erase(m_entries.begin(), m_entries.end() - m_nMaxEntries);
        if (m_pMenu)
            UpdateMenu();
    }
}

void CRecentDocList::SetMenuHandle(QMenu *popup)
{
    m_pMenu = popup;
    m_strPlaceholder.clear();
    if (popup) {
        const QList<QAction *> actions = popup->actions();
        for (const QAction *action : actions) {
            if (ActionId(action) == m_nFirstId) {
                m_strPlaceholder = action->text();
                break;
            }
        }
    }
    if (m_strPlaceholder.isEmpty())
        m_strPlaceholder = u"(empty)"_s;
}

bool CRecentDocList::SamePath(const QString &a, const QString &b)
{
#if defined(Q_OS_WIN)
    return QDir::fromNativeSeparators(a).compare(QDir::fromNativeSeparators(b), Qt::CaseInsensitive) == 0;
#elif defined(Q_OS_MACOS)
    return a.compare(b, Qt::CaseInsensitive) == 0;
#else
    // Linux file systems tell A.lisp from a.lisp.
    return a == b;
#endif
}

bool CRecentDocList::AddToList(const QString &path)
{
    QString entry = path;
#ifdef Q_OS_WIN
    if (entry.size() > kMaxWindowsName)
        entry.truncate(kMaxWindowsName);
#endif
    const auto same = std::find_if(m_entries.begin(), m_entries.end(),
                                   [&](const QString &e) { return SamePath(e, entry); });
    if (same != m_entries.end())
        m_entries.erase(same);
    while (!m_entries.isEmpty() && m_entries.size() >= m_nMaxEntries)
        m_entries.removeFirst();
    m_entries.append(entry);
    return UpdateMenu();
}

int CRecentDocList::IndexForId(int id) const
{
    const qsizetype k = qsizetype(id) - m_nFirstId;
    if (k < 0 || k >= m_entries.size())
        return -1;
    return int(m_entries.size() - 1 - k);
}

bool CRecentDocList::GetFromList(int id, QString &path) const
{
    const int index = IndexForId(id);
    if (index < 0)
        return false;
    path = m_entries.at(index);
    return true;
}

bool CRecentDocList::RemoveFromList(int id)
{
    const int index = IndexForId(id);
    if (index < 0)
        return false;
    m_entries.removeAt(index);
    return UpdateMenu();
}

bool CRecentDocList::MoveToTop(int id)
{
    const int index = IndexForId(id);
    if (index < 0)
        return false;
    m_entries.append(m_entries.takeAt(index));
    return UpdateMenu();
}

bool CRecentDocList::ReadFromRegistry(const QString &keyPath)
{
    const QMap<QString, QVariant> values = CSettingsStore::Instance().ReadSection(keyPath, m_strSubKey);
    const auto count = values.constFind(u"DocumentCount"_s);
    if (count == values.constEnd() || count->typeId() != QMetaType::Int)
        return false;
    SetMaxEntries(count->toInt());
    m_entries.clear();
    // Document1 is the newest, so it is appended last.
    for (int i = m_nMaxEntries; i >= 1; --i) {
        const QVariant value = values.value(ValueName(i));
        if (value.typeId() != QMetaType::QString)
            continue;
        const QString name = value.toString();
#ifdef Q_OS_WIN
        if (name.size() > kMaxWindowsName)
            continue;
#endif
        m_entries.append(name);
    }
    // True whenever the list was read: a list without a popup has read as well as one with.
    return UpdateMenu() || !m_pMenu;
}

bool CRecentDocList::WriteToRegistry(const QString &keyPath)
{
    QList<std::pair<QString, QVariant>> values;
    values.append({u"DocumentCount"_s, QVariant(m_nMaxEntries)});
    const int count = GetCount();
    for (int i = 1; i <= count; ++i)
        values.append({ValueName(i), QVariant(m_entries.at(count - i))});
    // No value beyond the entries survives, so a shorter list reads back as it is.
    QStringList removed;
    for (int i = count + 1; i <= m_nUpperBound; ++i)
        removed.append(ValueName(i));
    return CSettingsStore::Instance().WriteSection(keyPath, m_strSubKey, values, removed);
}

bool CRecentDocList::UpdateMenu()
{
    if (!m_pMenu)
        return false;
    QMenu *menu = m_pMenu;
    const QList<QAction *> actions = menu->actions();
    // The old item with the first id marks where the list stands; it goes once the new items
    // are in front of it. Without one the list goes to the end.
    QAction *anchor = nullptr;
    for (QAction *action : actions) {
        if (ActionId(action) == m_nFirstId) {
            anchor = action;
            break;
        }
    }
    for (QAction *action : actions) {
        const int id = ActionId(action);
        if (action != anchor && id > m_nFirstId && id < m_nFirstId + m_nUpperBound)
            DeleteItem(menu, action);
    }

    if (m_entries.isEmpty()) {
        auto *item = new QAction(m_strPlaceholder, menu);
        item->setData(m_nFirstId);
        item->setEnabled(false);
        menu->insertAction(anchor, item);
    } else {
        const int count = GetCount();
        for (int k = 0; k < count; ++k) {
            // A '&' in a path is shown as itself, not taken as a mnemonic.
            QString shown = QDir::toNativeSeparators(m_entries.at(count - 1 - k));
            shown.replace(u'&', u"&&"_s);
            auto *item = new QAction(u'&' + QString::number(k + 1) + u' ' + shown, menu);
            item->setData(m_nFirstId + k);
            menu->insertAction(anchor, item);
        }
    }
    if (anchor)
        DeleteItem(menu, anchor);
    return true;
}

QString CRecentDocList::GetEntry(int index) const
{
    if (index < 0 || index >= m_entries.size())
        return {};
    return m_entries.at(index);
}

void CRecentDocList::RemoveAll()
{
    m_entries.clear();
}
