// The keywords of a help file as a list model that a filter text narrows.
#include "help/CKeywordListModel.h"

CKeywordListModel::CKeywordListModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

void CKeywordListModel::SetEntries(ChmSitemap entries)
{
    beginResetModel();
    m_entries = std::move(entries);
    m_shown.clear();
    for (qsizetype k = 0; k < m_entries.size(); ++k)
        if (m_entries[k].name.contains(m_strFilter, Qt::CaseInsensitive))
            m_shown.push_back(k);
    endResetModel();
}

void CKeywordListModel::SetFilter(const QString &text)
{
    m_strFilter = text.trimmed();
    SetEntries(std::move(m_entries));
}

int CKeywordListModel::BestRow() const
{
    for (std::size_t row = 0; row < m_shown.size(); ++row)
        if (m_entries[m_shown[row]].name.startsWith(m_strFilter, Qt::CaseInsensitive))
            return static_cast<int>(row);
    return m_shown.empty() ? -1 : 0;
}

const ChmSitemapEntry *CKeywordListModel::EntryAt(int row) const
{
    if (row < 0 || static_cast<std::size_t>(row) >= m_shown.size())
        return nullptr;
    return &m_entries[m_shown[static_cast<std::size_t>(row)]];
}

int CKeywordListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_shown.size());
}

QVariant CKeywordListModel::data(const QModelIndex &index, int role) const
{
    const ChmSitemapEntry *entry = EntryAt(index.row());
    if (!entry || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    // Sub-keywords are indented under their keyword, as the index shows them.
    return role == Qt::DisplayRole ? QString(entry->depth * 4, u' ') + entry->name : entry->name;
}
