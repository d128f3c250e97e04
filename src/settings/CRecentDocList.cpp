// A list of document paths kept in the settings, newest last, optionally shown in a popup menu.
#include "settings/CRecentDocList.h"

#include "platform/CSameFile.h"
#include "settings/CSettingsStore.h"

#include <algorithm>
#include <utility>

namespace {

using namespace Qt::Literals::StringLiterals;

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
        // Otherwise items beyond the maximum would linger in the menu and in the settings.
        m_entries.erase(m_entries.begin(), m_entries.end() - m_nMaxEntries);
        UpdateMenu();
    }
}

void CRecentDocList::SetMenuUpdater(MenuUpdater updater)
{
    m_menuUpdater = std::move(updater);
}

bool CRecentDocList::AddToList(const QString &path)
{
    QString entry = path;
#ifdef Q_OS_WIN
    if (entry.size() > kMaxWindowsName)
        entry.truncate(kMaxWindowsName);
#endif
    const CSameFile sameFile(entry);
    const auto same = std::find_if(m_entries.begin(), m_entries.end(),
                                   [&](const QString &e) { return sameFile.Matches(e); });
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
    // True whenever the list was read: a list without a menu has read as well as one with.
    return UpdateMenu() || !m_menuUpdater;
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
    return m_menuUpdater ? m_menuUpdater(*this) : false;
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
