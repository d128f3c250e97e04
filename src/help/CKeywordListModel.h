// The keywords of a help file as a list model that a filter text narrows.
#pragma once

#include "help/ChmSitemap.h"

#include <QAbstractListModel>

#include <vector>

// Rows are the entries whose name holds the filter text, ignoring case, in the index's order.
class CKeywordListModel : public QAbstractListModel
{
public:
    explicit CKeywordListModel(QObject *parent = nullptr);

    void SetEntries(ChmSitemap entries);
    void SetFilter(const QString &text);
    // The best row for the filter: the first whose name starts with it, else the first; -1 when empty.
    int BestRow() const;
    const ChmSitemapEntry *EntryAt(int row) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    ChmSitemap m_entries;
    std::vector<qsizetype> m_shown;
    QString m_strFilter;
};
